// tavrin._study: the study layer for Python (wrapped by tavrin/study.py).
#include <pybind11/pybind11.h>

namespace py = pybind11;

PYBIND11_MODULE(_study, m) { m.doc() = "The study layer."; }

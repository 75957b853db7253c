// numpy arrays of the library's values, for every module of the extension:
// a copy, so Python owns what it is given.
#pragma once

#include <pybind11/numpy.h>

#include <algorithm>
#include <vector>

#include "tavrin/matrix.h"

namespace tavrin::python {

inline pybind11::array_t<double> to_array(const std::vector<double>& v) {
  pybind11::array_t<double> a(static_cast<pybind11::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

// Rows x columns, row-major as Matrix keeps it.
inline pybind11::array_t<double> to_array(const Matrix& m) {
  pybind11::array_t<double> a({static_cast<pybind11::ssize_t>(m.rows()), static_cast<pybind11::ssize_t>(m.cols())});
  std::copy(m.data(), m.data() + m.rows() * m.cols(), a.mutable_data());
  return a;
}

}  // namespace tavrin::python

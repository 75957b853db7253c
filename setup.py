"""Builds the Python package `tavrin` with CMake.

build_ext configures the project in the build's temporary folder, builds
the two extensions and the libraries they need, and puts libtavrin.so.1
and libtavrin_study.so.1 beside the extensions, which find them through
RPATH $ORIGIN. The pure Python modules come from python/tavrin.

Environment: CMAKE (the cmake to run), TAVRIN_BUILD_JOBS (default 2).
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
LIBRARIES = ("libtavrin.so.1", "libtavrin_study.so.1")


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(Tavrin VERSION ([0-9.]+)", text).group(1)


class CMakeExtension(Extension):
    """An extension that CMake builds as `target`."""

    def __init__(self, name, target):
        super().__init__(name, sources=[])
        self.target = target


class CMakeBuild(build_ext):
    def run(self):
        cmake = os.environ.get("CMAKE", "cmake")
        build = Path(self.build_temp).resolve() / "cmake"
        configure = [
            cmake, "-S", str(ROOT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            f"-DPython_EXECUTABLE={sys.executable}",
            "-DTAVRIN_PYTHON_WHEEL=ON",
            # The libraries beside the extensions find each other there too.
            "-DCMAKE_INSTALL_RPATH=$ORIGIN",
            "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON",
            "-DTAVRIN_BUILD_TESTS=OFF", "-DTAVRIN_BUILD_EXAMPLES=OFF", "-DTAVRIN_BUILD_BENCHMARKS=OFF",
        ]
        subprocess.run(configure, check=True)
        targets = [ext.target for ext in self.extensions]
        jobs = os.environ.get("TAVRIN_BUILD_JOBS", "2")
        subprocess.run([cmake, "--build", str(build), "--target", *targets, "-j", jobs], check=True)

        package = build / "python" / "tavrin"
        for ext in self.extensions:
            built = sorted(package.glob(ext.name.rpartition(".")[2] + ".*.so"))
            if len(built) != 1:
                raise RuntimeError(f"expected one built file for {ext.name} in {package}, found {built}")
            destination = Path(self.get_ext_fullpath(ext.name))
            destination.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(built[0], destination)
        for library in LIBRARIES:
            shutil.copyfile(build / library, destination.parent / library)  # follows the soname link


setup(
    name="tavrin",
    version=project_version(),
    description="Design of experiments and quadratic response surfaces",
    long_description=(ROOT / "README.md").read_text(encoding="utf-8"),
    long_description_content_type="text/markdown",
    python_requires=">=3.9",
    packages=["tavrin"],
    package_dir={"": "python"},
    package_data={"tavrin": ["py.typed", "*.pyi"]},
    ext_modules=[CMakeExtension("tavrin._plan", "tavrin_python_plan"),
                 CMakeExtension("tavrin._study", "tavrin_python_study")],
    cmdclass={"build_ext": CMakeBuild},
    install_requires=["numpy"],
    extras_require={"pandas": ["pandas"], "plot": ["matplotlib"]},
    zip_safe=False,
)

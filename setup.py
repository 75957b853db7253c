"""Builds the Python package `tavrin` with CMake.

build_ext builds the two extensions and the libraries they need in a CMake
build tree: the one named by TAVRIN_CMAKE_BUILD_DIR when it is set (an
existing build of this project, such as build/release, so nothing is
compiled again; tools/python.sh sets it), otherwise one it configures in
the build's temporary folder. It copies the extensions, libtavrin.so.1 and
libtavrin_study.so.1 into the package and sets their RUNPATH to $ORIGIN, so
they find each other there. The pure Python modules come from python/tavrin.

Environment: TAVRIN_CMAKE_BUILD_DIR, CMAKE (the cmake to run),
TAVRIN_BUILD_JOBS (default 2).
"""

import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
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
        build = self.cmake_build(cmake)
        targets = [ext.target for ext in self.extensions]
        jobs = os.environ.get("TAVRIN_BUILD_JOBS", "2")
        subprocess.run([cmake, "--build", str(build), "--target", *targets, "-j", jobs], check=True)

        package = build / "python" / "tavrin"
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        copies = []
        for ext in self.extensions:
            built = sorted(package.glob(ext.name.rpartition(".")[2] + ".*.so"))
            if len(built) != 1:
                raise RuntimeError(f"expected one built file for {ext.name} in {package}, found {built}")
            if not built[0].name.endswith(suffix):
                raise RuntimeError(f"{built[0]} was built for another Python than {sys.executable} "
                                   f"(which needs *{suffix}); configure {build} with "
                                   f"-DPython_EXECUTABLE={sys.executable} or unset TAVRIN_CMAKE_BUILD_DIR")
            destination = Path(self.get_ext_fullpath(ext.name))
            destination.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(built[0], destination)
            copies.append(destination)
        for library in LIBRARIES:
            copies.append(destination.parent / library)
            shutil.copyfile(build / library, copies[-1])  # follows the soname link
        set_runpath_origin(cmake, copies)

    def cmake_build(self, cmake):
        """The build tree to build in: TAVRIN_CMAKE_BUILD_DIR, or one configured here."""
        given = os.environ.get("TAVRIN_CMAKE_BUILD_DIR")
        if given:
            build = Path(given).resolve()
            if not (build / "CMakeCache.txt").is_file():
                raise RuntimeError(f"TAVRIN_CMAKE_BUILD_DIR={given} is not a configured CMake build tree")
            return build
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.run([
            cmake, "-S", str(ROOT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            f"-DPython_EXECUTABLE={sys.executable}",
            "-DTAVRIN_BUILD_TESTS=OFF", "-DTAVRIN_BUILD_EXAMPLES=OFF", "-DTAVRIN_BUILD_BENCHMARKS=OFF",
            "-DTAVRIN_WORKBENCH=OFF",
        ], check=True)
        return build


def set_runpath_origin(cmake, files):
    """Points the RUNPATH of each file that has one at its own folder (CMake edits it in place)."""
    script = "".join(f'''unset(runpath)
unset(rpath)
file(READ_ELF "{f}" RUNPATH runpath RPATH rpath)
if(runpath OR rpath)
  file(RPATH_SET FILE "{f}" NEW_RPATH "$ORIGIN")
endif()
''' for f in files)
    with tempfile.TemporaryDirectory() as scratch:
        path = Path(scratch) / "runpath.cmake"
        path.write_text(script, encoding="utf-8")
        subprocess.run([cmake, "-P", str(path)], check=True, stdout=subprocess.DEVNULL)


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

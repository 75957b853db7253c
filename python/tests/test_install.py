"""The package installs and imports from outside the source and build trees:
with `cmake --install`, and with `pip install .` into a fresh venv, which
takes the extensions of the CMake build under test (TAVRIN_CMAKE_BUILD_DIR)
instead of compiling them again."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

SOURCE = Path(os.environ.get("TAVRIN_SOURCE_DIR", Path(__file__).resolve().parents[2]))
BUILD = os.environ.get("TAVRIN_BUILD_DIR")

# Run by an installed package: a small study end to end, and where it came from.
PROBE = """
import sys, tavrin
s = tavrin.Study("box-behnken", factors={"A": (0.1, 0.7), "B": (1e7 + 0.1, 1e7 + 0.3)}, responses=["y"], seed=3)
x = s.natural
s.set_results({"run_id": s.run_ids, "y": 2.5 + x[:, 0] - 3 * x[:, 0] ** 2 + 1e-7 * (x[:, 1] - 1e7)})
p = s.predict([[0.4, 1e7 + 0.2]])
assert abs(p[0, 0] - (2.5 + 0.4 - 3 * 0.16 + 1e-7 * 0.2)) < 1e-9, p
c = tavrin.CTavrin(tavrin.PlanType.BoxBehnkenPlan)
c.planAddDesignVar("a", 0.0, 1.0)
print(tavrin.__file__)
print(tavrin.__version__)
"""


def runpaths(library):
    out = subprocess.run(["readelf", "-d", str(library)], check=True, capture_output=True, text=True).stdout
    return [line.split("[", 1)[1].rstrip("]") for line in out.splitlines() if "RUNPATH" in line or "RPATH" in line]


def probe(python, env, cwd):
    out = subprocess.run([str(python), "-c", PROBE], capture_output=True, text=True, env=env, cwd=cwd)
    assert out.returncode == 0, out.stderr
    return out.stdout.split()


def clean_env(**extra):
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_LIBRARY_PATH")}
    env.update(extra)
    return env


@pytest.mark.skipif(BUILD is None, reason="needs TAVRIN_BUILD_DIR (set by ctest)")
def test_cmake_install_imports_from_the_prefix_without_build_paths(tmp_path):
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", BUILD, "--prefix", str(prefix)], check=True, capture_output=True)
    packages = list(prefix.glob("lib*/**/dist-packages/tavrin"))
    assert len(packages) == 1, packages
    package = packages[0]
    modules = sorted(package.glob("_*.so"))
    assert [m.name.split(".")[0] for m in modules] == ["_plan", "_study"]
    for module in modules:
        for path in runpaths(module):
            assert BUILD not in path and str(SOURCE) not in path, (module, path)
    assert runpaths(package / modules[1].name)[0].startswith("$ORIGIN/")
    assert {p.name for p in package.iterdir()} >= {"__init__.py", "py.typed", "plot.py", "_plan.pyi", "_study.pyi"}
    where, version = probe(sys.executable, clean_env(PYTHONPATH=str(package.parent)), tmp_path)
    assert Path(where) == package / "__init__.py" and version


@pytest.mark.slow
def test_pip_install_into_a_fresh_venv(tmp_path):
    # A copy of the source tree, as a user's checkout would be (no build output).
    source = tmp_path / "source"
    ignore = shutil.ignore_patterns("build", ".git", "__pycache__", "*.egg-info", "node_modules", "out")
    shutil.copytree(SOURCE, source, ignore=ignore)
    venv = tmp_path / "venv"
    # Debian's numpy, setuptools and wheel come from the system site-packages; nothing is downloaded.
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", "--without-pip", str(venv)], check=True)
    python = venv / "bin" / "python"
    reuse = {"TAVRIN_CMAKE_BUILD_DIR": BUILD} if BUILD else {}
    subprocess.run([str(python), "-m", "pip", "install", "--no-build-isolation", "--no-index", "-q", str(source)],
                   check=True, cwd=tmp_path, env=clean_env(PIP_DISABLE_PIP_VERSION_CHECK="1", **reuse))
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    where, version = probe(python, clean_env(), elsewhere)
    package = Path(where).parent
    assert package.is_relative_to(venv) and version
    libraries = sorted(p.name for p in package.glob("lib*.so*"))
    assert libraries == ["libtavrin.so.1", "libtavrin_study.so.1"]
    # What needs a library of the package finds it beside itself, and nothing looks elsewhere.
    for library in list(package.glob("_*.so")) + [package / "libtavrin_study.so.1"]:
        assert runpaths(library) == ["$ORIGIN"], library
    assert runpaths(package / "libtavrin.so.1") in ([], ["$ORIGIN"])
    assert (package / "py.typed").exists() and (package / "_plan.pyi").exists()

"""The study report from Python is the command line's file, byte for byte."""
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

import tavrin

CLI = Path(os.environ.get("TAVRIN_BUILD_DIR", "build/release")) / "cli" / "tavrin"


@pytest.fixture
def study(tmp_path):
    s = tavrin.Study("box-behnken", [("Temperature", 150, 210, "°C"), ("Time", 10, 50, "min")],
                     [("Yield", "%"), ("Impurity", "%")], seed=7, extra_center_runs=3)
    t, m = (s.natural[:, 0] - 180) / 30, (s.natural[:, 1] - 30) / 20
    wobble = 0.07 * np.sin(3.3 * s.run_ids)
    s.set_results({"run_id": list(s.run_ids), "Yield": 85.2 + 8.9 * t + 5.1 * m - 10.6 * t * t - 6.0 * m * m + wobble,
                   "Impurity": 1.09 + 0.8 * t + 0.32 * m + 0.36 * t * t + 0.01 * wobble})
    s.save(tmp_path / "study.json")
    return s


def cli(tmp_path, *args):
    return subprocess.run([str(CLI), *args], cwd=tmp_path, check=True, capture_output=True, text=True).stdout


@pytest.mark.skipif(not CLI.exists(), reason="the command line is not built")
def test_report_is_the_command_lines_file(study, tmp_path):
    cli(tmp_path, "report", "study.json", "-o", "cli.html", "--maximize", "Yield", "--within", "Impurity<=1.5")
    assert study.report(tmp_path / "python.html", goals={"Yield": "maximize"},
                        constraints={"Impurity": (None, 1.5)}) is None
    assert (tmp_path / "python.html").read_bytes() == (tmp_path / "cli.html").read_bytes()
    # A response's name still gives its fit report.
    assert isinstance(study.report("Yield"), tavrin.FitReport)


def test_a_name_that_is_neither_a_response_nor_a_report_is_refused(study):
    with pytest.raises(tavrin.UnknownName, match="neither a response"):
        study.report("Yeild")


def test_report_without_results_says_why_it_has_no_models(tmp_path):
    s = tavrin.Study("box-behnken", [("A", 0.1, 0.7, "g"), ("B", 250.3, 310.9, "K")], ["y"], seed=3)
    s.report(tmp_path / "plan.html")
    html = (tmp_path / "plan.html").read_text(encoding="utf-8")
    assert "No model can be fitted yet: cannot fit with missing results" in html
    assert 'id="fds"' in html and 'id="surface-1"' not in html and 'id="profiler"' not in html

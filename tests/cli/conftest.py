"""Fixtures of the command-line tests: the executable and the example study."""
import csv
import json
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

CLI = os.environ.get("TAVRIN_CLI", "")

FACTORS = ["Temperature=150:210[°C]", "Time=10:50[min]"]
RESPONSES = ["Yield[%]", "Impurity[%]"]


def run(*args, cwd, check=None, stdin=None):
    """Runs tavrin; `check` is the exit status expected, if any."""
    result = subprocess.run([CLI, *map(str, args)], cwd=cwd, capture_output=True, text=True,
                            stdin=subprocess.DEVNULL if stdin is None else stdin, timeout=120)
    if check is not None:
        assert result.returncode == check, (args, result.returncode, result.stdout, result.stderr)
    return result


def run_json(*args, cwd):
    return json.loads(run(*args, "--json", cwd=cwd, check=0).stdout)


def true_yield(temp, time):
    d_temp, d_time = temp - 192.0, time - 38.0
    return 88.0 - 0.012 * d_temp**2 - 0.015 * d_time**2 - 0.0008 * d_temp * d_time


def true_impurity(temp, time):
    d_temp, d_time = temp - 150.0, time - 10.0
    return 0.4 + 0.0004 * d_temp**2 + 0.012 * d_time + 0.00015 * d_temp * d_time


def write_results(sheet_json, path, seed=11, impurity="Impurity [%]"):
    """Measures the simulated process at every run of the sheet and writes
    the results CSV by run id, in an order other than the sheet's, with the
    Time settings (so that they are checked)."""
    rng = np.random.default_rng(seed)
    rows = []
    for run_ in sheet_json["runs"]:
        temp, time = run_["settings"]["Temperature"], run_["settings"]["Time"]
        rows.append((run_["run"], true_yield(temp, time) + rng.normal(0.0, 0.3),
                     true_impurity(temp, time) * (1.0 + rng.normal(0.0, 0.02)), time))
    rows.sort(key=lambda r: -r[0])
    with open(path, "w", newline="", encoding="utf-8") as f:
        writer = csv.writer(f)
        writer.writerow(["run_id", impurity, "Yield", "Time"])
        for run_id, yield_, impurity, time in rows:
            writer.writerow([run_id, repr(impurity), repr(yield_), "%.1f" % time])
    return {run_id: (yield_, impurity) for run_id, yield_, impurity, _ in rows}


@pytest.fixture(scope="session")
def cli():
    assert CLI and Path(CLI).is_file(), "TAVRIN_CLI must name the tavrin executable"
    return CLI


@pytest.fixture(scope="session")
def study(cli, tmp_path_factory):
    """The example study with its results entered: 9 Box-Behnken runs and 3
    extra centre runs, so that lack of fit has pure error."""
    work = tmp_path_factory.mktemp("example")
    factors = [a for f in FACTORS for a in ("--factor", f)]
    responses = [a for r in RESPONSES for a in ("--response", r)]
    run("new", "study.json", *factors, *responses, "--seed", 7, "--center-runs", 3, cwd=work, check=0)
    sheet = run_json("sheet", "study.json", cwd=work)
    measured = write_results(sheet, work / "results.csv")
    run("enter", "study.json", "results.csv", cwd=work, check=0)
    return work, measured

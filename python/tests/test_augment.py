"""Augmentation from Python and the command line alike: a fold gives the same
study file from both, a refused fold leaves the file as it was, and runs for
the optimum of goals take the goals. Which designs fold and how is fold_test's."""
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

import tavrin

CLI = Path(os.environ.get("TAVRIN_BUILD_DIR", "build/release")) / "cli" / "tavrin"
needs_cli = pytest.mark.skipif(not CLI.exists(), reason="the command line is not built")

FACTORS = {"A": (0.1, 0.7), "B": (12.5, 31.3), "C": (3.3, 7.9)}


def tavrin_cli(*args, cwd):
    return subprocess.run([str(CLI), *map(str, args)], cwd=cwd, capture_output=True, text=True, timeout=300)


def measured(study):
    """Results of a quadratic with its maximum inside the region, plus noise."""
    rng = np.random.default_rng(4)
    for run, x in zip(study.run_ids, study.coded):
        y = 71.3 - 3.1 * (x[0] - 0.3) ** 2 - 2.2 * (x[1] + 0.2) ** 2 + 0.7 * x[0] * x[1] + rng.normal(0, 0.4)
        study.set_result(int(run), "Y", float(y))
    return study


@needs_cli
def test_a_fold_from_python_and_from_the_command_line_is_the_same_study(tmp_path):
    study = measured(tavrin.Study.factorial(FACTORS, "Y", center_runs=4, blocks=2, seed=3))
    study.save(tmp_path / "cli.json")
    study.fold(seed=6)
    assert study.origins[12:] == ["axial"] * 6 + ["center"] * 2
    assert study.recipe["augmentations"][0]["seed"] == 6
    tavrin_cli("augment", "cli.json", "--fold", "--seed", 6, cwd=tmp_path).check_returncode()
    assert tavrin.Study.load(tmp_path / "cli.json") == study
    rotatable = tavrin.Study.factorial(FACTORS, "Y", seed=3)
    rotatable.fold(alpha="rotatable", center_runs=3)
    assert np.abs(rotatable.coded).max() == pytest.approx(8 ** 0.25, abs=1e-15)


@needs_cli
def test_a_refused_fold_leaves_the_study_file_byte_for_byte(tmp_path):
    tavrin.Study.central_composite(FACTORS, "Y", seed=1).save(tmp_path / "s.json")
    before = (tmp_path / "s.json").read_bytes()
    result = tavrin_cli("augment", "s.json", "--fold", cwd=tmp_path)
    assert result.returncode == 1 and "is an axial run" in result.stderr
    assert (tmp_path / "s.json").read_bytes() == before


def test_runs_for_the_optimum_of_goals_take_the_goals_and_constraints():
    study = measured(tavrin.Study.central_composite({"A": (0.1, 0.7), "B": (12.5, 31.3)}, "Y", seed=2))
    before = study.run_count
    study.augment(4, criterion="optimum", goals={"Y": "maximize"}, constraints={"Y": (49.0, None)}, seed=7,
                  replicates=40)
    assert study.origins[before:] == ["augmented"] * 4
    assert study.recipe["augmentations"][0]["seed"] == 7
    with pytest.raises(tavrin.InvalidArgument):
        study.augment(2, criterion="d", goals={"Y": "maximize"})

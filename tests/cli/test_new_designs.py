"""Studies that hold any design from the command line: tavrin new --design,
refusals that name the option and write nothing, augment, evaluate, and
the fit of a blocked central composite design against statsmodels."""

import numpy as np
import pytest
import statsmodels.api as sm

from conftest import run, run_json

THREE = ["--factor", "A=0.1:0.7", "--factor", "B=10:30", "--factor", "C=1.5:3.5"]


def coded(sheet, names):
    rows = sorted(sheet["runs"], key=lambda r: r["run"])
    return np.array([[r["coded"][n] for n in names] for r in rows])


# Run counts and levels from the published tables: the 3-factor CCD in 3
# orthogonal blocks (cube in 2 blocks + 6 centre runs, alpha 1.633), a 2^(5-1)
# of resolution V with 3 centre runs, the 3^3 factorial, and Box-Behnken 3
# factors (12 edge midpoints, 1 centre run of its own, 2 added).
@pytest.mark.parametrize("args, runs, blocks, alpha", [
    (["--design", "ccd", "--alpha", "orthogonal", "--blocks", "3", "--center-runs", "6"], 20, {1, 2, 3}, 1.6330),
    (["--design", "factorial", "--fraction", "1", "--center-runs", "3",
      "--factor", "D=0:1", "--factor", "E=0:1"], 19, {1}, 1.0),
    (["--design", "factorial", "--levels", "3"], 27, {1}, 1.0),
    (["--design", "box-behnken", "--center-runs", "2"], 15, {1}, 1.0),
])
def test_each_design_holds_the_published_runs(cli, tmp_path, args, runs, blocks, alpha):
    sheet = run_json("new", "s.json", *THREE, "--response", "Y", "--seed", "5", *args, cwd=tmp_path)
    assert len(sheet["runs"]) == runs
    assert {r["block"] for r in sheet["runs"]} == blocks
    levels = np.abs(coded(sheet, [f["name"] for f in sheet["factors"]]))
    assert levels.max() == pytest.approx(alpha, abs=5e-5)
    # The study file says the same after a reload.
    again = run_json("sheet", "s.json", cwd=tmp_path)
    assert again["runs"] == sheet["runs"] and again["recipe"] == sheet["recipe"]


def test_the_axial_block_of_a_blocked_ccd_takes_the_centre_runs_asked_for(cli, tmp_path):
    sheet = run_json("new", "s.json", *THREE, "--response", "Y", "--design", "ccd", "--blocks", "3",
                     "--center-runs", "8", "--axial-center-runs", "2", cwd=tmp_path)
    centres = [r["block"] for r in sheet["runs"] if r["origin"] == "center"]
    assert len(centres) == 8 and centres.count(max(centres)) == 2


def test_optimal_design_keeps_its_constraint_and_seed(cli, tmp_path):
    args = ["--design", "optimal", "--runs", "9", "--model", "quadratic", "--criterion", "i",
            "--constraint", "A + 0.05*B <= 1.5", *THREE[:4], "--response", "Y", "--seed", "8"]
    first = run_json("new", "a.json", *args, cwd=tmp_path)
    second = run_json("new", "b.json", *args, cwd=tmp_path)
    assert first["runs"] == second["runs"]
    for r in first["runs"]:
        assert r["settings"]["A"] + 0.05 * r["settings"]["B"] <= 1.5 + 1e-12
    assert first["recipe"]["options"]["criterion"] == "i"


@pytest.mark.parametrize("args, named", [
    (["--design", "ccd", "--levels", "3"], '"levels"'),
    (["--design", "factorial", "--alpha", "face"], '"alpha"'),
    (["--design", "ccd", "--alpha", "steep"], "alpha"),
    (["--design", "ccd", "--fraction", "2"], "fraction"),
    (["--design", "optimal", "--runs", "5"], "runs"),
    (["--design", "optimal", "--runs", "12", "--constraint", "A + Q <= 1"], '"Q"'),
    (["--design", "box-behnken", "--runs", "12"], '"runs"'),
    (["--design", "ccd", "--blocks", "3", "--center-runs", "4", "--axial-center-runs", "5"], "axial center runs"),
])
def test_refusals_name_the_option_and_write_nothing(cli, tmp_path, args, named):
    result = run("new", "s.json", *THREE, "--response", "Y", *args, cwd=tmp_path, check=1)
    assert named in result.stderr, result.stderr
    assert not (tmp_path / "s.json").exists()


def test_augment_takes_the_request_refuses_without_writing_and_evaluate_reports(cli, tmp_path):
    run("new", "s.json", "--design", "factorial", "--center-runs", "2", *THREE, "--response", "Y", "--seed", "2",
        cwd=tmp_path, check=0)
    before = run_json("sheet", "s.json", cwd=tmp_path)
    rows = ["run_id,Y"] + [f"{r['run']},{0.1 * r['run'] + 0.37 / r['run']!r}" for r in before["runs"]]
    (tmp_path / "y.csv").write_text("\n".join(rows) + "\n", encoding="utf-8")
    run("enter", "s.json", "y.csv", cwd=tmp_path, check=0)
    entered = run_json("sheet", "s.json", cwd=tmp_path)

    refused = run("augment", "s.json", "--runs", "3", "--model", "A Q", cwd=tmp_path, check=1)
    assert '"Q"' in refused.stderr
    assert run_json("sheet", "s.json", cwd=tmp_path) == entered

    # What augment keeps is held_designs_test's; the command line passes the request and shows the runs.
    after = run_json("augment", "s.json", "--runs", "8", "--model", "quadratic", "--seed", "4", cwd=tmp_path)
    added = after["runs"][len(entered["runs"]):]
    assert len(added) == 8
    assert {r["origin"] for r in added} == {"augmented"} and {r["block"] for r in added} == {2}
    assert all(v is None for r in added for v in r["results"].values())
    assert after["recipe"]["augmentations"] == [
        {"runs": 8, "criterion": "d", "model": "quadratic", "seed": 4, "block": 2}]

    evaluation = run_json("evaluate", "s.json", "--model", "quadratic", cwd=tmp_path)
    assert evaluation["runs"] == 18 and evaluation["terms"] == 10


def test_plan_file_export_says_why_it_refuses(cli, tmp_path):
    run("new", "s.json", "--design", "ccd", *THREE, "--response", "Y", cwd=tmp_path, check=0)
    result = run("export", "s.json", "s.tvr", cwd=tmp_path, check=1)
    assert "Box-Behnken and Rechtschaffner plans only" in result.stderr and "ccd" in result.stderr
    assert not (tmp_path / "s.tvr").exists()


# A rotatable CCD in two blocks (cube and axial), results with a block
# shift and noise: plain `tavrin fit` matches OLS with a sum-coded block
# factor, whose intercept is at the average block as Tavrin's is.
def test_blocked_ccd_fit_matches_statsmodels(cli, tmp_path):
    run("new", "s.json", "--design", "ccd", "--blocks", "2", "--factor", "A=0.1:0.7", "--factor", "B=10:30",
        "--response", "Y", "--seed", "3", cwd=tmp_path, check=0)
    sheet = run_json("sheet", "s.json", cwd=tmp_path)
    rng = np.random.default_rng(7)
    runs = sorted(sheet["runs"], key=lambda r: r["run"])
    x = np.array([[r["coded"]["A"], r["coded"]["B"]] for r in runs])
    block = np.array([r["block"] for r in runs])
    y = (71.3 + 1.7 * x[:, 0] - 0.9 * x[:, 1] - 2.3 * x[:, 0] ** 2 - 1.1 * x[:, 1] ** 2 + 0.6 * x[:, 0] * x[:, 1]
         + 0.8 * (block == 2) + rng.normal(0, 0.3, len(runs)))
    rows = ["run_id,Y"] + [f"{r['run']},{v!r}" for r, v in zip(runs, y)]
    (tmp_path / "y.csv").write_text("\n".join(rows) + "\n", encoding="utf-8")
    run("enter", "s.json", "y.csv", cwd=tmp_path, check=0)

    fit = run_json("fit", "s.json", cwd=tmp_path)["responses"][0]
    ours = {c["term"]: c["coded"] for c in fit["coefficients"]}
    a, b = x[:, 0], x[:, 1]
    sum_coded = np.where(block == 1, 1.0, -1.0)  # block 1 against the average of the two
    design = np.column_stack([np.ones(len(y)), a, b, a * a, b * b, a * b, sum_coded])
    ols = sm.OLS(y, design).fit()
    for k, term in enumerate(["(Intercept)", "A", "B", "A^2", "B^2", "A:B"]):
        assert ours[term]["value"] == pytest.approx(ols.params[k], rel=1e-9, abs=1e-9), term
        assert ours[term]["stdError"] == pytest.approx(ols.bse[k], rel=1e-7), term
    assert fit["blocksDf"] == 1
    assert fit["sigma"] == pytest.approx(np.sqrt(ols.scale), rel=1e-9)

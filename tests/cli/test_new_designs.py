"""Any design from the command line: the options of tavrin new reach the
recipe (the designs themselves are tests/designs'), augment takes its
request, evaluate reports. Refusals are test_bad_input's."""

import numpy as np
import pytest

from conftest import run, run_json

THREE = ["--factor", "A=0.1:0.7", "--factor", "B=10:30", "--factor", "C=1.5:3.5"]


# Run counts and levels of the published tables: the 3-factor CCD in 3
# orthogonal blocks (cube in 2 blocks + 6 centre runs, alpha 1.633) and a
# 2^(5-1) of resolution V with 3 centre runs.
@pytest.mark.parametrize("args, runs, blocks, alpha", [
    (["--design", "ccd", "--alpha", "orthogonal", "--blocks", "3", "--center-runs", "6"], 20, {1, 2, 3}, 1.6330),
    (["--design", "factorial", "--fraction", "1", "--center-runs", "3",
      "--factor", "D=0:1", "--factor", "E=0:1"], 19, {1}, 1.0),
])
def test_design_options_reach_the_plan_and_the_file(cli, tmp_path, args, runs, blocks, alpha):
    sheet = run_json("new", "s.json", *THREE, "--response", "Y", "--seed", "5", *args, cwd=tmp_path)
    assert len(sheet["runs"]) == runs and {r["block"] for r in sheet["runs"]} == blocks
    levels = np.array([[abs(v) for v in r["coded"].values()] for r in sheet["runs"]])
    assert levels.max() == pytest.approx(alpha, abs=5e-5)
    again = run_json("sheet", "s.json", cwd=tmp_path)
    assert again["runs"] == sheet["runs"] and again["recipe"] == sheet["recipe"]


def test_augment_takes_the_request_and_evaluate_reports(cli, tmp_path):
    run("new", "s.json", "--design", "factorial", "--center-runs", "2", *THREE, "--response", "Y", "--seed", "2",
        cwd=tmp_path, check=0)
    before = run_json("sheet", "s.json", cwd=tmp_path)
    rows = ["run_id,Y"] + [f"{r['run']},{0.1 * r['run'] + 0.37 / r['run']!r}" for r in before["runs"]]
    (tmp_path / "y.csv").write_text("\n".join(rows) + "\n", encoding="utf-8")
    run("enter", "s.json", "y.csv", cwd=tmp_path, check=0)
    entered = run_json("sheet", "s.json", cwd=tmp_path)

    after = run_json("augment", "s.json", "--runs", "8", "--model", "quadratic", "--seed", "4", cwd=tmp_path)
    added = after["runs"][len(entered["runs"]):]
    assert len(added) == 8 and {r["block"] for r in added} == {2}
    assert all(v is None for r in added for v in r["results"].values())
    assert after["recipe"]["augmentations"] == [
        {"runs": 8, "criterion": "d", "model": "quadratic", "seed": 4, "block": 2}]
    evaluation = run_json("evaluate", "s.json", "--model", "quadratic", cwd=tmp_path)
    assert (evaluation["runs"], evaluation["terms"]) == (18, 10)

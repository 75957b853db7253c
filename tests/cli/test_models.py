"""The model options of `tavrin fit`, `path`, and a model kept with --save,
against statsmodels: the options must reach the library (which
tests/analysis checks) and back."""
import shutil

import numpy as np
import pandas as pd
import pytest
import statsmodels.api as sm
import statsmodels.formula.api as smf

from conftest import run, run_json

AT = "Temperature=171.3,Time=23.7"


@pytest.fixture()
def work(study, tmp_path):
    """A copy of the example study, so that saving a model leaves the others' study as it is."""
    shutil.copy(study[0] / "study.json", tmp_path / "study.json")
    return tmp_path


def frame(work, temp=None, time=None):
    """The runs in coded units (or the one point given), with their squares and product."""
    if temp is None:
        runs = sorted(run_json("sheet", "study.json", cwd=work)["runs"], key=lambda r: r["run"])
        temp, time = [r["settings"]["Temperature"] for r in runs], [r["settings"]["Time"] for r in runs]
        df = pd.DataFrame({"y": [r["results"]["Yield"] for r in runs], "z": [r["results"]["Impurity"] for r in runs]})
    else:
        df = pd.DataFrame(index=[0])
    df["T"], df["M"] = (np.asarray(temp) - 180.0) / 30.0, (np.asarray(time) - 30.0) / 20.0
    df["TT"], df["MM"], df["TM"] = df["T"] ** 2, df["M"] ** 2, df["T"] * df["M"]
    return df


def test_term_list_matches_statsmodels_with_partial_anova(work):
    out = run_json("fit", "study.json", "--response", "Yield", "--model", "Temperature Time Temperature^2 Time^2",
                   "--anova", "partial", cwd=work)["responses"][0]
    ols = smf.ols("y ~ T + M + TT + MM", frame(work)).fit()
    assert out["model"] == "Temperature Time Temperature^2 Time^2"
    np.testing.assert_allclose([[c["value"], c["stdError"]] for c in out["coefficients"]],
                               np.column_stack([ols.params.values, ols.bse.values]), rtol=1e-10)
    type3 = sm.stats.anova_lm(ols, typ=3)
    np.testing.assert_allclose([r["ss"] for r in out["anova"]["partial"]], type3["sum_sq"].values[1:-1], rtol=1e-9)
    assert out["anova"]["pureError"]["df"] == 3 and out["anova"]["lackOfFit"]["df"] == ols.df_resid - 3


def test_reduction_takes_its_alpha_and_forced_term(work):
    # Impurity's Time^2 has p 0.19: above 0.15, below 0.2.
    def removed(*args):
        out = run_json("fit", "study.json", "--response", "Impurity", "--reduce", *args, cwd=work)["responses"][0]
        assert out["startModel"] == "Temperature Time Temperature^2 Time^2 Temperature:Time"
        assert all(s["p"] > float(args[1]) for s in out["reduction"])
        return [s["removed"] for s in out["reduction"]]
    assert removed("--alpha", "0.15") == ["Time^2"]
    assert removed("--alpha", "0.2") == removed("--alpha", "0.15", "--force", "Time^2") == []
    text = run("fit", "study.json", "--response", "Impurity", "--reduce", "--alpha", "0.2", cwd=work, check=0).stdout
    assert "Backward elimination while p > 0.2, keeping hierarchy" in text


def test_paths_take_their_step_and_radius(work):
    out = run_json("path", "study.json", "--response", "Yield", "--steepest", "--model", "linear", "--step",
                   "Time=2.5", "--steps", "12", cwd=work)
    b = smf.ols("y ~ T + M", frame(work)).fit().params
    for k, p in enumerate(out["points"]):
        coded = frame(work, p["settings"]["Temperature"], p["settings"]["Time"])
        assert abs(abs(p["settings"]["Time"] - 30.0) - 2.5 * k) < 1e-9
        np.testing.assert_allclose(coded["T"][0] * b["M"], coded["M"][0] * b["T"], atol=1e-12)
        assert p["insideRegion"] == bool(abs(coded["T"][0]) <= 1.0 and abs(coded["M"][0]) <= 1.0)
    assert not out["points"][-1]["insideRegion"]
    ridge = run_json("path", "study.json", "--response", "Yield", "--ridge", "--radius", "1.2", "--steps", "6", cwd=work)
    np.testing.assert_allclose([p["radius"] for p in ridge["points"]], np.arange(7) * 0.2, atol=1e-12)


def test_saved_models_drive_optimize_and_predict(work):
    run("fit", "study.json", "--response", "Yield", "--model", "Temperature Time Temperature^2", "--save", cwd=work,
        check=0)
    run("fit", "study.json", "--response", "Impurity", "--transform", "log", "--save", cwd=work, check=0)
    out = run_json("optimize", "study.json", "--maximize", "Yield", cwd=work)
    assert out["models"]["Yield"]["terms"] == "Temperature Time Temperature^2"
    # Without Time^2 the prediction rises along Time to its end.
    assert out["optimum"]["candidates"][0]["settings"]["Time"] == pytest.approx(50.0, abs=1e-6)
    assert "Impurity: quadratic (log, power 0)" in run("predict", "study.json", "--at", AT, cwd=work, check=0).stdout
    got = run_json("predict", "study.json", "--at", AT, cwd=work)["points"][0]["predictions"]
    # The log model's prediction and limits come back in the response's units.
    for response, formula, back in (("Yield", "y ~ T + M + TT", np.asarray),
                                     ("Impurity", "np.log(z) ~ T + M + TT + MM + TM", np.exp)):
        ols = smf.ols(formula, frame(work)).fit()
        expected = ols.get_prediction(frame(work, 171.3, 23.7)).summary_frame(alpha=0.05)
        np.testing.assert_allclose([got[response][k] for k in ("value", "confidenceLow", "predictionHigh")],
                                   back([expected[k].iloc[0] for k in ("mean", "mean_ci_lower", "obs_ci_upper")]),
                                   rtol=1e-10, err_msg=response)

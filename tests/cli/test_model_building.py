"""`tavrin fit` with a chosen model, reduction and ANOVA, and `tavrin path`,
on the example study, against statsmodels and the gradient by hand."""
import numpy as np
import pandas as pd
import statsmodels.api as sm
import statsmodels.formula.api as smf

from conftest import run, run_json


def frame(work):
    sheet = run_json("sheet", "study.json", cwd=work)
    runs = sorted(sheet["runs"], key=lambda r: r["run"])
    df = pd.DataFrame({"T": [(r["settings"]["Temperature"] - 180.0) / 30.0 for r in runs],
                       "M": [(r["settings"]["Time"] - 30.0) / 20.0 for r in runs],
                       "y": [r["results"]["Yield"] for r in runs]})
    df["TT"], df["MM"], df["TM"] = df["T"] ** 2, df["M"] ** 2, df["T"] * df["M"]
    return df


def test_term_list_matches_statsmodels_with_partial_anova(study):
    work, _ = study
    out = run_json("fit", "study.json", "--response", "Yield", "--model", "Temperature Time Temperature^2 Time^2",
                   "--anova", "partial", cwd=work)["responses"][0]
    ols = smf.ols("y ~ T + M + TT + MM", frame(work)).fit()
    assert out["model"] == "Temperature Time Temperature^2 Time^2"
    np.testing.assert_allclose([c["value"] for c in out["coefficients"]], ols.params.values, rtol=1e-10)
    np.testing.assert_allclose([c["stdError"] for c in out["coefficients"]], ols.bse.values, rtol=1e-10)
    type3 = sm.stats.anova_lm(ols, typ=3)
    np.testing.assert_allclose([r["ss"] for r in out["anova"]["partial"]], type3["sum_sq"].values[1:-1], rtol=1e-9)
    assert out["anova"]["pureError"]["df"] == 3  # 3 extra centre runs beside the plan's own
    assert out["anova"]["lackOfFit"]["df"] == ols.df_resid - 3


def test_reduction_reports_each_step_and_keeps_hierarchy(study):
    work, _ = study
    out = run_json("fit", "study.json", "--response", "Yield", "--reduce", "--alpha", "0.2", "--force", "Time",
                   cwd=work)["responses"][0]
    assert out["startModel"] == "Temperature Time Temperature^2 Time^2 Temperature:Time"
    for step in out["reduction"]:
        assert step["p"] > 0.2 and step["removed"] != "Time"
    assert out["hierarchy"] == ""
    text = run("fit", "study.json", "--response", "Yield", "--reduce", "--alpha", "0.2", "--force", "Time",
               cwd=work, check=0).stdout
    assert "Backward elimination while p > 0.2, keeping hierarchy" in text


def test_steepest_ascent_follows_the_gradient_in_natural_steps(study):
    work, _ = study
    out = run_json("path", "study.json", "--response", "Yield", "--steepest", "--model", "linear", "--step",
                   "Time=2.5", "--steps", "12", cwd=work)
    ols = smf.ols("y ~ T + M", frame(work)).fit()
    b = ols.params[["T", "M"]].values
    for k, p in enumerate(out["points"]):
        coded = np.array([(p["settings"]["Temperature"] - 180.0) / 30.0, (p["settings"]["Time"] - 30.0) / 20.0])
        assert abs(abs(p["settings"]["Time"] - 30.0) - 2.5 * k) < 1e-9
        np.testing.assert_allclose(coded[0] * b[1], coded[1] * b[0], atol=1e-12)
        assert p["insideRegion"] == bool(np.all(np.abs(coded) <= 1.0))
    assert not out["points"][-1]["insideRegion"]


def test_ridge_path_is_the_best_point_on_each_circle(study):
    work, _ = study
    out = run_json("path", "study.json", "--response", "Yield", "--ridge", "--radius", "1.2", "--steps", "6",
                   cwd=work)
    ols = smf.ols("y ~ T + M + TT + MM + TM", frame(work)).fit()
    angles = np.linspace(0, 2 * np.pi, 200001)
    assert out["points"][0]["settings"] == {"Temperature": 180.0, "Time": 30.0}
    for k, p in enumerate(out["points"][1:], start=1):
        r = 1.2 * k / 6
        t, m = r * np.cos(angles), r * np.sin(angles)
        grid = ols.predict(pd.DataFrame({"T": t, "M": m, "TT": t * t, "MM": m * m, "TM": t * m})).values
        best = grid.argmax()
        assert abs(p["radius"] - r) < 1e-12
        assert p["prediction"]["value"] >= grid[best] - 1e-12
        assert p["prediction"]["value"] - grid[best] < 1e-8
        np.testing.assert_allclose([(p["settings"]["Temperature"] - 180) / 30, (p["settings"]["Time"] - 30) / 20],
                                   [t[best], m[best]], atol=1e-4)


def test_bad_model_options_are_refused_with_their_cause(study):
    work, _ = study
    cases = [
        (["fit", "study.json", "--model", "Temperature Tim"], 1, "no factor is named \"Tim\""),
        (["fit", "study.json", "--model", "Temperature -1"], 1, "removes the intercept"),
        (["fit", "study.json", "--alpha", "0.2"], 2, "--reduce"),
        (["fit", "study.json", "--transform", "cube"], 1, "transform \"cube\" is not known"),
        (["fit", "study.json", "--anova", "type2"], 2, "sequential or partial"),
        (["fit", "study.json", "--reduce", "--force", "Temperature^3"], 1, "only squares"),
        (["path", "study.json", "--response", "Yield"], 2, "--ridge or --steepest"),
        (["path", "study.json", "--response", "Yield", "--steepest"], 2, "--step"),
        (["path", "study.json", "--response", "Yield", "--ridge", "--steps", "0"], 1, "steps 0"),
    ]
    before = (work / "study.json").read_bytes()
    for args, status, needle in cases:
        result = run(*args, cwd=work, check=status)
        assert needle in result.stderr, (args, result.stderr)
    assert (work / "study.json").read_bytes() == before

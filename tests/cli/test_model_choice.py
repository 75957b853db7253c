"""A model kept with `tavrin fit --save`: the optimum, robustness and
predictions then use it, checked against statsmodels and scipy on the same
rows; a transformed response's results come back in its own units."""
import shutil

import numpy as np
import pandas as pd
import pytest
import statsmodels.formula.api as smf
from scipy.optimize import minimize

from conftest import run, run_json


@pytest.fixture()
def work(study, tmp_path):
    """A copy of the example study, so that saving a model leaves the others' study as it is."""
    source, _ = study
    shutil.copy(source / "study.json", tmp_path / "study.json")
    return tmp_path


def frame(work):
    sheet = run_json("sheet", "study.json", cwd=work)
    runs = sorted(sheet["runs"], key=lambda r: r["run"])
    df = pd.DataFrame({"T": [(r["settings"]["Temperature"] - 180.0) / 30.0 for r in runs],
                       "M": [(r["settings"]["Time"] - 30.0) / 20.0 for r in runs],
                       "y": [r["results"]["Yield"] for r in runs],
                       "z": [r["results"]["Impurity"] for r in runs]})
    df["TT"], df["MM"], df["TM"] = df["T"] ** 2, df["M"] ** 2, df["T"] * df["M"]
    return df


def coded(settings):
    return np.array([(settings["Temperature"] - 180.0) / 30.0, (settings["Time"] - 30.0) / 20.0])


def best_on_box(predict, sign):
    """scipy's optimum of sign * prediction over the coded square, from a grid of starts."""
    starts = [np.array([a, b]) for a in np.linspace(-0.9, 0.9, 5) for b in np.linspace(-0.9, 0.9, 5)]
    results = [minimize(lambda x: -sign * predict(x), s, method="L-BFGS-B", bounds=[(-1, 1), (-1, 1)],
                        options={"ftol": 1e-15, "gtol": 1e-12}) for s in starts]
    return min(results, key=lambda r: r.fun).x


def test_reduced_model_drives_optimum_robustness_and_prediction(work):
    full = run_json("optimize", "study.json", "--maximize", "Yield", cwd=work)["optimum"]["candidates"][0]
    run("fit", "study.json", "--response", "Yield", "--model", "Temperature Time Temperature^2", "--save",
        cwd=work, check=0)
    out = run_json("optimize", "study.json", "--maximize", "Yield", "--robust", "--replicates", "20", cwd=work)
    assert out["models"]["Yield"]["terms"] == "Temperature Time Temperature^2"
    best = out["optimum"]["candidates"][0]

    ols = smf.ols("y ~ T + M + TT", frame(work)).fit()
    b = ols.params

    def predict(x):
        return b["Intercept"] + b["T"] * x[0] + b["M"] * x[1] + b["TT"] * x[0] ** 2

    expected = best_on_box(predict, +1)
    np.testing.assert_allclose(coded(best["settings"]), expected, atol=1e-6)
    np.testing.assert_allclose(best["predictions"]["Yield"]["value"], predict(expected), rtol=1e-9)
    # Without Time^2 the prediction rises along Time to its end; the full quadratic's optimum is inside.
    assert abs(coded(full["settings"])[1] - coded(best["settings"])[1]) > 0.1
    np.testing.assert_allclose(out["robustness"]["sigma"]["Yield"]["value"], np.sqrt(ols.scale), rtol=1e-10)

    at = "Temperature=171.3,Time=23.7"
    point = pd.DataFrame({"T": [(171.3 - 180.0) / 30.0], "M": [(23.7 - 30.0) / 20.0]})
    point["TT"] = point["T"] ** 2
    predicted = run_json("predict", "study.json", "--at", at, cwd=work)["points"][0]["predictions"]["Yield"]
    frame_ = ols.get_prediction(point).summary_frame(alpha=0.05)
    np.testing.assert_allclose(predicted["value"], frame_["mean"].iloc[0], rtol=1e-10)
    np.testing.assert_allclose([predicted["confidenceLow"], predicted["predictionHigh"]],
                               [frame_["mean_ci_lower"].iloc[0], frame_["obs_ci_upper"].iloc[0]], rtol=1e-10)


def test_transformed_response_is_optimised_and_predicted_in_its_units(work):
    run("fit", "study.json", "--response", "Impurity", "--transform", "log", "--save", cwd=work, check=0)
    ols = smf.ols("np.log(z) ~ T + M + TT + MM + TM", frame(work)).fit()

    def log_impurity(x):
        row = pd.DataFrame({"T": [x[0]], "M": [x[1]], "TT": [x[0] ** 2], "MM": [x[1] ** 2], "TM": [x[0] * x[1]]})
        return float(ols.predict(row).iloc[0])

    # A target inside the data's range, in per cent: met where exp(log model) = 1.2,
    # which a goal compared on the log scale would put elsewhere.
    out = run_json("optimize", "study.json", "--target", "Impurity=0.6:1.2:2.4", cwd=work)
    best = out["optimum"]["candidates"][0]
    x = coded(best["settings"])
    np.testing.assert_allclose(best["predictions"]["Impurity"]["value"], np.exp(log_impurity(x)), rtol=1e-9)
    np.testing.assert_allclose(best["predictions"]["Impurity"]["value"], 1.2, rtol=1e-6)
    assert best["desirability"]["Impurity"] == pytest.approx(1.0, abs=1e-5)

    text = run("predict", "study.json", "--at", "Temperature=171.3,Time=23.7", cwd=work, check=0).stdout
    assert "Impurity: quadratic (log, power 0)" in text
    predicted = run_json("predict", "study.json", "--at", "Temperature=171.3,Time=23.7",
                         cwd=work)["points"][0]["predictions"]["Impurity"]
    point = pd.DataFrame({"T": [(171.3 - 180.0) / 30.0], "M": [(23.7 - 30.0) / 20.0]})
    point["TT"], point["MM"], point["TM"] = point["T"] ** 2, point["M"] ** 2, point["T"] * point["M"]
    frame_ = ols.get_prediction(point).summary_frame(alpha=0.05)
    np.testing.assert_allclose([predicted["value"], predicted["confidenceLow"], predicted["predictionHigh"]],
                               np.exp([frame_["mean"].iloc[0], frame_["mean_ci_lower"].iloc[0],
                                       frame_["obs_ci_upper"].iloc[0]]), rtol=1e-10)


@pytest.mark.parametrize("args, named", [
    (["--model", "Temperature Pressure"], "Pressure"),
    (["--transform", "cube"], "cube"),
    (["--reduce", "--force", "Time^3"], "Time^3"),
])
def test_a_refused_choice_says_what_and_leaves_the_file(work, args, named):
    before = (work / "study.json").read_bytes()
    result = run("fit", "study.json", "--response", "Yield", *args, "--save", cwd=work)
    assert result.returncode != 0 and named in result.stderr
    assert (work / "study.json").read_bytes() == before


def test_a_saved_choice_naming_no_factor_is_refused_on_load(work):
    run("fit", "study.json", "--response", "Yield", "--model", "Temperature Time", "--save", cwd=work, check=0)
    text = (work / "study.json").read_text(encoding="utf-8")
    (work / "study.json").write_text(text.replace('"terms": "Temperature Time"', '"terms": "Temperature Pressure"'),
                                     encoding="utf-8")
    result = run("optimize", "study.json", "--maximize", "Yield", cwd=work)
    assert result.returncode != 0
    assert "models.Yield.terms" in result.stderr

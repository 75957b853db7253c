"""The example study from `new` to `optimize`: the fields of each command's
JSON against statsmodels (the statistics themselves are tests/analysis')."""
import csv
import json
import os
import pty
import subprocess

import numpy as np
import pytest
import statsmodels.api as sm
from scipy import optimize, special, stats

from conftest import CLI, run, run_json

TERMS = ["(Intercept)", "Temperature", "Time", "Temperature^2", "Time^2", "Temperature:Time"]
RESPONSES = ["Yield", "Impurity"]
CLOSE = dict(rtol=1e-9, atol=1e-11)


def quadratic(x1, x2):
    x1, x2 = np.asarray(x1, float), np.asarray(x2, float)
    return np.column_stack([np.ones_like(x1), x1, x2, x1 * x1, x2 * x2, x1 * x2])


def t_quantile(level, df):
    """Two-sided quantile of Student's t, solved on its distribution function
    (scipy 1.10's t.ppf is off by 1e-9 relative)."""
    return optimize.brentq(lambda q: special.stdtr(df, q) - (1 + level) / 2, 0.0, 100.0, xtol=1e-15, rtol=1e-15)


def coded(temp, time):
    return (np.asarray(temp) - 180.0) / 30.0, (np.asarray(time) - 30.0) / 20.0


@pytest.fixture(scope="module")
def data(study):
    work, measured = study
    sheet = run_json("sheet", "study.json", cwd=work)
    runs = sorted(sheet["runs"], key=lambda r: r["run"])
    temp = np.array([r["settings"]["Temperature"] for r in runs])
    time = np.array([r["settings"]["Time"] for r in runs])
    y = {name: np.array([measured[r["run"]][k] for r in runs]) for k, name in enumerate(RESPONSES)}
    ols = {name: sm.OLS(y[name], quadratic(*coded(temp, time))).fit() for name in RESPONSES}
    return work, sheet, temp, time, y, ols


def test_sheet_holds_the_shuffled_plan_and_the_entered_doubles(data, study):
    work, sheet, temp, time, _, _ = data
    assert (sheet["design"], sheet["seed"], sheet["extraCenterRuns"]) == ("box-behnken", 7, 3)
    grid = [(t, m) for t in (150.0, 180.0, 210.0) for m in (10.0, 30.0, 50.0)] + [(180.0, 30.0)] * 3
    assert sorted(zip(temp, time)) == sorted(grid)
    order = [r["run"] for r in sheet["runs"]]
    assert sorted(order) == list(range(1, 13)) and order != sorted(order)
    assert [(r["results"]["Yield"], r["results"]["Impurity"]) for r in sheet["runs"]] == [study[1][k] for k in order]


@pytest.mark.parametrize("response", RESPONSES)
def test_fit_fields_match_statsmodels(data, response):
    work, _, temp, time, y, ols = data
    report = run_json("fit", "study.json", "--response", response, cwd=work)["responses"][0]
    natural = sm.OLS(y[response], quadratic(temp, time)).fit()
    assert [c["term"] for c in report["coefficients"]] == TERMS
    for key, fit in (("coded", ols[response]), ("natural", natural)):
        half = t_quantile(0.95, 6) * fit.bse
        expected = [fit.params, fit.bse, fit.tvalues, fit.params - half, fit.params + half]
        got = [[c[key][k] for c in report["coefficients"]] for k in ("value", "stdError", "t", "lower", "upper")]
        np.testing.assert_allclose(got, expected, **CLOSE)
        np.testing.assert_allclose([c[key]["p"] for c in report["coefficients"]], fit.pvalues, rtol=1e-7, atol=1e-14)

    fit = ols[response]
    assert (report["runs"], report["terms"], report["residualDf"]) == (12, 6, 6)
    keys = ("rSquared", "adjustedRSquared", "rmse", "fStatistic", "fPValue", "residualSS", "totalSS")
    expected = [fit.rsquared, fit.rsquared_adj, np.sqrt(fit.mse_resid), fit.fvalue, fit.f_pvalue, fit.ssr,
                fit.centered_tss]
    np.testing.assert_allclose([report[k] for k in keys], expected, rtol=1e-8)

    # Pure error from the four runs at the centre (3 df), lack of fit beyond it (3 df).
    centre = y[response][(temp == 180.0) & (time == 30.0)]
    pure_ss = np.sum((centre - centre.mean()) ** 2)
    f = (fit.ssr - pure_ss) / pure_ss
    lof = report["lackOfFit"]
    assert lof["available"] and (lof["pureErrorDf"], lof["lackOfFitDf"]) == (3, 3)
    np.testing.assert_allclose([lof["pureErrorSS"], lof["lackOfFitSS"], lof["f"], lof["p"]],
                               [pure_ss, fit.ssr - pure_ss, f, stats.f.sf(f, 3, 3)], rtol=1e-8)


def test_predictions_match_statsmodels(data):
    work, _, _, _, _, ols = data
    # Points off the grid, the last outside the plan's ranges.
    points = [(163.7, 21.3), (201.1, 44.9), (222.5, 7.5)]
    at = [a for p in points for a in ("--at", f"Temperature={p[0]!r},Time={p[1]!r}")]
    got = run_json("predict", "study.json", *at, "--confidence", "0.9", cwd=work)
    assert got["confidence"] == 0.9 and [p["extrapolates"] for p in got["points"]] == [False, False, True]
    new = quadratic(*coded(*zip(*points)))
    q = t_quantile(0.9, 6)
    for response in RESPONSES:
        frame = ols[response].get_prediction(new).summary_frame(alpha=0.1)
        mean, se = frame["mean"].to_numpy(), frame["mean_se"].to_numpy()
        se_new = np.sqrt(se**2 + ols[response].mse_resid)
        keys = ("value", "stdError", "confidenceLow", "confidenceHigh", "predictionLow", "predictionHigh")
        expected = [mean, se, mean - q * se, mean + q * se, mean - q * se_new, mean + q * se_new]
        np.testing.assert_allclose([[p["predictions"][response][k] for p in got["points"]] for k in keys], expected,
                                   rtol=1e-9)
    assert "extrapolates: point 3" in run("predict", "study.json", *at, cwd=work, check=0).stdout


def test_predictions_csv_reads_the_run_sheet_and_writes_full_precision(data):
    work = data[0]
    run("sheet", "study.json", "-o", "points.csv", "--force", cwd=work, check=0)
    got = run_json("predict", "study.json", "--csv", "points.csv", "-o", "predicted.csv", "--force", cwd=work)
    with open(work / "predicted.csv", encoding="utf-8", newline="") as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == len(got["points"]) == 12
    suffixes = {"value": "", "stdError": " std. error", "confidenceLow": " CI low", "confidenceHigh": " CI high",
                "predictionLow": " PI low", "predictionHigh": " PI high"}
    for row, point in zip(rows, got["points"]):
        assert float(row["Temperature"]) == point["settings"]["Temperature"]
        for response in RESPONSES:
            for key, suffix in suffixes.items():
                assert float(row[response + suffix]) == point["predictions"][response][key], (response, key)


# Where the optimum lies is tests/optimum's (against scipy); here the goal and
# the limit reach it and the result comes back.
def test_optimum_takes_the_goal_and_the_limit(data):
    got = run_json("optimize", "study.json", "--maximize", "Yield", "--within", "Impurity<=1.5", cwd=data[0])
    top = got["optimum"]["candidates"][0]
    assert got["goals"]["goals"][0]["kind"] == "maximize" and top["activeConstraints"] == ["Impurity <= 1.5"]
    assert abs(top["predictions"]["Impurity"]["value"] - 1.5) < 1e-7
    np.testing.assert_allclose(list(top["coded"].values()), coded(top["settings"]["Temperature"],
                                                                  top["settings"]["Time"]), rtol=1e-12)


def test_target_and_minimize_goals_combine(data):
    got = run_json("optimize", "study.json", "--target", "Yield=80:86:90", "--minimize", "Impurity=0.4:2.5",
                   "--importance", "Yield=2", "--best", 3, cwd=data[0])
    goals = {g["response"]: g for g in got["goals"]["goals"]}
    assert [goals["Yield"][k] for k in ("low", "target", "high", "importance")] == [80, 86, 90, 2]
    assert [goals["Impurity"][k] for k in ("kind", "low", "high")] == ["minimize", 0.4, 2.5]
    assert 1 <= len(got["optimum"]["candidates"]) <= 3


def robust_args(threads):
    return ["optimize", "study.json", "--maximize", "Yield", "--within", "Impurity<=1.5", "--robust", "--sigma",
            "Yield=0.5", "--replicates", 120, "--seed", 5, "--threads", threads, "--points", 4096]


def test_robustness_is_quiet_without_a_terminal_and_shows_progress_on_one(data):
    work = data[0]
    quiet = run(*robust_args(2), "--json", cwd=work, check=0)
    assert quiet.stderr == ""
    robust = json.loads(quiet.stdout)["robustness"]
    assert (robust["replicates"], robust["seed"]) == (120, 5)
    assert robust["sigma"]["Yield"] == {"value": 0.5, "source": "supplied"}
    assert robust["sigma"]["Impurity"]["source"] == "residuals"
    assert all(len(column) == 120 for column in robust["optima"].values())

    master, slave = pty.openpty()
    try:
        result = subprocess.run([CLI, *map(str, robust_args(1))], cwd=work, stdout=subprocess.PIPE, stderr=slave,
                                stdin=subprocess.DEVNULL, timeout=120)
        os.close(slave)
        seen = b""
        while chunk := read_or_end(master):
            seen += chunk
    finally:
        os.close(master)
    assert result.returncode == 0 and b"robustness: 120/120 replicates" in seen


def read_or_end(fd):
    try:
        return os.read(fd, 4096)
    except OSError:
        return b""

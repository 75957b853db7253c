"""The example study from `new` to `optimize`, every number checked against
an independent computation: statsmodels for the fits and predictions,
scipy for the optimum."""
import csv
import itertools
import os
import pty
import shutil
import subprocess

import numpy as np
import pytest
import statsmodels.api as sm
from scipy import optimize, special, stats

from conftest import CLI, run, run_json

TERMS = ["(Intercept)", "Temperature", "Time", "Temperature^2", "Time^2", "Temperature:Time"]
RESPONSES = ["Yield", "Impurity"]


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
    return work, sheet, temp, time, y


def test_plan_is_the_box_behnken_grid_with_centre_runs_in_a_shuffled_order(data):
    _, sheet, temp, time, _ = data
    assert sheet["design"] == "box-behnken" and sheet["seed"] == 7 and sheet["extraCenterRuns"] == 3
    points = sorted(zip(temp, time))
    grid = sorted([(t, m) for t in (150.0, 180.0, 210.0) for m in (10.0, 30.0, 50.0)] + [(180.0, 30.0)] * 3)
    assert points == grid
    order = [r["run"] for r in sheet["runs"]]
    assert sorted(order) == list(range(1, 13)) and order != sorted(order)
    assert [r["order"] for r in sheet["runs"]] == list(range(1, 13))


def test_entered_results_are_the_measured_doubles(data, study):
    _, sheet, _, _, _ = data
    _, measured = study
    for r in sheet["runs"]:
        assert (r["results"]["Yield"], r["results"]["Impurity"]) == measured[r["run"]]
    assert sheet["missing"] == []


def test_run_sheet_csv_lists_the_runs_in_execution_order(data):
    work, sheet, _, _, _ = data
    run("sheet", "study.json", "-o", "runs.csv", "--force", cwd=work, check=0)
    with open(work / "runs.csv", encoding="utf-8", newline="") as f:
        rows = list(csv.DictReader(f))
    assert [int(r["run_id"]) for r in rows] == [r["run"] for r in sheet["runs"]]
    assert [float(r["Temperature [°C]"]) for r in rows] == [r["settings"]["Temperature"] for r in sheet["runs"]]


@pytest.mark.parametrize("response", RESPONSES)
def test_fit_matches_statsmodels(data, response):
    work, _, temp, time, y = data
    report = run_json("fit", "study.json", "--response", response, cwd=work)["responses"][0]
    x1, x2 = coded(temp, time)
    ols = sm.OLS(y[response], quadratic(x1, x2)).fit()
    natural = sm.OLS(y[response], quadratic(temp, time)).fit()
    close = dict(rtol=1e-9, atol=1e-11)

    assert [c["term"] for c in report["coefficients"]] == TERMS
    for key, fit in (("coded", ols), ("natural", natural)):
        rows = [c[key] for c in report["coefficients"]]
        half = t_quantile(0.95, 6) * fit.bse
        ci = np.column_stack([fit.params - half, fit.params + half])
        np.testing.assert_allclose([r["value"] for r in rows], fit.params, **close)
        np.testing.assert_allclose([r["stdError"] for r in rows], fit.bse, **close)
        np.testing.assert_allclose([r["t"] for r in rows], fit.tvalues, **close)
        np.testing.assert_allclose([r["p"] for r in rows], fit.pvalues, rtol=1e-7, atol=1e-14)
        np.testing.assert_allclose([r["lower"] for r in rows], ci[:, 0], **close)
        np.testing.assert_allclose([r["upper"] for r in rows], ci[:, 1], **close)

    influence = ols.get_influence()
    hat = influence.hat_matrix_diag
    press = np.sum((ols.resid / (1.0 - hat)) ** 2)
    assert report["runs"] == 12 and report["terms"] == 6 and report["residualDf"] == 6
    np.testing.assert_allclose(
        [report[k] for k in ("rSquared", "adjustedRSquared", "rmse", "fStatistic", "fPValue", "residualSS",
                             "totalSS", "press", "predictedRSquared")],
        [ols.rsquared, ols.rsquared_adj, np.sqrt(ols.mse_resid), ols.fvalue, ols.f_pvalue, ols.ssr,
         ols.centered_tss, press, 1.0 - press / ols.centered_tss], rtol=1e-8)
    diagnostics = report["diagnostics"]
    assert [d["run"] for d in diagnostics] == list(range(1, 13))
    np.testing.assert_allclose([d["leverage"] for d in diagnostics], hat, **close)
    np.testing.assert_allclose([d["studentized"] for d in diagnostics], influence.resid_studentized_internal, **close)
    np.testing.assert_allclose([d["cooksDistance"] for d in diagnostics], influence.cooks_distance[0], **close)

    # Pure error from the four runs at the centre, lack of fit beyond it.
    centre = (temp == 180.0) & (time == 30.0)
    pure_ss = np.sum((y[response][centre] - y[response][centre].mean()) ** 2)
    lof_ss = ols.ssr - pure_ss
    f = (lof_ss / 3) / (pure_ss / 3)
    lof = report["lackOfFit"]
    assert lof["available"] and lof["pureErrorDf"] == 3 and lof["lackOfFitDf"] == 3
    np.testing.assert_allclose([lof["pureErrorSS"], lof["lackOfFitSS"], lof["f"], lof["p"]],
                               [pure_ss, lof_ss, f, stats.f.sf(f, 3, 3)], rtol=1e-8)


@pytest.mark.parametrize("response", RESPONSES)
def test_canonical_analysis_matches_numpy(data, response):
    work, _, temp, time, y = data
    canonical = run_json("fit", "study.json", "--response", response, cwd=work)["responses"][0]["canonical"]
    b = sm.OLS(y[response], quadratic(*coded(temp, time))).fit().params
    hessian_half = np.array([[b[3], b[5] / 2], [b[5] / 2, b[4]]])
    stationary = np.linalg.solve(hessian_half, -b[1:3] / 2)
    eigenvalues = np.linalg.eigvalsh(hessian_half)
    kind = {(True, True): "maximum", (False, False): "minimum"}.get(tuple(eigenvalues < 0), "saddle")
    assert canonical["kind"] == kind and canonical["hasStationaryPoint"]
    np.testing.assert_allclose(list(canonical["stationaryCoded"].values()), stationary, rtol=1e-9)
    np.testing.assert_allclose(list(canonical["stationaryNatural"].values()),
                               [180 + 30 * stationary[0], 30 + 20 * stationary[1]], rtol=1e-9)
    np.testing.assert_allclose(canonical["eigenvalues"], eigenvalues, rtol=1e-9)
    np.testing.assert_allclose(canonical["predictedAtStationary"], (quadratic(*stationary) @ b)[0], rtol=1e-12)
    assert canonical["insideRegion"] == bool(np.all(np.abs(stationary) <= 1))


def test_predictions_match_statsmodels(data):
    work, _, temp, time, y = data
    # Points off the grid, one outside the plan's ranges.
    points = [(163.7, 21.3), (201.1, 44.9), (222.5, 7.5)]
    at = [a for p in points for a in ("--at", f"Temperature={p[0]!r},Time={p[1]!r}")]
    got = run_json("predict", "study.json", *at, "--confidence", "0.9", cwd=work)
    assert got["confidence"] == 0.9
    new = quadratic(*coded([p[0] for p in points], [p[1] for p in points]))
    q = t_quantile(0.9, 6)
    for response in RESPONSES:
        fit = sm.OLS(y[response], quadratic(*coded(temp, time))).fit()
        frame = fit.get_prediction(new).summary_frame(alpha=0.1)
        mean, se = frame["mean"].to_numpy(), frame["mean_se"].to_numpy()
        se_new = np.sqrt(se**2 + fit.mse_resid)
        rows = [p["predictions"][response] for p in got["points"]]
        for key, expected in (("value", mean), ("stdError", se), ("confidenceLow", mean - q * se),
                              ("confidenceHigh", mean + q * se), ("predictionLow", mean - q * se_new),
                              ("predictionHigh", mean + q * se_new)):
            np.testing.assert_allclose([r[key] for r in rows], expected, rtol=1e-9)
    text = run("predict", "study.json", *at, cwd=work, check=0).stdout
    assert "extrapolates: point 3" in text


def scipy_extreme(b_objective, sign, constraints=()):
    """Extreme of a coded quadratic over the square [-1, 1]^2 by SLSQP from a
    grid of starts."""
    best = None
    for start in itertools.product(np.linspace(-0.9, 0.9, 7), repeat=2):
        res = optimize.minimize(lambda x: -sign * (quadratic(*x) @ b_objective)[0], start, method="SLSQP",
                                bounds=[(-1, 1)] * 2, constraints=constraints, options={"ftol": 1e-14, "maxiter": 500})
        if res.success and (best is None or res.fun < best.fun):
            best = res
    return best


def test_optimum_matches_scipy(data):
    work, _, temp, time, y = data
    got = run_json("optimize", "study.json", "--maximize", "Yield", "--within", "Impurity<=1.5", cwd=work)
    x = quadratic(*coded(temp, time))
    b_yield = sm.OLS(y["Yield"], x).fit().params
    b_impurity = sm.OLS(y["Impurity"], x).fit().params
    limit = {"type": "ineq", "fun": lambda v: 1.5 - (quadratic(*v) @ b_impurity)[0]}
    best = scipy_extreme(b_yield, +1, [limit])

    top = got["optimum"]["candidates"][0]
    np.testing.assert_allclose(list(top["coded"].values()), best.x, atol=2e-6)
    np.testing.assert_allclose(top["predictions"]["Yield"]["value"], -best.fun, rtol=1e-9)
    assert abs(top["predictions"]["Impurity"]["value"] - 1.5) < 1e-7
    assert top["activeConstraints"] == ["Impurity <= 1.5"]

    # How open bounds are completed is goals_test's; the output names the goal.
    assert got["goals"]["goals"][0]["kind"] == "maximize"


def test_target_and_minimize_goals_combine(data):
    work = data[0]
    got = run_json("optimize", "study.json", "--target", "Yield=80:86:90", "--minimize", "Impurity=0.4:2.5",
                   "--importance", "Yield=2", "--best", 3, cwd=work)
    goals = {g["response"]: g for g in got["goals"]["goals"]}
    assert (goals["Yield"]["low"], goals["Yield"]["target"], goals["Yield"]["high"]) == (80, 86, 90)
    assert goals["Yield"]["importance"] == 2 and goals["Impurity"]["kind"] == "minimize"
    top = got["optimum"]["candidates"][0]
    d_yield = top["desirability"]["Yield"]
    d_impurity = top["desirability"]["Impurity"]
    # Weighted geometric mean of the two desirabilities.
    np.testing.assert_allclose(top["overall"], (d_yield**2 * d_impurity) ** (1 / 3), rtol=1e-12)
    assert 1 <= len(got["optimum"]["candidates"]) <= 3


def robust_args(threads):
    return ["optimize", "study.json", "--maximize", "Yield", "--within", "Impurity<=1.5", "--robust", "--sigma",
            "Yield=0.5", "--replicates", 120, "--seed", 5, "--threads", threads, "--points", 4096]


# Reproducibility for any thread count is the library's (robustness_test).
def test_robustness_is_quiet_without_a_terminal(data):
    work = data[0]
    one = run(*robust_args(2), "--json", cwd=work, check=0)
    assert one.stderr == ""
    robust = __import__("json").loads(one.stdout)["robustness"]
    assert robust["replicates"] == 120 and robust["seed"] == 5
    assert robust["sigma"]["Yield"] == {"value": 0.5, "source": "supplied"}
    assert robust["sigma"]["Impurity"]["source"] == "residuals"
    assert all(len(column) == 120 for column in robust["optima"].values())
    for row in list(robust["settingPercentiles"].values()) + [p["percentiles"] for p in robust["predictionPercentiles"].values()]:
        assert row == sorted(row)
    assert 0.0 <= robust["constraints"][0]["probability"] <= 1.0


def test_robustness_shows_progress_on_a_terminal(data):
    work = data[0]
    master, slave = pty.openpty()
    try:
        result = subprocess.run([CLI, *map(str, robust_args(1))], cwd=work, stdout=subprocess.PIPE, stderr=slave,
                                stdin=subprocess.DEVNULL, timeout=120)
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
    finally:
        os.close(master)
    assert result.returncode == 0
    assert b"robustness: 120/120 replicates" in seen


def test_export_and_import_round_trip_through_the_plan_file(cli, tmp_path):
    from conftest import FACTORS, write_results
    factors = [a for f in FACTORS for a in ("--factor", f)]
    run("new", "plain.json", *factors, "--response", "Yield", "--response", "Impurity", "--seed", 3, cwd=tmp_path, check=0)
    write_results(run_json("sheet", "plain.json", cwd=tmp_path), tmp_path / "results.csv", impurity="Impurity")
    run("enter", "plain.json", "results.csv", cwd=tmp_path, check=0)
    run("export", "plain.json", "plain.tvr", cwd=tmp_path, check=0)
    back = run_json("import", "plain.tvr", "back.json", cwd=tmp_path)
    original = run_json("sheet", "plain.json", cwd=tmp_path)
    assert [f["name"] for f in back["factors"]] == ["Temperature", "Time"]
    by_id = {r["run"]: r for r in back["runs"]}
    for r in original["runs"]:
        assert by_id[r["run"]]["settings"] == r["settings"]
        for name, value in r["results"].items():
            # The plan file carries 6 significant digits.
            assert by_id[r["run"]]["results"][name] == pytest.approx(value, rel=5e-6)


def test_factor_names_may_hold_blanks(cli, tmp_path):
    got = run_json("new", "s.json", "--factor", "Reaction time = 10:50 [min]", "--factor", "Feed rate=0.1:0.7",
                   "--response", "Conversion rate[%]", "--seed", 1, cwd=tmp_path)
    assert got["factors"] == [{"name": "Reaction time", "low": 10, "high": 50, "unit": "min"},
                              {"name": "Feed rate", "low": 0.1, "high": 0.7, "unit": ""}]
    assert got["responses"] == [{"name": "Conversion rate", "unit": "%"}]
    assert {r["settings"]["Reaction time"] for r in got["runs"]} == {10, 30, 50}


def test_entering_again_reports_what_changed_and_fit_names_what_is_missing(study, tmp_path):
    work, measured = study
    shutil.copy(work / "study.json", tmp_path / "study.json")
    (tmp_path / "again.csv").write_text("Yield,run_id\n80.125,1\n,2\n", encoding="utf-8")
    got = run_json("enter", "study.json", "again.csv", cwd=tmp_path)
    assert got["entered"] == []
    assert got["changed"] == [{"run": 1, "response": "Yield", "was": measured[1][0], "value": 80.125}]
    assert got["cleared"] == [{"run": 2, "response": "Yield", "was": measured[2][0]}]
    assert got["missing"] == [{"run": 2, "response": "Yield"}]
    refused = run("fit", "study.json", cwd=tmp_path, check=1)
    assert "run 2" in refused.stderr and "Yield" in refused.stderr


def test_predictions_csv_reads_the_run_sheet_and_writes_full_precision(data):
    work = data[0]
    run("sheet", "study.json", "-o", "points.csv", "--force", cwd=work, check=0)
    got = run_json("predict", "study.json", "--csv", "points.csv", "-o", "predicted.csv", "--force", cwd=work)
    with open(work / "predicted.csv", encoding="utf-8", newline="") as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == len(got["points"]) == 12
    for row, point in zip(rows, got["points"]):
        assert float(row["Temperature"]) == point["settings"]["Temperature"]
        for response in ("Yield", "Impurity"):
            p = point["predictions"][response]
            columns = [response] + [f"{response} {k}" for k in ("std. error", "CI low", "CI high", "PI low", "PI high")]
            assert [float(row[k]) for k in columns] == [p[k] for k in ("value", "stdError", "confidenceLow",
                                                                     "confidenceHigh", "predictionLow",
                                                                     "predictionHigh")]

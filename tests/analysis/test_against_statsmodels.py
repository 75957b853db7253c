"""The fit reports and canonical analyses of the C++ driver's plans against statsmodels, numpy and scipy, with
model matrices built here from the coded plan."""
import math

import numpy as np
import pytest
import statsmodels.api as sm
from scipy import stats

from tool_client import MARKS, run_tool

pytestmark = MARKS
REL = 1e-8
P_ABS = 1e-6


def model_matrix(x):
    """Constant, linear, squares, then products x_i x_j (i < j) in order."""
    n = x.shape[1]
    cols = [np.ones(len(x))] + [x[:, i] for i in range(n)] + [x[:, i] ** 2 for i in range(n)]
    cols += [x[:, i] * x[:, j] for i in range(n) for j in range(i + 1, n)]
    return np.column_stack(cols)


def factors(n, offset=0.0):
    """Non-round ranges; the last factor far from zero."""
    out = [{"name": f"X{i + 1}", "low": 0.1 + 0.37 * i, "high": 0.7 + 0.53 * i} for i in range(n)]
    out[-1]["low"] += offset
    out[-1]["high"] += offset
    return out


def bounds(n):
    return np.array([f["low"] for f in factors(n)]), np.array([f["high"] for f in factors(n)])


def noisy_response(coded, rng, scale=1.0):
    x = model_matrix(coded)
    beta = rng.normal(0.0, 3.0, x.shape[1]) * scale
    beta[0] += 40.3
    return x @ beta + rng.normal(0.0, 0.7, len(coded))


def assert_rel(actual, expected, rel=REL):
    np.testing.assert_allclose(actual, expected, rtol=rel, atol=0)


def fit_case(n, rng, extra=0, **request):
    req = {"kind": "box-behnken", "factors": factors(n, request.pop("offset", 0.0)), "extraCenterRuns": extra}
    plan = run_tool(req)
    coded = np.array(plan["coded"])
    y = noisy_response(coded, rng)
    req.update(responses=["y"], results=[[v] for v in y], **request)
    out = run_tool(req)
    return coded, np.array(plan["natural"]), y, out


@pytest.mark.parametrize("n, extra", [(3, 0), (4, 0), (5, 0), (6, 0), (7, 0), (3, 2), (5, 3)])
def test_matches_statsmodels_ols(n, extra):
    rng = np.random.default_rng(100 + n)
    points = [[f["low"] + (f["high"] - f["low"]) * u for f, u in zip(factors(n), rng.uniform(-0.2, 1.2, n))]
              for _ in range(4)]
    coded, natural, y, out = fit_case(n, rng, extra, points=points, confidence=0.9)
    rep = out["reports"][0]
    x = model_matrix(coded)
    ols = sm.OLS(y, x).fit()
    infl = ols.get_influence()

    coef = rep["coefficients"]
    ci = ols.conf_int(alpha=0.1)
    for key, expected in (("value", ols.params), ("se", ols.bse), ("t", ols.tvalues), ("lower", ci[:, 0]),
                          ("upper", ci[:, 1])):
        assert_rel([c["coded"][key] for c in coef], expected)
    np.testing.assert_allclose([c["coded"]["p"] for c in coef], ols.pvalues, rtol=0, atol=P_ABS)

    assert rep["residualDf"] == ols.df_resid
    assert_rel(rep["rSquared"], ols.rsquared)
    assert_rel(rep["adjustedRSquared"], ols.rsquared_adj)
    assert_rel(rep["rmse"], math.sqrt(ols.scale))
    assert_rel(rep["f"], ols.fvalue)
    assert rep["fDfModel"] == ols.df_model
    assert abs(rep["fP"] - ols.f_pvalue) < P_ABS
    runs = rep["runs"]
    assert_rel([r["leverage"] for r in runs], infl.hat_matrix_diag)
    # A single centre run of a Box-Behnken plan has leverage 1: it alone
    # separates the constant from the squares, so it is fitted exactly.
    exact = infl.hat_matrix_diag > 1 - 1e-9
    assert exact.any() == (extra == 0)
    assert all(r["cooks"] is None and r["studentized"] is None for r, e in zip(runs, exact) if e)
    assert_rel([r["cooks"] for r, e in zip(runs, exact) if not e], infl.cooks_distance[0][~exact])
    assert_rel([r["studentized"] for r, e in zip(runs, exact) if not e],
               infl.resid_studentized_internal[~exact])
    assert (rep["press"] is None) == (extra == 0)
    # Runs fitted exactly have residuals of rounding size: compare absolutely.
    np.testing.assert_allclose([r["residual"] for r in runs], ols.resid, rtol=0, atol=1e-9 * np.abs(ols.resid).max())
    assert ("leverage 1, so PRESS" in rep["notEstimable"]) == (extra == 0)

    # Natural units: the same least squares on the natural model matrix,
    # which is worse conditioned, hence the looser tolerance.
    nat = sm.OLS(y, model_matrix(natural)).fit()
    assert_rel([c["natural"]["value"] for c in coef], nat.params, rel=1e-6)
    assert_rel([c["natural"]["se"] for c in coef], nat.bse, rel=1e-6)
    np.testing.assert_allclose([c["natural"]["p"] for c in coef], nat.pvalues, rtol=0, atol=P_ABS)

    # Intervals at points partly outside the region.
    lows, highs = bounds(n)
    at = model_matrix((2 * np.array(points) - (lows + highs)) / (highs - lows))
    frame = ols.get_prediction(at).summary_frame(alpha=0.1)
    for key, column in (("value", "mean"), ("se", "mean_se"), ("ciLow", "mean_ci_lower"), ("ciHigh", "mean_ci_upper"),
                        ("piLow", "obs_ci_lower"), ("piHigh", "obs_ci_upper")):
        assert_rel([p[key] for p in out["predictions"][0]], frame[column])


@pytest.mark.parametrize("n, offset", [(3, 0.0), (5, 1e7)])
def test_press_matches_leave_one_out_refits(n, offset):
    coded, _, y, out = fit_case(n, np.random.default_rng(7 + n), extra=2, offset=offset)
    rep = out["reports"][0]
    x = model_matrix(coded)
    press = 0.0
    for i in range(len(y)):
        keep = np.arange(len(y)) != i
        beta, *_ = np.linalg.lstsq(x[keep], y[keep], rcond=None)
        press += (y[i] - x[i] @ beta) ** 2
    assert_rel(rep["press"], press, rel=1e-7)
    tss = np.sum((y - y.mean()) ** 2)
    assert_rel(rep["predictedRSquared"], 1 - press / tss, rel=1e-7)


@pytest.mark.parametrize("kind, n", [("rechtschaffner", 4), ("box-behnken", 1)])
def test_saturated_plan_needs_a_known_sigma_for_its_errors(kind, n):
    req = {"kind": kind, "factors": factors(n)}
    coded = np.array(run_tool(req)["coded"])
    y = noisy_response(coded, np.random.default_rng(n))
    req.update(responses=["y"], results=[[v] for v in y], points=[[f["low"] for f in factors(n)]])
    rep = run_tool(req)["reports"][0]
    runs = len(y)
    assert f"saturated plan: {runs} runs for {runs} coefficients leave no residual degree of freedom" \
        in rep["notEstimable"]
    assert all(c["coded"][k] is None for c in rep["coefficients"] for k in ("se", "p", "upper"))
    assert all(rep[key] is None for key in ("rmse", "press", "f", "fP", "sigma"))
    assert_rel([r["fitted"] for r in rep["runs"]], y, rel=1e-9)

    sigma = 0.37
    out = run_tool({**req, "sigma": {"y": sigma}})
    rep = out["reports"][0]
    x = model_matrix(coded)
    xtx_inv = np.linalg.inv(x.T @ x)
    se = sigma * np.sqrt(np.diag(xtx_inv))
    beta = np.linalg.solve(x, y)
    coef = rep["coefficients"]
    assert rep["sigmaKnown"] and rep["sigma"] == sigma
    assert_rel([c["coded"]["se"] for c in coef], se)
    np.testing.assert_allclose([c["coded"]["p"] for c in coef], 2 * stats.norm.sf(np.abs(beta / se)), rtol=0,
                               atol=P_ABS)
    q = stats.norm.ppf(0.975)
    assert_rel([c["coded"]["upper"] for c in coef], beta + q * se, rel=1e-7)
    # The overall test becomes a chi-square test on the model sum of squares;
    # a sigma of the size of the model's spread leaves its p far from 0.
    ssm, df = np.sum((y - y.mean()) ** 2), x.shape[1] - 1
    assert abs(rep["fP"] - stats.chi2.sf(ssm / sigma**2, df)) < P_ABS
    wide = math.sqrt(ssm / df)
    assert abs(run_tool({**req, "sigma": {"y": wide}})["reports"][0]["fP"] - stats.chi2.sf(df, df)) < P_ABS
    at = model_matrix(np.full((1, n), -1.0))[0]
    pred = out["predictions"][0][0]
    assert_rel(pred["se"], sigma * math.sqrt(at @ xtx_inv @ at))
    assert_rel(pred["piHigh"] - pred["value"], q * sigma * math.sqrt(1 + at @ xtx_inv @ at))
    assert "z value" in out["text"][0]


@pytest.mark.parametrize("n", [2, 3, 5])
def test_canonical_analysis_against_direct_solve(n):
    coded, _, _, out = fit_case(n, np.random.default_rng(50 + n))
    beta = np.array([c["coded"]["value"] for c in out["reports"][0]["coefficients"]])
    b = beta[1:n + 1]
    # Squares on B's diagonal, half of each product (in model_matrix's order) off it.
    big_b = np.diag(beta[n + 1:2 * n + 1])
    upper = np.triu_indices(n, 1)
    big_b[upper] = big_b.T[upper] = beta[2 * n + 1:] / 2
    can = out["canonical"][0]
    lam = np.linalg.eigvalsh(big_b)
    assert_rel(can["eigenvalues"], lam, rel=1e-9)
    vectors = np.array(can["eigenvectors"])
    np.testing.assert_allclose(big_b @ vectors, vectors * lam, rtol=0, atol=1e-9 * np.abs(lam).max())
    xs = np.linalg.solve(2 * big_b, -b)
    assert can["hasStationaryPoint"]
    np.testing.assert_allclose(can["stationaryCoded"], xs, rtol=1e-9, atol=1e-12)
    lows, highs = bounds(n)
    assert_rel(can["stationaryNatural"], (lows + highs) / 2 + (highs - lows) / 2 * xs, rel=1e-9)
    assert_rel(can["predicted"], beta[0] + 0.5 * b @ xs, rel=1e-9)
    assert_rel(can["distance"], np.linalg.norm(xs), rel=1e-9)
    assert can["inside"] == bool(np.all(np.abs(xs) <= 1))
    expected = "maximum" if lam.max() < 0 else "minimum" if lam.min() > 0 else "saddle"
    if np.abs(lam).min() < 1e-3 * np.abs(lam).max():
        expected = "ridge"
    assert can["kind"] == expected

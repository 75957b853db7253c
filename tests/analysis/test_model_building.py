"""Model building (fit, ANOVA, diagnostics, reduction, Box-Cox) of the C++ driver against statsmodels formulas:
blocks with sum coding, so that the intercept is the average block; squares and products as precomputed
columns, so the formula keeps the order of the sequential (type 1) table."""
import math

import numpy as np
import pandas as pd
import patsy
import pytest
import statsmodels.api as sm
import statsmodels.formula.api as smf
from scipy import optimize, stats

from tool_client import MARKS, nan, run_tool

pytestmark = MARKS
REL = 1e-8
P_ABS = 1e-9
NAMES = ["A", "B", "C", "D"]


def assert_rel(name, actual, expected, rel=REL):
    actual = np.array([nan(v) for v in np.atleast_1d(actual)], dtype=float)
    expected = np.atleast_1d(np.asarray(expected, dtype=float))
    np.testing.assert_allclose(actual, expected, rtol=rel, atol=0, err_msg=name)


def design(n, rng, blocks, centres):
    """A face-centred composite plan, settings off the grid by small amounts (as achieved settings are), the first
    two points run twice and repeated centre runs in every block."""
    corners = np.array(np.meshgrid(*[[-1.0, 1.0]] * n)).T.reshape(-1, n)
    axial = np.vstack([s * np.eye(n)[i] for i in range(n) for s in (-1.0, 1.0)])
    points = np.vstack([corners, axial]) + rng.uniform(-0.07, 0.07, (len(corners) + len(axial), n))
    points = np.vstack([points, points[:2]])
    labels = [int(v) for v in np.arange(len(points)) % blocks + 1]
    for b in range(blocks):
        points = np.vstack([points, np.zeros((centres, n))])
        labels += [b + 1] * centres
    return points, labels


def frame(coded, names, blocks, y):
    """Columns xA, xAA (square), xAB (product): names clear of patsy's C()."""
    df = pd.DataFrame({"x" + name: coded[:, i] for i, name in enumerate(names)})
    for i, a in enumerate(names):
        df["x" + a + a] = coded[:, i] ** 2
        for j in range(i + 1, len(names)):
            df["x" + a + names[j]] = coded[:, i] * coded[:, j]
    df["blk"] = blocks
    df["y"] = y
    return df


def columns(model, names):
    """statsmodels column names of a model text, in the sequential groups' order."""
    terms = {"linear": names, "interaction": names + [a + ":" + b for i, a in enumerate(names) for b in names[i + 1:]]}
    terms["quadratic"] = terms["interaction"] + [a + "^2" for a in names]
    order = lambda t: 2 if "^2" in t else 1 if ":" in t else 0
    chosen = sorted(terms.get(model, model.split()), key=order)
    return ["x" + (t[0] * 2 if "^2" in t else t.replace(":", "")) for t in chosen]


def label(col):
    col = col[1:]
    return col if len(col) == 1 else col[0] + "^2" if col[0] == col[1] else col[0] + ":" + col[1]


def formula(cols, blocked):
    return "y ~ " + " + ".join((["C(blk, Sum)"] if blocked else []) + cols) if cols or blocked else "y ~ 1"


def response(coded, rng, offset=0.0):
    """A curved surface with every kind of term, block shifts added by the caller."""
    x = coded
    y = 40.3 + offset + 2.1 * x[:, 0] - 1.3 * x[:, 1] + 0.7 * x[:, 0] * x[:, 1] - 1.9 * x[:, 0] ** 2
    y += 0.4 * x[:, 1] ** 2 + (0.9 * x[:, 2] if x.shape[1] > 2 else 0.0)
    return y + rng.normal(0.0, 0.6, len(x))


CASES = [
    # (factors, blocks, centres per block, model, response offset)
    (3, 2, 2, "quadratic", 0.0),
    (3, 3, 2, "A B C A:B A^2 B^2", 0.0),
    (3, 1, 3, "A B C A:B A^2 B^2", 1e6),
    (4, 1, 3, "interaction", 0.0),
    (4, 2, 2, "quadratic", 0.0),
    (2, 2, 3, "linear", 0.0),
]


def case(n, blocks, centres, model, offset, seed, reference_offset=0.0, **extra):
    """The tool's output and statsmodels' fit of the same rows, or of y - reference_offset (exact in binary) where
    statsmodels' own rounding of a large offset would dominate."""
    rng = np.random.default_rng(seed)
    coded, labels = design(n, rng, blocks, centres)
    y = response(coded, rng, offset) + 0.8 * (np.array(labels) - 1)
    names = NAMES[:n]
    request = {"factors": names, "coded": coded.tolist(), "response": y.tolist(), "model": model, **extra}
    if blocks > 1:
        request["blocks"] = labels
    out = run_tool(request)
    df = frame(coded, names, labels, y - reference_offset)
    cols = columns(model, names)
    ols = smf.ols(formula(cols, blocks > 1), df).fit()
    return coded, labels, y, names, df, cols, ols, out


@pytest.mark.parametrize("n, blocks, centres, model, offset", CASES)
def test_fit_matches_statsmodels(n, blocks, centres, model, offset):
    coded, labels, y, names, df, cols, ols, out = case(n, blocks, centres, model, offset, 11 + n + blocks,
                                                       points=[[0.13] * n, [-0.61] + [0.37] * (n - 1)],
                                                       confidence=0.9)
    fit = out["fit"]
    est = {e["term"]: e for e in fit["estimates"]}
    names_sm = ["Intercept"] + cols
    ours = ["(Intercept)"] + [label(c) for c in cols]
    for quantity, sm_values in (("value", ols.params), ("se", ols.bse), ("t", ols.tvalues),
                                ("lower", ols.conf_int(alpha=0.1)[0])):
        assert_rel("coefficient " + quantity, [est[t][quantity] for t in ours], [sm_values[s] for s in names_sm])
    np.testing.assert_allclose([est[t]["p"] for t in ours], [ols.pvalues[s] for s in names_sm], rtol=0, atol=P_ABS)
    if blocks > 1:
        # Sum coding: the first levels' effects, the last is minus their sum.
        effects = [ols.params[f"C(blk, Sum)[S.{b}]"] for b in range(1, blocks)]
        assert_rel("block effect", [est[f"Block {b}"]["value"] for b in range(1, blocks + 1)],
                   effects + [-sum(effects)])
    assert fit["residualDf"] == ols.df_resid
    assert_rel("residual SS", fit["residualSS"], ols.ssr)
    # R squared of the variation within blocks: against the blocks-only fit (the mean alone without blocks).
    base = smf.ols(formula([], blocks > 1), df).fit()
    assert_rel("R squared", fit["rSquared"], 1 - ols.ssr / base.ssr)
    assert_rel("adjusted R squared", fit["adjustedRSquared"], 1 - ols.mse_resid / base.mse_resid)
    assert_rel("log-likelihood", fit["logLikelihood"], ols.llf)
    # Residuals of a response offset by 1e6 carry statsmodels' rounding of y.
    atol = 1e-9 * np.abs(ols.resid).max() + 1e-14 * np.abs(y).max()
    np.testing.assert_allclose(fit["residuals"], ols.resid, rtol=0, atol=atol)

    # Predictions at the average block: the mean of the per-block predictions.
    pts = np.array([[0.13] * n, [-0.61] + [0.37] * (n - 1)])
    levels = sorted(set(labels))
    rows = [frame(pts, names, [b] * len(pts), np.zeros(len(pts))) for b in levels]
    exog = sum(np.asarray(patsy.build_design_matrices([ols.model.data.design_info], r)[0]) for r in rows)
    exog = exog / len(levels)
    mean = exog @ ols.params.values
    se = np.sqrt(np.einsum("ij,jk,ik->i", exog, ols.cov_params().values, exog))
    q = stats.t.ppf(0.95, ols.df_resid)
    pred = out["predictions"]
    assert_rel("prediction", [p["value"] for p in pred], mean)
    assert_rel("prediction SE", [p["se"] for p in pred], se)
    assert_rel("confidence interval", [p["ciLow"] for p in pred], mean - q * se)
    assert_rel("prediction interval", [p["piHigh"] for p in pred], mean + q * np.sqrt(se ** 2 + ols.scale))


@pytest.mark.parametrize("n, blocks, centres, model, offset", CASES)
def test_anova_matches_anova_lm(n, blocks, centres, model, offset):
    coded, labels, y, names, df, cols, ols, out = case(n, blocks, centres, model, offset, 23 + n * blocks)
    a = out["anova"]
    blocked = blocks > 1
    type1 = sm.stats.anova_lm(ols, typ=1)
    type3 = sm.stats.anova_lm(ols, typ=3)

    # Sequential: type-1 rows summed within each group.
    groups = [("Blocks", ["C(blk, Sum)"] if blocked else []), ("Linear", [c for c in cols if len(c) == 2]),
              ("Interaction", [c for c in cols if len(c) == 3 and c[1] != c[2]]),
              ("Square", [c for c in cols if len(c) == 3 and c[1] == c[2]])]
    groups = [(g, members) for g, members in groups if members]
    assert [r["source"] for r in a["sequential"]] == [g for g, _ in groups]
    for r, (g, members) in zip(a["sequential"], groups):
        ss, dfs = type1.loc[members, "sum_sq"].sum(), type1.loc[members, "df"].sum()
        assert r["df"] == dfs
        assert_rel("sequential SS", r["ss"], ss)
        f = ss / dfs / ols.scale
        assert_rel("sequential F", r["f"], f)
        assert abs(r["p"] - stats.f.sf(f, dfs, ols.df_resid)) < P_ABS

    # Partial: type 3, one row per term and blocks as one.
    expected = (["C(blk, Sum)"] if blocked else []) + cols
    partial = {r["source"]: r for r in a["partial"]}
    sources = (["Blocks"] if blocked else []) + [label(c) for c in cols]
    assert sorted(partial) == sorted(sources)
    assert [partial[s]["df"] for s in sources] == [type3.loc[e, "df"] for e in expected]
    for key, column in (("ss", "sum_sq"), ("f", "F")):
        assert_rel("partial " + key, [partial[s][key] for s in sources], [type3.loc[e, column] for e in expected])
    np.testing.assert_allclose([partial[s]["p"] for s in sources], [type3.loc[e, "PR(>F)"] for e in expected],
                               rtol=0, atol=P_ABS)

    # The model's terms given the blocks.
    base = smf.ols(formula([], blocked), df).fit()
    f, p, dfdiff = ols.compare_f_test(base)
    assert a["model"]["df"] == dfdiff
    assert_rel("model SS", a["model"]["ss"], base.ssr - ols.ssr)
    assert_rel("model F", a["model"]["f"], f)
    assert abs(a["model"]["p"] - p) < P_ABS
    assert_rel("total SS", a["total"]["ss"], ols.centered_tss)

    # Pure error: one mean per distinct setting (and block effects).
    df["cell"] = [",".join(repr(v) for v in row) for row in coded]
    pure = smf.ols("y ~ C(cell)" + (" + C(blk, Sum)" if blocked else ""), df).fit()
    assert a["pureError"]["df"] == pure.df_resid
    assert_rel("pure error SS", a["pureError"]["ss"], pure.ssr)
    lof_df = ols.df_resid - pure.df_resid
    assert a["lackOfFit"]["df"] == lof_df
    assert_rel("lack of fit SS", a["lackOfFit"]["ss"], ols.ssr - pure.ssr)
    f = (ols.ssr - pure.ssr) / lof_df / (pure.ssr / pure.df_resid)
    assert_rel("lack of fit F", a["lackOfFit"]["f"], f)
    assert abs(a["lackOfFit"]["p"] - stats.f.sf(f, lof_df, pure.df_resid)) < P_ABS


@pytest.mark.parametrize("n, blocks, centres, model, offset", CASES[:4])
def test_diagnostics_match_ols_influence(n, blocks, centres, model, offset):
    coded, labels, y, names, df, cols, ols, out = case(n, blocks, centres, model, offset, 37 + n,
                                                       reference_offset=offset)
    infl = ols.get_influence()
    runs = sorted(out["diagnostics"]["runs"], key=lambda r: r["row"])
    assert_rel("externally studentised", [r["externallyStudentized"] for r in runs],
               infl.resid_studentized_external)
    assert_rel("DFFITS", [r["dffits"] for r in runs], infl.dffits[0])
    assert_rel("Cook's distance", [r["cooks"] for r in runs], infl.cooks_distance[0])
    bonf = ols.outlier_test(method="bonf")["bonf(p)"].values
    assert_rel("Bonferroni p", [r["bonferroniP"] for r in runs], bonf)
    positions = sm.ProbPlot(ols.resid.values, a=3 / 8).theoretical_quantiles
    assert_rel("normal score", sorted(r["normalScore"] for r in runs), positions, rel=1e-12)


def candidates(cols):
    """Terms a hierarchical model may drop: no kept square or product contains them."""
    kept_parents = {"x" + c for t in cols if len(t) == 3 for c in t[1:]}
    return [c for c in cols if len(c) == 3 or c not in kept_parents]


@pytest.mark.parametrize("aicc", [False, True])
def test_reduction_steps_replayed_with_statsmodels(aicc):
    rng = np.random.default_rng(8)
    coded, labels = design(4, rng, 2, 2)
    y = response(coded, rng) + 0.8 * (np.array(labels) - 1)
    names = NAMES[:4]
    out = run_tool({"factors": names, "coded": coded.tolist(), "response": y.tolist(), "blocks": labels,
                    "model": "quadratic", "reduce": {"aicc": aicc, "forceIn": ["D"]}})
    df = frame(coded, names, labels, y)
    cols = columns("quadratic", names)

    def aicc_of(fit):
        k = len(fit.params) + 1  # the columns and the variance
        return -2 * fit.llf + 2 * k + 2 * k * (k + 1) / (fit.nobs - k - 1)

    steps = out["reduction"]["steps"]
    assert steps, "the surface has null terms to drop"
    for step in steps:
        fit = smf.ols(formula(cols, True), df).fit()
        free = [c for c in candidates(cols) if c != "xD"]
        removed = next(c for c in cols if label(c) == step["term"])
        assert removed in free
        smaller = [c for c in cols if c != removed]
        after = smf.ols(formula(smaller, True), df).fit()
        assert abs(step["p"] - fit.pvalues[removed]) < P_ABS
        assert_rel("reduction AICc change", step["deltaAicc"], aicc_of(after) - aicc_of(fit), rel=1e-7)
        if aicc:
            best = min(aicc_of(smf.ols(formula([c for c in cols if c != f], True), df).fit()) for f in free)
            assert_rel("best AICc", aicc_of(after), best)
        else:
            assert step["p"] > 0.10 and step["p"] == pytest.approx(max(fit.pvalues[f] for f in free), abs=P_ABS)
        cols = smaller
    final = smf.ols(formula(cols, True), df).fit()
    free = [c for c in candidates(cols) if c != "xD"]
    if aicc:
        assert all(aicc_of(smf.ols(formula([c for c in cols if c != f], True), df).fit()) >= aicc_of(final)
                   for f in free)
    else:
        assert all(final.pvalues[f] <= 0.10 for f in free)
    assert "xD" in cols
    assert sorted(out["reduction"]["fit"]["terms"].split()) == sorted(label(c) for c in cols)


def test_box_cox_profile_with_terms_matches_ols_likelihoods():
    """The mean-only profile is compared with scipy's in test_box_cox_view.py."""
    rng = np.random.default_rng(21)
    coded, labels = design(3, rng, 1, 3)
    y = np.exp(0.3 * (response(coded, rng) - 40.0))  # log is the right transform
    x = sm.add_constant(frame(coded, NAMES[:3], labels, y)[columns("quadratic", NAMES[:3])]).values

    def profile(lmb):
        w = stats.boxcox(y, lmb)
        rss = sm.OLS(w, x).fit().ssr
        return -(-0.5 * len(y) * math.log(rss / len(y)) + (lmb - 1) * np.log(y).sum())

    best = optimize.minimize_scalar(profile, bounds=(-3, 3), method="bounded", options={"xatol": 1e-10})
    out = run_tool({"factors": NAMES[:3], "coded": coded.tolist(), "response": y.tolist(), "boxCox": True})
    assert_rel("Box-Cox lambda (quadratic)", out["boxCox"]["lambda"], best.x, rel=1e-6)
    cut = -best.fun - stats.chi2.ppf(0.95, 1) / 2
    ends = [optimize.brentq(lambda v: -profile(v) - cut, a, b, xtol=1e-12) for a, b in ((-3, best.x), (best.x, 3))]
    assert_rel("Box-Cox interval", [out["boxCox"]["lower"], out["boxCox"]["upper"]], ends, rel=1e-6)

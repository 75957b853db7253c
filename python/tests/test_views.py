"""The plot data against independent computations (statsmodels, scipy), the
matplotlib artists against the command line's plot JSON, and views that
cannot be drawn."""

import json
import os
import subprocess
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pytest  # noqa: E402
import statsmodels.api as sm  # noqa: E402
from scipy import stats  # noqa: E402

import tavrin  # noqa: E402
from tavrin import plot  # noqa: E402

FACTORS = {"T": (150.3, 210.7, "°C"), "t": (10.1, 50.9, "min"), "c": (0.1, 0.7, "g")}
FACTORS_NAMES = list(FACTORS)
LIMITS = {"Impurity": (None, 1.2), "Yield": (78.1, None)}


@pytest.fixture(scope="module")
def study():
    s = tavrin.Study("box-behnken", FACTORS, [("Yield", "%"), ("Impurity", "%")], seed=5, extra_center_runs=2)
    c = s.coded
    k = np.arange(len(c))
    y = 80.3 + 4.1 * c[:, 0] + 2.7 * c[:, 1] - 3.9 * c[:, 0] ** 2 - 2.2 * c[:, 1] ** 2 + 1.3 * c[:, 0] * c[:, 1] \
        + 0.8 * c[:, 2] + 0.37 * np.sin(1.7 * k)
    imp = 1.1 + 0.4 * c[:, 0] - 0.2 * c[:, 1] + 0.15 * c[:, 0] ** 2 + 0.3 * c[:, 2] + 0.05 * np.cos(2.1 * k)
    y[6] += 4.3  # one run far off the model: an outlier
    s.set_results({"run_id": s.run_ids, "Yield": y, "Impurity": imp})
    return s


def quadratic(natural):
    """The full quadratic's columns in coded units, built here from the factor ranges."""
    lows = np.array([f[0] for f in FACTORS.values()])
    highs = np.array([f[1] for f in FACTORS.values()])
    x = (2 * np.asarray(natural) - (lows + highs)) / (highs - lows)
    n = x.shape[1]
    cols = [np.ones(len(x))] + [x[:, i] for i in range(n)] + [x[:, i] ** 2 for i in range(n)]
    cols += [x[:, i] * x[:, j] for i in range(n) for j in range(i + 1, n)]
    return np.column_stack(cols)


def ols(study, response):
    return sm.OLS(study.results[:, study.response_names.index(response)], quadratic(study.actual)).fit()


def cli(study, tmp_path, *args):
    exe = Path(os.environ["TAVRIN_BUILD_DIR"]) / "cli" / "tavrin"
    if not exe.exists():
        pytest.skip("the command line is not built")
    path = tmp_path / "study.json"
    study.save(path)
    done = subprocess.run([str(exe), "plot", str(path), *args, "--json"], capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def test_profiler_band_is_t_times_the_standard_error_of_statsmodels(study):
    setting = {"T": 171.7, "t": 33.3, "c": 0.23}
    fig = plot.profiler(study, at=setting, steps=9)
    trace = next(t for t in fig.profiler["traces"] if t["factor"] == 1 and t["response"] == 1)
    points = np.tile([setting["T"], setting["t"], setting["c"]], (len(trace["x"]), 1))
    points[:, 1] = trace["x"]
    model = ols(study, "Impurity")
    frame = model.get_prediction(quadratic(points)).summary_frame(alpha=0.05)
    half = stats.t.ppf(0.975, model.df_resid) * frame["mean_se"].to_numpy()
    np.testing.assert_allclose(trace["value"], frame["mean"], rtol=1e-10)
    np.testing.assert_allclose(trace["upper"] - trace["value"], half, rtol=1e-8)
    np.testing.assert_allclose(trace["value"] - trace["lower"], half, rtol=1e-8)
    plt.close(fig)


def test_feasible_mask_agrees_with_statsmodels_predictions(study):
    ax = plot.overlay(study, LIMITS, x="T", y="t", at={"c": 0.52}, steps=41)
    data = ax.overlay
    gx, gy = np.meshgrid(data["x"], data["y"])
    points = np.column_stack([gx.ravel(), gy.ravel(), np.full(gx.size, 0.52)])
    yield_ = ols(study, "Yield").predict(quadratic(points))
    impurity = ols(study, "Impurity").predict(quadratic(points))
    holds = (yield_ >= 78.1) & (impurity <= 1.2)
    # Points within rounding of a limit may fall either way.
    clear = (np.abs(yield_ - 78.1) > 1e-9) & (np.abs(impurity - 1.2) > 1e-9)
    mask = data["feasible"].ravel()
    assert 0 < holds.sum() < holds.size
    np.testing.assert_array_equal(mask[clear], holds[clear])
    assert data["feasible_fraction"] == pytest.approx(mask.mean())
    plt.close(ax.figure)


def test_normal_scores_are_blom_positions_of_the_residual_ranks(study):
    ax = plot.residuals(study, "Yield", "normal")
    data = ax.residuals
    n = len(data["residual"])
    ranks = stats.rankdata(data["residual"])
    np.testing.assert_allclose(data["normal_score"], stats.norm.ppf((ranks - 0.375) / (n + 0.25)), rtol=1e-12)
    np.testing.assert_allclose(data["residual"], ols(study, "Yield").resid[np.asarray(data["run_ids"]) - 1],
                               atol=1e-9)
    plt.close(ax.figure)


def test_outliers_are_labelled_with_their_run_id(study):
    fig = plot.diagnostics(study, "Yield")
    panels = [ax for ax in fig.axes if ax.get_visible()]
    assert len(panels) == 6  # normal, order, fitted and one per factor
    # The outliers of statsmodels' Bonferroni outlier test on the same model.
    test = ols(study, "Yield").outlier_test(method="bonf")
    flagged = sorted(int(k) + 1 for k in np.flatnonzero(np.asarray(test)[:, 2] < 0.05))
    assert 7 in flagged
    for ax in panels:
        assert sorted(int(t.get_text().split()[1]) for t in ax.texts) == flagged
    order = panels[1]
    points = order.collections[0].get_offsets()
    assert np.array_equal(np.sort(np.asarray(points)[:, 0]), np.asarray(points)[:, 0])  # run order along x
    plt.close(fig)


def line_data(ax):
    return [np.asarray(line.get_ydata(), dtype=float) for line in ax.lines if len(line.get_ydata()) > 2]


def test_artists_carry_the_numbers_of_the_plot_json(study, tmp_path):
    at = {"T": 171.7, "t": 33.3, "c": 0.23}
    data = cli(study, tmp_path, "--kind", "profiler", "--at", ",".join(f"{k}={v}" for k, v in at.items()),
               "--maximize", "Yield=70:85", "--steps", "11")
    fig = plot.profiler(study, at=at, goals={"Yield": ("maximize", 70, 85)}, steps=11)
    drawn = [line_data(ax)[0] for ax in fig.axes]
    # Panels are row-major: response by response, factor by factor.
    by_panel = {(t["response"], t["factor"]): np.array(t["value"], dtype=float) for t in data["traces"]}
    for k, (response, factor) in enumerate((r, f) for r in ("Yield", "Impurity") for f in FACTORS_NAMES):
        np.testing.assert_array_equal(drawn[k], by_panel[(response, factor)])
    for k, d in enumerate(data["desirability"]):
        np.testing.assert_array_equal(drawn[6 + k], np.array(d["overall"], dtype=float))
    assert len(data["traces"]) == 6 and len(data["desirability"]) == 3
    plt.close(fig)

    surface = cli(study, tmp_path, "--kind", "surface", "--response", "Impurity", "--x", "t", "--y", "c", "--steps", "7")
    ax = plot.contour(study, "Impurity", x="t", y="c", at={"T": surface["held"]["T"]}, steps=7)
    np.testing.assert_array_equal(ax.slice["value"], np.array(surface["z"], dtype=float))
    assert ax.get_xlabel() == "t (min)" and ax.get_ylabel() == "c (g)"
    plt.close(ax.figure)


def test_term_correlations_are_those_of_the_model_columns(study):
    ax = plot.correlations(study)
    columns = quadratic(study.actual)[:, 1:]
    image = ax.images[0].get_array()
    np.testing.assert_allclose(image, np.corrcoef(columns, rowvar=False), atol=1e-12)
    plt.close(ax.figure)


def test_views_that_cannot_be_drawn_say_why():
    one = tavrin.Study("box-behnken", {"T": (0.1, 0.7)}, ["Y"], seed=1)
    one.set_results({"run_id": one.run_ids, "Y": 0.3 + 0.11 * np.arange(len(one.run_ids)) ** 1.5})
    with pytest.raises(tavrin.InvalidArgument, match="needs two factors"):
        plot.overlay(one, {"Y": (0.5, None)}, x="T", y="T")
    with pytest.raises(tavrin.InvalidArgument, match="needs two factors"):
        plot.surface(one, "Y")
    missing = tavrin.Study("box-behnken", FACTORS, ["Y"], seed=1)
    with pytest.raises(tavrin.StateError, match="no result for run"):
        plot.profiler(missing)
    with pytest.raises(tavrin.StateError, match="no result for run"):
        plot.residuals(missing, "Y")
    plt.close("all")

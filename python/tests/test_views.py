"""The plot data against independent computations (statsmodels, scipy), the
matplotlib artists against that data, and views that cannot be drawn."""

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


def test_profiler_band_is_t_times_the_standard_error_of_statsmodels(study):
    setting = {"T": 171.7, "t": 33.3, "c": 0.23}
    fig = plot.profiler(study, at=setting, goals={"Yield": ("maximize", 70, 85)}, steps=9)
    # Panels are row-major, response by response and factor by factor, then the desirability's.
    data = fig.profiler
    drawn = [np.asarray(ax.lines[0].get_ydata(), dtype=float) for ax in fig.axes if ax.lines]
    by_panel = {(t["response"], t["factor"]): t["value"] for t in data["traces"]}
    panels = [by_panel[(r, f)] for r in range(2) for f in range(3)] + [d["overall"] for d in data["desirability"]]
    assert len(drawn) == len(panels) == 9
    for line, values in zip(drawn, panels):
        np.testing.assert_array_equal(line, np.asarray(values, dtype=float))
    trace = next(t for t in data["traces"] if t["factor"] == 1 and t["response"] == 1)
    points = np.tile([setting["T"], setting["t"], setting["c"]], (len(trace["x"]), 1))
    points[:, 1] = trace["x"]
    model = ols(study, "Impurity")
    frame = model.get_prediction(quadratic(points)).summary_frame(alpha=0.05)
    half = stats.t.ppf(0.975, model.df_resid) * frame["mean_se"].to_numpy()
    np.testing.assert_allclose(trace["value"], frame["mean"], rtol=1e-10)
    np.testing.assert_allclose(trace["upper"] - trace["value"], half, rtol=1e-8)
    np.testing.assert_allclose(trace["value"] - trace["lower"], half, rtol=1e-8)
    plt.close(fig)


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
        plot.surface(one, "Y")
    plt.close("all")

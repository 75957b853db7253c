"""Every plot draws on the Agg backend, and its axes hold what it promises."""

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pytest  # noqa: E402
from matplotlib.collections import PathCollection  # noqa: E402
from matplotlib.patches import Rectangle  # noqa: E402

import tavrin  # noqa: E402
from tavrin import plot  # noqa: E402


@pytest.fixture(scope="module")
def study():
    s = tavrin.Study("box-behnken", {"T": (150.0, 210.0, "°C"), "t": (10.0, 50.0, "min"), "p": (0.1, 0.7)},
                     ["Yield", "Impurity"], seed=4, extra_center_runs=2)
    x = s.natural
    wobble = 0.2 * np.sin(1.3 * np.arange(len(x)))
    y = 88 - 0.012 * (x[:, 0] - 192) ** 2 - 0.015 * (x[:, 1] - 38) ** 2 + 3 * x[:, 2] + wobble
    imp = 0.4 + 0.0004 * (x[:, 0] - 150) ** 2 + 0.012 * (x[:, 1] - 10) + wobble / 10
    s.set_results({"run_id": s.run_ids, "Yield": y, "Impurity": imp})
    return s


@pytest.fixture(scope="module")
def optimum(study):
    return study.optimize({"Yield": ("maximize", 80, 90)}, {"Impurity": (None, 1.5)}, points=2048, threads=1)


def offsets(ax):
    return [c.get_offsets() for c in ax.collections if isinstance(c, PathCollection) and len(c.get_offsets())]


def holds(ax, points):
    return any(o.shape == points.shape and np.allclose(o, points) for o in offsets(ax))


def test_contour_marks_runs_optima_and_constraint(study, optimum):
    ax = plot.contour(study, "Yield", x="t", y="T", at={"p": 0.25}, optimum=optimum,
                      constraints={"Impurity": (None, 1.5)})
    assert holds(ax, study.natural[:, [1, 0]])
    assert holds(ax, optimum.settings[:, [1, 0]])
    assert ax.get_xlabel() == "t (min)" and ax.get_ylabel() == "T (°C)" and "p = 0.25" in ax.get_title()
    dashed = [c for c in ax.collections if c.get_linestyle() and c.get_linestyle()[0][1] is not None]
    assert dashed, "no dashed constraint boundary"
    assert len(ax.figure.axes) == 2  # the plot and its colour bar
    plt.close(ax.figure)


def test_pareto_bars_are_the_sorted_absolute_t_values(study):
    t = study.report("Yield").coefficients()["t"].drop("(Intercept)").abs()
    ax = plot.pareto(study, "Yield")
    bars = [p for p in ax.patches if isinstance(p, Rectangle)]
    assert len(bars) == len(t) == 9
    np.testing.assert_allclose([b.get_width() for b in bars], np.sort(t.to_numpy()))
    assert [lbl.get_text() for lbl in ax.get_yticklabels()] == list(t.sort_values().index)
    assert len(ax.lines) == 1  # the critical t
    plt.close(ax.figure)


def test_robustness_cloud(optimum):
    rob = optimum.robustness(replicates=50, seed=2, threads=1)
    ax = plot.robustness(rob, x="T", y="p")
    assert holds(ax, rob.optima[:, [0, 2]]) and holds(ax, rob.nominal[[0, 2]].reshape(1, 2))
    box = [p for p in ax.patches if isinstance(p, Rectangle) and p.get_linestyle() == "--"]
    assert len(box) == 1
    assert box[0].get_x() == pytest.approx(np.percentile(rob.optima[:, 0], 5))
    plt.close(ax.figure)

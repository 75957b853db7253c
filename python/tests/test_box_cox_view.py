"""The Box-Cox view's profile, best power and 95 % interval against scipy; its artists against that data."""

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pytest  # noqa: E402
from scipy import stats  # noqa: E402

import tavrin  # noqa: E402
from tavrin import plot  # noqa: E402


@pytest.fixture(scope="module")
def rate_study():
    """A rate whose noise grows with its level (log-normal)."""
    s = tavrin.Study("box-behnken", {"T": (150.3, 210.7, "°C"), "t": (10.1, 50.9, "min"), "c": (0.1, 0.7, "g")},
                     [("Rate", "mg/h")], seed=3, extra_center_runs=2)
    c = s.coded
    rate = np.exp(0.31 + 1.42 * c[:, 0] - 0.83 * c[:, 1] + 0.17 * c[:, 0] ** 2 + 0.11 * c[:, 2]
                  + 0.13 * np.sin(1.3 * np.arange(len(c)) + 0.2))
    s.set_results({"run_id": s.run_ids, "Rate": rate})
    return s, rate


def test_the_mean_only_profile_is_scipys(rate_study):
    s, rate = rate_study
    d = plot.boxcox(s, "Rate", model="1").boxcox
    plt.close("all")
    assert d["model"] == "1"
    np.testing.assert_allclose(d["log_likelihood"], [stats.boxcox_llf(lam, rate) for lam in d["lambda"]], rtol=1e-11)
    _, best, (lower, upper) = stats.boxcox(rate, alpha=0.05)
    assert d["best"] == pytest.approx(best, abs=1e-6)
    assert d["interval"] == pytest.approx((lower, upper), abs=1e-6)
    assert d["best_log_likelihood"] == pytest.approx(stats.boxcox_llf(best, rate), rel=1e-11)


def test_matplotlib_draws_the_library_profile(rate_study):
    ax = plot.boxcox(rate_study[0], "Rate")
    d = ax.boxcox
    profile, cut, best, recommended = ax.lines[0], ax.lines[1], ax.lines[2], ax.lines[3]
    np.testing.assert_array_equal(profile.get_xdata(), d["lambda"])
    np.testing.assert_array_equal(profile.get_ydata(), d["log_likelihood"])
    assert list(cut.get_ydata()) == [d["cut"], d["cut"]]
    assert (best.get_xdata()[0], best.get_ydata()[0]) == (d["best"], d["best_log_likelihood"])
    assert list(recommended.get_xdata()) == [d["recommended"], d["recommended"]]
    span = ax.patches[0].get_xy()[:, 0]
    assert (span.min(), span.max()) == d["interval"]
    plt.close(ax.figure)

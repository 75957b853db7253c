"""The Box-Cox view against scipy and statsmodels: its profile
log-likelihood, the maximum-likelihood power and its 95 % interval, the
matplotlib artists against the library's data, and a response that cannot
be transformed."""

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pytest  # noqa: E402
import statsmodels.api as sm  # noqa: E402
from scipy import optimize, stats  # noqa: E402

import tavrin  # noqa: E402
from tavrin import _study, plot  # noqa: E402

FACTORS = {"T": (150.3, 210.7, "°C"), "t": (10.1, 50.9, "min"), "c": (0.1, 0.7, "g")}


def make_study():
    """A rate whose noise grows with its level (log-normal), and the same
    rate shifted so that some results are negative."""
    s = tavrin.Study("box-behnken", FACTORS, [("Rate", "mg/h"), ("Shift", "")], seed=3, extra_center_runs=2)
    c = s.coded
    k = np.arange(len(c))
    rate = np.exp(0.31 + 1.42 * c[:, 0] - 0.83 * c[:, 1] + 0.17 * c[:, 0] ** 2 + 0.11 * c[:, 2]
                  + 0.13 * np.sin(1.3 * k + 0.2))
    s.set_results({"run_id": s.run_ids, "Rate": rate, "Shift": rate - 1.37})
    return s, rate


def quadratic_columns(coded):
    n = coded.shape[1]
    cols = [np.ones(len(coded))] + [coded[:, i] for i in range(n)] + [coded[:, i] ** 2 for i in range(n)]
    cols += [coded[:, i] * coded[:, j] for i in range(n) for j in range(i + 1, n)]
    return np.column_stack(cols)


def test_the_mean_only_profile_is_scipys():
    s, rate = make_study()
    d = plot.boxcox(s, "Rate", model="1").boxcox
    plt.close("all")
    assert d["model"] == "1"
    expected = [stats.boxcox_llf(lam, rate) for lam in d["lambda"]]
    np.testing.assert_allclose(d["log_likelihood"], expected, rtol=1e-11)
    _, best, (lower, upper) = stats.boxcox(rate, alpha=0.05)
    assert d["best"] == pytest.approx(best, abs=1e-6)
    assert d["interval"] == pytest.approx((lower, upper), abs=1e-6)
    assert d["best_log_likelihood"] == pytest.approx(stats.boxcox_llf(best, rate), rel=1e-11)


def test_the_quadratic_profile_is_the_ols_likelihood_of_the_transformed_response():
    s, rate = make_study()
    s.set_model("Rate", model="quadratic", transform="log")  # the profile is of the response as measured
    d = _study.views_box_cox(s._core, "Rate", "")
    assert d["model"] == "quadratic"
    X = quadratic_columns(s.coded)
    jacobian = np.log(rate).sum()

    def profile(lam):
        return sm.OLS(stats.boxcox(rate, lmbda=lam), X).fit().llf + (lam - 1.0) * jacobian

    # Up to a constant: differences from the grid's first point.
    grid = d["lambda"][::15]
    ours = d["log_likelihood"][::15] - d["log_likelihood"][0]
    theirs = np.array([profile(lam) for lam in grid]) - profile(d["lambda"][0])
    np.testing.assert_allclose(ours, theirs, rtol=1e-9, atol=1e-9)
    best = optimize.minimize_scalar(lambda lam: -profile(lam), bounds=(-3, 3), method="bounded",
                                    options={"xatol": 1e-10}).x
    assert d["best"] == pytest.approx(best, abs=1e-5)
    # The interval's ends lie chi2_1(0.95) / 2 below the maximum.
    drop = stats.chi2.ppf(0.95, 1) / 2
    for end in d["interval"]:
        assert profile(best) - profile(end) == pytest.approx(drop, abs=1e-6)


def test_matplotlib_draws_the_library_profile():
    s, _ = make_study()
    ax = plot.boxcox(s, "Rate")
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


def test_a_response_that_is_not_positive_says_why():
    s, rate = make_study()
    first = int(np.flatnonzero(rate - 1.37 <= 0)[0]) + 1
    with pytest.raises(tavrin.InvalidArgument, match=f"Box-Cox profile of \"Shift\": run {first}: .* not positive"):
        plot.boxcox(s, "Shift")
    plt.close("all")


def test_the_builds_verdict_tells_the_transform_and_the_dropped_terms():
    s, _ = make_study()
    built = s.build_model("Rate", transform="boxcox", reduce=True, p_to_remove=0.2)
    box, steps, findings = built["box_cox"], built["reduction"], built["verdict"]["findings"]
    assert steps, "the rate has null terms to drop"
    assert findings[-3].startswith(f"Box-Cox puts λ at {box['lambda']:.3g}")
    assert f"recommends the {box['recommendation']} transform" in findings[-3]
    assert all(f"{step['removed']} (p = {step['p']:.2g})" in findings[-2] for step in steps)
    assert "above 0.2" in findings[-2]
    assert findings[-1].startswith("No sign of lack of fit") == (built["anova"]["lack_of_fit"]["p"] >= 0.05)

"""tavrin.Study end to end, checked against statsmodels on the same data."""

import copy
import math
import pickle

import numpy as np
import pandas as pd
import pytest
import statsmodels.api as sm
from statsmodels.stats.outliers_influence import OLSInfluence

import tavrin
from conftest import interrupt_main_after

RANGES = {"A": (0.1, 0.7), "B": (150.0, 210.0), "C": (-0.35, 0.05)}


def truth(x):
    a, b, c = x[:, 0], x[:, 1], x[:, 2]
    return 3.1 + 2.0 * a - 4.5 * a * a + 0.01 * b - 4e-5 * (b - 180) ** 2 + 1.3 * c + 0.7 * a * c


def measured_study(seed=11, centre=3):
    s = tavrin.Study("box-behnken", RANGES, ["y", ("z", "%")], seed=seed, extra_center_runs=centre)
    x = s.natural
    wobble = 0.05 * np.sin(2.3 * np.arange(len(x)) + 0.4)  # deterministic "noise"
    s.set_results({"run_id": s.run_ids, "y": truth(x) + wobble, "z": 1.7 - 0.2 * x[:, 0] + wobble[::-1]})
    return s


def quadratic(x):
    n = x.shape[1]
    cols = [np.ones(len(x))] + [x[:, i] for i in range(n)] + [x[:, i] ** 2 for i in range(n)]
    return np.column_stack(cols + [x[:, i] * x[:, k] for i in range(n) for k in range(i + 1, n)])


# The library's statistics are checked against statsmodels in the analysis tests; here each column and
# attribute of the Python report must carry the quantity its name says.
def test_the_report_columns_carry_what_they_name():
    s = measured_study()
    report = s.report("y")
    ref = sm.OLS(s.results[:, 0], quadratic(s.coded)).fit()
    coef = report.coefficients()
    assert list(coef.index) == ["(Intercept)", "A", "B", "C", "A^2", "B^2", "C^2", "A:B", "A:C", "B:C"]
    for column, want in [("estimate", ref.params), ("std_error", ref.bse), ("t", ref.tvalues)]:
        np.testing.assert_allclose(coef[column], want, rtol=1e-8, atol=1e-12, err_msg=column)
    np.testing.assert_allclose(coef["p"], ref.pvalues, rtol=1e-6, atol=1e-14)
    np.testing.assert_allclose(coef[["lower", "upper"]], ref.conf_int(0.05), rtol=1e-8, atol=1e-9)
    stats = (report.r_squared, report.adjusted_r_squared, report.f_statistic, report.f_p_value, report.residual_ss)
    np.testing.assert_allclose(stats, (ref.rsquared, ref.rsquared_adj, ref.fvalue, ref.f_pvalue, ref.ssr), rtol=1e-8)
    assert report.residual_df == 16 - 10
    natural = sm.OLS(s.results[:, 0], quadratic(s.natural)).fit()
    fit = s.fit()
    for units, want in [("coded", ref.params), ("natural", natural.params)]:
        np.testing.assert_allclose(report.coefficients(units)["estimate"], want, rtol=1e-6, atol=1e-12, err_msg=units)
        np.testing.assert_allclose(fit.coefficients(units, as_frame=False)[:, 0], want, rtol=1e-6, atol=1e-12,
                                   err_msg=units)
    influence = OLSInfluence(ref)
    d = report.diagnostics()
    assert list(d.index) == list(range(1, 17))
    for column, want in [("leverage", influence.hat_matrix_diag), ("cooks_distance", influence.cooks_distance[0]),
                         ("studentized", influence.resid_studentized_internal)]:
        np.testing.assert_allclose(d[column], want, rtol=1e-8, err_msg=column)


def test_predict_takes_arrays_and_frames_and_its_intervals_name_their_columns():
    s = measured_study()
    X = np.array([[0.15, 155.5, -0.3], [0.45, 181.0, -0.1], [0.69, 209.0, 0.01]])
    coded = (2 * X - [sum(r) for r in RANGES.values()]) / [hi - lo for lo, hi in RANGES.values()]
    frame = sm.OLS(s.results[:, 0], quadratic(s.coded)).fit().get_prediction(quadratic(coded)).summary_frame()
    predicted = s.predict(X)
    assert predicted.shape == (3, 2)
    np.testing.assert_allclose(predicted[:, 0], frame["mean"], rtol=1e-10)
    np.testing.assert_array_equal(s.predict(X[1]), predicted[1])
    got = s.fit().predict_intervals(X, "y")
    for ours, theirs in [("std_error", "mean_se"), ("confidence_low", "mean_ci_lower"),
                         ("confidence_high", "mean_ci_upper"), ("prediction_low", "obs_ci_lower"),
                         ("prediction_high", "obs_ci_upper")]:
        np.testing.assert_allclose(got[ours], frame[theirs], rtol=1e-8, err_msg=ours)
    # A DataFrame X is matched by column name, whatever the order, and keeps its index.
    out = s.predict(pd.DataFrame(X[:, ::-1], columns=["C", "B", "A"], index=["p", "q", "r"]))
    assert list(out.index) == ["p", "q", "r"] and list(out.columns) == ["y", "z"]
    np.testing.assert_array_equal(out.to_numpy(), predicted)


def test_results_are_matched_by_run_id_not_position():
    s = tavrin.Study("box-behnken", RANGES, ["y", "z"], seed=5)
    sheet = s.run_sheet()
    assert list(sheet.index) == list(s.execution_order) and sheet.index.name == "run_id"
    sheet["y"] = 10.0 * sheet.index + 0.1
    s.set_results(sheet.sample(frac=1.0, random_state=3))
    np.testing.assert_array_equal(s.results[:, 0], 10.0 * np.arange(1, s.run_count + 1) + 0.1)
    assert np.isnan(s.results[:, 1]).all()
    # A dict of columns, then a nested dict that changes only the cells it gives.
    t = tavrin.Study("box-behnken", RANGES, ["y", "z"], seed=5)
    t.set_results({"run_id": [3, 1, 2], "y": [0.3, 0.1, 0.2], "z": [0.9, 0.7, 0.8]})
    t.set_results({"y": {2: 2.5}, "z": {3: None, 1.0: -0.4}})
    assert [t.result(r, "y") for r in (1, 2, 3)] == [0.1, 2.5, 0.3]
    assert t.result(1, "z") == -0.4 and t.result(2, "z") == 0.8 and math.isnan(t.result(3, "z"))
    plain = t.run_sheet(as_frame=False)
    assert isinstance(plain, dict) and list(plain["run_id"]) == list(t.execution_order)


# Python's own checks of the data, and one of the library's refusals passed through.
REFUSED = [  # data, message fragment
    (pd.DataFrame({"y": [1.0] * 13}), "never by position"),
    ({"run_id": [1, 1], "y": [1.0, 2.0]}, "more than once"),
    ({"run_id": [1.5], "y": [1.0]}, "not an integer"),
    ({"run_id": [1, 2], "y": [1.0, "x"]}, "not a number"),
    ([1.0, 2.0], "DataFrame or a dict"),
    ({"run_id": [1, 99], "y": [1.0, 2.0]}, "run id \"99\" is not a run"),
]


@pytest.mark.parametrize("data, fragment", REFUSED)
def test_refused_results_change_nothing(data, fragment):
    s = measured_study(centre=0)
    before = s.to_json()
    with pytest.raises(tavrin.InvalidArgument, match=fragment):
        s.set_results(data)
    assert s.to_json() == before


def test_exceptions_derive_from_the_builtin_ones(tmp_path):
    s = measured_study(centre=0)
    cases = [
        (lambda: tavrin.Study("box-behnken", {"A": (1, 0), "B": (0, 1)}, ["y"]), ValueError),
        (lambda: s.set_result(1, "nope", 1.0), KeyError),
        (lambda: tavrin.Study.load(tmp_path / "absent.json"), FileNotFoundError),
        (lambda: s.save(tmp_path / "no" / "such" / "dir.json"), OSError),
        (lambda: s.save(f"{tmp_path}/a\x00b.json"), ValueError),
        (lambda: s.predict(np.zeros((2, 2))), ValueError),
    ]
    for call, builtin in cases:
        with pytest.raises(builtin) as info:
            call()
        assert isinstance(info.value, tavrin.Error), info.value
    with pytest.raises(tavrin.ParseError) as info:
        tavrin.Study.from_json('{"format": "tavrin-study",\n  "version": 1, oops}')
    assert isinstance(info.value, ValueError) and info.value.line == 2 and info.value.column > 0
    fresh = tavrin.Study("box-behnken", RANGES, ["y"])
    with pytest.raises(tavrin.StateError) as info:
        fresh.fit()
    assert isinstance(info.value, RuntimeError) and "runs 1, 2" in str(info.value)
    assert not (tmp_path / "no").exists()


def test_unicode_and_round_trips(tmp_path):
    s = tavrin.Study("box-behnken", {"Température": (0.1, 0.7, "°C"), "压力": (1e7 + 0.1, 1e7 + 0.3)},
                     [("Ausbeute ✓", "%")], seed=2**64 - 1)
    s.set_results({"Ausbeute ✓": {1: 0.1, 9: 1e-300}})
    path = tmp_path / "études ü.json"
    s.save(path)
    for other in (tavrin.Study.load(path), pickle.loads(pickle.dumps(s)), copy.copy(s), copy.deepcopy(s)):
        assert other == s and other is not s and other.seed == 2**64 - 1
        assert other.factors[0] == tavrin.Factor("Température", 0.1, 0.7, "°C")
        np.testing.assert_array_equal(other.results, s.results)
    twin = copy.copy(s)
    twin.set_result(1, "Ausbeute ✓", 2.0)
    assert s.result(1, "Ausbeute ✓") == 0.1 and twin != s
    assert "box-behnken" in repr(s) and "7 results missing" in repr(s)


def test_optimum_and_robustness_take_their_arguments():
    s = measured_study()
    opt = s.optimize({"y": ("maximize", 3.0, 6.0)}, {"z": (None, 1.62)}, region={"B": (160.0, 200.0)},
                     points=4096, threads=1)
    assert 160.0 <= opt.best["B"] <= 200.0 and opt.predicted[0, 1] <= 1.62 + 1e-6
    np.testing.assert_allclose(s.predict(opt.settings), opt.predicted, rtol=1e-12)
    assert list(opt.table().index) == list(range(1, len(opt) + 1))
    rob = opt.robustness(replicates=64, seed=3, threads=2)
    assert rob.optima.shape == (64, 3) and rob.sigma_source == {"y": "residuals", "z": "residuals"}
    p = rob.setting_percentiles()
    np.testing.assert_allclose(p["p25"], np.nanpercentile(rob.optima, 25, axis=0), rtol=1e-12)


def test_ctrl_c_stops_a_long_robustness_study_on_every_thread():
    # Uninterrupted, the study runs far longer than Ctrl-C's delay on any
    # machine, so only an interruption can raise here.
    s = measured_study()
    opt = s.optimize({"y": ("maximize", 3.0, 6.0)}, {"z": (None, 1.62)}, points=4096)
    with pytest.raises(KeyboardInterrupt):
        interrupt_main_after(0.3)
        opt.robustness(replicates=200_000, threads=2)


def test_version_and_docstrings():
    assert tavrin.__version__.count(".") == 2
    public = [tavrin.Study, tavrin.Fit, tavrin.FitReport, tavrin.Optimum, tavrin.Robustness, tavrin.CTavrin]
    undocumented = [f"{cls.__name__}.{name}" for cls in public for name, member in vars(cls).items()
                    if not name.startswith("_") and (callable(member) or isinstance(member, (property, classmethod)))
                    and not (getattr(member, "__doc__", None) or "").strip()]
    from tavrin import plot

    undocumented += [name for name in plot.__all__ if not (getattr(plot, name).__doc__ or "").strip()]
    assert undocumented == []


def test_build_model_takes_the_model_and_the_reduction():
    s = measured_study()
    a, b, c = s.coded.T
    out = s.build_model("y", model="A B C A:C A^2")
    ols = sm.OLS(s.results[:, 0], np.column_stack([np.ones(len(a)), a, b, c, a * a, a * c])).fit()
    assert out["model"] == "A B C A^2 A:C"
    np.testing.assert_allclose([e["value"] for e in out["coefficients"]], ols.params, rtol=1e-9)
    reduced = s.build_model("y", reduce=True, force_in=["B"])
    assert "B" in reduced["model"].split() and all(step["p"] > 0.10 for step in reduced["reduction"])

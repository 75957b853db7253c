"""Runs as a table from Python: the run sheet read back with pandas, actual
settings recorded with actual=True, and studies made from existing data,
checked against statsmodels OLS and pure error from numpy."""
import io
import math

import numpy as np
import pytest
import scipy.stats

import tavrin

pd = pytest.importorskip("pandas")
sm = pytest.importorskip("statsmodels.api")

RANGES = {"A": (0.15, 0.35, "g"), "B": (10.0, 50.0)}


def quadratic_columns(x):
    n = x.shape[1]
    cols = [np.ones(len(x))] + [x[:, i] for i in range(n)] + [x[:, i] ** 2 for i in range(n)]
    cols += [x[:, i] * x[:, k] for i in range(n) for k in range(i + 1, n)]
    return np.column_stack(cols)


def coded(x, lows, highs):
    lows, highs = np.asarray(lows, dtype=float), np.asarray(highs, dtype=float)
    return (2 * x - lows - highs) / (highs - lows)


def test_the_run_sheet_read_by_pandas_goes_back_with_its_units():
    s = tavrin.Study("box-behnken", RANGES, [("Yield", "%")], seed=3)
    sheet = pd.read_csv(io.StringIO(s.run_sheet_csv()))
    assert "A [g]" in sheet.columns and "Yield [%]" in sheet.columns
    sheet["Yield [%]"] = 50 + sheet["run_id"] * 0.1
    s.set_results(sheet)
    np.testing.assert_array_equal(s.results[:, 0], 50 + np.arange(1, 10) * 0.1)
    # The same sheet sorted by A with the run ids left in place is refused.
    shifted = sheet.copy()
    shifted[["A [g]", "B"]] = sheet.sort_values("A [g]")[["A [g]", "B"]].to_numpy()
    before = s.to_json()
    with pytest.raises(tavrin.InvalidArgument, match="right run ids"):
        s.set_results(shifted)
    assert s.to_json() == before


def test_actual_settings_are_recorded_and_fitted():
    s = tavrin.Study("box-behnken", RANGES, ["Yield"], seed=3)
    made = s.natural.copy()
    made[2, 0], made[6, 1] = 0.37, 48.3
    rng = np.random.default_rng(5)
    y = 3 + 10 * made[:, 0] - 0.02 * made[:, 1] + 20 * made[:, 0] ** 2 + rng.normal(0, 0.01, 9)
    s.set_results({"run_id": s.run_ids, "A [g]": made[:, 0], "B": made[:, 1], "Yield": y}, actual=True)
    np.testing.assert_array_equal(s.actual, made)
    np.testing.assert_array_equal(s.natural[2], tavrin.Study("box-behnken", RANGES, ["Yield"], seed=3).natural[2])
    X = quadratic_columns(coded(made, [0.15, 10.0], [0.35, 50.0]))
    ref = sm.OLS(y, X).fit().params
    np.testing.assert_allclose(s.fit().coefficients("coded", as_frame=False)[:, 0], ref, rtol=1e-9, atol=1e-9)


# Montgomery's central composite design for a chemical process (Design and
# Analysis of Experiments, response-surface chapter): time and temperature,
# axial runs at 1.414, five centre runs; here in two blocks and with one
# cube point run twice, so pure error comes from two groups.
CCD = pd.DataFrame({
    "Std": range(1, 15),
    "Day": [1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2],
    "Time": [80, 90, 80, 90, 85, 85, 85, 85, 85, 92.07, 77.93, 85, 85, 90],
    "Temperature": [170, 170, 180, 180, 175, 175, 175, 175, 175, 175, 175, 182.07, 167.93, 180],
    "Yield": [76.5, 77.0, 78.0, 79.5, 79.9, 80.3, 80.0, 79.7, 79.8, 78.4, 75.6, 78.5, 77.0, 79.1],
})


def test_a_study_from_a_frame_matches_statsmodels_and_pure_error_from_every_group():
    with pytest.warns(UserWarning, match="'Std'"):
        s = tavrin.Study.from_frame(CCD, factors={"Time": (80, 90, "min"), "Temperature": None},
                                    responses=["Yield"], block="Day")
    assert s.kind == "imported" and s.run_count == 14
    assert list(s.blocks) == list(CCD["Day"]) and set(s.origins) == {"imported"}
    assert s.factors[1].low == 167.93 and s.factors[1].high == 182.07  # the data's minimum and maximum
    name, low, high, low_coded, high_coded = s.factor_spans()[0]
    assert (name, low, high) == ("Time", 77.93, 92.07)
    assert high_coded == pytest.approx(1.414, abs=1e-12)

    x = CCD[["Time", "Temperature"]].to_numpy(dtype=float)
    y = CCD["Yield"].to_numpy(dtype=float)
    X = quadratic_columns(coded(x, [80, 167.93], [90, 182.07]))
    ols = sm.OLS(y, X).fit()
    report = s.report("Yield")
    np.testing.assert_allclose(s.fit().coefficients("coded", as_frame=False)[:, 0], ols.params, rtol=1e-10)
    assert report.r_squared == pytest.approx(ols.rsquared, rel=1e-12)

    # Pure error: the five centre runs and the repeated cube point.
    groups = CCD.groupby(["Time", "Temperature"])["Yield"]
    pure_ss = float(((CCD["Yield"] - groups.transform("mean")) ** 2).sum())
    pure_df = int((groups.size() - 1).sum())
    assert pure_df == 5
    lof = report.lack_of_fit
    assert lof["pure_error_df"] == pure_df and lof["pure_error_ss"] == pytest.approx(pure_ss, rel=1e-12)
    lof_df = int(ols.df_resid) - pure_df
    f = ((ols.ssr - pure_ss) / lof_df) / (pure_ss / pure_df)
    assert lof["lack_of_fit_df"] == lof_df and lof["f"] == pytest.approx(f, rel=1e-10)
    assert lof["p"] == pytest.approx(scipy.stats.f.sf(f, lof_df, pure_df), rel=1e-9)

    # The optimum searches the box the runs span, axial runs included.
    again = tavrin.Study.from_json(s.to_json())
    assert again == s


@pytest.mark.parametrize("frame, fragment", [
    (CCD.assign(Time=CCD["Time"].astype(object).where(CCD.index != 3, "n/a")), "row 4, column \"Time\""),
    (CCD.drop(columns=["Temperature"]), "no column for factor \"Temperature\""),
    (CCD.assign(Day=0), "block \"0\""),
])
def test_bad_frames_are_refused_naming_the_cell(frame, fragment):
    with pytest.raises(tavrin.InvalidArgument, match=fragment):
        tavrin.Study.from_frame(frame.drop(columns=["Std"]), factors=["Time", "Temperature"], responses=["Yield"],
                                block="Day")

"""Runs as a table from Python: the run sheet read back with pandas, actual
settings recorded with actual=True, and studies made from existing data,
checked against statsmodels."""
import io
import math

import numpy as np
import pytest

import tavrin

pd = pytest.importorskip("pandas")
sm = pytest.importorskip("statsmodels.api")
smf = pytest.importorskip("statsmodels.formula.api")

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


def test_actual_settings_are_recorded_and_fitted():
    s = tavrin.Study("box-behnken", RANGES, ["Yield"], seed=3)
    planned = s.natural.copy()
    made = planned.copy()
    made[2, 0], made[6, 1] = 0.37, 48.3
    rng = np.random.default_rng(5)
    y = 3 + 10 * made[:, 0] - 0.02 * made[:, 1] + 20 * made[:, 0] ** 2 + rng.normal(0, 0.01, 9)
    s.set_results({"run_id": s.run_ids, "A [g]": made[:, 0], "B": made[:, 1], "Yield": y}, actual=True)
    np.testing.assert_array_equal(s.actual, made)
    np.testing.assert_array_equal(s.natural, planned)
    ref = sm.OLS(y, quadratic_columns(coded(made, [0.15, 10.0], [0.35, 50.0]))).fit().params
    np.testing.assert_allclose(s.fit().coefficients("coded", as_frame=False)[:, 0], ref, rtol=1e-9, atol=1e-9)
    # The text of a sheet takes the same mode.
    t = tavrin.Study("box-behnken", RANGES, ["Yield"], seed=3)
    t.read_results_text("run_id,A [g]\n3,0.37\n", actual=True)
    assert t.actual[2, 0] == 0.37


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

    # The days are sum-coded block effects (their fit against statsmodels is model building's test): the same
    # model by statsmodels' formula, as the reference for the sources below.
    x = coded(CCD[["Time", "Temperature"]].to_numpy(dtype=float), [80, 167.93], [90, 182.07])
    rows = CCD.assign(a=x[:, 0], b=x[:, 1])
    ols = smf.ols("Yield ~ a + b + I(a**2) + I(b**2) + a:b + C(Day, Sum)", rows).fit()
    report = s.report("Yield")
    assert report.residual_df == ols.df_resid == 7

    # The days are their own source.
    days = smf.ols("Yield ~ C(Day, Sum)", rows).fit()
    assert report.blocks_df == 1 and report.blocks_ss == pytest.approx(ols.centered_tss - days.ssr, rel=1e-10)

    # Pure error: the cell-means model with the days. The centre runs and the repeated cube point span both days,
    # so the days cost a degree of freedom: 14 runs - (9 settings + 1 day effect) = 4, not the 5 repeats.
    rows["cell"] = rows["Time"].astype(str) + "," + rows["Temperature"].astype(str)
    cells = smf.ols("Yield ~ C(Day, Sum) + C(cell)", rows).fit()
    lof = report.lack_of_fit
    assert lof["pure_error_df"] == cells.df_resid == 4
    assert lof["pure_error_ss"] == pytest.approx(cells.ssr, rel=1e-10)
    lack = sm.stats.anova_lm(ols, cells)
    assert lof["lack_of_fit_df"] == lack["df_diff"][1] == 3
    assert lof["f"] == pytest.approx(lack["F"][1], rel=1e-9)
    assert lof["p"] == pytest.approx(lack["Pr(>F)"][1], rel=1e-8)



@pytest.mark.parametrize("frame, fragment", [
    (CCD.assign(Time=CCD["Time"].astype(object).where(CCD.index != 3, "n/a")), "row 4, column \"Time\""),
    (CCD.drop(columns=["Temperature"]), "no column for factor \"Temperature\""),
    (CCD.assign(Day=0), "block \"0\""),
])
def test_bad_frames_are_refused_naming_the_cell(frame, fragment):
    with pytest.raises(tavrin.InvalidArgument, match=fragment):
        tavrin.Study.from_frame(frame.drop(columns=["Std"]), factors=["Time", "Temperature"], responses=["Yield"],
                                block="Day")

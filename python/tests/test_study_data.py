"""Runs as a table from Python: the run sheet read back with pandas, actual
settings recorded with actual=True, and studies made from existing data. The
fits' statistics are the analysis tests'; here what Python passes in and out."""
import io

import numpy as np
import pytest

import tavrin

pd = pytest.importorskip("pandas")

RANGES = {"A": (0.15, 0.35, "g"), "B": (10.0, 50.0)}


def test_the_run_sheet_read_by_pandas_goes_back_with_its_units():
    s = tavrin.Study("box-behnken", RANGES, [("Yield", "%")], seed=3)
    sheet = pd.read_csv(io.StringIO(s.run_sheet_csv()))
    assert "A [g]" in sheet.columns and "Yield [%]" in sheet.columns
    sheet["Yield [%]"] = 50 + sheet["run_id"] * 0.1
    s.set_results(sheet)
    np.testing.assert_array_equal(s.results[:, 0], 50 + np.arange(1, 10) * 0.1)


def test_actual_settings_are_recorded_from_a_dict_and_from_text():
    s = tavrin.Study("box-behnken", RANGES, ["Yield"], seed=3)
    planned = s.natural.copy()
    made = planned.copy()
    made[2, 0], made[6, 1] = 0.37, 48.3
    s.set_results({"run_id": s.run_ids, "A [g]": made[:, 0], "B": made[:, 1], "Yield": 0.1 * s.run_ids}, actual=True)
    np.testing.assert_array_equal(s.actual, made)
    np.testing.assert_array_equal(s.natural, planned)
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


def test_a_study_from_a_frame_takes_its_columns_blocks_and_spans():
    with pytest.warns(UserWarning, match="'Std'"):
        s = tavrin.Study.from_frame(CCD, factors={"Time": (80, 90, "min"), "Temperature": None},
                                    responses=["Yield"], block="Day")
    assert s.kind == "imported" and s.run_count == 14
    assert list(s.blocks) == list(CCD["Day"]) and set(s.origins) == {"imported"}
    assert s.factors[1].low == 167.93 and s.factors[1].high == 182.07  # the data's minimum and maximum
    name, low, high, low_coded, high_coded = s.factor_spans()[0]
    assert (name, low, high) == ("Time", 77.93, 92.07)
    assert high_coded == pytest.approx(1.414, abs=1e-12)

    # 14 runs - (9 settings + 1 day effect) = 4 degrees of freedom for pure error, not the 5 repeats: the centre
    # runs and the repeated cube point span both days. The sums of squares are the analysis tests'.
    report = s.report("Yield")
    assert (report.residual_df, report.blocks_df) == (7, 1)
    lof = report.lack_of_fit
    assert (lof["pure_error_df"], lof["lack_of_fit_df"]) == (4, 3)


@pytest.mark.parametrize("frame, fragment", [
    (CCD.assign(Time=CCD["Time"].astype(object).where(CCD.index != 3, "n/a")), "row 4, column \"Time\""),
    (CCD.drop(columns=["Temperature"]), "no column for factor \"Temperature\""),
    (CCD.assign(Day=0), "block \"0\""),
])
def test_bad_frames_are_refused_naming_the_cell(frame, fragment):
    with pytest.raises(tavrin.InvalidArgument, match=fragment):
        tavrin.Study.from_frame(frame.drop(columns=["Std"]), factors=["Time", "Temperature"], responses=["Yield"],
                                block="Day")

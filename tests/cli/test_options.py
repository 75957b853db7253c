"""How the command line reads its options and writes the predictions CSV,
each checked on the example study by what comes out."""
import csv

import pytest

from conftest import run, run_json


def best_settings(work, *args):
    return run_json("optimize", "study.json", "--maximize", "Yield", *args, cwd=work)["optimum"]["candidates"][0]["settings"]


# The yield peaks near Time = 38 min, so a one-sided region that excludes the
# peak puts the optimum on the side it gives, and the other side stays the
# factor's own end (10 or 50 min).
@pytest.mark.parametrize("region, time", [("Time<=30.3", 30.3), ("Time>=41.7", 41.7)])
def test_a_one_sided_region_keeps_the_factors_other_end(study, region, time):
    work, _ = study
    assert best_settings(work, "--region", region)["Time"] == pytest.approx(time, abs=1e-9)


def test_maximize_takes_a_lower_bound_alone(study):
    work, _ = study
    got = run_json("optimize", "study.json", "--maximize", "Yield>=70.5", cwd=work)
    assert got["goals"]["goals"][0]["low"] == 70.5


def test_predict_reads_a_points_file_with_a_byte_order_mark(study):
    work, _ = study
    (work / "bom.csv").write_text("Temperature,Time\n171.3,44.7\n", encoding="utf-8-sig")
    from_file = run_json("predict", "study.json", "--csv", "bom.csv", cwd=work)["points"][0]
    at = run_json("predict", "study.json", "--at", "Temperature=171.3,Time=44.7", cwd=work)["points"][0]
    assert from_file == at


# A unit follows a name in brackets, and a number in brackets or after a blank.
@pytest.mark.parametrize("factor, response, expected", [
    ("Temp=25.1:45.3 °C", "Activity [U/mL]", (("Temp", 25.1, 45.3, "°C"), ("Activity", "U/mL"))),
    ("Temp=25.1:45.3[°C]", "Activity[U/mL]", (("Temp", 25.1, 45.3, "°C"), ("Activity", "U/mL"))),
    ("Temp=25.1:45.3", "2 theta", (("Temp", 25.1, 45.3, ""), ("2 theta", ""))),
    ("Reaction time = 10.1:50.3 [min]", "Conversion rate[%]", (("Reaction time", 10.1, 50.3, "min"), ("Conversion rate", "%"))),
])
def test_units_after_names_and_numbers(tmp_path, factor, response, expected):
    got = run_json("new", "u.json", "--factor", factor, "--factor", "B=0.1:0.7", "--response", response, cwd=tmp_path)
    f, r = got["factors"][0], got["responses"][0]
    assert ((f["name"], f["low"], f["high"], f["unit"]), (r["name"], r["unit"])) == expected


def test_the_predictions_csv_echoes_points_as_typed(study):
    work, _ = study
    run("predict", "study.json", "--at", "Temperature=171.3,Time=44.7", "-o", "p.csv", "--force", cwd=work, check=0)
    with open(work / "p.csv", newline="", encoding="utf-8") as f:
        row = next(csv.DictReader(f))
    assert (row["Temperature"], row["Time"]) == ("171.3", "44.7")

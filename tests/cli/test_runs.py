"""The runs table from the command line: settings columns checked or
recorded with --actual (the fit on them is tests/study's), and studies made
from existing data with --data."""
import shutil

from conftest import run, run_json

# A central composite design about Time 85, Temperature 175 in two days: the
# cube and three centre runs, then two centre runs and the axial runs (1.414).
CODED = [(-1, -1), (1, -1), (-1, 1), (1, 1)] + [(0, 0)] * 5 + [(1.414, 0), (-1.414, 0), (0, 1.414), (0, -1.414)]
CCD = "Std,Day,Time,Temperature,Yield\n" + "".join(
    f"{k + 1},{1 + (k >= 7)},{85 + 5 * a:g},{175 + 5 * b:g},{79.9 - 1.3 * a * a - b * b + 0.13 * (k % 3):.2f}\n"
    for k, (a, b) in enumerate(CODED))


def test_settings_are_checked_and_recorded_with_actual(study, tmp_path):
    work, _ = study
    shutil.copy(work / "study.json", tmp_path / "study.json")
    sheet = run_json("sheet", "study.json", cwd=tmp_path)
    first = sheet["runs"][0]
    planned = first["settings"]["Temperature"]
    made = planned + 3.25
    (tmp_path / "made.csv").write_text(f"run_id,Temperature [°C]\n{first['run']},{made}\n", encoding="utf-8")
    before = (tmp_path / "study.json").read_bytes()
    refused = run("enter", "study.json", "made.csv", cwd=tmp_path, check=1)
    assert (f'made.csv:2:{len(str(first["run"])) + 2}: run {first["run"]}, factor "Temperature": the file has {made:g}'
            in refused.stderr), refused.stderr
    assert (tmp_path / "study.json").read_bytes() == before

    got = run_json("enter", "study.json", "made.csv", "--actual", cwd=tmp_path)
    assert got["actualSettings"] == [{"run": first["run"], "factor": "Temperature", "planned": planned,
                                      "was": planned, "value": made}]
    recorded = next(r for r in run_json("sheet", "study.json", cwd=tmp_path)["runs"] if r["run"] == first["run"])
    assert (recorded["actual"]["Temperature"], recorded["settings"]["Temperature"]) == (made, planned)
    exported = run("export", "study.json", "s.tvr", cwd=tmp_path, check=1)
    assert "actual settings recorded" in exported.stderr


def test_a_study_from_existing_data_says_how_it_is_coded(cli, tmp_path):
    (tmp_path / "ccd.csv").write_text(CCD, encoding="utf-8")
    args = ["new", "c.json", "--data", "ccd.csv", "--factor", "Time=80:90[min]", "--factor", "Temperature[°F]",
            "--response", "Yield", "--block", "Day"]
    text = run(*args, cwd=tmp_path, check=0).stdout
    assert 'Columns left out (neither a factor, a response nor the block column): "Std"' in text
    assert "the runs reach 77.93..92.07 (coded -1.414..1.414), up to 0.414 coded units outside the coding" in text
    assert "167.93..182.07 (no coding given: the data's minimum and maximum)" in text
    got = run_json(*args, "--force", cwd=tmp_path)
    assert [r["block"] for r in got["runs"]] == [1] * 7 + [2] * 6
    assert {r["origin"] for r in got["runs"]} == {"imported"}
    mixed = run("new", "d.json", "--data", "ccd.csv", "--factor", "Time", "--response", "Yield", "--seed", 3,
                cwd=tmp_path, check=2)
    assert "--seed" in mixed.stderr

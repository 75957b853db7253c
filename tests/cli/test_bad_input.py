"""Every bad input ends with exit status 2 (bad usage) or 1 (failure), one
line on stderr naming it, an unchanged study file and no new file."""
import json
import shutil
import subprocess

import pytest

from conftest import CLI, run

FILES = {
    "no_run_id.csv": "Yield,Impurity\n80.1,1.1\n",
    "run_twice.csv": "run_id,Yield\n1,80.1\n2,81.3\n1,79.9\n",
    "text_cell.csv": "run_id,Yield\n1,80.1\n2,eighty\n",
    "nan_cell.csv": "run_id,Yield\n1,80.1\n2,NaN\n",
    "points_no_time.csv": "Temperature,Yield\n180.5,1\n",
    "points_text.csv": "Temperature,Time\n180.5,30.25\n190.5,abc\n",
    "misspelt.csv": "run_id,Yeild\n1,80\n",
}
THREE = ["--factor", "A=0.1:0.7", "--factor", "B=10:30", "--factor", "C=1.5:3.5", "--response", "Y"]

# (case, arguments, status, pieces the message names)
CASES = [
    ("unknown response to fit", ["fit", "study.json", "--response", "Yeld"], 1, ['"Yeld"']),
    ("malformed factor", ["new", "x.json", "--factor", "Temperature=150-210", "--response", "Yield"], 2,
     ['"Temperature=150-210"']),
    ("factor with an infinite end", ["new", "x.json", "--factor", "Temperature=150:inf", "--response", "Yield"], 2,
     ['"Temperature=150:inf"']),
    ("factor with an open unit", ["new", "x.json", "--factor", "Temperature=150:210[°C", "--response", "Yield"], 2,
     ['"Temperature=150:210[°C"']),
    ("unknown design", ["new", "x.json", "--design", "central", "--factor", "A=1:2", "--response", "Y"], 2,
     ['"central"']),
    ("malformed constraint", ["optimize", "study.json", "--maximize", "Yield", "--within", "Impurity<1.5"], 2,
     ['"Impurity<1.5"']),
    ("malformed point", ["predict", "study.json", "--at", "Temperature:180"], 2, ['"Temperature:180"']),
    ("point without a factor", ["predict", "study.json", "--at", "Temperature=180"], 2, ['"Time"']),
    ("results without run ids", ["enter", "study.json", "no_run_id.csv"], 1, ["no_run_id.csv:1", '"run_id"']),
    ("run id given twice", ["enter", "study.json", "run_twice.csv"], 1, ["run_twice.csv:4:1", "run 1"]),
    # NaN would clear the result silently: a missing result is an empty cell.
    ("NaN in a number cell", ["enter", "study.json", "nan_cell.csv"], 1, ["nan_cell.csv:3:3", '"NaN"']),
    ("points without a factor column", ["predict", "study.json", "--csv", "points_no_time.csv"], 1,
     ["points_no_time.csv:1", '"Time"']),
    ("text in a point cell", ["predict", "study.json", "--csv", "points_text.csv"], 1, ["points_text.csv:3:7", '"abc"']),
    ("missing results file", ["enter", "study.json", "nowhere.csv"], 1, ['"nowhere.csv"']),
    ("missing study file", ["fit", "nostudy.json"], 1, ['"nostudy.json"']),
    ("study file replaced", ["new", "study.json", "--factor", "A=1:2", "--response", "Y"], 1, ['"study.json"', "--force"]),
    ("no goal", ["optimize", "study.json", "--within", "Impurity<=1.5"], 2, ["--maximize"]),
    ("sigma without robust", ["optimize", "study.json", "--maximize", "Yield", "--sigma", "Yield=1"], 2, ["--robust"]),
    ("importance without a goal", ["optimize", "study.json", "--maximize", "Yield", "--importance", "Impurity=2"], 2,
     ['"Impurity"']),
    ("constraints nobody meets", ["optimize", "study.json", "--maximize", "Yield", "--within", "Impurity<=0.1"], 1,
     ["constraints"]),
    ("number option given text", ["optimize", "study.json", "--maximize", "Yield", "--points", "many"], 2,
     ["--points", "many"]),
    # A seed is 0..2^64-1, never wrapped or clamped.
    ("negative seed", ["new", "x.json", "--factor", "A=1:2", "--factor", "B=1:2", "--factor", "C=1:2",
                       "--response", "Y", "--seed", "-1"], 2, ['"-1"', "18446744073709551615"]),
    ("seed past 2^64", ["optimize", "study.json", "--maximize", "Yield", "--robust", "--seed", "1e30"], 2,
     ['"1e30"', "--seed"]),
    ("unknown subcommand", ["frobnicate", "study.json"], 2, ['"frobnicate"']),
    ("unknown option", ["fit", "study.json", "--frob"], 2, ["--frob"]),
    ("missing argument", ["fit"], 2, ["study"]),
    # A near miss gets a suggestion.
    ("misspelt option", ["optimize", "study.json", "--maximise", "Yield"], 2, ['did you mean "--maximize"?']),
    ("misspelt command", ["optimise", "study.json"], 2, ['did you mean "optimize"?']),
    ("misspelt option=value", ["predict", "study.json", "--confidance=0.9"], 2, ['did you mean "--confidence"?']),
    ("misspelt column", ["enter", "study.json", "misspelt.csv"], 1,
     ['misspelt.csv:1:8: column "Yeild" is not a response or factor of the study; did you mean "Yield [%]"?']),
    # Design options that do not fit the design.
    ("levels of a ccd", ["new", "x.json", *THREE, "--design", "ccd", "--levels", "3"], 1, ['"levels"']),
    ("alpha of a factorial", ["new", "x.json", *THREE, "--design", "factorial", "--alpha", "face"], 1, ['"alpha"']),
    ("constraint on no factor", ["new", "x.json", *THREE, "--design", "optimal", "--runs", "12", "--constraint",
                                 "A + Q <= 1"], 1, ['"Q"']),
    ("axial centre runs of blocks", ["new", "x.json", *THREE, "--design", "ccd", "--blocks", "3", "--center-runs", "4",
                                     "--axial-center-runs", "5"], 1, ["axial center runs"]),
    ("augment with no factor", ["augment", "study.json", "--runs", "3", "--model", "Temperature Q"], 1, ['"Q"']),
    # Model options.
    ("model with no factor", ["fit", "study.json", "--response", "Yield", "--model", "Temperature Tim", "--save"], 1,
     ['no factor is named "Tim"']),
    ("model without intercept", ["fit", "study.json", "--model", "Temperature -1"], 1, ["removes the intercept"]),
    ("alpha without reduce", ["fit", "study.json", "--alpha", "0.2"], 2, ["--reduce"]),
    ("unknown transform", ["fit", "study.json", "--response", "Yield", "--transform", "cube", "--save"], 1,
     ['transform "cube" is not known']),
    ("unknown anova", ["fit", "study.json", "--anova", "type2"], 2, ["sequential or partial"]),
    ("forced cube", ["fit", "study.json", "--response", "Yield", "--reduce", "--force", "Time^3", "--save"], 1,
     ["only squares"]),
    ("path of no kind", ["path", "study.json", "--response", "Yield"], 2, ["--ridge or --steepest"]),
    ("steepest without step", ["path", "study.json", "--response", "Yield", "--steepest"], 2, ["--step"]),
    ("ridge of no steps", ["path", "study.json", "--response", "Yield", "--ridge", "--steps", "0"], 1, ["steps 0"]),
]


@pytest.fixture
def work(study, tmp_path):
    shutil.copy(study[0] / "study.json", tmp_path / "study.json")
    for name, text in FILES.items():
        (tmp_path / name).write_text(text, encoding="utf-8")
    return tmp_path


@pytest.mark.parametrize("case,args,status,names", CASES, ids=[c[0] for c in CASES])
def test_bad_input_is_refused_by_name(work, case, args, status, names):
    before = (work / "study.json").read_bytes()
    result = run(*args, cwd=work)
    assert result.returncode == status, (case, result.stderr)
    assert result.stderr.startswith("tavrin: ") and result.stderr.count("\n") == 1, result.stderr
    for name in names:
        assert name in result.stderr, (case, result.stderr)
    assert (work / "study.json").read_bytes() == before and not (work / "x.json").exists()


# (arguments, error type, the field it names or None); the line on stderr is the JSON's message.
JSON_FAILURES = [
    (["enter", "study.json", "text_cell.csv"], "ParseError", None),
    (["fit", "study.json", "--response", "Yeld"], "UnknownName", None),
    (["predict", "study.json", "--at", "Temperature:180"], "UsageError", None),
    (["new", "x.json", "--factor", "A=0.7:0.1", *THREE[2:]], "InvalidArgument", "factors[0].high"),
    (["new", "x.json", *THREE[:-1], "A"], "InvalidArgument", "responses[0].name"),
    (["optimize", "study.json", "--maximize", "Yield", "--within", "Impurity=0.9:0.3"], "InvalidArgument",
     "constraints[0].high"),
    (["optimize", "study.json", "--target", "Yield=95"], "InvalidArgument", "goals[0].target"),
]


@pytest.mark.parametrize("args,kind,field", JSON_FAILURES)
def test_json_failure_carries_the_error_and_its_field(work, args, kind, field):
    result = run(*args, "--json", cwd=work)
    error = json.loads(result.stdout)["error"]
    assert (error["type"], error.get("field")) == (kind, field) and result.stderr == f"tavrin: {error['message']}\n"
    if kind == "ParseError":
        assert (error["source"], error["line"], error["column"]) == ("text_cell.csv", 3, 3)


@pytest.mark.parametrize("args,kind", [
    (["new", "x.json", "--factor", b"Temp\xe9rature=0.1:0.7", "--factor", "Time=10:50", "--response", "Yield"],
     "InvalidArgument"),
    (["fit", b"\xe9tude.json"], "FileError"),
])
def test_json_failure_quotes_bytes_that_are_not_utf8(work, args, kind):
    # A Latin-1 name is refused by name: the JSON quotes it with U+FFFD,
    # the line on stderr keeps the bytes as given.
    result = subprocess.run([CLI, *args, "--json"], cwd=work, capture_output=True, timeout=120)
    assert result.returncode == 1, result.stderr
    error = json.loads(result.stdout)["error"]
    assert error["type"] == kind and "\ufffd" in error["message"]
    assert result.stderr.startswith(b"tavrin: ") and b"\xe9" in result.stderr

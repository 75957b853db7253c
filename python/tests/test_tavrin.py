import copy
import os
import subprocess
import sys

import pytest

import tavrin
from tavrin import CTavrin, PlanType, TavrinError

# Box-Behnken study on Speed (0..10) and Feed (100..200) with measurements from
# y = 60 + 5a + 8b - 3a^2 - 2b^2 + 1.5ab in coded units, and its plan file.
REFERENCE_FILE = """1\t//Tavrin File Version
//
2\t//Plan Type (RechschafnerPlan = 1, BoxBehnkenPlan = 2)
//
2\t//Design Variables Count
1\t//Objectives Count
9\t//Experiments Count
//
//Design Variables (Name, Minimum Value, Maximum Value)
Speed\t0\t10\t
Feed\t100\t200\t
//
//Objectives
Yield\t
//
//Experimental Data
//Yield\t,Speed,Feed
69.5\t10\t200
56.5\t0\t200
50.5\t10\t100
43.5\t0\t100
62\t10\t150
52\t0\t150
66\t5\t200
50\t5\t100
60\t5\t150
//
//Quadratic polynomial coefficients
//Objective: Yield
60\t// B[0,0]
5\t// B[0,1]
8\t// B[0,2]
-3\t// B[1,0]
-2\t// B[2,0]
1.5\t// B[1,1]
"""


def reference_yield(speed, feed):
    a, b = (speed - 5) / 5, (feed - 150) / 50
    return 60 + 5 * a + 8 * b - 3 * a * a - 2 * b * b + 1.5 * a * b


def make_study(plan, variables, objectives, compute=True):
    s = CTavrin(plan)
    for name, lo, hi in variables:
        s.planAddDesignVar(name, lo, hi)
    for name in objectives:
        s.planAddObjective(name)
    if compute:
        s.planCompute()
    return s


def reference_study():
    s = make_study(PlanType.BoxBehnkenPlan, [("Speed", 0, 10), ("Feed", 100, 200)], ["Yield"])
    s.set_objective_values("Yield", [reference_yield(*row) for row in s.experiment_table("Yield")])
    s.modelCompute()
    return s


def predict(s, objective, point):
    for name, value in point.items():
        s.modelSetDesignVarValue(name, value)
    s.modelCompute()
    return s.modelGetObjectiveValue(objective)


def test_box_behnken_study_saves_the_reference_file_and_loads_it_back(tmp_path):
    s = reference_study()
    assert s.experiment_table("Yield")[0] == [10.0, 200.0] and s.planGetExperimentCount() == 9
    assert predict(s, "Yield", {"Speed": 2.5, "Feed": 175}) == pytest.approx(reference_yield(2.5, 175), abs=1e-4)
    path = tmp_path / "study.plan"
    assert s.Save(path) is None
    assert path.read_text() == REFERENCE_FILE
    loaded = CTavrin(PlanType.RechschafnerPlan)
    assert loaded.Load(str(path)) == tavrin.FILE_CURRENT_VERSION
    assert (loaded.planGetType(), loaded.modelIsComputed()) == (PlanType.BoxBehnkenPlan, True)
    assert [loaded.planGetObjectiveValue("Yield", k) for k in range(1, 10)] == [
        s.planGetObjectiveValue("Yield", k) for k in range(1, 10)]


@pytest.mark.parametrize("plan, n, runs", [(PlanType.RechschafnerPlan, 5, 21), (PlanType.BoxBehnkenPlan, 3, 13),
                                           (1, 4, 15)])
def test_quadratic_is_fitted_exactly_and_optimized_within_constraints(plan, n, runs):
    names = [f"x{i}" for i in range(1, n + 1)]
    s = make_study(plan, [(x, 0.3 * i - 1.1, 0.3 * i + 2.6) for i, x in enumerate(names)], ["y", "c"])
    assert s.planGetExperimentCount() == runs

    def y(p):  # a full quadratic, positive on the whole design space
        return 50 + sum((i + 1) * v - 0.5 * v * v for i, v in enumerate(p)) + 0.25 * p[0] * p[-1]

    s.set_objective_values("y", [y(row) for row in s.experiment_table("y")])
    s.set_objective_values("c", [row[0] for row in s.experiment_table("c")])
    s.modelCompute()
    point = [0.3 * i - 0.4 for i in range(n)]
    assert predict(s, "y", dict(zip(names, point))) == pytest.approx(y(point), rel=1e-5)
    assert s.modelGetObjectiveValue("c") == pytest.approx(point[0], abs=1e-5)

    s.modelSetObjectiveLimits("y", 1.0, 0.0, 0.0)
    s.modelSetObjectiveLimits("c", 0.0, -0.5, 0.5)  # constraint on x1
    for i, x in enumerate(names):
        s.modelSetDesignVarLimits(x, 0.3 * i - 1.1, 0.3 * i + 2.6)
    assert s.modelGetObjectiveLimits("c") == (0.0, -0.5, 0.5)
    s.modelOptimize(0, 1024)
    slots = range(1, CTavrin.BestResultCount + 1)
    best = [s.modelGetObjectiveBestResult("y", k) for k in slots]
    points = [[s.modelGetDesignVarBestResult(x, k) for x in names] for k in slots]
    assert best == sorted(best, reverse=True)
    assert all(-0.5 - 1e-6 <= s.modelGetObjectiveBestResult("c", k) <= 0.5 + 1e-6 for k in slots)
    assert s.modelGetObjectiveBestResult("y", 0) == 0.0
    assert predict(s, "y", dict(zip(names, points[0]))) == pytest.approx(best[0], rel=1e-12)


def test_errors_carry_the_library_code_and_message(tmp_path):
    fresh = CTavrin(PlanType.BoxBehnkenPlan)
    done = reference_study()
    no_objective = make_study(PlanType.BoxBehnkenPlan, [("a", 0, 1)], [], compute=False)
    bad_file = tmp_path / "bad.plan"
    bad_file.write_text("7\t//version\n2\n")
    cases = [
        (fresh.planGetExperimentCount, (), 1, "Tavrin Error. planGetExperimentCount(). Plan is not computed."),
        (fresh.modelGetObjectiveBestResult, ("Yield", 6), 11,
         "Tavrin Error. modelGetObjectiveBestResult(). Index too large."),
        (fresh.planCompute, (), 6, "Tavrin Error. planCompute(). MapDesignVars size error."),
        (no_objective.planCompute, (), 7, "Tavrin Error. planCompute(). MapObjectives size error."),
        (done.planAddDesignVar, ("T", 0, 1), 12,
         "Tavrin error. planAddDesignVar(). Can not Add variable. Plan has been computed."),
        (done.planGetObjective, ("nope",), 5, "Tavrin Error. planGetObjective(). Variable is not found."),
        (done.planGetObjective, (1,), 5, "Tavrin error. planGetObjective(). Variable is not found."),
        (done.planGetDesignVar, (-1,), 5, "Tavrin error. planGetDesignVar(). Variable is not found."),
        (done.planSetObjectiveValue, ("Yield", 10, 1.0), 11, "Tavrin Error. planSetObjectiveValue(). Index too large."),
        (done.modelGetDesignVarBestResult, ("Speed", 1), 3,
         "Tavrin Error. modelGetDesignVarBestResult(). Model is not optimized."),
        (done.Save, (tmp_path / "x.plan", 2), 20, "Tavrin Error. Save(). File version is wrong."),
        (fresh.Load, (tmp_path / "missing.plan",), 21, "Tavrin Error. Load(). Can not open file to load."),
    ]
    for call, args, code, message in cases:
        with pytest.raises(TavrinError) as info:
            call(*args)
        assert (info.value.code, info.value.message, str(info.value)) == (code, message, message)
        assert info.value.version is None
    with pytest.raises(TavrinError) as info:
        fresh.Load(bad_file)
    assert (info.value.code, info.value.version) == (21, 7)
    done.modelSetDesignVarValue("Speed", 1.0)
    with pytest.raises(TavrinError, match="Model is not computed") as info:
        done.modelGetObjectiveValue("Yield")
    assert info.value.code == 2
    for call, args in [(done.planGetObjectiveValue, ("Yield", -1)), (done.modelOptimize, (-1, 10)),
                       (done.modelGetObjectiveBestResult, ("Yield", 2**32))]:
        with pytest.raises(OverflowError):
            call(*args)
    with pytest.raises(TypeError):
        done.planGetDesignVar(1.5)


def test_plan_types_constants_and_flags():
    assert (int(PlanType.RechschafnerPlan), int(PlanType.BoxBehnkenPlan)) == (1, 2)
    assert tavrin.FILE_CURRENT_VERSION == CTavrin.FILE_CURRENT_VERSION == 1
    assert tavrin.BestResultCount == CTavrin.BestResultCount == 5
    assert type(CTavrin(7).planGetType()) is int and CTavrin(7).planGetType() == 7
    assert isinstance(CTavrin(2).planGetType(), PlanType) and CTavrin(2).planGetType() == PlanType.BoxBehnkenPlan
    s = reference_study()
    assert (s.planIsComputed(), s.modelIsComputed(), s.modelIsOptimized()) == (True, True, False)
    assert s.planSetType(PlanType.RechschafnerPlan) is None
    assert (s.planIsComputed(), s.modelIsComputed()) == (False, False)
    s.planSetType(9)
    assert s.planGetType() == 9 and s.planGetDesignVarCount() == 2 and s.planGetObjectiveCount() == 1


def test_non_ascii_names_round_trip(tmp_path):
    s = make_study(PlanType.BoxBehnkenPlan, [("Temperatur °C", 20, 80), ("压力", 1, 3)], ["Ausbeute_%", "收率"])
    assert s.planGetDesignVar(0) == ("Temperatur °C", 20.0, 80.0)
    assert (s.planGetDesignVar("压力"), s.planGetObjective(1)) == ((1.0, 3.0), "收率")
    assert s.planGetObjective("Ausbeute_%") is None
    assert s.planGetDesignVarValue("压力", "收率", 1) == 3.0
    # The plan file separates fields by white space, so its names carry none.
    t = make_study(PlanType.BoxBehnkenPlan, [("Temperatur_°C", 20, 80), ("压力", 1, 3)], ["收率"])
    t.set_objective_values("收率", range(1, 10))
    t.modelCompute()
    t.Save(tmp_path / "names.plan")
    loaded = CTavrin(PlanType.BoxBehnkenPlan)
    loaded.Load(tmp_path / "names.plan")
    assert (loaded.planGetDesignVar(0)[0], loaded.planGetDesignVar(1)[0], loaded.planGetObjective(0)) == (
        "Temperatur_°C", "压力", "收率")


def test_copies_are_independent():
    source = reference_study()
    source.modelSetObjectiveLimits("Yield", 1, 0, 0)
    source.modelSetDesignVarLimits("Speed", 0, 10)
    source.modelSetDesignVarLimits("Feed", 100, 200)
    source.modelOptimize(0, 256)
    best = source.modelGetDesignVarBestResult("Speed", 1)
    shallow, deep, assigned = copy.copy(source), copy.deepcopy(source), CTavrin(1)
    assigned.assign(source)
    source.planSetType(PlanType.BoxBehnkenPlan)
    source.planAddDesignVar("Extra", 0, 1)
    del source
    for c in (shallow, deep, assigned):
        assert c.modelIsOptimized() and c.planGetDesignVarCount() == 2
        assert c.modelGetDesignVarBestResult("Speed", 1) == best
    shallow.planSetObjectiveValue("Yield", 1, -1.0)
    assert (shallow.modelIsComputed(), deep.modelIsComputed()) == (False, True)
    assert deep.planGetObjectiveValue("Yield", 1) == 69.5


def test_conveniences():
    s = make_study(PlanType.BoxBehnkenPlan, [("a", 0, 1), ("b", -4, 4)], ["y"], compute=False)
    for call in (lambda: s.experiment_table("y"), lambda: s.set_objective_values("y", [])):
        with pytest.raises(TavrinError) as info:
            call()
        assert info.value.code == 1
    s.planCompute()
    table = s.experiment_table("y")
    assert table == [[s.planGetDesignVarValue(v, "y", k) for v in ("a", "b")] for k in range(1, 10)]
    assert sorted({row[1] for row in table}) == [-4.0, 0.0, 4.0]
    with pytest.raises(ValueError, match="expected 9 values"):
        s.set_objective_values("y", [1.0] * 8)
    with pytest.raises(TavrinError) as info:
        s.set_objective_values("z", [1.0] * 9)
    assert info.value.code == 5
    s.set_objective_values("y", [0.1 * k for k in range(9)])
    assert s.planGetObjectiveValue("y", 2) == 0.10000000149011612
    with pytest.raises(TavrinError, match=r"planGetDesignVarValue\(\). Variable is not found"):
        s.experiment_table("nope")


def test_example_draws_its_plot(tmp_path):
    script = os.path.join(os.path.dirname(__file__), "..", "examples", "study.py")
    out = subprocess.run([sys.executable, script, str(tmp_path / "study.png")], capture_output=True, text=True,
                         check=True).stdout
    assert out.count("best point") == tavrin.BestResultCount
    assert (tmp_path / "study.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

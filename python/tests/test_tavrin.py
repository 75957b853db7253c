import copy

import pytest

from tavrin import CTavrin, PlanType, TavrinError

BB, RS = PlanType.BoxBehnkenPlan, PlanType.RechschafnerPlan


def study(plan, variables, objectives):  # objectives: {name: f(row) that measures it, or None}
    s = CTavrin(plan)
    for v in variables:
        s.planAddDesignVar(*v)
    for name in objectives:
        s.planAddObjective(name)
    s.planCompute()
    if all(objectives.values()):
        for name, f in objectives.items():
            s.set_objective_values(name, [f(row) for row in s.experiment_table(name)])
        s.modelCompute()
    return s


def speed_feed(objective="Yield", speed="Speed", feed="Feed"):  # a fitted Box-Behnken study of 9 runs
    return study(BB, [(speed, 0, 10), (feed, 100, 200)], {objective: lambda r: r[0] * (10 - r[0]) + 0.1 * r[1]})


def predict(s, objective, names, point):
    for name, value in zip(names, point):
        s.modelSetDesignVarValue(name, value)
    s.modelCompute()
    return s.modelGetObjectiveValue(objective)


@pytest.mark.parametrize("plan, n, runs", [(RS, 4, 15), (1, 5, 21), (BB, 3, 13)])
def test_quadratic_is_recovered_and_optimized_within_the_constraint(plan, n, runs):
    names, ranges = [f"x{i}" for i in range(n)], [(0.3 * i - 1.1, 0.3 * i + 2.6) for i in range(n)]
    y = lambda p: 50 + sum((i + 1) * v - 0.5 * v * v for i, v in enumerate(p)) + 0.25 * p[0] * p[-1]  # noqa: E731
    s = study(plan, [(x, *r) for x, r in zip(names, ranges)], {"y": y, "c": lambda row: row[0]})
    assert s.planGetExperimentCount() == runs
    point = [0.3 * i - 0.4 for i in range(n)]
    assert predict(s, "y", names, point) == pytest.approx(y(point), rel=1e-5)
    assert s.modelGetObjectiveValue("c") == pytest.approx(point[0], abs=1e-5)
    s.modelSetObjectiveLimits("y", 1.0, 0.0, 0.0)
    s.modelSetObjectiveLimits("c", 0.0, -0.5, 0.5)  # keeps x0 within -0.5..0.5
    for x, r in zip(names, ranges):
        s.modelSetDesignVarLimits(x, *r)
    s.modelOptimize(0, 1024)
    slots = range(1, CTavrin.BestResultCount + 1)
    best = [s.modelGetObjectiveBestResult("y", k) for k in slots]
    assert best == sorted(best, reverse=True)
    assert all(-0.5 - 1e-6 <= s.modelGetObjectiveBestResult("c", k) <= 0.5 + 1e-6 for k in slots)
    assert predict(s, "y", names, [s.modelGetDesignVarBestResult(x, 1) for x in names]) == pytest.approx(best[0])


ERRORS = [  # study, arguments, code, message (which names the operation)
    ("fresh", (), 1, "Tavrin Error. planGetExperimentCount(). Plan is not computed."),
    ("plan", ("x.plan",), 2, "Tavrin Error. Save(). Model is not computed."),
    ("done", ("Speed", 1), 3, "Tavrin Error. modelGetDesignVarBestResult(). Model is not optimized."),
    ("done", ("nope",), 5, "Tavrin Error. planGetObjective(). Variable is not found."),
    ("done", (-1,), 5, "Tavrin error. planGetDesignVar(). Variable is not found."),
    ("fresh", (), 6, "Tavrin Error. planCompute(). MapDesignVars size error."),
    ("bare", (), 7, "Tavrin Error. planCompute(). MapObjectives size error."),
    ("done", ("Yield", 10, 1.0), 11, "Tavrin Error. planSetObjectiveValue(). Index too large."),
    ("done", ("T", 0, 1), 12, "Tavrin error. planAddDesignVar(). Can not Add variable. Plan has been computed."),
    ("done", ("x.plan", 2), 20, "Tavrin Error. Save(). File version is wrong."),
    ("fresh", ("missing.plan",), 21, "Tavrin Error. Load(). Can not open file to load."),
    ("fresh", ("bad.plan",), 21, "Tavrin Error. Load(). Can not load from file.")]  # after reading version 7


@pytest.mark.parametrize("state, args, code, message", ERRORS)
def test_errors_carry_code_and_exact_message(tmp_path, monkeypatch, state, args, code, message):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "bad.plan").write_text("7\t//version\n2\n")
    s = {"fresh": CTavrin(BB), "bare": CTavrin(BB), "plan": study(BB, [("a", 0, 1), ("b", 0, 1)], {"y": None}),
         "done": speed_feed()}[state]
    if state == "bare":
        s.planAddDesignVar("a", 0, 1)
    with pytest.raises(TavrinError) as info:
        getattr(s, message.split(". ")[1][:-2])(*args)
    assert (info.value.code, info.value.message, str(info.value)) == (code, message, message)
    assert info.value.version == (7 if args == ("bad.plan",) else None)


@pytest.mark.parametrize("operation, args", [("planGetObjectiveValue", ("Yield", -1)), ("modelOptimize", (-1, 10)),
                                             ("modelGetObjectiveBestResult", ("Yield", 2**32))])
def test_unsigned_out_of_range_raises_overflow_error(operation, args):
    with pytest.raises(OverflowError):
        getattr(speed_feed(), operation)(*args)


def test_non_ascii_names_in_memory():
    s = study(BB, [("Temperatur °C", 20, 80), ("压力", 1, 3)], {"Ausbeute %": None, "收率": None})
    assert (s.planGetDesignVar(0), s.planGetDesignVar("压力")) == (("Temperatur °C", 20.0, 80.0), (1.0, 3.0))
    assert (s.planGetObjective(1), s.planGetObjective("Ausbeute %")) == ("收率", None)
    assert s.planGetDesignVarValue("压力", "收率", 1) == 3.0


def test_save_and_load_round_trip_with_non_ascii_names(tmp_path):
    s, names = speed_feed("收率", "Temperatur_°C", "压力"), ("Temperatur_°C", "压力")  # no blanks in file names
    s.Save(tmp_path / "s.plan")
    assert (tmp_path / "s.plan").read_text().splitlines()[:3] == [
        "1\t//Tavrin File Version", "//", "2\t//Plan Type (RechschafnerPlan = 1, BoxBehnkenPlan = 2)"]
    loaded = CTavrin(RS)
    assert loaded.Load(str(tmp_path / "s.plan")) == CTavrin.FILE_CURRENT_VERSION == 1
    assert (loaded.planGetType(), loaded.modelIsComputed(), loaded.planGetObjective(0)) == (BB, True, "收率")
    assert [loaded.planGetDesignVar(i) for i in (0, 1)] == [(n, *s.planGetDesignVar(n)) for n in names]
    assert all(loaded.planGetObjectiveValue("收率", k) == s.planGetObjectiveValue("收率", k) for k in range(1, 10))
    assert predict(loaded, "收率", names, (2.5, 175)) == predict(s, "收率", names, (2.5, 175))


def test_copies_are_independent():
    source = speed_feed()
    source.modelSetDesignVarLimits("Speed", 0, 10)
    source.modelSetDesignVarLimits("Feed", 100, 200)
    source.modelSetObjectiveLimits("Yield", 1, 0, 0)
    source.modelOptimize(0, 256)
    shallow, deep, best = copy.copy(source), copy.deepcopy(source), source.modelGetDesignVarBestResult("Speed", 1)
    source.planSetType(RS)  # resets the source only
    del source
    for c in (shallow, deep):
        assert c.modelIsOptimized() and c.planGetType() == BB and c.modelGetDesignVarBestResult("Speed", 1) == best
    value = deep.planGetObjectiveValue("Yield", 1)
    shallow.planSetObjectiveValue("Yield", 1, value + 1)
    assert not shallow.modelIsComputed() and deep.modelIsComputed() and deep.planGetObjectiveValue("Yield", 1) == value


def test_experiment_table_and_set_objective_values():
    s = study(BB, [("a", 0, 1), ("b", -4, 4)], {"y": None})
    assert s.experiment_table("y") == [[s.planGetDesignVarValue(v, "y", k) for v in ("a", "b")] for k in range(1, 10)]
    with pytest.raises(ValueError, match="expected 9 values"):
        s.set_objective_values("y", [1.0] * 8)
    s.set_objective_values("y", [0.25 * k for k in range(9)])
    assert [s.planGetObjectiveValue("y", k) for k in range(1, 10)] == [0.25 * k for k in range(9)]

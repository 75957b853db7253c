"""CTavrin through Python: results, errors, copies, bad input and unicode."""
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


def speed_feed(y="Yield", speed="Speed", feed="Feed"):  # a fitted Box-Behnken study of 9 runs
    return study(BB, [(speed, 0, 10), (feed, 100, 200)], {y: lambda r: r[0] * (10 - r[0]) + r[1] / 10})


@pytest.mark.parametrize("plan, n, runs", [(RS, 4, 15), (1, 5, 21)])
def test_quadratic_is_recovered_and_best_results_are_ordered(plan, n, runs):
    names, ranges = [f"x{i}" for i in range(n)], [(0.3 * i - 1.1, 0.3 * i + 2.6) for i in range(n)]
    y = lambda p: 50 + sum((i + 1) * v - v * v / 2 for i, v in enumerate(p)) + p[0] * p[-1] / 4  # noqa: E731
    s = study(plan, [(x, *r) for x, r in zip(names, ranges)], {"y": y})
    assert s.planGetExperimentCount() == runs
    point = [0.3 * i - 0.4 for i in range(n)]
    for x, v in zip(names, point):
        s.modelSetDesignVarValue(x, v)
    s.modelCompute()
    assert s.modelGetObjectiveValue("y") == pytest.approx(y(point), rel=1e-5)
    for x, r in zip(names, ranges):
        s.modelSetDesignVarLimits(x, *r)
    s.modelSetObjectiveLimits("y", 1.0, 0.0, 0.0)
    s.modelOptimize(0, 1024)
    best = [s.modelGetObjectiveBestResult("y", k) for k in range(1, CTavrin.BestResultCount + 1)]
    assert best == sorted(best, reverse=True)


ERRORS = [  # study, arguments, code, message (which names the operation)
    ("fresh", (), 1, "Tavrin Error. planGetExperimentCount(). Plan is not computed."),
    ("done", (-1,), 5, "Tavrin error. planGetDesignVar(). Variable is not found."),
    ("fresh", ("bad.plan",), 21, "Tavrin Error. Load(). Can not load from file.")]  # after reading version 7


@pytest.mark.parametrize("state, args, code, message", ERRORS)
def test_errors_carry_code_and_exact_message(tmp_path, monkeypatch, state, args, code, message):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "bad.plan").write_text("7\t//version\n2\n")
    s = speed_feed() if state == "done" else CTavrin(BB)
    with pytest.raises(TavrinError) as info:
        getattr(s, message.split(". ")[1][:-2])(*args)
    assert (info.value.code, info.value.message, str(info.value)) == (code, message, message)
    assert info.value.version == (7 if args == ("bad.plan",) else None)


def test_copies_are_independent():
    source = speed_feed()
    shallow, deep, value = copy.copy(source), copy.deepcopy(source), source.planGetObjectiveValue("Yield", 1)
    source.planSetType(RS)  # resets the source only
    del source
    shallow.planSetObjectiveValue("Yield", 1, value + 1)
    assert (shallow.planGetType(), shallow.modelIsComputed(), deep.modelIsComputed()) == (BB, False, True)
    assert deep.planGetObjectiveValue("Yield", 1) == value


def test_experiment_table_and_set_objective_values_check_the_count():
    s = study(BB, [("a", 0.1, 0.7), ("b", -4, 4)], {"y": None})
    assert s.experiment_table("y") == [[s.planGetDesignVarValue(v, "y", k) for v in "ab"] for k in range(1, 10)]
    with pytest.raises(ValueError, match="expected 9 values"):
        s.set_objective_values("y", [1.0] * 8)


# Bad input raises the exception Python users expect: one call per kind of
# argument (a first or later name, a list beside a name).
NUL_CALLS = [
    ("planAddDesignVar", ("a\x00b", 0.0, 1.0)),
    ("planGetDesignVarValue", ("Speed", "Yield\x00x", 1)),
    ("modelSetDesignVarLimits", ("Speed\x00", 0.1, 0.7)),
    ("set_objective_values", ("Yield\x00", [1.0] * 9)),
]


@pytest.mark.parametrize("method, args", NUL_CALLS, ids=[f"{m}-{i}" for i, (m, _) in enumerate(NUL_CALLS)])
def test_nul_in_a_name_raises_value_error(method, args):
    s = CTavrin(2) if method == "planAddDesignVar" else speed_feed()
    with pytest.raises(ValueError, match="embedded null character"):
        getattr(s, method)(*args)


def test_nul_in_a_path_raises_and_writes_nothing(tmp_path):
    s = speed_feed()
    precious = tmp_path / "precious.tvr"
    precious.write_bytes(b"keep me")
    for path in (f"{precious}\x00.new", f"{precious}\x00.new".encode()):
        with pytest.raises(ValueError, match="embedded null byte"):
            s.Save(path)
        with pytest.raises(ValueError, match="embedded null byte"):
            s.Load(path)
    assert precious.read_bytes() == b"keep me"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["precious.tvr"]


def test_unicode_names_and_paths_round_trip(tmp_path):
    names = ("Température_°C", "压力", "Zeit⏱")
    s = study(BB, [(name, -0.3, 0.7) for name in names], {"Ausbeute✓": lambda r: 0.1 + 0.3 * r[0] - r[1] * r[2]})
    path = tmp_path / "études" / "plan ü.tvr"
    path.parent.mkdir()
    s.Save(path)
    loaded = CTavrin(RS)
    assert loaded.Load(path) == CTavrin.FILE_CURRENT_VERSION == 1
    assert (loaded.planGetType(), loaded.modelIsComputed(), loaded.planGetObjective(0)) == (BB, True, "Ausbeute✓")
    assert [loaded.planGetDesignVar(i) for i in range(3)] == [(n, *s.planGetDesignVar(n)) for n in names]
    assert all(loaded.planGetObjectiveValue("Ausbeute✓", k) == s.planGetObjectiveValue("Ausbeute✓", k)
               for k in range(1, 14))

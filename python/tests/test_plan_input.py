"""Bad input to CTavrin raises the exception Python users expect."""

import pytest

import tavrin
from tavrin import CTavrin, PlanType


def computed():
    s = CTavrin(PlanType.BoxBehnkenPlan)
    s.planAddDesignVar("Speed", 0.1, 0.7)
    s.planAddDesignVar("Feed", 1e7 + 0.1, 1e7 + 0.3)
    s.planAddObjective("Yield")
    s.planCompute()
    return s


# One call per kind of argument: a first or later name, a list beside a name.
NUL_CALLS = [
    ("planAddDesignVar", ("a\x00b", 0.0, 1.0)),
    ("planGetDesignVarValue", ("Speed", "Yield\x00x", 1)),
    ("modelSetDesignVarLimits", ("Speed\x00", 0.1, 0.7)),
    ("set_objective_values", ("Yield\x00", [1.0] * 9)),
]


@pytest.mark.parametrize("method, args", NUL_CALLS, ids=[f"{m}-{i}" for i, (m, _) in enumerate(NUL_CALLS)])
def test_nul_in_a_name_raises_value_error(method, args):
    s = computed() if method != "planAddDesignVar" and method != "planAddObjective" else CTavrin(2)
    with pytest.raises(ValueError, match="embedded null character"):
        getattr(s, method)(*args)


def test_nul_in_a_path_raises_and_writes_nothing(tmp_path):
    s = computed()
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
    s = CTavrin(PlanType.BoxBehnkenPlan)
    names = ("Température_°C", "压力", "Zeit⏱")
    for name in names:
        s.planAddDesignVar(name, -0.3, 0.7)
    s.planAddObjective("Ausbeute✓")
    s.planCompute()
    s.set_objective_values("Ausbeute✓", [0.1 * k + 0.05 * k * k for k in range(13)])
    s.modelCompute()
    path = tmp_path / "études" / "plan ü.tvr"
    path.parent.mkdir()
    s.Save(path)
    loaded = CTavrin(PlanType.RechschafnerPlan)
    assert loaded.Load(path) == CTavrin.FILE_CURRENT_VERSION == 1
    assert (loaded.planGetType(), loaded.modelIsComputed(), loaded.planGetObjective(0)) == (
        PlanType.BoxBehnkenPlan, True, "Ausbeute✓")
    assert [loaded.planGetDesignVar(i) for i in range(3)] == [(n, *s.planGetDesignVar(n)) for n in names]
    assert all(loaded.planGetObjectiveValue("Ausbeute✓", k) == s.planGetObjectiveValue("Ausbeute✓", k)
               for k in range(1, 14))


def test_unknown_names_raise_tavrin_error_with_the_library_code():
    s = computed()
    with pytest.raises(tavrin.TavrinError) as info:
        s.planGetObjectiveValue("Nope", 1)
    assert isinstance(info.value, tavrin.Error) and info.value.code != 0

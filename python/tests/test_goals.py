"""Goals, constraints and search options as the library's own classes, the
spellings every front end shares, and tavrin's errors (with the field at
fault) for every bad argument."""

import math

import pytest

import tavrin
from tavrin import Constraint, Goal, GoalKind, SearchOptions

from test_study import RANGES, measured_study


# The library's table of spellings is goals_test's; Python passes text and kinds through.
def test_goals_are_the_library_classes():
    assert Goal("y", "weighted-sum").kind == GoalKind.WEIGHTED_SUM and GoalKind.parse("target") == GoalKind.TARGET
    goal = Goal.maximize("y", 0.3, 0.9, importance=2.5)
    assert (goal.kind, goal.low, goal.high, goal.importance) == (GoalKind.MAXIMIZE, 0.3, 0.9, 2.5)
    assert math.isnan(Goal.maximize("y").high) and Goal.maximize("y") == Goal("y")
    assert Goal.minimize("y", shape=2.0).shape == 2.0 and Goal.weighted_sum("y", -0.7).weight == -0.7
    assert Constraint("z", None, 1.62) == Constraint("z", -math.inf, 1.62)
    assert SearchOptions(points=4096).points == 4096


def test_bad_arguments_raise_tavrins_errors_naming_the_field(tmp_path):
    s = measured_study()
    folder = tmp_path / "a folder.json"
    folder.mkdir()
    opt = s.optimize({"y": ("maximize", 3.0, 6.0)}, points=1024)
    cases = [
        ("scalar constraint", lambda: s.optimize({"y": "maximize"}, {"z": 1.62}), tavrin.InvalidArgument,
         "constraints[0]"),
        ("text bound", lambda: s.optimize({"y": ("maximize", "3", 6.0)}), tavrin.InvalidArgument, "low"),
        ("text result", lambda: s.set_result(1, "y", "80.1"), tavrin.InvalidArgument, "value"),
        ("text run id", lambda: s.set_result("one", "y", 80.1), tavrin.InvalidArgument, ""),
        ("unknown kind", lambda: Goal("y", "maximise"), tavrin.InvalidArgument, "kind"),
        # The dict's second goal is goals[1]: Python keeps the order given.
        ("unknown response", lambda: s.optimize({"y": "maximize", "w": "minimize"}), tavrin.UnknownName,
         "goals[1].response"),
        ("region of one number", lambda: s.optimize({"y": "maximize"}, region={"A": 0.3}), tavrin.InvalidArgument,
         "region.A"),
        ("negative points", lambda: s.optimize({"y": "maximize"}, points=-3), tavrin.InvalidArgument,
         "search.points"),
        ("seed of 2**64", lambda: tavrin.Study("box-behnken", RANGES, ["y"], seed=2**64), tavrin.InvalidArgument,
         "seed"),
        ("float seed", lambda: opt.robustness(replicates=2, seed=2.0), tavrin.InvalidArgument, "seed"),
    ]
    for what, call, error, field in cases:
        with pytest.raises(error) as info:
            call()
        assert info.value.field == field, (what, str(info.value))
    with pytest.raises(tavrin.FileError) as info:
        tavrin.Study.load(folder)
    assert info.value.filename == str(folder) and "a folder" in str(info.value)

"""Studies of any design from Python: each constructor passes its options,
refusals come back as tavrin's errors naming the option, and augment and
evaluate take their requests. What each recipe makes is held_designs_test's."""
import math

import pytest

import tavrin

FACTORS = {"A": (0.1, 0.7), "B": (10, 30), "C": (1.5, 3.5)}


def test_constructors_pass_their_options():
    ccd = tavrin.Study.central_composite(FACTORS, "Y", alpha="orthogonal", blocks=3, center_runs=6, seed=2)
    assert (ccd.kind, ccd.run_count, sorted(set(ccd.blocks))) == ("ccd", 20, [1, 2, 3])
    half = tavrin.Study.factorial({**FACTORS, "D": (0, 1)}, "Y", fraction=1, center_runs=2, seed=2)
    assert half.run_count == 10 and half.origins.count("center") == 2
    optimal = tavrin.Study.optimal(FACTORS, "Y", runs=12, model="A B C A:B A^2", criterion="i",
                                   constraints=["A + 0.01*B <= 0.9"], seed=4)
    assert (optimal.natural[:, 0] + 0.01 * optimal.natural[:, 1] <= 0.9 + 1e-12).all()
    for make, field in [(lambda: tavrin.Study.central_composite(FACTORS, "Y", alpha="steep"), "alpha"),
                        (lambda: tavrin.Study.optimal(FACTORS, "Y", runs=4), "runs")]:
        with pytest.raises(tavrin.InvalidArgument) as error:
            make()
        assert error.value.field == field or field in str(error.value)


def test_augment_takes_the_request_and_evaluate_reports():
    study = tavrin.Study.factorial(FACTORS, "Y", center_runs=3, seed=5)
    for run in study.run_ids:
        study.set_result(int(run), "Y", 0.1 * run + 0.37 / run)
    study.augment(6, criterion="i", model="quadratic", seed=8)
    assert study.origins[11:] == ["augmented"] * 6 and set(study.blocks[11:]) == {2}
    assert all(math.isnan(study.result(r, "Y")) for r in range(12, 18))
    assert study.recipe["augmentations"][0]["seed"] == 8
    evaluation = study.evaluate("quadratic")
    assert evaluation["runs"] == 17 and len(evaluation["vif"]) == 10

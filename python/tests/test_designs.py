"""Studies of any design from Python: the constructors, refusals as
tavrin's own errors naming the option, augmentation and the design
evaluation."""
import math

import numpy as np
import pytest

import tavrin
from tavrin import InvalidArgument

FACTORS = {"A": (0.1, 0.7), "B": (10, 30), "C": (1.5, 3.5)}


def test_constructors_hold_the_published_designs():
    ccd = tavrin.Study.central_composite(FACTORS, "Y", alpha="orthogonal", blocks=3, center_runs=6, seed=2)
    assert ccd.kind == "ccd" and ccd.run_count == 20
    assert sorted(set(ccd.blocks)) == [1, 2, 3]
    assert np.abs(ccd.coded).max() == pytest.approx(1.6330, abs=5e-5)
    assert ccd.recipe["alpha"] == "orthogonal"
    half = tavrin.Study.factorial({**FACTORS, "D": (0, 1)}, "Y", fraction=1, center_runs=2, seed=2)
    assert half.run_count == 10 and half.origins.count("center") == 2
    optimal = tavrin.Study.optimal(FACTORS, "Y", runs=12, model="A B C A:B A^2", criterion="i",
                                   constraints=["A + 0.01*B <= 0.9"], seed=4)
    assert (optimal.natural[:, 0] + 0.01 * optimal.natural[:, 1] <= 0.9 + 1e-12).all()


# Which recipes a kind refuses is held_designs_test's; Python passes the options and the field back.
@pytest.mark.parametrize("make, field", [
    (lambda: tavrin.Study.central_composite(FACTORS, "Y", alpha="steep"), "alpha"),
    (lambda: tavrin.Study.optimal(FACTORS, "Y", runs=4), "runs"),
])
def test_refusals_are_tavrins_errors_naming_the_option(make, field):
    with pytest.raises(InvalidArgument) as error:
        make()
    assert error.value.field == field or field in str(error.value)


def test_augment_takes_the_request_and_evaluate_reports():
    study = tavrin.Study.factorial(FACTORS, "Y", center_runs=3, seed=5)
    for run in study.run_ids:
        study.set_result(int(run), "Y", 0.1 * run + 0.37 / run)
    # What augment keeps is held_designs_test's; Python passes the request and shows the runs.
    study.augment(6, criterion="i", model="quadratic", seed=8)
    assert study.run_count == 17
    assert study.origins[11:] == ["augmented"] * 6 and set(study.blocks[11:]) == {2}
    assert all(math.isnan(study.result(r, "Y")) for r in range(12, 18))
    assert study.recipe["augmentations"][0]["seed"] == 8
    evaluation = study.evaluate("quadratic")
    assert evaluation["runs"] == 17 and len(evaluation["vif"]) == 10

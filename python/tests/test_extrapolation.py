"""Predictions beyond the span the runs cover warn, as the command line does."""

import warnings

import numpy as np
import pytest

import tavrin


@pytest.fixture(scope="module")
def study():
    s = tavrin.Study("box-behnken", {"A": (0.1, 0.7), "B": (150.0, 210.0)}, ["y"], seed=3, extra_center_runs=2)
    x = s.natural
    s.set_results({"run_id": s.run_ids, "y": 1.3 + x[:, 0] - 2.1 * x[:, 0] ** 2 + 0.01 * x[:, 1] + 0.03 * np.sin(np.arange(len(x)))})
    return s


@pytest.mark.parametrize("call", [
    lambda s, X: s.predict(X),
    lambda s, X: s.fit().predict_intervals(X, "y"),
])
def test_points_beyond_the_runs_warn_naming_them(study, call):
    X = np.array([[0.1, 150.0], [0.71, 180.0], [0.4, 180.0], [0.4, 149.9]])
    with pytest.warns(tavrin.ExtrapolationWarning, match=r"points 2, 4$"):
        call(study, X)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        call(study, X[[0, 2]])


def test_imported_data_extrapolates_beyond_its_runs_not_its_coding():
    # Axial runs at 77.93 and 92.07 reach beyond the coding 80..90.
    time = [80, 90, 80, 90, 85, 85, 85, 92.07, 77.93, 85, 85]
    temperature = [170, 170, 180, 180, 175, 175, 175, 175, 175, 182.07, 167.93]
    y = [76.5, 77.0, 78.0, 79.5, 79.9, 80.3, 80.0, 78.4, 75.6, 78.5, 77.0]
    s = tavrin.Study.from_frame({"Time": time, "Temperature": temperature, "Yield": y},
                                factors={"Time": (80, 90), "Temperature": None}, responses=["Yield"])
    with pytest.warns(tavrin.ExtrapolationWarning, match=r"points 2, 4$"):
        s.predict(np.array([[92.07, 182.07], [92.08, 175.0], [77.93, 167.93], [85.0, 167.92]]))

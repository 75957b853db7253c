"""Study.set_model keeps a chosen model that fit() and predictions use, and
the study file carries it; checked against statsmodels on the same rows."""

import numpy as np
import pytest
import statsmodels.api as sm

import tavrin
from test_study import measured_study


def reduced_ols(s):
    x = s.coded
    cols = np.column_stack([np.ones(len(x)), x[:, 0], x[:, 1], x[:, 2], x[:, 0] ** 2, x[:, 0] * x[:, 2]])
    return sm.OLS(s.results[:, 0], cols).fit()


def test_set_model_drives_predictions_and_survives_the_file():
    s = measured_study()
    s.set_model("y", model="A B C A^2 A:C")
    assert s.model("y")["terms"] == "A B C A^2 A:C"
    assert s.model("y")["power"] is None
    assert s.model("z")["terms"] == "quadratic"
    ols = reduced_ols(s)
    coded = np.array([[0.3, -0.7, 0.1], [-0.45, 0.2, 0.9]])
    lows = np.array([0.1, 150.0, -0.35])
    highs = np.array([0.7, 210.0, 0.05])
    natural = lows + (coded + 1.0) * (highs - lows) / 2.0
    design = np.column_stack([np.ones(2), coded[:, 0], coded[:, 1], coded[:, 2], coded[:, 0] ** 2,
                              coded[:, 0] * coded[:, 2]])
    np.testing.assert_allclose(s.predict(natural)[:, 0], ols.predict(design), rtol=1e-10)

    loaded = tavrin.Study.from_json(s.to_json())
    assert loaded.model("y") == s.model("y")
    np.testing.assert_array_equal(loaded.predict(natural), s.predict(natural))


def test_a_refused_model_changes_nothing():
    s = measured_study()
    before = s.to_json()
    with pytest.raises(tavrin.UnknownName):
        s.set_model("y", model="A B D")
    with pytest.raises(tavrin.InvalidArgument):
        s.set_model("y", transform="cube")
    assert s.to_json() == before

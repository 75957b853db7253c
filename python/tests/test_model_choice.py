"""Study.set_model keeps a chosen model that fit(), predictions, views and paths use; checked against statsmodels
on the same rows."""

import numpy as np
import pytest
import statsmodels.api as sm

import tavrin
from test_study import measured_study


def columns(c):
    """The columns of the model "A B C A^2 A:C" in coded units."""
    return np.column_stack([np.ones(len(c)), c[:, 0], c[:, 1], c[:, 2], c[:, 0] ** 2, c[:, 0] * c[:, 2]])


def test_set_model_drives_predictions_and_the_residual_view():
    s = measured_study()
    s.set_model("y", model="A B C A^2 A:C")
    assert (s.model("y")["terms"], s.model("y")["power"], s.model("z")["terms"]) == ("A B C A^2 A:C", None, "quadratic")
    ols = sm.OLS(s.results[:, 0], columns(s.coded)).fit()
    coded = np.array([[0.3, -0.7, 0.1], [-0.45, 0.2, 0.9]])
    lows, highs = np.array([0.1, 150.0, -0.35]), np.array([0.7, 210.0, 0.05])
    natural = lows + (coded + 1.0) * (highs - lows) / 2.0
    np.testing.assert_allclose(s.predict(natural)[:, 0], ols.predict(columns(coded)), rtol=1e-10)
    view = tavrin._study.views_residuals(s._core, "y")
    by_run = np.argsort(view["run_ids"])
    np.testing.assert_allclose(np.asarray(view["residual"])[by_run], ols.resid, rtol=0,
                               atol=1e-12 * np.abs(s.results[:, 0]).max())


def test_canonical_analysis_of_a_log_model_predicts_in_the_response_units():
    s = measured_study()
    s.set_model("z", transform="log")
    x = s.coded
    cols = [np.ones(len(x))] + [x[:, i] for i in range(3)] + [x[:, i] ** 2 for i in range(3)]
    cols += [x[:, i] * x[:, k] for i in range(3) for k in range(i + 1, 3)]
    b = sm.OLS(np.log(s.results[:, 1]), np.column_stack(cols)).fit().params
    # y = b0 + x'g + x'Bx: squares on B's diagonal, half of each product off it.
    g, B = b[1:4], np.diag(b[4:7])
    upper = np.triu_indices(3, 1)
    B[upper] = B.T[upper] = b[7:10] / 2
    stationary = np.linalg.solve(B, -g / 2)
    canonical = s.report("z").canonical
    assert canonical.power == 0.0
    np.testing.assert_allclose(canonical.stationary_coded, stationary, rtol=1e-8)
    logged = b[0] + g @ stationary + stationary @ B @ stationary
    assert canonical.predicted_at_stationary == pytest.approx(np.exp(logged), rel=1e-10)


def test_paths_follow_the_saved_model_unless_one_is_given():
    s = measured_study()
    s.set_model("z", model="A B C A^2 A:C", transform="log")
    ridge = s.ridge_path("z", radius=1.3, steps=4)
    assert ridge["model"] == "A B C A^2 A:C" and ridge["transform_power"] == 0.0
    np.testing.assert_allclose(np.linalg.norm(ridge["coded"], axis=1), np.linspace(0, 1.3, 5), atol=1e-9)
    # Predictions in the response's units: exp of the log model's.
    logged = sm.OLS(np.log(s.results[:, 1]), columns(s.coded)).fit()
    np.testing.assert_allclose(ridge["predicted"], np.exp(logged.predict(columns(ridge["coded"]))), rtol=1e-10)
    given = s.ridge_path("z", radius=1.3, steps=4, model="A B C")
    assert given["model"] == "A B C" and given["transform_power"] is None

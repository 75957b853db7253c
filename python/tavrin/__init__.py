"""Tavrin: design of experiments and quadratic response surfaces.

``tavrin.Study`` plans an experiment, takes what was measured, fits one
full quadratic model per response, reports on the fits and finds optima;
``tavrin.plot`` draws them. ``tavrin.CTavrin`` is the exact plan object
under its C++ names.
"""

from tavrin._errors import (
    Error,
    ExtrapolationWarning,
    FileError,
    InvalidArgument,
    MissingFileError,
    ParseError,
    StateError,
    TavrinError,
    UnknownName,
)
from tavrin._plan import BestResultCount, CTavrin, FILE_CURRENT_VERSION, PlanType, __version__
from tavrin.study import (
    Canonical,
    Constraint,
    Factor,
    Fit,
    FitReport,
    Goal,
    GoalKind,
    Optimum,
    Response,
    Robustness,
    SearchOptions,
    Study,
    Verdict,
    meanings,
    supported_factor_counts,
)

__all__ = [
    "__version__",
    "Study",
    "Factor",
    "Response",
    "Goal",
    "GoalKind",
    "Constraint",
    "SearchOptions",
    "Fit",
    "FitReport",
    "Canonical",
    "Optimum",
    "Robustness",
    "supported_factor_counts",
    "Verdict",
    "meanings",
    "CTavrin",
    "PlanType",
    "BestResultCount",
    "FILE_CURRENT_VERSION",
    "Error",
    "ExtrapolationWarning",
    "InvalidArgument",
    "UnknownName",
    "StateError",
    "FileError",
    "MissingFileError",
    "ParseError",
    "TavrinError",
]

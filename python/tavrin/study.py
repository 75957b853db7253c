"""The study layer in Python: plan, results, fit, report and optimum.

Arrays are numpy arrays; tables are pandas DataFrames when pandas is
installed (``as_frame=None``, the default, means "if pandas is there"),
else dicts of numpy arrays. Rows of results are always matched by run id,
never by position.
"""

from __future__ import annotations

import math
import numbers
import os
import warnings
from dataclasses import dataclass
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

from tavrin import _study
from tavrin._errors import ExtrapolationWarning, InvalidArgument, UnknownName

__all__ = [
    "Factor",
    "Response",
    "Goal",
    "GoalKind",
    "Constraint",
    "SearchOptions",
    "Study",
    "Fit",
    "FitReport",
    "Canonical",
    "Optimum",
    "Robustness",
    "supported_factor_counts",
]

RUN_ID = "run_id"
RUN_ORDER = "run_order"


def _pandas(as_frame: Optional[bool]):
    """The pandas module when a table should be a DataFrame, else None."""
    if as_frame is False:
        return None
    try:
        import pandas
    except ImportError:
        if as_frame:
            raise
        return None
    return pandas


def _table(columns: Dict[str, Any], index_name: str, index: Sequence, as_frame: Optional[bool]):
    pd = _pandas(as_frame)
    if pd is None:
        return {index_name: np.asarray(index), **columns}
    return pd.DataFrame(columns, index=pd.Index(index, name=index_name))


def _finite_number(value: Any, what: str, field: str = "") -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise InvalidArgument(f"{what} must be a number, got {type(value).__name__} {value!r}", field=field)
    return float(value)


# ------------------------------------------------------------------ definition


@dataclass(frozen=True)
class Factor:
    """A factor: coded -1 and +1 stand for ``low`` and ``high`` (natural units)."""

    name: str
    low: float
    high: float
    unit: str = ""


@dataclass(frozen=True)
class Response:
    """A measured response, with an optional unit."""

    name: str
    unit: str = ""


def _to_factor(item: Any, name: Optional[str] = None) -> Factor:
    if isinstance(item, Factor):
        return item
    fields = tuple(item) if not isinstance(item, (str, bytes)) else None
    if fields is None:
        raise InvalidArgument(f"a factor is a Factor, (name, low, high[, unit]) or name: (low, high[, unit]); got {item!r}")
    if name is not None:
        fields = (name, *fields)
    if len(fields) not in (3, 4) or not isinstance(fields[0], str):
        raise InvalidArgument(f"a factor is (name, low, high[, unit]); got {fields!r}")
    unit = fields[3] if len(fields) == 4 else ""
    if not isinstance(unit, str):
        raise InvalidArgument(f"the unit of factor {fields[0]!r} must be a str, got {unit!r}")
    return Factor(fields[0], _finite_number(fields[1], f"low of factor {fields[0]!r}"),
                  _finite_number(fields[2], f"high of factor {fields[0]!r}"), unit)


def _to_factors(factors: Any) -> List[Factor]:
    if isinstance(factors, Mapping):
        return [_to_factor(v, k) for k, v in factors.items()]
    return [_to_factor(f) for f in factors]


def _to_data_factor(item: Any, name: Optional[str] = None) -> Factor:
    """A factor of existing data: as _to_factor, or a bare name (or None
    for its coding) to code it by the data's minimum and maximum."""
    if name is not None and item is None:
        return Factor(name, math.nan, math.nan)
    if name is None and isinstance(item, str):
        return Factor(item, math.nan, math.nan)
    if name is not None and isinstance(item, str):
        return Factor(name, math.nan, math.nan, item)
    return _to_factor(item, name)


def _cell_text(value: Any) -> str:
    """A cell of a frame as the text a CSV would hold; missing is empty."""
    if value is None or (isinstance(value, (float, np.floating)) and math.isnan(value)):
        return ""
    if isinstance(value, (bool, np.bool_)):
        return str(value)
    if isinstance(value, (numbers.Integral, np.integer)):
        return str(int(value))
    if isinstance(value, (numbers.Real, np.floating)):
        return repr(float(value))
    return str(value)


def _to_response(item: Any) -> Response:
    if isinstance(item, Response):
        return item
    if isinstance(item, str):
        return Response(item)
    fields = tuple(item)
    if len(fields) != 2 or not all(isinstance(f, str) for f in fields):
        raise InvalidArgument(f"a response is a name, a Response or (name, unit); got {item!r}")
    return Response(*fields)


def supported_factor_counts(kind: str) -> List[int]:
    """The factor counts that design ``kind`` ("box-behnken" or "rechtschaffner") supports.

    Raises InvalidArgument for an unknown kind.
    """
    return list(_study.supported_factor_counts(kind))


# ----------------------------------------------------------------------- goals

# The layer's own classes: Goal, Constraint and SearchOptions check what is
# put into them and raise InvalidArgument naming the field; GoalKind is the
# layer's table of kinds (a kind may also be given by the name the JSON API
# takes: "maximize", "minimize", "target", "within", "weightedSum").
Goal = _study.Goal
GoalKind = _study.GoalKind
Constraint = _study.Constraint
SearchOptions = _study.SearchOptions


def _to_goal(response: str, wanted: Any, field: str) -> "Goal":
    if isinstance(wanted, Goal):
        return wanted
    if isinstance(wanted, (str, GoalKind)):
        return Goal(response, wanted)
    if isinstance(wanted, (tuple, list)) and 1 <= len(wanted) <= 4:
        kind, *limits = wanted
        return Goal(response, kind, **dict(zip(("low", "high", "target"), limits)))
    raise InvalidArgument(f"goal of {response!r}: expected a Goal, a kind or (kind, low, high[, target]), "
                          f"got {type(wanted).__name__} {wanted!r}", field=field)


def _to_goals(goals: Any) -> List["Goal"]:
    """Goals as a Goal, a list of them, or {response: Goal | kind | (kind, low, high[, target])}."""
    if goals is None:
        return []
    if isinstance(goals, Goal):
        return [goals]
    if isinstance(goals, Mapping):
        return [_to_goal(response, wanted, f"goals[{k}]") for k, (response, wanted) in enumerate(goals.items())]
    if isinstance(goals, (str, bytes)) or not isinstance(goals, Sequence):
        raise InvalidArgument(f"goals must be a Goal, a list of them or a dict, got {type(goals).__name__} {goals!r}",
                              field="goals")
    return [g if isinstance(g, Goal) else _bad(g, "goal", f"goals[{k}]") for k, g in enumerate(goals)]


def _to_constraints(constraints: Any) -> List["Constraint"]:
    """Constraints as a list of Constraint or {response: (low, high)} (None for an open side)."""
    if constraints is None:
        return []
    if isinstance(constraints, Constraint):
        return [constraints]
    if isinstance(constraints, Mapping):
        out = []
        for k, (response, limits) in enumerate(constraints.items()):
            if isinstance(limits, Constraint):
                out.append(limits)
                continue
            if isinstance(limits, (str, bytes)) or not isinstance(limits, Sequence) or len(limits) != 2:
                raise InvalidArgument(f"constraint on {response!r}: expected (low, high) with None for an open side, "
                                      f"got {type(limits).__name__} {limits!r}", field=f"constraints[{k}]")
            out.append(Constraint(response, *limits))
        return out
    if isinstance(constraints, (str, bytes)) or not isinstance(constraints, Sequence):
        raise InvalidArgument("constraints must be a list of Constraint or a dict {response: (low, high)}, got "
                              f"{type(constraints).__name__} {constraints!r}", field="constraints")
    return [c if isinstance(c, Constraint) else _bad(c, "constraint", f"constraints[{k}]")
            for k, c in enumerate(constraints)]


def _to_region(region: Optional[Mapping[str, Tuple[float, float]]]) -> Dict[str, Tuple[float, float]]:
    """{factor: (low, high)} with both ends numbers."""
    if region is None:
        return {}
    if not isinstance(region, Mapping):
        raise InvalidArgument(f"region must be a dict {{factor: (low, high)}}, got {type(region).__name__} {region!r}",
                              field="region")
    out = {}
    for name, limits in region.items():
        field = f"region.{name}"
        if isinstance(limits, (str, bytes)) or not isinstance(limits, Sequence) or len(limits) != 2:
            raise InvalidArgument(f"search region of {name!r}: expected (low, high), got "
                                  f"{type(limits).__name__} {limits!r}", field=field)
        out[name] = (_finite_number(limits[0], f"search region of {name!r}: low", field),
                     _finite_number(limits[1], f"search region of {name!r}: high", field))
    return out


def _bad(item: Any, what: str, field: str):
    raise InvalidArgument(f"expected a {what.capitalize()}, got {type(item).__name__} {item!r}", field=field)


def _to_sigma(sigma: Optional[Mapping[str, float]]) -> Dict[str, float]:
    if sigma is None:
        return {}
    return {name: _finite_number(value, f"sigma of {name!r}") for name, value in sigma.items()}


# ------------------------------------------------------------------- the study


class Study:
    """A study: its factors and responses, its plan and what has been measured.

    Args:
        kind: "box-behnken" or "rechtschaffner" (case-insensitive).
        factors: Factor objects, (name, low, high[, unit]) tuples, or a dict
            name -> (low, high[, unit]).
        responses: names, Response objects or (name, unit) tuples.
        seed: seed of the execution order (0 <= seed < 2**64); None draws one.
        extra_center_runs: centre runs added after the plan's own runs (0..100).

    Raises:
        InvalidArgument: a bad name, range, factor count or option; the
            message names the item and says what is allowed.
    """

    def __init__(self, kind: str, factors: Any, responses: Any, *, seed: Optional[int] = None,
                 extra_center_runs: int = 0) -> None:
        if not isinstance(kind, str):
            raise InvalidArgument(f"kind must be a str such as 'box-behnken', got {kind!r}")
        if isinstance(responses, str):
            responses = [responses]
        fs = _to_factors(factors)
        rs = [_to_response(r) for r in responses]
        if isinstance(extra_center_runs, bool) or not isinstance(extra_center_runs, numbers.Integral):
            raise InvalidArgument(f"extra_center_runs must be an integer, got {extra_center_runs!r}")
        if not -2**31 <= extra_center_runs < 2**31:
            raise InvalidArgument(f"extra_center_runs must be in 0..100, got {extra_center_runs}")
        self._set(_study.Study(kind, [(f.name, f.low, f.high, f.unit) for f in fs],
                               [(r.name, r.unit) for r in rs], seed, int(extra_center_runs)))

    def _set(self, core: "_study.Study") -> None:
        self._core = core
        self._fit: Optional[Fit] = None

    @classmethod
    def _wrap(cls, core: "_study.Study") -> "Study":
        study = cls.__new__(cls)
        study._set(core)
        return study

    # -------------------------------------------------------------- files

    @classmethod
    def from_frame(cls, data: Any, factors: Any, responses: Any, *, block: Optional[str] = None) -> "Study":
        """A study of existing runs: one row of ``data`` (a DataFrame, or a dict of columns) per run.

        ``factors`` maps each factor's column name to (low, high[, unit]),
        its coding (runs may lie outside it), or to None (or a unit string)
        to code it by the data's minimum and maximum; a list of names or
        Factor objects works too. ``responses`` are names, Response objects
        or (name, unit) tuples. Columns are found by name or as "Name
        [unit]"; rows may repeat settings; an empty response is missing;
        ``block`` names a column of block numbers 1, 2, ... Other columns
        are left out with a warning. factor_spans() tells how far the runs
        reach. InvalidArgument names the row and column of a bad cell.
        """
        pd = _pandas(None)
        if pd is not None and isinstance(data, pd.DataFrame):
            columns = {str(c): data[c].to_numpy() for c in data.columns}
        elif isinstance(data, Mapping):
            columns = {str(k): np.asarray(v, dtype=object).ravel() for k, v in data.items()}
        else:
            raise InvalidArgument(f"data must be a DataFrame or a dict of columns, got {type(data).__name__}")
        if isinstance(responses, str):
            responses = [responses]
        if isinstance(factors, Mapping):
            fs = [_to_data_factor(v, k) for k, v in factors.items()]
        else:
            fs = [_to_data_factor(f) for f in factors]
        rs = [_to_response(r) for r in responses]
        header = list(columns)
        count = len(next(iter(columns.values()))) if columns else 0
        rows = [[_cell_text(columns[name][k]) for name in header] for k in range(count)]
        core, ignored = _study.Study.from_table(header, rows, [(f.name, f.low, f.high, f.unit) for f in fs],
                                                [(r.name, r.unit) for r in rs], block or "")
        if ignored:
            warnings.warn("columns left out (neither a factor, a response nor the block column): "
                          + ", ".join(repr(c) for c in ignored), stacklevel=2)
        return cls._wrap(core)

    @classmethod
    def from_json(cls, text: str, source: str = "study") -> "Study":
        """A study from the text of a study file. ParseError (with line and column) on bad text."""
        return cls._wrap(_study.Study.from_json(text, source))

    def to_json(self) -> str:
        """The study file's text: everything in the study, results in full precision."""
        return self._core.to_json()

    @classmethod
    def load(cls, path: Union[str, os.PathLike]) -> "Study":
        """Reads a study file. MissingFileError (a FileNotFoundError) if absent, ParseError if malformed,
        nested deeper than 32 levels or holding a member the format does not know."""
        return cls._wrap(_study.Study.load(path))

    def save(self, path: Union[str, os.PathLike]) -> None:
        """Writes the study file: a new file renamed over the old one, keeping its mode, through a
        symbolic link to its target. FileError (an OSError) when it cannot be written or is read-only."""
        self._core.save(path)

    @classmethod
    def import_plan_file(cls, path: Union[str, os.PathLike], *, seed: Optional[int] = None,
                         extra_center_runs: int = 0) -> "Study":
        """A study from a CTavrin plan file: its kind, factors and results (6 significant digits).

        ``seed`` and ``extra_center_runs`` are as for Study(). FileError or
        InvalidArgument when the file cannot be read or taken.
        """
        return cls._wrap(_study.Study.import_plan_file(path, seed, extra_center_runs))

    def export_plan_file(self, path: Union[str, os.PathLike]) -> None:
        """Writes a CTavrin plan file. InvalidArgument says why when the file could not say the same as the study."""
        self._core.export_plan_file(path)

    # ------------------------------------------------------------ designs

    @classmethod
    def design(cls, kind: str, factors: Any, responses: Any, *, seed: Optional[int] = None, alpha: Any = None,
               inscribed: Optional[bool] = None, center_runs: Optional[int] = None, blocks: Optional[int] = None,
               fraction: Optional[int] = None, levels: Optional[int] = None, model: str = "", runs: int = 0,
               criterion: Optional[str] = None, constraints: Sequence[str] = ()) -> "Study":
        """A study holding any design: "box-behnken", "rechtschaffner", "ccd", "factorial" or "optimal".

        Options a design does not take are refused (InvalidArgument whose
        ``field`` names the option); unset ones take the design's defaults
        (docs/designs.md). ``constraints`` are texts such as "2*A + B <= 3"
        on natural settings (optimal designs).
        """
        if isinstance(responses, str):
            responses = [responses]
        fs = _to_factors(factors)
        rs = [_to_response(r) for r in responses]
        return cls._wrap(_study.design_study(
            kind, [(f.name, f.low, f.high, f.unit) for f in fs], [(r.name, r.unit) for r in rs], seed, alpha,
            inscribed, center_runs, blocks, fraction, levels, model, runs, criterion, list(constraints)))

    @classmethod
    def central_composite(cls, factors: Any, responses: Any, *, alpha: Any = None, inscribed: Optional[bool] = None,
                          center_runs: Optional[int] = None, blocks: Optional[int] = None,
                          fraction: Optional[int] = None, seed: Optional[int] = None) -> "Study":
        """A central composite design: alpha "rotatable" (default), "orthogonal", "spherical", "face" or a number."""
        return cls.design("ccd", factors, responses, seed=seed, alpha=alpha, inscribed=inscribed,
                          center_runs=center_runs, blocks=blocks, fraction=fraction)

    @classmethod
    def factorial(cls, factors: Any, responses: Any, *, levels: Optional[int] = None, fraction: Optional[int] = None,
                  center_runs: Optional[int] = None, blocks: Optional[int] = None,
                  seed: Optional[int] = None) -> "Study":
        """A two-level (full, or the 2^-fraction of it) or three-level factorial, with centre runs."""
        return cls.design("factorial", factors, responses, seed=seed, levels=levels, fraction=fraction,
                          center_runs=center_runs, blocks=blocks)

    @classmethod
    def optimal(cls, factors: Any, responses: Any, *, runs: int, model: str = "quadratic", criterion: str = "d",
                constraints: Sequence[str] = (), center_runs: Optional[int] = None,
                seed: Optional[int] = None) -> "Study":
        """A D- or I-optimal design of ``runs`` runs for ``model``, within linear ``constraints``; reproducible for a seed."""
        return cls.design("optimal", factors, responses, seed=seed, runs=runs, model=model, criterion=criterion,
                          constraints=constraints, center_runs=center_runs)

    def augment(self, runs: int, *, criterion: str = "d", model: Optional[str] = None, seed: Optional[int] = None,
                cloud: Any = None, goals: Any = None, constraints: Any = None,
                region: Optional[Mapping[str, Tuple[float, float]]] = None, replicates: int = 1000,
                threads: int = 0) -> None:
        """Adds ``runs`` runs chosen for ``model`` (default: the design's) by criterion d, i, cloud or optimum.

        Every run and result stays; the new runs are a block of their own, of
        origin "augmented", with missing results. Cloud and optimum need the
        points of ``cloud`` (points x factors, natural units, e.g. Robustness
        optima), or ``goals`` (and ``constraints``, ``region``, as optimize
        takes them): the library then fits the study, finds the optimum and
        relocates it in ``replicates`` noisy replicates seeded with ``seed``,
        as ``tavrin augment --criterion optimum`` does.
        """
        if goals is not None or constraints is not None:
            _study.augment_for_goals(self._core, runs, criterion, model or "", seed, _to_goals(goals),
                                     _to_constraints(constraints), _to_region(region), replicates, threads)
        else:
            points = None if cloud is None else np.asarray(cloud, dtype=float)
            _study.augment(self._core, runs, criterion, model or "", seed, points)
        self._fit = None

    def fold(self, *, alpha: Any = None, center_runs: Optional[int] = None, seed: Optional[int] = None) -> None:
        """Folds a two-level factorial (with or without centre runs) into a central composite design.

        Every run and result stays; 2k axial runs at +-alpha and ``center_runs``
        centre runs follow as a block of their own. ``alpha``: "orthogonal"
        (the default: the new block orthogonal to the model), "rotatable",
        "spherical", "face" or a number. Raises InvalidArgument naming why for
        a design that is not a two-level factorial; nothing changes then.
        """
        _study.fold(self._core, alpha, center_runs, seed)
        self._fit = None

    def evaluate(self, model: Optional[str] = None) -> Dict[str, Any]:
        """The design evaluation for ``model`` (default: the design's): efficiencies, VIF, power, FDS quantiles."""
        return _study.evaluate(self._core, model or "")

    @property
    def recipe(self) -> Dict[str, Any]:
        """How the design was made: its options, and the runs added since under "augmentations"."""
        return _study.recipe(self._core)

    # --------------------------------------------------------- definition

    @property
    def kind(self) -> str:
        """"box-behnken", "rechtschaffner", "ccd", "factorial", "optimal" or "imported"."""
        return self._core.kind

    @property
    def factors(self) -> Tuple[Factor, ...]:
        """The factors, in order."""
        return tuple(Factor(*f) for f in self._core.factors)

    @property
    def factor_names(self) -> List[str]:
        """The factors' names, in order."""
        return [f[0] for f in self._core.factors]

    @property
    def responses(self) -> Tuple[Response, ...]:
        """The responses, in order."""
        return tuple(Response(*r) for r in self._core.responses)

    @property
    def response_names(self) -> List[str]:
        """The responses' names, in order."""
        return [r[0] for r in self._core.responses]

    @property
    def seed(self) -> int:
        """The seed of the execution order (the one drawn when none was given)."""
        return self._core.seed

    @property
    def extra_center_runs(self) -> int:
        """Centre runs added after the plan's own runs (ids N+1..N+c)."""
        return self._core.extra_center_runs

    # --------------------------------------------------------------- plan

    @property
    def run_count(self) -> int:
        """Number of runs, extra centre runs included."""
        return len(self._core.execution_order)

    @property
    def run_ids(self) -> np.ndarray:
        """Run ids 1..N in standard order: row r of coded, natural and results is run r + 1."""
        return np.arange(1, self.run_count + 1)

    @property
    def coded(self) -> np.ndarray:
        """Coded settings (-1, 0, +1), runs x factors, standard order."""
        return self._core.coded

    @property
    def natural(self) -> np.ndarray:
        """Natural settings, runs x factors, standard order."""
        return self._core.natural

    @property
    def actual(self) -> np.ndarray:
        """Actual settings, runs x factors, standard order: the natural ones unless others were recorded."""
        return self._core.actual

    @property
    def blocks(self) -> np.ndarray:
        """The block of each run, from 1, standard order."""
        return np.asarray(self._core.blocks)

    @property
    def origins(self) -> List[str]:
        """Where each run comes from: "cube", "axial", "center", "augmented" or "imported"."""
        return list(self._core.origins)

    def factor_spans(self) -> List[Tuple[str, float, float, float, float]]:
        """How far the runs reach per factor: (name, low, high, low coded, high coded) of the actual settings."""
        return [tuple(s) for s in self._core.factor_spans()]

    @property
    def execution_order(self) -> np.ndarray:
        """execution_order[k] is the id of the run executed (k+1)-th."""
        return np.asarray(self._core.execution_order)

    # ------------------------------------------------------------ results

    @property
    def results(self) -> np.ndarray:
        """Results, runs (standard order) x responses; NaN where missing."""
        return self._core.results

    def results_frame(self):
        """Results as a DataFrame indexed by run id, one column per response (needs pandas)."""
        pd = _pandas(True)
        return pd.DataFrame(self.results, columns=self.response_names,
                            index=pd.Index(self.run_ids, name=RUN_ID))

    def run_sheet(self, as_frame: Optional[bool] = None):
        """The run sheet: run id, run order, natural settings and results, rows in execution order.

        A DataFrame indexed by run id when pandas is installed (or as_frame
        is True), else a dict of numpy arrays with a "run_id" entry.
        """
        order = self.execution_order
        rows = order - 1
        columns: Dict[str, Any] = {RUN_ORDER: np.arange(1, len(order) + 1)}
        natural, results = self.natural, self.results
        for k, name in enumerate(self.factor_names):
            columns[name] = natural[rows, k]
        for j, name in enumerate(self.response_names):
            columns[name] = results[rows, j]
        return _table(columns, RUN_ID, order, as_frame)

    def run_sheet_csv(self) -> str:
        """The run sheet as CSV text (UTF-8, header row), as the command line writes it."""
        return self._core.run_sheet()

    def set_result(self, run_id: int, response: str, value: float) -> None:
        """Enters one result; NaN clears it. UnknownName for an unknown run or response.

        InvalidArgument (field "value") when the value is not a number.
        """
        self._core.set_result(_integral(run_id), _name(response, "response"), value)
        self._fit = None

    def result(self, run_id: int, response: str) -> float:
        """One result (NaN when missing)."""
        return self._core.result(_integral(run_id), _name(response, "response"))

    def set_results(self, data: Any, *, actual: bool = False) -> None:
        """Enters results, matched by run id, never by position.

        ``data`` is a DataFrame with a "run_id" column or index (as
        run_sheet() gives, or as pd.read_csv reads the run sheet CSV, units
        in the headers), a dict of columns with a "run_id" entry, or a dict
        {response: {run_id: value}}. Columns are "run_id", "run_order", the
        factors and the responses (by name or as "Name [unit]"); any other
        column is refused with the names it may have meant. A missing value
        (NaN, None) clears the result. Factor columns must match each run's
        settings up to printed rounding, which catches rows given under the
        wrong id; with ``actual=True`` they are recorded as the settings the
        runs were made at instead (the fit uses them).

        Raises:
            InvalidArgument: no run ids, repeated or non-integer ids, an
                unknown column, a value that is not a number or is infinite,
                factor settings that disagree with the runs.
        All or nothing: a refused call changes nothing.
        """
        runs, columns = self._columns(data)
        core = self._core.copy()
        given = {name: _given(col) for name, col in columns.items()}
        # A nested dict may leave cells out; those are entered column by
        # column, so that what is not given stays as it is.
        complete = all(all(g) for g in given.values())
        for group in [list(columns)] if complete else [[name] for name in columns]:
            rows = [k for k in range(len(runs)) if all(given[n][k] for n in group)]
            values = np.empty((len(rows), len(group) + 1))
            values[:, 0] = [runs[k] for k in rows]
            for j, name in enumerate(group, start=1):
                values[:, j] = self._numbers(columns[name], name, len(runs))[rows]
            core.enter_results([RUN_ID] + group, values, bool(actual))
        self._core = core
        self._fit = None

    def _columns(self, data: Any) -> Tuple[List[int], Dict[str, Any]]:
        pd = _pandas(None)
        if pd is not None and isinstance(data, pd.DataFrame):
            if RUN_ID in data.columns:
                ids = data[RUN_ID].to_numpy()
            elif data.index.name == RUN_ID:
                ids = data.index.to_numpy()
            else:
                raise InvalidArgument("the DataFrame needs a 'run_id' column or an index named 'run_id': "
                                      "results are matched by run id, never by position")
            return self._run_ids(ids), {str(c): data[c].to_numpy() for c in data.columns if c != RUN_ID}
        if isinstance(data, Mapping):
            if RUN_ID in data:
                return self._run_ids(data[RUN_ID]), {k: v for k, v in data.items() if k != RUN_ID}
            if data and all(isinstance(v, Mapping) for v in data.values()):
                ids = sorted({int(_integral(k)) for v in data.values() for k in v})
                # A (run, response) the dict does not give is left as it is.
                by_run = {name: {_integral(k): v for k, v in col.items()} for name, col in data.items()}
                return ids, {name: [col.get(i, _NOT_GIVEN) for i in ids] for name, col in by_run.items()}
            raise InvalidArgument("a dict of results needs a 'run_id' entry, or must map each response to "
                                  "{run_id: value}: results are matched by run id, never by position")
        raise InvalidArgument(f"results must be a DataFrame or a dict, got {type(data).__name__}")

    @staticmethod
    def _run_ids(ids: Any) -> List[int]:
        out = [_integral(i) for i in np.asarray(ids, dtype=object).ravel()]
        seen = set()
        for i in out:
            if i in seen:
                raise InvalidArgument(f"run id {i} appears more than once")
            seen.add(i)
        return out

    @staticmethod
    def _numbers(column: Any, name: str, count: int) -> np.ndarray:
        values = []
        for v in np.asarray(column, dtype=object).ravel():
            if v is None or v is _NOT_GIVEN:
                values.append(math.nan)
            elif isinstance(v, (numbers.Real, np.floating, np.integer)) and not isinstance(v, bool):
                values.append(float(v))
            else:
                raise InvalidArgument(f"column {name!r}: {v!r} is not a number")
        if len(values) != count:
            raise InvalidArgument(f"column {name!r} has {len(values)} values for {count} run ids")
        return np.asarray(values, dtype=float)

    def read_results_csv(self, source: Union[str, os.PathLike], *, actual: bool = False) -> None:
        """Reads results by run id from a CSV file (as run_sheet_csv() writes it).

        The columns and ``actual`` are as for set_results; an empty cell
        clears the result. ParseError with line and column on bad input,
        MissingFileError when the file does not exist; nothing changes then.
        """
        self._core.read_results_file(source, bool(actual))
        self._fit = None

    def read_results_text(self, text: str, source: str = "results", *, actual: bool = False) -> None:
        """As read_results_csv, from CSV text; ``source`` names it in errors."""
        self._core.read_results(text, source, bool(actual))
        self._fit = None

    def missing(self) -> List[Tuple[int, str]]:
        """Every missing (run id, response), runs in standard order."""
        return [tuple(m) for m in self._core.missing()]

    # ---------------------------------------------------------------- fit

    def fit(self) -> "Fit":
        """The least-squares fit of every response. StateError names the missing results."""
        if self._fit is None:
            self._fit = Fit(self._core.fit())
        return self._fit

    def build_model(self, response: str, *, model: str = "quadratic", transform: str = "none",
                    reduce: bool = False, p_to_remove: float = 0.10, aicc: bool = False,
                    force_in: Sequence[str] = (), force_out: Sequence[str] = (), confidence: float = 0.95,
                    outlier_alpha: float = 0.05) -> Dict[str, Any]:
        """A chosen model of one response, as a dict of plain values.

        ``model`` is linear, interaction, quadratic or a term list such as
        "A B A:B A^2"; ``transform`` none, log, sqrt, inverse or boxcox;
        ``reduce`` runs the backward elimination that keeps hierarchy (by
        ``p_to_remove``, or by AICc with ``aicc``), keeping ``force_in`` and
        removing ``force_out`` first. The dict holds the final model's
        coefficients, its ANOVA (sequential and partial), the reduction steps,
        Box-Cox, the run diagnostics and the library's ``verdict`` on them
        (``warning``, ``text``, ``findings``: dropped terms and why, lack of fit,
        what the transform means); estimates are on the transformed scale.
        """
        return self._core.build_model(response, model, transform, bool(reduce), float(p_to_remove), bool(aicc),
                                      list(force_in), list(force_out), float(confidence), float(outlier_alpha))

    def set_model(self, response: str, *, model: str = "quadratic", transform: str = "none", reduce: bool = False,
                  p_to_remove: float = 0.10, aicc: bool = False, force_in: Sequence[str] = (),
                  force_out: Sequence[str] = ()) -> Dict[str, Any]:
        """Builds the model of one response as build_model does and keeps it as
        the response's chosen model: fit(), predictions, the optimum and
        robustness then use it, and save() writes it to the study file. The
        final terms and power are kept as they are until the model is set
        again. Returns what build_model returns; a refused build changes nothing.
        """
        built = self._core.build_model(response, model, transform, bool(reduce), float(p_to_remove), bool(aicc),
                                       list(force_in), list(force_out), 0.95, 0.05, True)
        self._fit = None
        return built

    def ridge_path(self, response: str, *, radius: float = 1.0, steps: int = 10, minimize: bool = False,
                   model: Optional[str] = None, confidence: float = 0.95) -> Dict[str, Any]:
        """Ridge analysis: the best prediction on spheres of radius k * radius / steps (coded) about the centre.

        The response's saved model (terms and transform) unless ``model`` names
        one, fitted to the response as measured. Returns columns: radius,
        coded and natural settings (points x factors), predicted with its
        confidence and prediction intervals (in the response's units),
        std_error (on the model's scale), inside_region, and the model and
        transform_power followed.
        """
        return self._core.path(response, model or "", True, not minimize, float(radius), "", 0.0, int(steps),
                               float(confidence))

    def steepest_path(self, response: str, factor: str, step: float, *, steps: int = 10, minimize: bool = False,
                      model: Optional[str] = None, confidence: float = 0.95) -> Dict[str, Any]:
        """The path of steepest ascent (descent with ``minimize``) of the model's first-order part, ``factor``
        moving by ``step`` natural units per step; the model and the columns as ridge_path's."""
        return self._core.path(response, model or "", False, not minimize, 0.0, factor, float(step), int(steps),
                               float(confidence))

    def model(self, response: str) -> Dict[str, Any]:
        """The chosen model of one response: what was asked (model, transform,
        reduction) and what it gave (``terms``, ``power``; None for none)."""
        return self._core.model_choice(response)

    def predict(self, X: Any) -> Any:
        """Predictions of every response at points X (n_points x n_factors, natural units).

        Returns an (n_points, n_responses) array, or a DataFrame when X is a
        DataFrame (its columns matched to the factors by name). A 1-D X is one
        point and gives a 1-D result. StateError when results are missing,
        InvalidArgument for a wrong shape.
        """
        return self.fit().predict(X)

    def report(self, target: Union[str, os.PathLike], *, confidence: float = 0.95, sigma: Optional[float] = None,
               goals: Any = None, constraints: Any = None, region: Optional[Mapping[str, Tuple[float, float]]] = None,
               noise: Optional[Mapping[str, float]] = None, replicates: int = 1000, seed: int = 1,
               options: Optional["SearchOptions"] = None, title: str = "Study report") -> Optional["FitReport"]:
        """The fit report of a response, or the whole study written as an HTML report.

        ``study.report("Yield")`` returns the fit report of that response;
        ``sigma`` is a known measurement standard deviation.

        ``study.report("study.html")`` (a path ending in .html or .htm that
        names no response, or any os.PathLike) writes the study report that
        ``tavrin report`` writes: one self-contained HTML file with the
        definition, the design's evaluation, the runs, each model with its
        analysis and verdict, and interactive figures. With ``goals`` (and
        ``constraints``, ``region``, as for optimize) it adds the optimum and
        its robustness (``noise``: standard deviation per response, default
        from the residuals; ``replicates``; ``seed``). Returns None then.
        """
        if isinstance(target, str) and target in self.response_names:
            return self.fit().report(target, confidence=confidence, sigma=sigma)
        if not isinstance(target, os.PathLike) and not str(target).lower().endswith((".html", ".htm")):
            raise UnknownName(f"{target!r} is neither a response ({', '.join(map(repr, self.response_names))}) "
                              "nor a report file ending in .html", field="response")
        if options is None:
            options = SearchOptions()
        elif not isinstance(options, SearchOptions):
            _bad(options, "SearchOptions", "options")
        given = goals is not None or constraints is not None
        html = self._core.report_html(_to_goals(goals) if goals is not None else ([] if given else None),
                                      _to_constraints(constraints), _to_region(region), options, _to_sigma(noise),
                                      replicates, seed, str(title))
        with open(os.fspath(target), "w", encoding="utf-8", newline="") as out:
            out.write(html)
        return None

    def verdict(self, response: str, *, confidence: float = 0.95, sigma: Optional[float] = None) -> "Verdict":
        """The plain-language verdict on one response's model (the words of every front end)."""
        warning, text, findings = self._core.verdict(response, _finite_number(confidence, "confidence", "confidence"),
                                                     _sigma_of(response, sigma))
        return Verdict(warning, text, tuple(findings))

    def optimize(self, goals: Any, constraints: Any = None, region: Optional[Mapping[str, Tuple[float, float]]] = None,
                 **options: Any) -> "Optimum":
        """The optimum of the fit; see Fit.optimize for the arguments."""
        return self.fit().optimize(goals, constraints, region, **options)

    # ----------------------------------------------------- python protocol

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Study):
            return NotImplemented
        return self.to_json() == other.to_json()

    __hash__ = None  # type: ignore[assignment]

    def __reduce__(self):
        return (_from_json, (self.to_json(),))

    def __copy__(self) -> "Study":
        return Study.from_json(self.to_json())

    def __deepcopy__(self, memo: dict) -> "Study":
        return Study.from_json(self.to_json())

    def __repr__(self) -> str:
        missing = len(self.missing())
        return (f"<tavrin.Study {self.kind}: factors {', '.join(self.factor_names)}; "
                f"responses {', '.join(self.response_names)}; {self.run_count} runs, "
                f"{missing} result{'s' if missing != 1 else ''} missing>")


def _from_json(text: str) -> Study:
    return Study.from_json(text)


# Marks a (run, response) that a dict of results does not give.
_NOT_GIVEN = object()


def _given(column: Any) -> List[bool]:
    return [v is not _NOT_GIVEN for v in np.asarray(column, dtype=object).ravel()]


def _name(value: Any, what: str) -> str:
    if not isinstance(value, str):
        raise InvalidArgument(f"{what} must be a name (str), got {type(value).__name__} {value!r}", field=what)
    return value


def _integral(value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, (numbers.Real, np.number)):
        raise InvalidArgument(f"run id {value!r} is not an integer")
    if not float(value).is_integer():
        raise InvalidArgument(f"run id {value!r} is not an integer")
    return int(value)


# --------------------------------------------------------------------- the fit


class Fit:
    """The least-squares fits of every response of a study (made by Study.fit())."""

    def __init__(self, core: "_study.Fit") -> None:
        self._core = core
        self.factors = tuple(Factor(*f) for f in core.factors)
        self.responses = tuple(Response(*r) for r in core.responses)
        self.factor_names = [f.name for f in self.factors]
        self.response_names = [r.name for r in self.responses]

    @property
    def run_ids(self) -> np.ndarray:
        """Run id of each row of observations."""
        return np.asarray(self._core.run_ids)

    @property
    def observations(self) -> np.ndarray:
        """runs x responses."""
        return self._core.observations

    @property
    def residual_df(self) -> int:
        """Runs minus the full quadratic's terms; 0 for a saturated plan (a
        response's report gives its chosen model's)."""
        return self._core.residual_df

    @property
    def term_labels(self) -> List[str]:
        """Labels of the model terms: "(Intercept)", "A", "A^2", "A:B"."""
        return list(self._core.term_labels)

    def coefficients(self, units: str = "coded", as_frame: Optional[bool] = None):
        """Coefficients of every response, terms x responses ("coded" or "natural" units).

        A DataFrame (index: term labels) when pandas is there, else an array.
        """
        if units not in ("coded", "natural"):
            raise InvalidArgument(f"units must be 'coded' or 'natural', got {units!r}")
        values = self._core.coefficients(units == "natural").T
        pd = _pandas(as_frame)
        if pd is None:
            return values
        return pd.DataFrame(values, index=pd.Index(self.term_labels, name="term"), columns=self.response_names)

    def _points(self, X: Any) -> Tuple[np.ndarray, Any, bool]:
        pd = _pandas(None)
        index = None
        if pd is not None and isinstance(X, pd.DataFrame):
            missing = [n for n in self.factor_names if n not in X.columns]
            if missing:
                raise InvalidArgument("X has no column for factor(s) " + ", ".join(map(repr, missing)))
            index = X.index
            X = X[self.factor_names].to_numpy(dtype=float)
        try:
            points = np.asarray(X, dtype=float)
        except (TypeError, ValueError) as error:
            raise InvalidArgument(f"X must be numbers, n_points x n_factors: {error}") from None
        single = points.ndim == 1
        if single:
            points = points.reshape(1, -1)
        if points.ndim != 2 or points.shape[1] != len(self.factors):
            raise InvalidArgument(f"X must be n_points x {len(self.factors)} (one column per factor: "
                                  f"{', '.join(self.factor_names)}), got shape {np.shape(X)}")
        return np.ascontiguousarray(points), index, single

    def _warn_extrapolation(self, points: Any) -> None:
        outside = self._core.extrapolated_points(points)
        if outside:
            listed = ", ".join(str(p + 1) for p in outside)
            warnings.warn(f"outside the plan's ranges, where the model extrapolates: "
                          f"point{'s' if len(outside) > 1 else ''} {listed}", ExtrapolationWarning, stacklevel=3)

    def predict(self, X: Any) -> Any:
        """Predictions of every response at points X (n_points x n_factors, natural units).

        Returns (n_points, n_responses); a DataFrame X gives a DataFrame with
        its index; a 1-D X (one point) gives a 1-D array. Points beyond the
        span the runs cover give an ExtrapolationWarning naming them (1-based).
        """
        points, index, single = self._points(X)
        values = self._core.predict(points)
        self._warn_extrapolation(points)
        if index is not None:
            return _pandas(True).DataFrame(values, index=index, columns=self.response_names)
        return values[0] if single else values

    def _response(self, response: Union[str, int]) -> int:
        if isinstance(response, str):
            if response not in self.response_names:
                from tavrin._errors import UnknownName

                raise UnknownName(f"no response is named {response!r}; the responses are "
                                  + ", ".join(map(repr, self.response_names)))
            return self.response_names.index(response)
        raise InvalidArgument(f"response must be a name (str), got {response!r}")

    def predict_intervals(self, X: Any, response: str, *, confidence: float = 0.95, sigma: Optional[float] = None,
                          as_frame: Optional[bool] = None):
        """Predictions of one response at X with standard error, confidence and prediction intervals.

        Columns: predicted, std_error, confidence_low/high, prediction_low/high.
        """
        j = self._response(response)
        points, index, _ = self._points(X)
        self._warn_extrapolation(points)
        columns = self._core.predict_with_intervals(j, points, _finite_number(confidence, "confidence", "confidence"),
                                                    _sigma_of(response, sigma))
        return _table(columns, "point", range(len(points)) if index is None else index, as_frame)

    def report(self, response: str, *, confidence: float = 0.95, sigma: Optional[float] = None) -> "FitReport":
        """The fit report of one response (R², ANOVA, coefficients, diagnostics, lack of fit, canonical analysis).

        ``sigma``: a known measurement standard deviation (> 0); with it,
        standard errors use it and tests the normal distribution.
        InvalidArgument for a bad confidence or sigma, UnknownName for a
        response the fit lacks.
        """
        j = self._response(response)
        core = self._core.analyze(j, _finite_number(confidence, "confidence", "confidence"), _sigma_of(response, sigma))
        return FitReport(core, self._core.canonical(j, 1e-3))

    def canonical(self, response: str, *, ridge_tolerance: float = 1e-3) -> "Canonical":
        """The stationary point and eigen-decomposition of one response's surface."""
        return Canonical(self._core.canonical(self._response(response), ridge_tolerance))

    def optimize(self, goals: Any, constraints: Any = None, region: Optional[Mapping[str, Tuple[float, float]]] = None,
                 *, points: int = 65536, starts: int = 16, best: int = 5, distinct_tolerance: float = 1e-3,
                 threads: int = 0, options: Optional["SearchOptions"] = None, confidence: float = 0.95,
                 sigma: Optional[Mapping[str, float]] = None) -> "Optimum":
        """The settings that best meet the goals, subject to the constraints.

        Args:
            goals: a Goal, a list of them, or {response: Goal | kind | (kind, low, high[, target])};
                a kind is a GoalKind or its name ("maximize", "minimize", "target", "within",
                "weightedSum"). Bounds left open (None) are completed by the library: "maximize"
                alone ranks by the response itself, best at its highest prediction.
            constraints: a list of Constraint or {response: (low, high)} (None for an open side).
            region: {factor: (low, high)} search region within the factor's range;
                factors not named search their whole range.
            points: LPtau points of the global stage (1..65536).
            starts: best points polished locally; best: distinct optima returned.
            distinct_tolerance: coded distance below which optima are the same.
            threads: 0 = every core. options: a SearchOptions instead of the four above.
            confidence/sigma: intervals of the predictions.
        Raises:
            InvalidArgument for a malformed goal, UnknownName for an unknown
            response or factor (``field`` names the goal's, constraint's or
            region's entry, e.g. "goals[0].high"), StateError when no point
            meets the constraints.
        Runs without the GIL.
        """
        g, c, r = _to_goals(goals), _to_constraints(constraints), _to_region(region)
        if options is None:
            options = SearchOptions(points=points, starts=starts, best=best, distinct_tolerance=distinct_tolerance,
                                    threads=threads)
        elif not isinstance(options, SearchOptions):
            _bad(options, "SearchOptions", "options")
        completed = self._core.complete_goals(g, r, options)
        core = self._core.optimize(completed, c, r, options, _finite_number(confidence, "confidence", "confidence"),
                                   _to_sigma(sigma))
        return Optimum(core, self, (completed, c, r))

    def __repr__(self) -> str:
        return (f"<tavrin.Fit of {', '.join(self.response_names)} on {', '.join(self.factor_names)}: "
                f"{len(self.run_ids)} runs, {len(self.term_labels)} terms>")


def _sigma_of(response: str, sigma: Optional[float]) -> Dict[str, float]:
    return {} if sigma is None else {response: _finite_number(sigma, f"sigma of {response!r}")}


# ------------------------------------------------------------------- reports


@dataclass(frozen=True)
class Verdict:
    """A model's verdict: ``warning`` when a finding needs attention; one sentence per finding."""
    warning: bool
    text: str
    findings: Tuple[str, ...]


def meanings() -> Dict[str, Tuple[str, str]]:
    """Every statistic's (name, one-line meaning), keyed as the JSON outputs name it ("rSquared", "press", ...)."""
    return {key: (name, text) for key, name, text in _study.statistic_meanings()}

_STATISTICS = ("r_squared", "adjusted_r_squared", "predicted_r_squared", "rmse", "press", "f_statistic",
               "f_df_model", "f_p_value", "residual_ss", "total_ss", "blocks_df", "blocks_ss", "runs", "terms", "residual_df",
               "sigma", "sigma_known", "not_estimable", "confidence", "response", "unit")


class FitReport:
    """The fit report of one response.

    Attributes: response, unit, r_squared, adjusted_r_squared,
    predicted_r_squared, rmse, press, f_statistic, f_df_model, f_p_value,
    residual_ss, total_ss, blocks_df, blocks_ss (between the blocks' means; R-squared and F count only the
    rest), runs, terms, residual_df, sigma, sigma_known,
    not_estimable (why some numbers are NaN, or ""), confidence, lack_of_fit
    (a dict), canonical (a Canonical).
    """

    def __init__(self, core: "_study.FitReport", canonical: "_study.Canonical") -> None:
        self._core = core
        self._canonical = canonical
        for name in _STATISTICS:
            setattr(self, name, getattr(core, name))
        self.lack_of_fit: Dict[str, Any] = dict(core.lack_of_fit)
        self.canonical = Canonical(canonical)

    def coefficients(self, units: str = "coded", as_frame: Optional[bool] = None):
        """Coefficient table: estimate, std_error, t, p, lower, upper per term ("coded" or "natural" units)."""
        if units not in ("coded", "natural"):
            raise InvalidArgument(f"units must be 'coded' or 'natural', got {units!r}")
        return _table(self._core.coefficient_columns(units == "natural"), "term", self._core.terms_labels, as_frame)

    def diagnostics(self, as_frame: Optional[bool] = None):
        """Per run: observed, fitted, residual, leverage, studentized, cooks_distance (index: run id)."""
        columns = dict(self._core.diagnostic_columns)
        runs = columns.pop("run")
        return _table(columns, RUN_ID, runs, as_frame)

    def standardized_effects(self) -> Dict[str, float]:
        """|t| of every term but the intercept (coded units), for a Pareto chart."""
        columns = self._core.coefficient_columns(False)
        return {label: abs(t) for label, t in zip(self._core.terms_labels, columns["t"]) if label != "(Intercept)"}

    def summary(self) -> str:
        """The plain-text report: fit statistics, ANOVA, coefficients, lack of fit, canonical analysis."""
        return _study.format_report(self._core, self._canonical)

    def __str__(self) -> str:
        return self.summary()

    def __repr__(self) -> str:
        return (f"<tavrin.FitReport {self.response}: R²={self.r_squared:.4g}, adj R²={self.adjusted_r_squared:.4g}, "
                f"RMSE={self.rmse:.4g}, {self.runs} runs, {self.residual_df} residual df>")


class Canonical:
    """The canonical analysis of one response: kind of surface, stationary point, eigenvalues."""

    def __init__(self, core: "_study.Canonical") -> None:
        self.response: str = core.response
        self.factors: List[str] = list(core.factors)
        self.kind: str = core.kind
        self.has_stationary_point: bool = core.has_stationary_point
        self.stationary_coded: np.ndarray = core.stationary_coded
        self.stationary_natural: np.ndarray = core.stationary_natural
        # In the response's units; with a transformed model (power not NaN) the rest is on its scale.
        self.predicted_at_stationary: float = core.predicted_at_stationary
        self.power: float = core.power
        self.eigenvalues: np.ndarray = core.eigenvalues
        self.eigenvectors: np.ndarray = core.eigenvectors
        self.inside_region: bool = core.inside_region
        self.distance_from_center: float = core.distance_from_center
        self.ridge_tolerance: float = core.ridge_tolerance

    def __repr__(self) -> str:
        if not self.has_stationary_point:
            return f"<tavrin.Canonical {self.response}: {self.kind}, no stationary point>"
        point = ", ".join(f"{n}={v:.4g}" for n, v in zip(self.factors, self.stationary_natural))
        where = "inside" if self.inside_region else "outside"
        return (f"<tavrin.Canonical {self.response}: {self.kind} at {point} ({where} the region), "
                f"predicted {self.predicted_at_stationary:.4g}>")


class Optimum:
    """Optima of a fit, best first.

    Attributes: goals (as searched, open bounds completed), settings
    (candidates x factors, natural units), coded,
    predicted (candidates x responses), overall (overall desirability, or
    the weighted sum), desirability (candidates x responses; NaN without a
    goal), active_constraints (per candidate), points_searched,
    admissible_points.
    """

    def __init__(self, core: "_study.Optimum", fit: Fit, problem: tuple) -> None:
        self._core = core
        self._fit = fit
        self._problem = problem
        candidates = core.candidates
        n, m = len(fit.factors), len(fit.responses)
        self.settings = np.array([c["natural"] for c in candidates]).reshape(-1, n)
        self.coded = np.array([c["coded"] for c in candidates]).reshape(-1, n)
        self.predicted = np.array([c["predictions"]["predicted"] for c in candidates]).reshape(-1, m)
        self.desirability = np.array([c["desirability"] for c in candidates]).reshape(-1, m)
        self.overall = np.array([c["overall"] for c in candidates])
        self.active_constraints: List[List[str]] = [list(c["active_constraints"]) for c in candidates]
        self.intervals = [c["predictions"] for c in candidates]
        self.points_searched: int = core.points_searched
        self.admissible_points: int = core.admissible_points
        self.factor_names = fit.factor_names
        self.response_names = fit.response_names
        self.goals: List["Goal"] = list(problem[0])

    def __len__(self) -> int:
        return len(self.overall)

    @property
    def best(self) -> Dict[str, float]:
        """The best settings, {factor: value}."""
        return dict(zip(self.factor_names, map(float, self.settings[0])))

    def table(self, as_frame: Optional[bool] = None):
        """One row per optimum (rank 1 = best): settings, predictions, overall, active constraints."""
        columns: Dict[str, Any] = {}
        for k, name in enumerate(self.factor_names):
            columns[name] = self.settings[:, k]
        for j, name in enumerate(self.response_names):
            columns[name] = self.predicted[:, j]
        for j, name in enumerate(self.response_names):
            columns[f"d({name})"] = self.desirability[:, j]
        columns["overall"] = self.overall
        columns["active_constraints"] = ["; ".join(a) for a in self.active_constraints]
        return _table(columns, "rank", np.arange(1, len(self) + 1), as_frame)

    def robustness(self, *, sigma: Optional[Mapping[str, float]] = None, replicates: int = 1000, seed: int = 1,
                   threads: int = 0, percentiles: Sequence[float] = (5, 25, 50, 75, 95)) -> "Robustness":
        """How the best optimum moves under measurement noise.

        Refits every response on ``replicates`` perturbed copies of the
        observations (normal noise of standard deviation ``sigma`` per
        response, else each response's residual RMSE) and relocates the
        optimum. Raises InvalidArgument for a bad option, UnknownName for a
        sigma of an unknown response, StateError when a sigma must be given
        (no residual degrees of freedom). Runs without the GIL.
        """
        g, c, r = self._problem
        core = self._fit._core.robustness(g, c, r, self._core, _to_sigma(sigma), replicates, seed, threads,
                                          [_finite_number(p, "percentile") for p in percentiles])
        return Robustness(core, self)

    def __repr__(self) -> str:
        if len(self) == 0:
            return "<tavrin.Optimum: none>"
        best = ", ".join(f"{n}={v:.4g}" for n, v in self.best.items())
        predicted = ", ".join(f"{n}={v:.4g}" for n, v in zip(self.response_names, self.predicted[0]))
        return (f"<tavrin.Optimum {len(self)} optima; best {best} -> {predicted} "
                f"(overall {self.overall[0]:.4g}); {self.admissible_points}/{self.points_searched} points admissible>")


class Robustness:
    """The robustness of the best optimum under measurement noise.

    Attributes: sigma and sigma_source ({response: ...}), nominal (the
    optimum's settings), percentiles, optima (replicates x factors, the
    relocated optima), replicates, failed_replicates, prediction_mean and
    prediction_std ({response: ...}), constraint_probability (per
    constraint, in the order given).
    """

    def __init__(self, core: "_study.Robustness", optimum: Optimum) -> None:
        self._core = core
        self._optimum = optimum
        self.factor_names = optimum.factor_names
        self.response_names = optimum.response_names
        self.sigma = dict(zip(self.response_names, core.sigma))
        self.sigma_source = dict(zip(self.response_names, core.sigma_source))
        self.nominal = core.nominal
        self.percentiles = list(core.percentiles)
        self.optima = core.optima
        self.replicates: int = core.replicates
        self.failed_replicates: int = core.failed_replicates
        self.prediction_mean = dict(zip(self.response_names, core.prediction_mean))
        self.prediction_std = dict(zip(self.response_names, core.prediction_std))
        self.constraint_probability = list(core.constraint_probability)
        self._setting_percentiles = core.setting_percentiles
        self._prediction_percentiles = core.prediction_percentiles

    def _percentile_table(self, values: np.ndarray, names: List[str], index_name: str, as_frame: Optional[bool]):
        columns = {f"p{p:g}": values[:, k] for k, p in enumerate(self.percentiles)}
        return _table(columns, index_name, names, as_frame)

    def setting_percentiles(self, as_frame: Optional[bool] = None):
        """Percentiles of the relocated optima, one row per factor (natural units)."""
        return self._percentile_table(self._setting_percentiles, self.factor_names, "factor", as_frame)

    def prediction_percentiles(self, as_frame: Optional[bool] = None):
        """Percentiles of each response's prediction at the nominal optimum, one row per response."""
        return self._percentile_table(self._prediction_percentiles, self.response_names, "response", as_frame)

    def __repr__(self) -> str:
        spread = ", ".join(f"{n}: {lo:.4g}..{hi:.4g}" for n, lo, hi in
                           zip(self.factor_names, self._setting_percentiles[:, 0], self._setting_percentiles[:, -1]))
        return (f"<tavrin.Robustness {self.replicates} replicates ({self.failed_replicates} failed); "
                f"p{self.percentiles[0]:g}..p{self.percentiles[-1]:g} of the optimum: {spread}>")

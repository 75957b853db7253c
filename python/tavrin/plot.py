"""Pictures of a study with matplotlib. Every function draws on ``ax`` (a new
figure's axes when None) and returns the Axes.

    contour(study, "Yield", x="Temperature", y="Time", optimum=opt)
    residuals(study, "Yield")
    pareto(study, "Yield")
    robustness(rob)
"""

from __future__ import annotations

import math
from typing import Any, Mapping, Optional, Sequence

import numpy as np

from tavrin._errors import InvalidArgument, UnknownName
from tavrin.study import Constraint, Optimum, Robustness, Study

__all__ = ["contour", "residuals", "pareto", "robustness"]


def _axes(ax):
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt

    return plt.subplots(figsize=(6.4, 5.0), layout="constrained")[1]


def _label(name: str, unit: str) -> str:
    return f"{name} ({unit})" if unit else name


def _index(names: Sequence[str], name: str, what: str) -> int:
    if name not in names:
        raise UnknownName(f"no {what} is named {name!r}; the {what}s are {', '.join(map(repr, names))}")
    return list(names).index(name)


def contour(study: Study, response: str, x: Optional[str] = None, y: Optional[str] = None, *,
            at: Optional[Mapping[str, float]] = None, optimum: Optional[Optimum] = None,
            constraints: Any = None, runs: bool = True, levels: int = 20, steps: int = 61,
            cmap: str = "viridis", ax=None):
    """Filled contours of a response's fitted surface over two factors.

    Args:
        study: a Study with every result entered.
        response: the response drawn.
        x, y: the factors on the axes (default: the first two).
        at: values of the other factors (natural units); those not given sit
            at the best optimum when ``optimum`` is given, else at their centre.
        optimum: an Optimum whose candidates are marked (stars, numbered).
        constraints: Constraint list or {response: (low, high)}; each finite
            bound is drawn as a dashed boundary (white) on the surface.
        runs: mark the plan's runs (their x, y settings) as circles.
        levels, steps: contour levels and grid points per axis.
    Returns:
        The Axes, holding one QuadContourSet for the surface, one per
        constraint boundary, and PathCollections for runs and optima.
    Raises:
        UnknownName for an unknown response or factor, InvalidArgument when
        x == y or the study has fewer than two factors, StateError when
        results are missing.
    """
    fit = study.fit()
    names = fit.factor_names
    if len(names) < 2:
        raise InvalidArgument("a contour needs two factors; the study has " + str(len(names)))
    x = names[0] if x is None else x
    y = (names[1] if x != names[1] else names[0]) if y is None else y
    ix, iy = _index(names, x, "factor"), _index(names, y, "factor")
    if ix == iy:
        raise InvalidArgument(f"x and y must be two different factors, got {x!r} twice")
    j = _index(fit.response_names, response, "response")

    point = np.array([(f.low + f.high) / 2 for f in fit.factors])
    if optimum is not None and len(optimum):
        point = optimum.settings[0].copy()
    for name, value in (at or {}).items():
        point[_index(names, name, "factor")] = float(value)

    fx, fy = fit.factors[ix], fit.factors[iy]
    gx, gy = np.linspace(fx.low, fx.high, steps), np.linspace(fy.low, fy.high, steps)
    mx, my = np.meshgrid(gx, gy)
    grid = np.tile(point, (mx.size, 1))
    grid[:, ix], grid[:, iy] = mx.ravel(), my.ravel()
    predicted = fit.predict(grid)

    ax = _axes(ax)
    filled = ax.contourf(mx, my, predicted[:, j].reshape(mx.shape), levels=levels, cmap=cmap)
    ax.figure.colorbar(filled, ax=ax, label="fitted " + _label(response, fit.responses[j].unit))

    for c in _constraint_list(constraints):
        k = _index(fit.response_names, c.response, "response")
        surface = predicted[:, k].reshape(mx.shape)
        for bound, side in ((c.low, "≥"), (c.high, "≤")):
            if math.isfinite(bound) and surface.min() < bound < surface.max():
                lines = ax.contour(mx, my, surface, levels=[bound], colors="white", linestyles="--")
                ax.clabel(lines, fmt={bound: f"{c.response} {side} {bound:g}"}, fontsize=8)

    if runs:
        natural = study.natural
        ax.scatter(natural[:, ix], natural[:, iy], marker="o", s=45, facecolors="white", edgecolors="black",
                   linewidths=1.2, label="runs", clip_on=False, zorder=3)
    if optimum is not None and len(optimum):
        ax.scatter(optimum.settings[:, ix], optimum.settings[:, iy], marker="*", s=170, color="red",
                   edgecolors="black", label="optima", zorder=4)
        for rank, (sx, sy) in enumerate(optimum.settings[:, [ix, iy]], start=1):
            ax.annotate(str(rank), (sx, sy), xytext=(6, 6), textcoords="offset points", fontsize=8,
                        color="white", fontweight="bold")
    others = [f"{n} = {point[k]:.4g}" for k, n in enumerate(names) if k not in (ix, iy)]
    ax.set_title(f"Fitted {response}" + (f" at {', '.join(others)}" if others else ""))
    ax.set_xlabel(_label(fx.name, fx.unit))
    ax.set_ylabel(_label(fy.name, fy.unit))
    if runs or optimum is not None:
        ax.legend(loc="lower left", fontsize=8)
    return ax


def _constraint_list(constraints: Any) -> list:
    if constraints is None:
        return []
    if isinstance(constraints, Constraint):
        return [constraints]
    if isinstance(constraints, Mapping):
        return [Constraint(r, -math.inf if lo is None else lo, math.inf if hi is None else hi)
                for r, (lo, hi) in constraints.items()]
    return list(constraints)


def residuals(study: Study, response: str, *, studentized: bool = False, ax=None):
    """Residuals against fitted values of one response, each point labelled with its run id.

    ``studentized`` plots internally studentised residuals instead. Returns
    the Axes (one PathCollection of points, a horizontal line at zero).
    UnknownName for an unknown response, StateError when results are missing.
    """
    report = study.fit().report(response)
    d = report.diagnostics(as_frame=False)
    values = d["studentized"] if studentized else d["residual"]
    ax = _axes(ax)
    ax.scatter(d["fitted"], values, color="tab:blue", edgecolors="black", zorder=3)
    ax.axhline(0.0, color="gray", lw=1)
    for run, fx, fy in zip(d["run_id"], d["fitted"], values):
        ax.annotate(str(run), (fx, fy), xytext=(4, 4), textcoords="offset points", fontsize=7)
    ax.set_xlabel("fitted " + _label(response, report.unit))
    ax.set_ylabel("studentized residual" if studentized else "residual")
    ax.set_title(f"Residuals of {response}")
    return ax


def pareto(study: Study, response: str, *, alpha: float = 0.05, ax=None):
    """Pareto chart of the standardised effects |t| of one response's terms (coded units).

    Bars are sorted, largest on top; a dashed line marks the two-sided
    critical t at ``alpha`` on the residual degrees of freedom (none for a
    saturated plan). Returns the Axes (one bar per term).
    """
    report = study.fit().report(response)
    effects = report.standardized_effects()
    order = sorted(effects, key=lambda k: effects[k])
    ax = _axes(ax)
    significant = _critical_t(alpha, report.residual_df)
    colors = ["tab:red" if significant is not None and effects[k] > significant else "tab:gray" for k in order]
    ax.barh(order, [effects[k] for k in order], color=colors, edgecolor="black")
    if significant is not None:
        ax.axvline(significant, color="black", ls="--", lw=1, label=f"t crit ({alpha:g}) = {significant:.3g}")
        ax.legend(loc="lower right", fontsize=8)
    ax.set_xlabel("standardised effect |t|")
    ax.set_title(f"Pareto chart of effects on {response}")
    return ax


def _critical_t(alpha: float, df: int) -> Optional[float]:
    if not 0 < alpha < 1:
        raise InvalidArgument(f"alpha must be in (0, 1), got {alpha!r}")
    if df <= 0:
        return None
    try:
        from scipy.stats import t
    except ImportError:
        return None
    return float(t.ppf(1 - alpha / 2, df))


def robustness(result: Robustness, x: Optional[str] = None, y: Optional[str] = None, *, ax=None):
    """The cloud of relocated optima of a robustness study over two factors.

    Points are the replicates' optima, the star the nominal optimum, and the
    box spans the outermost percentiles on each axis. With one factor, a
    histogram. Returns the Axes.
    """
    names = result.factor_names
    ax = _axes(ax)
    optima = result.optima
    if len(names) == 1:
        ax.hist(optima[:, 0], bins=30, color="tab:blue", edgecolor="black")
        ax.axvline(result.nominal[0], color="red", lw=2, label="nominal optimum")
        ax.set_xlabel(names[0])
        ax.legend(fontsize=8)
        return ax
    x = names[0] if x is None else x
    y = (names[1] if x != names[1] else names[0]) if y is None else y
    ix, iy = _index(names, x, "factor"), _index(names, y, "factor")
    ax.scatter(optima[:, ix], optima[:, iy], s=8, alpha=0.4, color="tab:blue", label="relocated optima")
    ax.scatter([result.nominal[ix]], [result.nominal[iy]], marker="*", s=200, color="red", edgecolors="black",
               label="nominal optimum", zorder=4)
    p = result._setting_percentiles
    low_x, high_x, low_y, high_y = p[ix, 0], p[ix, -1], p[iy, 0], p[iy, -1]
    from matplotlib.patches import Rectangle

    ax.add_patch(Rectangle((low_x, low_y), high_x - low_x, high_y - low_y, fill=False, ls="--", color="black",
                           label=f"p{result.percentiles[0]:g}..p{result.percentiles[-1]:g}"))
    ax.set_xlabel(x)
    ax.set_ylabel(y)
    ax.set_title(f"Robustness of the optimum: {result.replicates} replicates")
    ax.legend(loc="best", fontsize=8)
    return ax



"""Pictures of a study with matplotlib. The numbers come from the library's
plot data (the same the workbench and the report draw); nothing here fits
or predicts. Every function draws on ``ax`` (or ``fig`` for the multi-panel
views; a new figure when None) and returns that Axes or Figure.

    profiler(study, at={"Temperature": 185}, goals={"Yield": "maximize"})
    overlay(study, {"Impurity": (None, 1.5)}, x="Temperature", y="Time", optimum=opt)
    contour(study, "Yield"); surface(study, "Yield"); interaction(study, "Yield")
    residuals(study, "Yield", against="normal"); diagnostics(study, "Yield"); boxcox(study, "Yield")
    fds(study); pareto(study, "Yield"); robustness(rob, study=study, constraints=...)

A view that cannot be drawn (results missing, a saturated model, a single
factor for a two-factor view) raises the library's error saying why.
"""

from __future__ import annotations

import math
from typing import Any, Dict, List, Mapping, Optional, Sequence

import numpy as np

from tavrin import _study
from tavrin._errors import InvalidArgument, UnknownName
from tavrin.study import Fit, Optimum, Robustness, Study, _to_constraints, _to_goals

__all__ = ["PALETTE", "profiler", "contour", "surface", "overlay", "interaction", "residuals", "diagnostics",
           "boxcox", "fds", "correlations", "pareto", "robustness"]

# Okabe and Ito's palette, told apart with every common colour-vision deficiency.
PALETTE = ["#0072B2", "#E69F00", "#009E73", "#D55E00", "#CC79A7", "#56B4E9", "#F0E442", "#000000"]
SEQUENTIAL = "cividis"  # perceptually uniform and colour-blind safe


def _axes(ax, projection: Optional[str] = None):
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt

    fig = plt.figure(figsize=(6.4, 5.0), layout="constrained")
    return fig.add_subplot(projection=projection)


def _figure(fig, size):
    if fig is not None:
        fig.clear()
        return fig
    import matplotlib.pyplot as plt

    return plt.figure(figsize=size, layout="constrained")


def _label(name: str, unit: str) -> str:
    return f"{name} ({unit})" if unit else name


def _index(names: Sequence[str], name: str, what: str) -> int:
    if name not in names:
        raise UnknownName(f"no {what} is named {name!r}; the {what}s are {', '.join(map(repr, names))}")
    return list(names).index(name)


def _fit(source: Any) -> Fit:
    return source if isinstance(source, Fit) else source.fit()


def _pair(fit: Fit, x: Optional[str], y: Optional[str]):
    names = fit.factor_names
    x = names[0] if x is None else x
    ix = _index(names, x, "factor")
    if y is None:
        y = names[1] if len(names) > 1 and ix == 0 else names[0]
    return ix, _index(names, y, "factor")


def _held(fit: Fit, at: Optional[Mapping[str, float]], base: Optional[np.ndarray] = None) -> List[float]:
    held = list(_study.views_centre(fit._core) if base is None else map(float, base))
    for name, value in (at or {}).items():
        held[_index(fit.factor_names, name, "factor")] = float(value)
    return held


def _factor_label(fit: Fit, i: int) -> str:
    f = fit.factors[i]
    return _label(f.name, f.unit)


def _response_label(fit: Fit, j: int) -> str:
    r = fit.responses[j]
    return _label(r.name, r.unit)


def _held_text(fit: Fit, held: Sequence[float], skip: Sequence[int]) -> str:
    others = [f"{n} = {held[k]:.4g}" for k, n in enumerate(fit.factor_names) if k not in skip]
    return f" at {', '.join(others)}" if others else ""


def profiler(study: Any, *, at: Optional[Mapping[str, float]] = None, goals: Any = None, constraints: Any = None,
             steps: int = 41, confidence: float = 0.95, fig=None):
    """The prediction profiler: one panel per response (rows) and factor
    (columns), each the response along the factor with its confidence band,
    the other factors held at ``at`` (default: the centre of the runs' span;
    a dashed line marks the setting). With desirability goals a last row
    shows the overall desirability. Returns the Figure; ``fig.profiler`` is
    the plot data drawn.
    """
    fit = _fit(study)
    setting = _held(fit, at)
    data = _study.views_profiler(fit._core, setting, _to_goals(goals), _to_constraints(constraints), steps,
                                 confidence)
    n, m = len(fit.factor_names), len(fit.response_names)
    rows = m + (1 if data["desirability"] else 0)
    fig = _figure(fig, (2.6 * n + 1.0, 2.0 * rows + 0.6))
    axes = np.atleast_2d(fig.subplots(rows, n, sharey="row", squeeze=False))
    for trace in data["traces"]:
        i, j = trace["factor"], trace["response"]
        ax = axes[j, i]
        ax.fill_between(trace["x"], trace["lower"], trace["upper"], color=PALETTE[5], alpha=0.35, lw=0,
                        label=f"{confidence:.0%} confidence")
        ax.plot(trace["x"], trace["value"], color=PALETTE[0], lw=2, label="prediction")
        ax.axvline(setting[i], color=PALETTE[3], ls="--", lw=1)
        if i == 0:
            ax.set_ylabel(_response_label(fit, j))
    for d in data["desirability"]:
        ax = axes[m, d["factor"]]
        ax.plot(d["x"], d["overall"], color=PALETTE[2], lw=2)
        ax.axvline(setting[d["factor"]], color=PALETTE[3], ls="--", lw=1)
        ax.set_ylim(-0.05, max(1.05, float(np.nanmax(d["overall"])) * 1.05))
        if d["factor"] == 0:
            ax.set_ylabel("desirability")
    for i in range(n):
        axes[rows - 1, i].set_xlabel(_factor_label(fit, i))
    title = "Prediction profiler at " + ", ".join(f"{k} = {v:.4g}" for k, v in zip(fit.factor_names, setting))
    if data["band_note"]:
        title += "\n(no confidence band: " + data["band_note"] + ")"
    fig.suptitle(title, fontsize=10)
    fig.profiler = data
    return fig


def contour(study: Any, response: str, x: Optional[str] = None, y: Optional[str] = None, *,
            at: Optional[Mapping[str, float]] = None, optimum: Optional[Optimum] = None,
            constraints: Any = None, runs: bool = True, levels: int = 20, steps: int = 61,
            cmap: str = SEQUENTIAL, ax=None):
    """Filled contours of a response's fitted surface over two factors.

    Factors not on the axes sit at ``at``, else at the best optimum when
    ``optimum`` is given, else at the centre of the runs' span. Each finite
    bound of ``constraints`` is drawn as a dashed line; ``runs`` marks the
    runs (their actual settings) and ``optimum`` its candidates (stars).
    Returns the Axes (the surface, a colour bar, the boundaries and markers).
    """
    fit = _fit(study)
    j = _index(fit.response_names, response, "response")
    ix, iy = _pair(fit, x, y)
    base = optimum.settings[0] if optimum is not None and len(optimum) else None
    held = _held(fit, at, base)
    data = _study.views_slice(fit._core, j, ix, iy, held, steps)
    ax = _axes(ax)
    filled = ax.contourf(data["x"], data["y"], data["value"], levels=levels, cmap=cmap)
    ax.figure.colorbar(filled, ax=ax, label="fitted " + _response_label(fit, j))
    limits = _to_constraints(constraints)
    if limits:
        _limit_lines(ax, fit, _study.views_overlay(fit._core, limits, ix, iy, held, None, steps), color="white")
    if runs:
        ax.scatter(data["runs"]["x"], data["runs"]["y"], marker="o", s=45, facecolors="white", edgecolors="black",
                   linewidths=1.2, label="runs", clip_on=False, zorder=3)
    if optimum is not None and len(optimum):
        _optima(ax, optimum.settings[:, [ix, iy]])
    ax.set_title(f"Fitted {response}" + _held_text(fit, held, (ix, iy)))
    ax.set_xlabel(_factor_label(fit, ix))
    ax.set_ylabel(_factor_label(fit, iy))
    if runs or optimum is not None:
        ax.legend(loc="lower left", fontsize=8)
    ax.slice = data
    return ax


def _optima(ax, points: np.ndarray) -> None:
    ax.scatter(points[:, 0], points[:, 1], marker="*", s=170, color=PALETTE[3], edgecolors="black",
               label="optima", zorder=4)
    for rank, (sx, sy) in enumerate(points, start=1):
        ax.annotate(str(rank), (sx, sy), xytext=(6, 6), textcoords="offset points", fontsize=8, fontweight="bold")


def _limit_lines(ax, fit: Fit, data: Dict[str, Any], color: Optional[str] = None) -> None:
    for k, limit in enumerate(data["limits"]):
        z = limit["value"]
        level = limit["level"]
        if not np.nanmin(z) < level < np.nanmax(z):
            continue
        name = fit.response_names[limit["response"]]
        side = "≥" if limit["lower"] else "≤"
        lines = ax.contour(data["x"], data["y"], z, levels=[level], linestyles="--", linewidths=1.6,
                           colors=color or PALETTE[limit["response"] % len(PALETTE)])
        ax.clabel(lines, fmt={level: f"{name} {side} {level:g}"}, fontsize=8)


def overlay(study: Any, constraints: Any, x: Optional[str] = None, y: Optional[str] = None, *,
            at: Optional[Mapping[str, float]] = None, optimum: Optional[Optimum] = None, runs: bool = True,
            steps: int = 81, ax=None):
    """The sweet spot: each response's limits as dashed contours over two
    factors and the region where all hold shaded. Factors not on the axes
    sit at ``at``, else at the best optimum, else at the centre. Returns the
    Axes; ``ax.overlay`` is the plot data drawn.
    """
    fit = _fit(study)
    ix, iy = _pair(fit, x, y)
    base = optimum.settings[0] if optimum is not None and len(optimum) else None
    held = _held(fit, at, base)
    core = optimum._core if optimum is not None else None
    data = _study.views_overlay(fit._core, _to_constraints(constraints), ix, iy, held, core, steps)
    ax = _axes(ax)
    from matplotlib.colors import ListedColormap

    ax.contourf(data["x"], data["y"], data["feasible"].astype(float), levels=[0.5, 1.5],
                cmap=ListedColormap([PALETTE[2]]), alpha=0.35)
    _limit_lines(ax, fit, data)
    if runs:
        ax.scatter(data["runs"]["x"], data["runs"]["y"], marker="o", s=40, facecolors="white", edgecolors="black",
                   label="runs", zorder=3, clip_on=False)
    if len(data["optimum"]):
        ax.scatter([data["optimum"][ix]], [data["optimum"][iy]], marker="*", s=220, color=PALETTE[3],
                   edgecolors="black", label="optimum", zorder=4)
    from matplotlib.patches import Patch

    handles, labels = ax.get_legend_handles_labels()
    handles.append(Patch(color=PALETTE[2], alpha=0.35))
    labels.append(f"all limits hold ({data['feasible_fraction']:.0%} of the slice)")
    ax.legend(handles, labels, loc="lower left", fontsize=8)
    ax.set_title("Sweet spot" + _held_text(fit, held, (ix, iy)))
    ax.set_xlabel(_factor_label(fit, ix))
    ax.set_ylabel(_factor_label(fit, iy))
    ax.overlay = data
    return ax


def surface(study: Any, response: str, x: Optional[str] = None, y: Optional[str] = None, *,
            at: Optional[Mapping[str, float]] = None, runs: bool = True, steps: int = 41, cmap: str = SEQUENTIAL,
            ax=None):
    """The fitted surface of a response over two factors in 3-D, with the
    runs at their measured values. Returns the (3-D) Axes."""
    fit = _fit(study)
    j = _index(fit.response_names, response, "response")
    ix, iy = _pair(fit, x, y)
    held = _held(fit, at)
    data = _study.views_slice(fit._core, j, ix, iy, held, steps)
    ax = _axes(ax, projection="3d")
    gx, gy = np.meshgrid(data["x"], data["y"])
    ax.plot_surface(gx, gy, data["value"], cmap=cmap, alpha=0.85, linewidth=0)
    if runs:
        ax.scatter(data["runs"]["x"], data["runs"]["y"], data["runs"]["observed"], color=PALETTE[3], s=25,
                   depthshade=False, label="runs")
    ax.set_xlabel(_factor_label(fit, ix))
    ax.set_ylabel(_factor_label(fit, iy))
    ax.set_zlabel(_response_label(fit, j))
    ax.set_title(f"Fitted {response}" + _held_text(fit, held, (ix, iy)), fontsize=10)
    ax.slice = data
    return ax


def interaction(study: Any, response: str, factor: Optional[str] = None, by: Optional[str] = None, *,
                at: Optional[Mapping[str, float]] = None, steps: int = 41, ax=None):
    """The response along ``factor`` with ``by`` at the low and at the high
    end of the runs' span; non-parallel lines show an interaction."""
    fit = _fit(study)
    j = _index(fit.response_names, response, "response")
    ix, iy = _pair(fit, factor, by)
    held = _held(fit, at)
    data = _study.views_interaction(fit._core, j, ix, iy, held, steps)
    ax = _axes(ax)
    name = fit.factors[iy].name
    unit = f" {fit.factors[iy].unit}" if fit.factors[iy].unit else ""
    ax.plot(data["x"], data["at_low"], color=PALETTE[0], lw=2, ls="-", label=f"{name} = {data['by_low']:.4g}{unit}")
    ax.plot(data["x"], data["at_high"], color=PALETTE[1], lw=2, ls="--", label=f"{name} = {data['by_high']:.4g}{unit}")
    ax.set_xlabel(_factor_label(fit, ix))
    ax.set_ylabel("fitted " + _response_label(fit, j))
    ax.set_title(f"Interaction of {fit.factors[ix].name} and {name} on {response}", fontsize=10)
    ax.legend(fontsize=8)
    ax.interaction = data
    return ax


def residuals(study: Study, response: str, against: str = "fitted", *, studentized: bool = False, ax=None):
    """Residuals of one response's model against ``against``: "fitted",
    "order" (the run order), "normal" (a normal-probability plot: Blom's
    normal scores against the residuals), or a factor's name. Outliers (the
    Bonferroni test of the model builder) are drawn in vermilion and
    labelled with their run id. ``studentized`` plots externally studentised
    residuals. Returns the Axes; ``ax.residuals`` is the plot data drawn.
    """
    data = _study.views_residuals(study._core, response)
    values = data["externally_studentized"] if studentized else data["residual"]
    what = "externally studentised residual" if studentized else "residual"
    unit = f" ({data['unit']})" if data["unit"] and not studentized else ""
    if against == "normal":
        x, xlabel = data["normal_score"], "normal score"
    elif against == "order":
        x, xlabel = np.asarray(data["order"], dtype=float), "run order"
    elif against == "fitted":
        x, xlabel = data["fitted"], "fitted " + _label(response, data["unit"])
    else:
        k = _index(study.factor_names, against, "factor")
        x, xlabel = data["settings"][:, k], _label(against, study.factors[k].unit)
    ax = _axes(ax)
    outlier = np.asarray(data["outlier"], dtype=bool)
    ax.scatter(x[~outlier], values[~outlier], color=PALETTE[0], edgecolors="black", zorder=3, label="runs")
    if outlier.any():
        ax.scatter(x[outlier], values[outlier], color=PALETTE[3], edgecolors="black", marker="D", zorder=4,
                   label=f"outlier (Bonferroni p < {data['alpha']:g})")
        for run, px, py in zip(np.asarray(data["run_ids"])[outlier], x[outlier], values[outlier]):
            ax.annotate(f"run {run}", (px, py), xytext=(4, 4), textcoords="offset points", fontsize=8)
    if against == "normal":
        ax.set_xlabel(xlabel)
        ax.set_ylabel(what + unit)
    else:
        ax.axhline(0.0, color="gray", lw=1)
        if against == "order":
            ax.plot(x, values, color=PALETTE[0], lw=0.8, alpha=0.6)
        ax.set_xlabel(xlabel)
        ax.set_ylabel(what + unit)
    titles = {"normal": "Normal probability", "order": "Against run order", "fitted": "Against fitted values"}
    ax.set_title(f"{titles.get(against, 'Against ' + against)}: {response}", fontsize=10)
    if outlier.any():
        ax.legend(fontsize=8)
    ax.residuals = data
    return ax


def diagnostics(study: Study, response: str, *, studentized: bool = False, fig=None):
    """Every residual plot of one response in one Figure: normal
    probability, run order, fitted values and one panel per factor."""
    panels = ["normal", "order", "fitted"] + list(study.factor_names)
    cols = min(3, len(panels))
    rows = math.ceil(len(panels) / cols)
    fig = _figure(fig, (4.2 * cols, 3.3 * rows))
    axes = fig.subplots(rows, cols, squeeze=False).ravel()
    for ax, against in zip(axes, panels):
        residuals(study, response, against, studentized=studentized, ax=ax)
    for ax in axes[len(panels):]:
        ax.set_visible(False)
    return fig


def boxcox(study: Study, response: str, *, model: Optional[str] = None, ax=None):
    """The Box-Cox profile of one response: the log-likelihood of the power
    lambda under ``model`` (as build_model reads it, "1" the mean alone; None
    for the response's chosen model), the maximum-likelihood lambda,
    its 95 % interval (where the profile stays above the dashed cut) and
    the transform the library recommends. A response with a value that is
    not positive raises the library's error naming the run. Returns the
    Axes; ``ax.boxcox`` is the plot data drawn."""
    data = _study.views_box_cox(study._core, response, model or "")
    lower, upper = data["interval"]
    ax = _axes(ax)
    ax.plot(data["lambda"], data["log_likelihood"], color=PALETTE[0], lw=2, label="profile log-likelihood")
    ax.axhline(data["cut"], color="gray", ls="--", lw=1, label="95 % cut")
    ax.axvspan(lower, upper, color=PALETTE[5], alpha=0.2, label=f"95 % interval {lower:.3g} .. {upper:.3g}")
    ax.plot([data["best"]], [data["best_log_likelihood"]], "o", color=PALETTE[3], markeredgecolor="black",
            label=f"lambda = {data['best']:.3g}")
    ax.axvline(data["recommended"], color=PALETTE[2], lw=1.5, label=f"recommended: {data['recommendation']}")
    ax.set_xlabel("Box-Cox power lambda")
    ax.set_ylabel("log-likelihood (up to a constant)")
    ax.set_title(f"Box-Cox profile of {response}", fontsize=10)
    ax.legend(fontsize=8)
    ax.boxcox = data
    return ax


def fds(study: Study, *, samples: int = 10000, seed: int = 1, ax=None):
    """The fraction-of-design-space plot: the scaled prediction variance
    N f'(X'X)^-1 f of the full quadratic at the runs' settings, sorted over
    the coded cube; the dashed line is its mean over the region."""
    data = _study.views_prediction_variance(study._core, samples, seed)
    ax = _axes(ax)
    ax.plot(data["fractions"], data["spv"], color=PALETTE[0], lw=2, label="scaled prediction variance")
    ax.axhline(data["mean_spv"], color=PALETTE[1], ls="--", lw=1.2, label=f"mean over the region {data['mean_spv']:.3g}")
    ax.set_xlabel("fraction of the design space")
    ax.set_ylabel("scaled prediction variance")
    ax.set_xlim(0, 1)
    ax.set_title(f"Prediction variance of the {len(study.run_ids)} runs (full quadratic)", fontsize=10)
    ax.legend(fontsize=8)
    ax.fds = data
    return ax


def correlations(study: Study, *, ax=None):
    """How strongly the full quadratic's columns correlate over the runs'
    settings, term by term (the intercept left out); 0 off the diagonal is
    what an orthogonal design gives. Returns the Axes."""
    data = _study.views_prediction_variance(study._core, 101, 1)
    terms = data["terms"][1:]
    values = data["correlations"][1:, 1:]
    ax = _axes(ax)
    image = ax.imshow(values, cmap="RdBu", vmin=-1, vmax=1)
    ax.figure.colorbar(image, ax=ax, label="correlation")
    ax.set_xticks(range(len(terms)), terms, rotation=90)
    ax.set_yticks(range(len(terms)), terms)
    ax.set_title("Correlation of the model terms over the runs", fontsize=10)
    ax.correlations = data
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
    colors = [PALETTE[3] if significant is not None and effects[k] > significant else "#999999" for k in order]
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


def robustness(result: Robustness, x: Optional[str] = None, y: Optional[str] = None, *,
               study: Any = None, constraints: Any = None, ax=None):
    """The cloud of relocated optima of a robustness study over two factors.

    Points are the replicates' optima, the star the nominal optimum, and the
    dashed box spans the outermost percentiles on each axis. With ``study``
    and ``constraints`` the cloud sits on the sweet-spot overlay at the
    nominal optimum. With one factor, a histogram. Returns the Axes.
    """
    names = result.factor_names
    ax = _axes(ax)
    if len(names) == 1:
        ax.hist(result.optima[:, 0], bins=30, color=PALETTE[0], edgecolor="black")
        ax.axvline(result.nominal[0], color=PALETTE[3], lw=2, label="nominal optimum")
        ax.set_xlabel(names[0])
        ax.legend(fontsize=8)
        return ax
    fit = result._optimum._fit
    ix, iy = _pair(fit, x, y)
    if study is not None and constraints is not None:
        overlay(study, constraints, names[ix], names[iy], at=dict(zip(names, map(float, result.nominal))),
                runs=False, ax=ax)
    data = _study.views_robustness_cloud(fit._core, result._core, ix, iy)
    ax.scatter(data["x"], data["y"], s=8, alpha=0.5, color=PALETTE[0], label="relocated optima", zorder=5)
    ax.scatter([data["nominal"][0]], [data["nominal"][1]], marker="*", s=200, color=PALETTE[3], edgecolors="black",
               label="nominal optimum", zorder=6)
    from matplotlib.patches import Rectangle

    lx, hx, ly, hy = data["box"]
    lo, hi = data["percentiles"]
    ax.add_patch(Rectangle((lx, ly), hx - lx, hy - ly, fill=False, ls="--", color="black", zorder=6,
                           label=f"p{lo:g}..p{hi:g}"))
    ax.set_xlabel(_factor_label(fit, ix))
    ax.set_ylabel(_factor_label(fit, iy))
    ax.set_title(f"Robustness of the optimum: {result.replicates} replicates")
    ax.legend(loc="best", fontsize=8)
    ax.cloud = data
    return ax

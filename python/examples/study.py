"""A whole study in Python: plan, measure, fit, optimize and draw.

A reaction is run at a temperature and for a time chosen by a Box-Behnken plan.
Two responses are "measured" from known functions with a little deterministic
noise: the yield, to be maximised, and an impurity, which must stay below 2.2 %.
The fitted yield surface is drawn as a contour plot with the plan's runs and
the five best points that the search found.

Usage: study.py [output.png]   (default study.png)
"""

import math
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import tavrin  # noqa: E402

TEMPERATURE, TIME = "Temperature", "Time"
YIELD, IMPURITY = "Yield", "Impurity"
IMPURITY_LIMIT = 2.2


def true_yield(temperature, time):
    dt, dm = temperature - 88.0, time - 38.0
    return 80.0 - 0.02 * dt * dt - 0.015 * dm * dm + 0.005 * dt * dm


def true_impurity(temperature, time):
    return 0.5 + 0.04 * (temperature - 60.0) + 0.03 * (time - 10.0)


def noise(k, scale):
    return scale * math.sin(1.7 * k + 0.3)


def main(png_path):
    study = tavrin.CTavrin(tavrin.PlanType.BoxBehnkenPlan)
    study.planAddDesignVar(TEMPERATURE, 60.0, 100.0)  # °C
    study.planAddDesignVar(TIME, 10.0, 50.0)  # min
    study.planAddObjective(YIELD)
    study.planAddObjective(IMPURITY)
    study.planCompute()

    runs = study.experiment_table(YIELD)  # [temperature, time] per experiment
    print(f"{len(runs)} experiments")
    study.set_objective_values(YIELD, [true_yield(*run) + noise(k, 0.3) for k, run in enumerate(runs)])
    study.set_objective_values(IMPURITY, [true_impurity(*run) + noise(k, 0.02) for k, run in enumerate(runs)])
    study.modelCompute()

    # Maximise the yield; the impurity (weight 0) is a constraint.
    study.modelSetObjectiveLimits(YIELD, 1.0, 0.0, 0.0)
    study.modelSetObjectiveLimits(IMPURITY, 0.0, 0.0, IMPURITY_LIMIT)
    study.modelSetDesignVarLimits(TEMPERATURE, 60.0, 100.0)
    study.modelSetDesignVarLimits(TIME, 10.0, 50.0)
    study.modelOptimize(0, 1024)

    best, best_yield = [], []
    for slot in range(1, tavrin.BestResultCount + 1):
        t = study.modelGetDesignVarBestResult(TEMPERATURE, slot)
        m = study.modelGetDesignVarBestResult(TIME, slot)
        y = study.modelGetObjectiveBestResult(YIELD, slot)
        c = study.modelGetObjectiveBestResult(IMPURITY, slot)
        best.append((t, m))
        best_yield.append(y)
        print(f"best point {slot}: {TEMPERATURE} {t:7.3f}  {TIME} {m:7.3f}  -> {YIELD} {y:7.3f}  {IMPURITY} {c:6.3f}")

    # Evaluate both fitted models on a grid. Moving the point clears the
    # model flag, so every point needs its own modelCompute.
    steps = 61
    temps = [60.0 + 40.0 * i / (steps - 1) for i in range(steps)]
    times = [10.0 + 40.0 * j / (steps - 1) for j in range(steps)]
    yield_grid, impurity_grid = [], []
    for m in times:
        yield_row, impurity_row = [], []
        for t in temps:
            study.modelSetDesignVarValue(TEMPERATURE, t)
            study.modelSetDesignVarValue(TIME, m)
            study.modelCompute()
            yield_row.append(study.modelGetObjectiveValue(YIELD))
            impurity_row.append(study.modelGetObjectiveValue(IMPURITY))
        yield_grid.append(yield_row)
        impurity_grid.append(impurity_row)

    fig, ax = plt.subplots(figsize=(7, 5.5))
    filled = ax.contourf(temps, times, yield_grid, levels=20, cmap="viridis")
    fig.colorbar(filled, ax=ax, label=f"fitted {YIELD} (%)")
    limit = ax.contour(temps, times, impurity_grid, levels=[IMPURITY_LIMIT], colors="white", linestyles="--")
    ax.clabel(limit, fmt={IMPURITY_LIMIT: f"{IMPURITY} = {IMPURITY_LIMIT} %"}, fontsize=8, manual=[(95, 18)])
    ax.scatter([r[0] for r in runs], [r[1] for r in runs], marker="o", s=50, facecolors="white",
               edgecolors="black", linewidths=1.5, label="plan runs", clip_on=False, zorder=3)
    ax.scatter([p[0] for p in best], [p[1] for p in best], marker="*", s=160, color="red",
               edgecolors="black", label="best points", zorder=4)
    # Labels in a column to the right, in the points' vertical order so that no leader lines cross.
    by_height = sorted(range(len(best)), key=lambda k: -best[k][1])
    for row, k in enumerate(by_height):
        ax.annotate(f"{k + 1}: {best_yield[k]:.2f} %", best[k], xytext=(91.0, 41.0 - 2.8 * row),
                    fontsize=8, va="center", bbox={"boxstyle": "round,pad=0.2", "fc": "white", "alpha": 0.8},
                    arrowprops={"arrowstyle": "-", "color": "black", "lw": 0.6})
    ax.set_xlabel(f"{TEMPERATURE} (°C)")
    ax.set_ylabel(f"{TIME} (min)")
    ax.set_title(f"Box-Behnken study: fitted {YIELD}, {IMPURITY} ≤ {IMPURITY_LIMIT} %")
    ax.legend(loc="lower left", fontsize=8)
    fig.tight_layout()
    fig.savefig(png_path, dpi=110)
    print(f"plot written to {png_path}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "study.png")

"""The example study from Python: plan, measure, fit, optimise, draw.

The simulated process of examples/process_study.cpp: reaction Temperature
(150..210 °C) and Time (10..50 min); Yield (%) is maximised while Impurity
(%) stays at or below 1.5 %. The "lab" fills the run sheet in execution
order; the results go back by run id.

Usage: study.py [output folder]   (default: the current folder)
Writes python_contour.png, python_residuals.png, python_pareto.png and
python_robustness.png there (the pictures in docs/).
"""

import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import numpy as np  # noqa: E402

import tavrin  # noqa: E402
from tavrin import plot  # noqa: E402


def lab(sheet):
    """The 'real' process, unknown to the experimenter, with a little noise."""
    dT, dt = sheet["Temperature"] - 192.0, sheet["Time"] - 38.0
    noise = np.sin(1.7 * sheet["run_order"] + 0.3)
    sheet["Yield"] = 88.0 - 0.012 * dT**2 - 0.015 * dt**2 - 0.0008 * dT * dt + 0.3 * noise
    dT, dt = sheet["Temperature"] - 150.0, sheet["Time"] - 10.0
    sheet["Impurity"] = 0.4 + 0.0004 * dT**2 + 0.012 * dt + 0.00015 * dT * dt + 0.02 * noise
    return sheet


def main(out):
    out.mkdir(parents=True, exist_ok=True)
    # --- the tutorial: a dozen lines ------------------------------------------
    study = tavrin.Study("box-behnken", {"Temperature": (150, 210, "°C"), "Time": (10, 50, "min")},
                         [("Yield", "%"), ("Impurity", "%")], seed=20240611, extra_center_runs=3)
    sheet = lab(study.run_sheet())          # a DataFrame in execution order, indexed by run id
    study.set_results(sheet)                # matched by run id, whatever the row order
    print(study.report("Yield").summary())
    best = study.optimize({"Yield": ("maximize", 80, 90)}, constraints={"Impurity": (None, 1.5)})
    print(best.table())
    spread = best.robustness(replicates=500, seed=1)
    print(spread.setting_percentiles())
    plot.contour(study, "Yield", optimum=best, constraints={"Impurity": (None, 1.5)}).figure.savefig(out / "python_contour.png", dpi=100)
    plot.residuals(study, "Yield").figure.savefig(out / "python_residuals.png", dpi=100)
    plot.pareto(study, "Yield").figure.savefig(out / "python_pareto.png", dpi=100)
    plot.robustness(spread).figure.savefig(out / "python_robustness.png", dpi=100)
    # ----------------------------------------------------------------------------
    print(f"pictures written to {out}")


if __name__ == "__main__":
    main(Path(sys.argv[1] if len(sys.argv) > 1 else "."))

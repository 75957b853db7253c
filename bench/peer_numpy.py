#!/usr/bin/env python3
"""The steps of a study as a competent numpy user writes them, vectorised.

Workloads match bench/tavrin_bench.cpp: W1 (saturated Rechtschaffner plan,
20 variables, 20 objectives, 231 runs), W2 (Box-Behnken, 16 variables,
20 objectives, 385 runs) and the small study (Box-Behnken, 2 variables,
1 objective, 9 runs). Prints one JSON object: median seconds per step.
"""
import io
import json
import os
import statistics
import sys
import tempfile
import time

import numpy as np

WORKLOADS = {"W1": (20, 20, 231), "W2": (16, 20, 385), "small": (2, 1, 9)}


def quadratic_terms(x):
    """Design matrix of the full quadratic model: 1, x_i, x_i^2, x_i x_k."""
    n = x.shape[1]
    iu, ku = np.triu_indices(n, 1)
    return np.hstack([np.ones((x.shape[0], 1)), x, x * x, x[:, iu] * x[:, ku]])


def median_time(step, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        step()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def run(name, points):
    n, m, runs = WORKLOADS[name]
    rng = np.random.default_rng(1)
    coded_runs = rng.integers(-1, 2, size=(runs, n)).astype(float)
    low = np.arange(1, n + 1, dtype=float)
    high = 2 * low + 10
    natural_runs = (low + high) / 2 + (high - low) / 2 * coded_runs
    observations = np.sin(0.37 * np.arange(1, m + 1) + 0.11 * np.arange(1, runs + 1)[:, None]) * 10
    weights = np.ones(m)
    weights[-1] = 0.0
    result = {}

    design = quadratic_terms(coded_runs)
    coefficients = np.linalg.lstsq(design, observations, rcond=None)[0]
    result["modelCompute"] = median_time(lambda: np.linalg.lstsq(design, observations, rcond=None), 21)

    def search():
        t = rng.random((points, n))
        natural = low + (high - low) * t
        predictions = quadratic_terms((2 * natural - high - low) / (high - low)) @ coefficients
        admissible = (predictions[:, -1] >= -1e6) & (predictions[:, -1] <= 1e6)
        score = np.where(admissible, predictions @ weights, -np.inf)
        best = np.argpartition(-score, 5)[:5]
        return natural[best], predictions[best]

    result["modelOptimize"] = median_time(search, 7)

    table = np.hstack([observations.reshape(-1, 1),
                       np.repeat(natural_runs[None], m, axis=0).reshape(-1, n)])
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "study.txt")
        coefficient_path = os.path.join(folder, "coefficients.txt")

        def save():
            np.savetxt(path, table, fmt="%g", delimiter="\t")
            np.savetxt(coefficient_path, coefficients, fmt="%g", delimiter="\t")

        result["Save"] = median_time(save, 11)
        save()
        result["Load"] = median_time(lambda: np.loadtxt(path, delimiter="\t"), 11)
    return result


def main():
    print(json.dumps({name: run(name, 1024 if name == "small" else 65536) for name in WORKLOADS}))


if __name__ == "__main__":
    sys.exit(main())

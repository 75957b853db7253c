#!/usr/bin/env python3
"""The numpy peer of bench/optimal_bench.cpp: a D-optimal design for 6
factors, the full quadratic (28 terms), 40 runs, by the same coordinate
exchange the library runs with `refine` off:

  a start draws every coordinate from 21 equally spaced levels on [-1, 1]
  until X'X has full rank; each coordinate of each run in turn moves to the
  level with the largest determinant ratio (matrix determinant lemma, all
  21 levels scored at once), (X'X)^-1 follows by two Sherman-Morrison
  updates, and is recomputed once per pass; passes end when none moves.

--starts K times K starts (seeds [seed, k]) and reports the best;
--budget S runs starts until S seconds have passed and reports the best and
how many starts fitted. Prints JSON.

Usage: peer_optimal.py [--starts 20] [--budget SECONDS] [--seed 1]
"""
import argparse
import json
import time

import numpy as np

FACTORS = 6
RUNS = 40
LEVELS = np.linspace(-1.0, 1.0, 21)
MIN_GAIN = 1e-10
MAX_PASSES = 200


def layout(n):
    """Columns of the quadratic.h layout: constant, linear, squares, products i<j."""
    linear = [1 + i for i in range(n)]
    square = [1 + n + i for i in range(n)]
    products = [[] for _ in range(n)]  # (column, other factor) per factor
    k = 1 + 2 * n
    for i in range(n):
        for j in range(i + 1, n):
            products[i].append((k, j))
            products[j].append((k, i))
            k += 1
    return k, linear, square, products


P, LINEAR, SQUARE, PRODUCTS = layout(FACTORS)
PRODUCT_COLS = [np.array([c for c, _ in PRODUCTS[j]]) for j in range(FACTORS)]
PRODUCT_OTHERS = [np.array([o for _, o in PRODUCTS[j]]) for j in range(FACTORS)]


def model_rows(z):
    cols = [np.ones(len(z))] + [z[:, i] for i in range(FACTORS)] + [z[:, i] ** 2 for i in range(FACTORS)]
    cols += [z[:, i] * z[:, j] for i in range(FACTORS) for j in range(i + 1, FACTORS)]
    return np.column_stack(cols)


def start(seed, k):
    rng = np.random.default_rng([seed, k])
    while True:
        z = LEVELS[rng.integers(0, len(LEVELS), (RUNS, FACTORS))]
        x = model_rows(z)
        sign, _ = np.linalg.slogdet(x.T @ x)
        if sign > 0 and np.linalg.cond(x.T @ x) < 1e12:
            break
    a = np.linalg.inv(x.T @ x)
    for _ in range(MAX_PASSES):
        moved = False
        for i in range(RUNS):
            for j in range(FACTORS):
                row = x[i]
                y = np.tile(row, (len(LEVELS), 1))
                y[:, LINEAR[j]] = LEVELS
                y[:, SQUARE[j]] = LEVELS ** 2
                y[:, PRODUCT_COLS[j]] = LEVELS[:, None] * z[i, PRODUCT_OTHERS[j]][None, :]
                ay = y @ a
                ax = a @ row
                ratio = (1.0 + np.einsum("ij,ij->i", ay, y)) * (1.0 - row @ ax) + (ay @ row) ** 2
                best = int(np.argmax(ratio))
                if not (ratio[best] > 1e-12 and np.log(ratio[best]) > MIN_GAIN):
                    continue
                new = y[best]
                a_new = ay[best]
                a = a - np.outer(a_new, a_new) / (1.0 + new @ a_new)
                a_old = a @ row
                a = a + np.outer(a_old, a_old) / (1.0 - row @ a_old)
                z[i, j] = LEVELS[best]
                x[i] = new
                moved = True
        a = np.linalg.inv(x.T @ x)
        if not moved:
            break
    return np.linalg.slogdet(x.T @ x)[1]


def d_efficiency(log_det):
    return 100.0 * np.exp(log_det / P) / RUNS


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--starts", type=int, default=20)
    parser.add_argument("--budget", type=float)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    begin = time.perf_counter()
    best = -np.inf
    k = 0
    while (k < args.starts) if args.budget is None else (time.perf_counter() - begin < args.budget):
        best = max(best, start(args.seed, k))
        k += 1
    elapsed = time.perf_counter() - begin
    print(json.dumps({"starts": k, "seconds": elapsed, "log_det": best, "d_efficiency": d_efficiency(best)}))


if __name__ == "__main__":
    main()

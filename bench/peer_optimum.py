#!/usr/bin/env python3
"""The numpy + scipy peer of bench/optimum_bench.cpp.

Reads the studies that `optimum_bench --export FILE` writes (coded models,
goals, constraint, least-squares map, observations, and the library's own
optimum) and does the same work with scipy:

  optimum:    30-start SLSQP (uniform random starts, seed 1) on the same
              models with analytic gradients, bounds [-1, 1] and the
              constraint as an inequality, maximising log D; reports the
              median time and the best overall desirability, against the
              library's;
  robustness: K perturbed result sets (observations + sigma * z), refitted
              with one product through the least-squares map, and the
              optimum relocated per replicate by SLSQP from the nominal
              optimum and from the 2 best of 256 Sobol points, as the
              library does. Timed on a subset of the replicates and scaled
              to K, since the full run takes minutes.

Usage: peer_optimum.py FILE [--repeat 5]
"""
import argparse
import json
import sys
import time

import numpy as np
from scipy.optimize import minimize
from scipy.stats import qmc


def term_count(n):
    return 1 + 2 * n + n * (n - 1) // 2


class Quadratic:
    """A full quadratic in coded units, from the coefficient layout of
    include/tavrin/quadratic.h: constant, linear, squares, products i<j."""

    def __init__(self, coef, n):
        coef = np.asarray(coef, dtype=float)
        self.c0 = coef[0]
        self.b = coef[1:1 + n].copy()
        self.A = np.diag(coef[1 + n:1 + 2 * n])
        k = 1 + 2 * n
        for i in range(n):
            for j in range(i + 1, n):
                self.A[i, j] = self.A[j, i] = coef[k] / 2.0
                k += 1

    def value(self, x):
        return self.c0 + self.b @ x + x @ self.A @ x

    def gradient(self, x):
        return self.b + 2.0 * self.A @ x


class Problem:
    def __init__(self, case, coded=None):
        self.n = case["factors"]
        names = case["responses"]
        coded = case["coded"] if coded is None else coded
        self.models = {name: Quadratic(coded[k], self.n) for k, name in enumerate(names)}
        self.goals = case["goals"]
        self.constraints = case["constraints"]

    def ratio(self, goal, x):
        q = self.models[goal["response"]]
        y, g = q.value(x), q.gradient(x)
        span = goal["high"] - goal["low"]
        if goal["kind"] == "max":
            r, dr = (y - goal["low"]) / span, g / span
        else:
            r, dr = (goal["high"] - y) / span, -g / span
        if r >= 1.0:
            return 1.0, np.zeros_like(x)
        return r, dr

    def overall(self, x):
        d = [max(self.ratio(g, x)[0], 0.0) for g in self.goals]
        return float(np.prod(d) ** (1.0 / len(d)))

    def neg_log_d(self, x):
        value, grad = 0.0, np.zeros_like(x)
        for g in self.goals:
            r, dr = self.ratio(g, x)
            r = max(r, 1e-12)
            value -= np.log(r) / len(self.goals)
            grad -= dr / r / len(self.goals)
        return value, grad

    def scipy_constraints(self):
        out = []
        for c in self.constraints:
            q = self.models[c["response"]]
            out.append({"type": "ineq", "fun": lambda x, q=q, h=c["high"]: h - q.value(x),
                        "jac": lambda x, q=q: -q.gradient(x)})
        return out

    def feasible(self, x, tol=1e-9):
        return all(self.models[c["response"]].value(x) <= c["high"] + tol for c in self.constraints)

    def polish(self, x0):
        r = minimize(self.neg_log_d, x0, jac=True, method="SLSQP", bounds=[(-1.0, 1.0)] * self.n,
                     constraints=self.scipy_constraints(), options={"ftol": 1e-12, "maxiter": 500})
        return r.x

    def best_of(self, starts):
        best, best_d = None, -1.0
        for x0 in starts:
            x = self.polish(x0)
            if self.feasible(x):
                d = self.overall(x)
                if d > best_d:
                    best, best_d = x, d
        return best, best_d


def optimum_peer(case, repeat):
    problem = Problem(case)
    times, best_d = [], None
    for _ in range(repeat):
        rng = np.random.default_rng(1)
        starts = rng.uniform(-1.0, 1.0, size=(30, problem.n))
        t = time.perf_counter()
        _, best_d = problem.best_of(starts)
        times.append(time.perf_counter() - t)
    return float(np.median(times)), best_d


def robustness_peer(case, replicates, timed):
    n = case["factors"]
    solver = np.array(case["solver"])
    obs = np.array(case["observations"])
    sigma = np.array(case["sigma"], dtype=float)
    if np.isnan(sigma).any():
        # RMSE of the residuals where not supplied; pinv(solver) is the design matrix.
        fitted = np.linalg.pinv(solver) @ (solver @ obs)
        df = obs.shape[0] - solver.shape[0]
        rmse = np.sqrt(((obs - fitted) ** 2).sum(axis=0) / df)
        sigma = np.where(np.isnan(sigma), rmse, sigma)
    nominal = np.array(case["ours"]["coded"])
    sobol = qmc.Sobol(d=n, scramble=False).random(256) * 2.0 - 1.0
    t = time.perf_counter()
    rng = np.random.default_rng(1)
    runs, responses = obs.shape
    y = obs[:, None, :] + sigma[None, None, :] * rng.standard_normal((runs, timed, responses))
    coefficients = solver @ y.reshape(runs, timed * responses)
    coefficients = coefficients.reshape(solver.shape[0], timed, responses)
    for k in range(timed):
        problem = Problem(case, coded=[coefficients[:, k, j] for j in range(responses)])
        scores = []
        for x in sobol:
            ok = problem.feasible(x)
            scores.append((ok, problem.overall(x) if ok else 0.0))
        order = sorted(range(len(sobol)), key=lambda i: (not scores[i][0], -scores[i][1]))
        problem.best_of([nominal, sobol[order[0]], sobol[order[1]]])
    elapsed = time.perf_counter() - t
    return elapsed / timed * replicates


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    with open(args.file) as f:
        cases = json.load(f)
    print(f"{'study':8} {'scipy 30-start SLSQP':>22} {'scipy best D':>22} {'library D':>22} {'rel. diff':>10}")
    for case in cases:
        seconds, peer_d = optimum_peer(case, args.repeat)
        ours = case["ours"]["overall"]
        print(f"{case['name']:8} {seconds * 1e3:19.2f} ms {peer_d:22.15g} {ours:22.15g} "
              f"{(ours - peer_d) / abs(peer_d):10.2e}")
    for name, replicates, timed in (("example", 10000, 200), ("twenty", 1000, 10)):
        case = next(c for c in cases if c["name"] == name)
        seconds = robustness_peer(case, replicates, timed)
        print(f"robustness {name}: K = {replicates}: {seconds:.1f} s (scaled from {timed} replicates)")
    return 0


if __name__ == "__main__":
    sys.exit(main())

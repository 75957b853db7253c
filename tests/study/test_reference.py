"""The study layer against independent references: statsmodels OLS for the
coefficients, exact rational arithmetic for the natural-unit expansion, and
an MT19937-64 written from its published definition for the run order."""
import json
import math
import os
import subprocess
from fractions import Fraction

import numpy as np
import pytest
import statsmodels.api as sm

TOOL = os.environ.get("STUDY_FIT_JSON")
pytestmark = pytest.mark.skipif(not TOOL, reason="STUDY_FIT_JSON is not set (run through ctest)")


def study_doc(kind, factors, responses, seed, extra, runs, results=None):
    return {
        "format": "tavrin-study", "version": 1, "kind": kind,
        "factors": [{"name": n, "low": lo, "high": hi, "unit": ""} for n, lo, hi in factors],
        "responses": [{"name": r, "unit": ""} for r in responses],
        "seed": seed, "extraCenterRuns": extra,
        "executionOrder": list(range(1, runs + 1)),
        "results": results if results is not None else [[None] * len(responses) for _ in range(runs)],
    }


def run_tool(tmp_path, doc):
    path = tmp_path / "study.json"
    path.write_text(json.dumps(doc))
    out = subprocess.run([TOOL, str(path)], capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def run_count(kind, n, extra):
    base = {3: 13, 4: 25, 5: 41}[n] if kind == "box-behnken" else (n + 1) * (n + 2) // 2
    return base + extra


def plan_of(tmp_path, kind, factors, seed, extra):
    runs = run_count(kind, len(factors), extra)
    return run_tool(tmp_path, study_doc(kind, factors, ["Y"], seed, extra, runs))


def quadratic_terms(c):
    """Model-matrix row in the layout: 1, linear, squares, products (i<j)."""
    n = len(c)
    row = [1.0] + list(c) + [x * x for x in c]
    row += [c[i] * c[j] for i in range(n) for j in range(i + 1, n)]
    return row


def natural_expansion(coded, factors):
    """Exact expansion of the coded polynomial with c = (x - m) / h."""
    n = len(factors)
    b = [Fraction(v) for v in coded]
    m = [(Fraction(lo) + Fraction(hi)) / 2 for _, lo, hi in factors]
    h = [(Fraction(hi) - Fraction(lo)) / 2 for _, lo, hi in factors]
    a = [Fraction(0)] * len(b)
    a[0] = b[0]
    pairs = [(i, j) for i in range(n) for j in range(i + 1, n)]
    for i in range(n):
        li, si = 1 + i, 1 + n + i
        a[li] += b[li] / h[i]
        a[0] -= b[li] * m[i] / h[i]
        q = b[si] / (h[i] * h[i])
        a[si] += q
        a[li] -= 2 * q * m[i]
        a[0] += q * m[i] * m[i]
    for k, (i, j) in enumerate(pairs):
        q = b[1 + 2 * n + k] / (h[i] * h[j])
        a[1 + 2 * n + k] += q
        a[1 + i] -= q * m[j]
        a[1 + j] -= q * m[i]
        a[0] += q * m[i] * m[j]
    return a


CASES = [
    ("box-behnken", [("T", 150.3, 210.7), ("t", 10.1, 49.9), ("p", 0.1, 0.7)], 3, 0.0),
    ("box-behnken", [("A", 0.1, 0.7), ("B", -3.3, 1.9), ("C", 1e3 + 0.1, 1e3 + 7.7), ("D", 2.2, 2.9)], 2, 1e7),
    ("rechtschaffner", [("S%d" % i, -0.3 * i, 0.2 * i + 0.1) for i in range(1, 8)], 5, 12345.678),
]


@pytest.mark.parametrize("kind,factors,extra,offset", CASES)
def test_coefficients_match_statsmodels(tmp_path, kind, factors, extra, offset):
    plan = plan_of(tmp_path, kind, factors, 7, extra)
    runs = len(plan["natural"])
    rng = np.random.default_rng(len(factors) * 31 + extra)
    coded = np.array(plan["coded"], dtype=float)
    # Coded levels recomputed here from the natural settings, independently.
    lo = np.array([f[1] for f in factors])
    hi = np.array([f[2] for f in factors])
    natural = np.array(plan["natural"])
    assert np.allclose((2 * natural - lo - hi) / (hi - lo), coded, atol=1e-9)
    X = np.array([quadratic_terms(row) for row in coded])
    truth = rng.normal(0.0, 3.0, X.shape[1])
    y = offset + X @ truth + rng.normal(0.0, 0.5, runs)
    results = [[float(v)] for v in y]
    out = run_tool(tmp_path, study_doc(kind, factors, ["Y"], 7, extra, runs, results))
    layer = np.array(out["models"][0]["coded"])

    # The reference removes the common offset y[0] exactly (Sterbenz) and
    # adds it back to the intercept, as any careful solve would.
    shift = y[0]
    ref = sm.OLS(y - shift, X).fit().params
    ref[0] += shift
    scale = np.max(np.abs(ref[1:]))
    rel = np.abs(layer - ref) / np.maximum(np.abs(ref), scale)
    print("max relative difference from statsmodels: %.2e" % rel.max())
    assert rel.max() < 1e-10, (rel.max(), layer, ref)

    # Natural units: the layer's expansion against exact rational arithmetic.
    exact = natural_expansion(out["models"][0]["coded"], factors)
    natural_coef = out["models"][0]["natural"]
    # Error bound: rounding of the largest term that enters each coefficient.
    m = [(f[1] + f[2]) / 2 for f in factors]
    h = [(f[2] - f[1]) / 2 for f in factors]
    size = max(abs(b) for b in layer) * max(1.0, max(abs(mi) / hi_ for mi, hi_ in zip(m, h))) ** 2
    size /= min(1.0, min(h)) ** 2
    for k, (got, want) in enumerate(zip(natural_coef, exact)):
        assert abs(got - float(want)) <= 1e-13 * size, (k, got, float(want))

    # Leverages: the diagonal of the hat matrix, from numpy.
    hat = X @ np.linalg.pinv(X)
    assert np.allclose(out["leverages"], np.diag(hat), rtol=0, atol=1e-12)


class MT19937_64:
    """MT19937-64 from its published definition (Matsumoto and Nishimura)."""
    W, N, M, R = 64, 312, 156, 31
    A = 0xB5026F5AA96619E9
    U, D = 29, 0x5555555555555555
    S, B = 17, 0x71D67FFFEDA60000
    T, C = 37, 0xFFF7EEE000000000
    L, F = 43, 6364136223846793005
    MASK = (1 << 64) - 1

    def __init__(self, seed):
        self.mt = [seed & self.MASK]
        for i in range(1, self.N):
            prev = self.mt[-1]
            self.mt.append((self.F * (prev ^ (prev >> (self.W - 2))) + i) & self.MASK)
        self.index = self.N

    def next(self):
        if self.index >= self.N:
            lower = (1 << self.R) - 1
            upper = ~lower & self.MASK
            for i in range(self.N):
                x = (self.mt[i] & upper) | (self.mt[(i + 1) % self.N] & lower)
                xa = x >> 1
                if x & 1:
                    xa ^= self.A
                self.mt[i] = self.mt[(i + self.M) % self.N] ^ xa
            self.index = 0
        y = self.mt[self.index]
        self.index += 1
        y ^= (y >> self.U) & self.D
        y ^= (y << self.S) & self.B
        y ^= (y << self.T) & self.C
        y ^= y >> self.L
        return y & self.MASK


def expected_order(runs, seed):
    """Fisher-Yates from the last position down; a draw below 2^64 mod k is rejected."""
    gen = MT19937_64(seed)
    order = list(range(1, runs + 1))
    for k in range(runs, 1, -1):
        threshold = (1 << 64) % k
        while True:
            x = gen.next()
            if x >= threshold:
                break
        j = x % k
        order[k - 1], order[j] = order[j], order[k - 1]
    return order


def test_reference_generator_is_mt19937_64():
    gen = MT19937_64(5489)
    for _ in range(9999):
        gen.next()
    assert gen.next() == 9981545732273789042


@pytest.mark.parametrize("seed", [0, 1, 20240611, 2**64 - 1])
def test_execution_order_matches_independent_generator(tmp_path, seed):
    factors = [("A", 0.1, 0.7), ("B", 1.0, 2.0), ("C", 3.0, 4.0), ("D", 5.0, 6.0)]
    plan = plan_of(tmp_path, "box-behnken", factors, seed, 3)
    assert plan["seedOrder"] == expected_order(len(plan["natural"]), seed)

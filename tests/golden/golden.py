#!/usr/bin/env python3
"""Derives the golden fits, predictions and searches of golden_test.cpp.

Every value is computed with exact rational arithmetic (fractions.Fraction)
and rounded explicitly: to double after each double-precision operation, to
single precision wherever the plan object stores or rounds a float. Nothing
here calls the library; the formulas follow the estimators' definitions.
Run it and compare its output with golden_values.inc (a test does so).
"""
import struct
import sys
from fractions import Fraction as Q


def D(x):  # round to the nearest double (CPython's int / int is correctly rounded)
    return Q(x.numerator / x.denominator) if isinstance(x, Q) else Q(float(x))


def F(x):  # round a double to the nearest single
    return Q(struct.unpack("f", struct.pack("f", float(D(x))))[0])


def add(a, b): return D(a + b)
def sub(a, b): return D(a - b)
def mul(a, b): return D(a * b)
def div(a, b): return D(a / b)


def hexf(x): return float(x).hex()


# ---- plans ---------------------------------------------------------------
F2 = [(1, 1), (1, -1), (-1, 1), (-1, -1)]
F3 = [(1, 1, 1), (1, 1, -1), (1, -1, -1), (-1, -1, -1), (-1, -1, 1), (-1, 1, 1), (1, -1, 1), (-1, 1, -1)]
F4 = [(-1, -1, -1, -1), (1, -1, -1, 1), (-1, 1, -1, 1), (1, 1, -1, -1), (-1, -1, 1, -1), (1, -1, 1, 1),
      (-1, 1, 1, 1), (1, 1, 1, -1), (1, 1, 1, 1), (-1, 1, 1, -1), (1, -1, 1, -1), (-1, -1, 1, 1),
      (1, 1, -1, 1), (-1, 1, -1, -1), (1, -1, -1, -1), (-1, -1, -1, 1)]
BLOCKS = {  # variables 1..9 as digits, a..g for 10..16 where a block has them
    3: "12 13 23", 4: "12 34 14 23 13 24", 5: "12 34 25 13 45 23 14 35 15 24",
    6: "124 235 346 145 256 136", 7: "456 167 257 124 347 135 236",
    9: "147 258 369 123 456 789 159 348 267 168 249 357 147 258 369",
    11: "3789b 1489a 259ab 136ab 1247b 12358 23469 3457a 4568b 15679 2678a",
    12: "1257 2368 3479 458a 569b 67ac 178b 289c 139a 24ab 35bc 146c",
    10: [(2, 6, 7, 10), (1, 2, 5, 10), (2, 3, 7, 8), (2, 4, 6, 9), (1, 8, 9, 10), (3, 4, 5, 10), (1, 4, 7, 8),
         (3, 5, 7, 9), (1, 3, 6, 9), (4, 5, 6, 8)],
    16: [(1, 2, 6, 9), (3, 4, 8, 11), (5, 10, 13, 14), (7, 12, 15, 16), (2, 3, 7, 10), (1, 4, 5, 12),
         (6, 11, 14, 15), (8, 9, 13, 16), (2, 5, 6, 13), (4, 7, 8, 15), (1, 9, 10, 14), (3, 11, 12, 16),
         (3, 6, 7, 14), (1, 5, 8, 16), (2, 10, 11, 15), (4, 9, 12, 13), (1, 3, 13, 15), (2, 4, 14, 16),
         (5, 7, 9, 11), (6, 8, 10, 12), (4, 6, 10, 16), (3, 5, 9, 15), (1, 7, 11, 13), (2, 8, 12, 14)],
}


def box_behnken_plan(n):
    if n == 1:
        return [None, [0, -1], [0, 1], [0, 0]]
    if n == 2:
        runs = [(1, 1), (-1, 1), (1, -1), (-1, -1), (1, 0), (-1, 0), (0, 1), (0, -1), (0, 0)]
        return [None] + [[0, *r] for r in runs]
    blocks = BLOCKS[n]
    if isinstance(blocks, str):
        blocks = [tuple(int(c, 17) for c in b) for b in blocks.split()]
    F5 = [row + (row[0] * row[1] * row[2] * row[3],) for row in F4]
    factorial = {2: F2, 3: F3, 4: F4, 5: F5}[len(blocks[0])]
    plan = [None]
    for block in blocks:
        for row in factorial:
            run = [0] * (n + 1)
            for t, i in enumerate(block):
                run[i] = row[t]
            plan.append(run)
    plan.append([0] * (n + 1))
    return plan


def rechtschaffner_runs(n):  # ("B", j) run 1+j, ("P", p, q) pair run, ("D", j) axial run; run 1 first
    return [("1",)] + [("B", j) for j in range(1, n + 1)] + \
        [("P", p, q) for p in range(1, n) for q in range(p + 1, n + 1)] + [("D", j) for j in range(1, n + 1)]


# ---- estimators ------------------------------------------------------------
K_ROWS = """0.055555555556 0.08333333333 0.027777777778 0.1388888889 -0.083333333333 0.1666666667 0.027777777778 0.05555555555 -0.11111111111 0.05555555555 0.33333333333 0.6666666667
0.0625 0.0625 0 0.0625 0.0625 0.0625 0 0 -0.0625 0.125 0.25 0.75
0.07 0.05 -0.02 0.03666666666 0.11666666666 0.03333333333 -0.0033333333333 -0.01333333333 -0.046666666666 0.1533333333 0.2 0.8
0.076388888888 0.04166666666 -0.034722222222 0.02430555555 0.14583333333 0.02083333333 -0.0034722222222 -0.01736111111 -0.038194444444 0.1701388888 0.16666666666 0.8333333333
0.081632653061 0.03571428571 -0.045918367347 0.01734693877 0.16428571429 0.01428571428 -0.0030612244898 -0.01836734693 -0.032653061224 0.1816326531 0.14285714286 0.8571428571
0.085937499999 0.03125 -0.0546875 0.01302083333 0.17708333333 0.01041666667 -0.0026041666666 -0.01822916666 -0.028645833333 0.1901041666 0.125 0.875
0.089506172839 0.02777777777 -0.061728395062 0.01014109347 0.1865079365 0.007936507936 -0.0022045855379 -0.0176366843 -0.025573192239 0.1966490299 0.11111111111 0.8888888888
0.092499999999 0.025 -0.067499999999 0.008124999999 0.19374999999 0.00625 -0.001875 -0.016875 -0.023125 0.201875 0.1 0.9
0.095041322314 0.02272727272 -0.072314049587 0.00665748393 0.19949494949 0.00505050505 -0.0016069788797 -0.01606978879 -0.021120293847 0.2061524334 0.090909090909 0.909090909
0.097222222222 0.02083333333 -0.076388888888 0.005555555555 0.20416666666 0.004166666667 -0.0013888888888 -0.01527777777 -0.019444444444 0.2097222222 0.083333333333 0.9166666667
0.099112426036 0.01923076923 -0.079881656804 0.00470683163 0.20804195804 0.003496503496 -0.0012103281334 -0.0145239376 -0.018020441097 0.2127487897 0.076923076923 0.923076923
0.10076530612 0.01785714286 -0.082908163265 0.004039115646 0.21130952381 0.002976190476 -0.00106292517 -0.01381802721 -0.016794217687 0.2153486394 0.071428571428 0.9285714285
0.10222222222 0.01666666667 -0.085555555555 0.003504273504 0.2141025641 0.002564102564 -0.00094017094017 -0.01316239316 -0.015726495726 0.2176068376 0.066666666666 0.9333333333
0.103515625 0.015625 -0.087890625 0.003069196429 0.21651785714 0.002232142857 -0.00083705357142 -0.01255580357 -0.014787946428 0.2195870535 0.0625 0.9375
0.10467128028 0.01470588235 -0.089965397924 0.002710495963 0.21862745098 0.001960784313 -0.00074971164936 -0.01199538639 -0.013956170703 0.2213379469 0.058823529412 0.9411764706
0.10570987654 0.01388888888 -0.091820987654 0.002411265432 0.22048611111 0.001736111111 -0.00067515432101 -0.01147762346 -0.013213734568 0.2228973765 0.055555555555 0.9444444444
0.10664819944 0.01315789473 -0.093490304709 0.002159035359 0.22213622291 0.001547987616 -0.00061104774319 -0.01099885938 -0.012546846993 0.2242952583 0.052631578947 0.947368421"""
K_TABLE = {n: row for n, row in enumerate(K_ROWS.splitlines(), start=4)}  # K1..K12 as stored decimals


def fit_rechtschaffner(n, y):
    K = [None] + [F(Q(float(s))) for s in K_TABLE[n].split()]
    runs = rechtschaffner_runs(n)
    obs = {run: y[r + 1] for r, run in enumerate(runs)}
    pairs = [run for run in runs if run[0] == "P"]

    def acc(c, k, v): return F(add(c, mul(k, v)))

    b = {}
    c = F(mul(K[1], obs[("1",)]))
    for j in range(1, n + 1): c = acc(c, -K[4], obs[("B", j)])
    for p in pairs: c = acc(c, K[7], obs[p])
    for j in range(1, n + 1): c = acc(c, K[11], obs[("D", j)])
    b[0, 0] = c
    for i in range(1, n + 1):
        a, s = F(mul(-K[2], obs[("1",)])), F(mul(K[3], obs[("1",)]))
        for j in range(1, n + 1):
            v = obs[("B", j)]
            a, s = (acc(a, K[2], v), acc(s, K[8], v)) if j != i else (acc(a, -K[5], v), acc(s, K[10], v))
        for p in pairs:
            a, s = (acc(a, K[2], obs[p]), acc(s, K[9], obs[p])) if i in p[1:] else \
                (acc(a, -K[6], obs[p]), acc(s, K[4], obs[p]))
        for j in range(1, n + 1):
            s = acc(s, -K[11] if j != i else K[12], obs[("D", j)])
        b[0, i], b[i, 0] = a, s
    for (_, p, q) in pairs:
        t = F(mul(K[2], obs[("1",)]))
        for j in range(1, n + 1):
            t = acc(t, K[6] if j not in (p, q) else -K[2], obs[("B", j)])
        for run in pairs:
            shared = len({p, q} & set(run[1:]))
            t = acc(t, K[5] if shared == 2 else K[6] if shared == 0 else -K[2], obs[run])
        b[p, q - p] = t
    return b


def bb_weights(n):
    d = lambda a, b: div(Q(a), Q(b))
    plain = {3: (d(1, 8), d(1, 4), d(-1, 16), 2, d(1, 4)), 4: (d(1, 12), d(1, 8), d(-1, 48), 2, d(1, 4)),
             5: (d(1, 16), d(1, 12), d(-1, 96), 2, d(1, 4)), 7: (d(1, 24), d(1, 16), d(-1, 144), 3, d(1, 8)),
             11: (d(1, 80), d(1, 48), d(-1, 600), 5, d(1, 32))}
    if n in plain:
        A, Qw, C, Dv, H = plain[n]
        return dict(A=A, Q=Qw, E=Q(0), F=Q(0), C=C, D=Q(Dv), H=H, G=Q(0))
    if n in (6, 9, 12, 16):
        A, Q0, E0, k, Dv, H, G = {6: (d(1, 24), d(17, 216), d(-5, 108), 10, 3, d(1, 16), d(1, 8)),
                                  9: (d(1, 40), d(1, 30), d(-1, 120), 6, 3, d(1, 16), d(1, 8)),
                                  12: (d(1, 64), d(23, 1024), d(-9, 1024), 9, 4, d(1, 32), d(1, 16)),
                                  16: (d(1, 96), d(41, 3072), d(-7, 3072), 7, 4, d(1, 32), d(1, 16))}[n]
        Fw = div(E0, Q(k))
        return dict(A=A, Q=sub(Q0, Fw), E=sub(E0, Fw), F=Fw, C=Fw, D=Q(Dv), H=H, G=G)
    assert n == 10
    return dict(A=d(1, 64), Q=d(17, 512), E=d(1, 512), F=d(-7, 512), C=Q(0), D=Q(4), H=d(1, 16), G=d(1, 32))


E10 = {1: "234567", 2: "134589", 3: "1246810", 4: "1237910", 5: "126789", 6: "1357810", 7: "1456910",
       8: "2356910", 9: "2457810", 10: "346789"}
F10 = {1: (8, 9, 10), 2: (6, 7, 10), 3: (5, 7, 9), 4: (5, 6, 8), 5: (3, 4, 10), 6: (2, 4, 9), 7: (2, 3, 8),
       8: (1, 4, 7), 9: (1, 3, 6), 10: (1, 2, 5)}
G10 = {(1, 8), (1, 9), (1, 10), (2, 6), (2, 7), (2, 10), (3, 5), (3, 7), (3, 9), (4, 5), (4, 6), (4, 8),
       (5, 10), (6, 9), (7, 8)}


def digits10(text):  # "1246810" -> 1, 2, 4, 6, 8, 10
    out, k = [], 0
    while k < len(text):
        if text[k] == "1" and k + 1 < len(text) and text[k + 1] == "0":
            out.append(10); k += 2
        else:
            out.append(int(text[k])); k += 1
    return out


def partners(n, i):
    if n in (3, 4, 5, 7, 11): return []
    if n == 6: return [i + 3 if i <= 3 else i - 3]
    if n == 9: return [i + 3, i + 6] if i <= 3 else [i - 3, i + 3] if i <= 6 else [i - 3, i - 6]
    if n == 12: return [i + 6 if i <= 6 else i - 6]
    if n == 16:
        return [i + 4, i + 8, i + 12] if i <= 4 else [i - 4, i + 4, i + 8] if i <= 8 else \
            [i - 4, i + 4, i - 8] if i <= 12 else [i - 4, i - 8, i - 12]
    return digits10(E10[i])


def uses_g(n, i, j):
    if n in (3, 4, 5, 7, 11): return False
    if n == 6: return j - i != 3
    if n == 9: return j - i not in (3, 6)
    if n == 12: return j - i != 6
    if n == 16: return j - i not in (4, 8, 12)
    return (i, j) in G10


def fit_box_behnken(n, y):
    N = len(y) - 1
    b = {(0, 0): y[N]}
    if n == 1:
        b[1, 0] = F(div(F(sub(add(y[1], y[2]), mul(2, y[3]))), 2))
        b[0, 1] = F(sub(sub(y[2], y[3]), b[1, 0]))
        return b
    if n == 2:
        chain = lambda *terms: [acc := terms[0]] and [acc := add(acc, t) for t in terms[1:]][-1]
        b[0, 1] = F(div(chain(y[1], -y[2], y[3], -y[4], y[5], -y[6]), 6))
        b[0, 2] = F(div(chain(y[1], y[2], -y[3], -y[4], y[7], -y[8]), 6))
        b[2, 0] = F(div(F(sub(add(sub(chain(y[1], y[2], y[3], y[4]), mul(add(y[5], y[6]), 2)),
                                  mul(add(y[7], y[8]), 3)), mul(y[9], 6))), 10))
        b[1, 0] = F(div(F(sub(chain(y[1], y[2], y[3], y[4], y[7], y[8]), mul(add(b[2, 0], y[9]), 6))), 4))
        b[1, 1] = F(div(chain(y[1], -y[2], -y[3], y[4]), 4))
        return b
    plan, w = box_behnken_plan(n), bb_weights(n)

    def run_sum(level):
        s = Q(0)
        for r in range(1, N + 1):
            s = add(s, mul(Q(level(plan[r])), y[r]))
        return s

    S = [None] + [run_sum(lambda x, i=i: x[i] * x[i]) for i in range(1, n + 1)]
    total = Q(0)
    for i in range(1, n + 1): total = add(total, S[i])
    common = sub(mul(w["C"], total), div(y[N], w["D"]))
    for i in range(1, n + 1):
        sum_e = Q(0)
        for p in partners(n, i): sum_e = add(sum_e, S[p])
        part = mul(w["E"], sum_e)
        if n == 10:
            sum_f = Q(0)
            for p in F10[i]: sum_f = add(sum_f, S[p])
            part = add(part, mul(w["F"], sum_f))
        own = mul(w["Q"], S[i])
        b[i, 0] = F(add(add(own, part), common)) if partners(n, i) else F(add(own, common))
    for i in range(1, n):
        for j in range(i + 1, n + 1):
            b[i, j - i] = F(mul(w["G"] if uses_g(n, i, j) else w["H"], run_sum(lambda x: x[i] * x[j])))
    for i in range(1, n + 1):
        b[0, i] = F(mul(F(run_sum(lambda x: x[i])), w["A"]))
    return b


# ---- evaluation and search -------------------------------------------------
def evaluate(b, n, natural, lo, hi):
    x = [None] + [div(sub(sub(add(natural[i], natural[i]), hi[i]), lo[i]), sub(hi[i], lo[i]))
                  for i in range(1, n + 1)]
    y = b[0, 0]
    y = add(y, mul(add(b[0, n], mul(b[n, 0], x[n])), x[n]))
    for i in range(n - 1, 0, -1):
        s = Q(0)
        for k in range(n, i, -1): s = add(s, mul(b[i, k - i], x[k]))
        y = add(y, mul(add(add(mul(b[i, 0], x[i]), b[0, i]), s), x[i]))
    return y


LPTAU = """1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1
1 3 5 15 17 51 85 255 257 771 1285 3855 4369 13107 21845 65535
1 1 7 11 13 61 67 79 465 721 823 4091 4125 4141 28723 45311
1 3 7 5 7 43 49 147 439 1013 727 987 5889 6915 16647 49925
1 1 5 3 15 51 125 141 177 759 267 1839 6929 16241 16565 17139
1 3 1 1 9 59 25 89 321 835 833 4033 3913 11643 18777 35225
1 1 3 7 31 47 109 173 181 949 471 2515 6211 2147 3169 35873
1 3 3 9 9 57 43 43 225 113 1601 579 1731 11977 7241 63609
1 3 7 13 3 35 89 9 235 929 1341 3863 1347 4417 5087 12631
1 1 5 11 27 53 69 25 103 615 913 977 6197 14651 2507 27109
1 3 5 1 15 19 113 115 411 157 1725 3463 2817 9997 7451 12055
1 1 7 3 29 51 47 97 233 39 2021 2909 5459 2615 13329 35887
1 3 7 7 21 61 55 19 59 761 1905 3379 8119 13207 8965 9997
1 1 1 9 23 37 97 97 353 169 375 1349 5121 13313 19457 1033
1 3 3 5 19 33 3 197 329 983 893 3739 7669 2671 18391 31161
1 1 3 13 11 7 37 101 463 657 1599 347 2481 5201 3123 32253
1 1 7 13 25 5 83 255 385 647 415 387 7101 11469 11699 15865
1 3 5 11 7 11 103 29 111 581 605 2381 2677 14855 721 26903
1 1 1 3 13 39 27 203 475 505 819 2821 1405 12165 709 41543
1 3 1 15 17 63 13 65 451 833 975 1873 7423 5837 20481 12291"""
DIRECTIONS = [None] + [[int(v) for v in row.split()] for row in LPTAU.splitlines()]


def lptau(i, d):
    acc = 0
    for bit in range(16):
        if i >> bit & 1: acc ^= DIRECTIONS[d][bit] << (15 - bit)
    return Q(acc, 65536)


WEIGHT = Q(0.3)
FIRST, LAST = 7, 90


def search(b, n, lo, hi):
    score, rows = [None] + [Q(-sys.float_info.max)] * 5, [None] + [(Q(0), Q(0))] * 5
    for i in range(FIRST, LAST):
        natural = [None] + [add(mul(sub(hi[d], lo[d]), lptau(i, d)), lo[d]) for d in range(1, n + 1)]
        y = evaluate(b, n, natural, lo, hi)
        s = add(Q(0), mul(y, WEIGHT))
        for slot in range(1, 6):
            if score[slot] < s:
                score[slot], rows[slot] = s, (y, natural[1])
                break
    return rows[1:]


# ---- the cases -------------------------------------------------------------
PLAIN, CANCELLING, FLAT = 0, 1, 2
CASES = [("BoxBehnkenPlan", 1, PLAIN), ("BoxBehnkenPlan", 2, PLAIN), ("BoxBehnkenPlan", 6, PLAIN),
         ("BoxBehnkenPlan", 9, FLAT), ("BoxBehnkenPlan", 10, PLAIN), ("BoxBehnkenPlan", 16, PLAIN),
         ("BoxBehnkenPlan", 16, CANCELLING), ("RechschafnerPlan", 4, PLAIN), ("RechschafnerPlan", 5, PLAIN),
         ("RechschafnerPlan", 20, PLAIN)]


def observation(r, data):
    # Plain: 1000 + ((37 r) mod 101) / 7. Cancelling: 1e6 on even runs and small values on odd ones, so
    # the sums over the runs cancel and their order shows in the last bits. Flat: 1000 + 1/7 in every run,
    # so the square terms cancel to a rounding residue that depends on the order of their sums.
    if data == CANCELLING:
        return F(Q(1e6)) if r % 2 == 0 else F(div(Q(37 * r % 101), Q(70000)))
    return F(add(Q(1000), div(Q(1 if data == FLAT else 37 * r % 101), Q(7))))


def main():
    print("// Generated by tests/golden/golden.py; do not edit.")
    # Every supported count: the prediction at the point below depends on every coefficient.
    counts = [("BoxBehnkenPlan", n) for n in (1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 16)] + \
        [("RechschafnerPlan", n) for n in range(4, 21)]
    print("#ifdef TAVRIN_GOLDEN_EVERY_COUNT")
    for kind, n in counts:
        y = [None] + [observation(r, CANCELLING) for r in range(1, run_count(kind, n) + 1)]
        b = fit_box_behnken(n, y) if kind == "BoxBehnkenPlan" else fit_rechtschaffner(n, y)
        lo, hi, point = ranges(n)
        print(f"{{CTavrin::{kind}, {n}, {hexf(evaluate(b, n, point, lo, hi))}}},")
    print("#else")
    for kind, n, data in CASES:
        y = [None] + [observation(r, data) for r in range(1, run_count(kind, n) + 1)]
        b = fit_box_behnken(n, y) if kind == "BoxBehnkenPlan" else fit_rechtschaffner(n, y)
        lo, hi, point = ranges(n)
        picks = sorted({(0, 0), (0, 1), (0, n), (1, 0), (n, 0), (1, 1), (1, n - 1), (n - 1, 1)})
        picks = [(r, c) for r, c in picks if r + c <= n and (r == 0 or c == 0 or (r < n and c >= 1))]
        coefs = ", ".join(f"{{{r}, {c}, {hexf(b[r, c])}}}" for r, c in picks)
        best = search(b, n, lo, hi)
        print(f"{{CTavrin::{kind}, {n}, {data}, {{{coefs}}},\n {hexf(evaluate(b, n, point, lo, hi))},"
              f" {{{', '.join(hexf(v) for v, _ in best)}}}, {hexf(best[0][1])}}},")
    print("#endif")


def run_count(kind, n):
    return len(box_behnken_plan(n)) - 1 if kind == "BoxBehnkenPlan" else (n + 1) * (n + 2) // 2


def ranges(n):  # declared ranges i/10 .. (i + 6)/10 and the point (10 i + 3)/100
    return ([None] + [div(Q(i), Q(10)) for i in range(1, n + 1)], [None] + [div(Q(i + 6), Q(10)) for i in range(1, n + 1)],
            [None] + [div(Q(10 * i + 3), Q(100)) for i in range(1, n + 1)])


if __name__ == "__main__":
    main()

"""Algebra kernels against numpy, list input and list output included on both sides.

geometric_product_n on 100,000 pairs of dense multivectors (signatures [1, 1, 1] and [1, -1, -1, -1])
against a numpy product driven by a precomputed sign/index table, and octonion_mul_n on 1,000,000 pairs
against numpy einsum with the 8x8x8 structure tensor. Prints best-of-N wall times measured in this
process and the ratio numpy / kiv_core (above 1 means kiv_core is faster).
"""

import os
import random

import numpy as np

import kiv_core
from _timing import best_time

REPEAT = 5
GP_PAIRS = 100_000
OCT_PAIRS = 1_000_000


def blade_tables(sig):
    """For each left blade i and result blade k: the right blade i ^ k and the factor of e_i e_(i^k)."""
    n = 1 << len(sig)
    factor = np.empty((n, n))
    for i in range(n):
        for k in range(n):
            j = i ^ k
            f = 1.0
            for m in range(len(sig)):
                if (j >> m) & 1:
                    if bin(i >> (m + 1)).count("1") % 2:
                        f = -f
                    if (i >> m) & 1:
                        f *= sig[m]
            factor[i, k] = f
    partner = np.arange(n)[:, None] ^ np.arange(n)[None, :]
    return partner, factor


def numpy_geometric_product(partner, factor):
    def product(a_list, b_list):
        a = np.array(a_list)
        b = np.array(b_list)
        r = np.zeros_like(a)
        for i in range(a.shape[1]):
            r += (factor[i] * a[:, i:i + 1]) * b[:, partner[i]]
        return r.tolist()

    return product


def octonion_tensor():
    triples = [(1, 2, 4), (2, 3, 5), (3, 4, 6), (4, 5, 7), (5, 6, 1), (6, 7, 2), (7, 1, 3)]
    t = np.zeros((8, 8, 8))
    for i in range(8):
        t[0, i, i] = t[i, 0, i] = 1.0
    for i in range(1, 8):
        t[i, i, 0] = -1.0
    for p, q, r in triples:
        for x, y, z in ((p, q, r), (q, r, p), (r, p, q)):
            t[x, y, z], t[y, x, z] = 1.0, -1.0
    return t


def main():
    rng = random.Random(1)
    rows = []
    for sig in ([1, 1, 1], [1, -1, -1, -1]):
        n = 1 << len(sig)
        a = [[rng.uniform(-1, 1) for _ in range(n)] for _ in range(GP_PAIRS)]
        b = [[rng.uniform(-1, 1) for _ in range(n)] for _ in range(GP_PAIRS)]
        ours = lambda: kiv_core.geometric_product_n(a, b, sig)  # noqa: E731
        theirs = numpy_geometric_product(*blade_tables(sig))
        assert ours()[:50] == theirs(a[:50], b[:50]), "the two products disagree"
        rows.append((f"geometric_product_n {sig} N={n}, {GP_PAIRS:,} pairs", best_time(ours, REPEAT),
                     best_time(lambda: theirs(a, b), REPEAT)))

    tensor = octonion_tensor()
    a = [[rng.uniform(-1, 1) for _ in range(8)] for _ in range(OCT_PAIRS)]
    b = [[rng.uniform(-1, 1) for _ in range(8)] for _ in range(OCT_PAIRS)]
    ours = lambda: kiv_core.octonion_mul_n(a, b)  # noqa: E731

    def theirs():
        return np.einsum("pi,pj,ijk->pk", np.array(a), np.array(b), tensor, optimize=True).tolist()

    got, want = np.array(ours()[:1000]), np.array(theirs()[:1000])
    assert np.allclose(got, want, rtol=1e-12, atol=1e-12), "the two products disagree"
    rows.append((f"octonion_mul_n, {OCT_PAIRS:,} pairs", best_time(ours, REPEAT), best_time(theirs, REPEAT)))

    threads = os.environ.get("RAYON_NUM_THREADS", "default")
    print(f"best of {REPEAT}, lists in and lists out on both sides, RAYON_NUM_THREADS={threads}")
    print(f"{'call':58s} {'kiv_core ms':>12s} {'numpy ms':>10s} {'numpy/kiv':>10s}")
    for name, ours_t, theirs_t in rows:
        print(f"{name:58s} {ours_t * 1e3:12.1f} {theirs_t * 1e3:10.1f} {theirs_t / ours_t:10.2f}")


if __name__ == "__main__":
    main()

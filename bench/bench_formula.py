"""How Formula's exports and reader grow with the depth of a formula.

kiv nested n deep (kiv(kiv(...(x, x)..., x), x)) and a sum of n terms, at n = 750, 1,500 and 3,000: the time of
to_sympy (evaluated and not), to_latex, to_python and text, and of parse on the text of a sum. Each time is
also shown as a ratio to the time at the smallest n, so a linear conversion shows ratios near 2 and 4 and a
quadratic one near 4 and 16. With --module PATH, a formula.py of another revision (using this build's native
module) is measured in place of the installed one.

Usage: PYTHONPATH=build/dev python bench/bench_formula.py [--module PATH] [--repeat N]
"""

import argparse
import importlib.util
import sys
import time

DEPTHS = (750, 1500, 3000)


def load(path):
    if path is None:
        import kiv.formula

        return kiv.formula
    found = importlib.util.spec_from_file_location("kiv._formula_under_test", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def best(fn, repeat):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--module", default=None)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    formula = load(args.module)
    Formula = formula.Formula

    def nested(n):
        return Formula([(2, 0, 0.0)] + [(2, 0, 0.0), (3, 8, 0.0)] * n, ["x"])

    def summed(n):
        return Formula([(2, 0, 0.0)] + [(2, 0, 0.0), (3, 9, 0.0)] * n, ["x"])

    cases = {
        "to_sympy() kiv nest": lambda n: nested(n).to_sympy,
        "to_sympy(False) kiv nest": lambda n: (lambda f=nested(n): f.to_sympy(evaluate=False)),
        "to_latex kiv nest": lambda n: nested(n).to_latex,
        "to_python kiv nest": lambda n: nested(n).to_python,
        "text sum": lambda n: (lambda f=summed(n): formula._text(f.tokens, f.feature_names)),
    }
    sys.setrecursionlimit(100_000)
    print(f"{'case':28}" + "".join(f"{f'n={n} s':>12}" for n in DEPTHS) + "".join(
        f"{f'x{n // DEPTHS[0]}':>8}" for n in DEPTHS[1:]))
    for name, make in cases.items():
        try:
            times = [best(make(n), args.repeat) for n in DEPTHS]
        except Exception as e:  # an older revision may fail on deep formulas
            print(f"{name:28} failed: {type(e).__name__}: {str(e)[:60]}")
            continue
        print(f"{name:28}" + "".join(f"{t:12.4f}" for t in times) + "".join(
            f"{t / times[0]:8.2f}" for t in times[1:]))


if __name__ == "__main__":
    main()

"""Regression on real data: scikit-learn's diabetes set, 5-fold cross-validation, held-out R².

    python bench/bench_diabetes.py [--time SECONDS] [--threads N] [--systems A,B] [--folds 5] [--out FILE.json]

442 patients, 10 standardised features (age, sex, bmi, bp, s1..s6), target a measure of disease progression
one year later. Folds: KFold(5, shuffle=True, random_state=0), the same for every system. Systems:

- kiv: KIVRegressor with its defaults; kiv-wide: max_complexity=12, beam_width=8000, time_limit=T;
  kiv-scale / kiv-fit: constants="scale" / "fit" with kiv-wide's settings, measured only when the
  installed KIVRegressor takes `constants=`;
- linear: LinearRegression;
- operon: pyoperon's SymbolicRegressor(max_length=15, optimizer_iterations=10, max_time=T) with the
  operators kiv also has (a benchmark peer; kiv never imports it).

Prints per system the held-out R² of each fold, their mean and standard deviation, the time per fold and
the formula each system finds on all 442 rows (its length as the system counts it). Raw results go to --out
(default build/bench/diabetes-<time>.json).
"""

import argparse
import datetime
import inspect
import json
import math
import os
import pathlib
import statistics
import sys
import warnings

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import _sr_systems as systems_mod  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parent.parent


def kiv_estimator(settings):
    def make(budget, threads, seed):
        from kiv.sklearn import KIVRegressor

        return KIVRegressor(**{k: (budget if v == "budget" else v) for k, v in settings.items()})

    def describe(est):
        f = est.formula_
        return f.text, f.complexity

    return make, describe


def linear_estimator():
    def make(budget, threads, seed):
        from sklearn.linear_model import LinearRegression

        return LinearRegression()

    def describe(est):
        terms = [f"{c:+.3f}*{n}" for c, n in zip(est.coef_, est.feature_names_in_)]
        return f"{est.intercept_:.3f} " + " ".join(terms), 1 + len(terms)

    return make, describe


def operon_estimator(symbols):
    def make(budget, threads, seed):
        from pyoperon.sklearn import SymbolicRegressor

        return SymbolicRegressor(allowed_symbols=symbols, max_length=15, optimizer_iterations=10,
                                 max_time=max(1, math.ceil(budget)), n_threads=threads, random_state=seed)

    def describe(est):
        return est.get_model_string(est.model_, 3, names=list(est.feature_names_in_)), int(
            est.stats_["model_length"])

    return make, describe


def systems(args):
    from kiv.sklearn import KIVRegressor

    params = inspect.signature(KIVRegressor).parameters
    table = {
        "kiv": kiv_estimator({}),
        "kiv-wide": kiv_estimator(systems_mod.BUILTIN_KIV["kiv-wide"]),
    }
    if "constants" in params:
        for name in systems_mod.NEEDS_CONSTANTS:
            table[name] = kiv_estimator(systems_mod.BUILTIN_KIV[name])
    for text in args.kiv_system:
        name, settings = systems_mod.parse_custom(text)
        table[name] = kiv_estimator(settings)
    table["linear"] = linear_estimator()
    table["operon"] = operon_estimator(args.operon_symbols)
    if args.systems:
        wanted = args.systems.split(",")
        unknown = [w for w in wanted if w not in table]
        if unknown:
            sys.exit(f"unknown or unavailable system(s) {unknown}; available: {', '.join(table)}")
        table = {w: table[w] for w in wanted}
    return table


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--time", type=float, default=20.0, help="seconds per fit for budgeted systems (20)")
    ap.add_argument("--threads", type=int, default=1)
    ap.add_argument("--folds", type=int, default=5)
    ap.add_argument("--systems", help="comma-separated: kiv,kiv-wide,kiv-scale,kiv-fit,linear,operon")
    ap.add_argument("--operon-symbols", default=systems_mod.OPERON_SYMBOLS)
    ap.add_argument("--kiv-system", action="append", default=[], metavar="NAME:K=V,...",
                    help="an extra KIVRegressor setting to measure (time_limit defaults to the budget)")
    ap.add_argument("--no-full", dest="full", action="store_false", help="skip the fit on all rows")
    ap.add_argument("--out")
    args = ap.parse_args()

    systems_mod.set_threads(args.threads)
    from sklearn.datasets import load_diabetes
    from sklearn.model_selection import KFold

    data = load_diabetes(as_frame=True)
    X, y = data.data, np.array(data.target, dtype=np.float64)  # a fresh writable copy: pyoperon refuses read-only views
    folds = list(KFold(args.folds, shuffle=True, random_state=0).split(X))
    table = systems(args)
    print(f"diabetes: {len(y)} rows x {X.shape[1]} features, {args.folds}-fold CV; budget {args.time:g} s; "
          f"threads {args.threads}; load {os.getloadavg()[0]:.2f}", file=sys.stderr)

    results = {}
    for name, (make, describe) in table.items():
        rec = {"r2": [], "wall": [], "cpu": [], "formulas": []}
        for i, (tr, te) in enumerate(folds):
            est = make(args.time, args.threads, i)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                _, wall, cpu = systems_mod.timed(est.fit, X.iloc[tr], y[tr])
            r2 = systems_mod.r2(y[te], est.predict(X.iloc[te]))
            text, length = describe(est)
            rec["r2"].append(r2)
            rec["wall"].append(wall)
            rec["cpu"].append(cpu)
            rec["formulas"].append((text, length))
            print(f"  {name:9} fold {i}: R² {r2:.3f} {wall:6.1f} s  {text[:90]}", file=sys.stderr)
        if args.full:
            est = make(args.time, args.threads, 99)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                est.fit(X, y)
            rec["full"] = describe(est)
            rec["full_r2_train"] = systems_mod.r2(y, est.predict(X))
        results[name] = rec

    print(f"\nDiabetes, {args.folds}-fold CV (KFold shuffle, random_state=0): held-out R² per fold; budget "
          f"{args.time:g} s, {args.threads} thread(s)")
    print(f"{'system':10} {'mean R²':>8} {'sd':>6}  {'per fold':<36} {'wall s/fold':>11} {'cpu s/fold':>10} "
          f"{'len':>4}")
    for name, rec in results.items():
        fin = [v for v in rec["r2"] if math.isfinite(v)]
        mean = statistics.mean(rec["r2"]) if len(fin) == len(rec["r2"]) else -math.inf
        sd = statistics.stdev(fin) if len(fin) > 1 else 0.0
        per = " ".join(f"{v:6.3f}" if math.isfinite(v) else " undef" for v in rec["r2"])
        lens = [ln for _, ln in rec["formulas"] if ln is not None]
        print(f"{name:10} {mean:>8.3f} {sd:>6.3f}  {per:<36} {statistics.mean(rec['wall']):>11.1f} "
              f"{statistics.mean(rec['cpu']):>10.1f} {statistics.median(lens) if lens else '':>4}")
    if args.full:
        print("\nFormula on all rows (length as each system counts it; training R²):")
        for name, rec in results.items():
            text, length = rec["full"]
            print(f"  {name:9} [{length}, R² {rec['full_r2_train']:.3f}] {text}")

    path = pathlib.Path(args.out or ROOT / "build" / "bench" / f"diabetes-{datetime.datetime.now():%Y%m%d-%H%M%S}.json")
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(json.dumps({"budget": args.time, "threads": args.threads, "folds": args.folds,
                                "results": results}, indent=1, default=str))
    print(f"\nraw results: {path}")


if __name__ == "__main__":
    main()

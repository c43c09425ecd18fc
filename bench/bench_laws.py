"""Symbolic regression on public benchmark sets and textbook laws: kiv.discover beside pyoperon.

    python bench/bench_laws.py [--set SET ...] [--noise LEVEL ...] [--problem NAME ...] [--systems A,B]
                               [--time SECONDS] [--threads N] [--draw N] [--out FILE.jsonl] [--resume FILE]
    python bench/bench_laws.py --load RUN.jsonl [RUN2.jsonl ...] [--merge]   # print tables of saved runs
    python bench/bench_laws.py --list                                # the problems and the systems

Problems (bench/_sr_problems.py): nguyen, keijzer, korns, vladislavleva (the public sets), laws (34
textbook laws with SI constants) and laws-check (17 other laws, for an independent check: run it with
--draw 1). Each problem gets 500 training rows with Gaussian noise of 0, 1 % and 10 % of rms(y) (fixed seeds),
and 2,000 fresh noise-free test rows from the same box. A problem counts as solved when R² ≥ 0.999 on the
test rows, exact when R² ≥ 1 − 1e-9; a prediction that is not finite on a test row leaves it unsolved.

Systems (bench/_sr_systems.py): kiv (defaults), kiv-wide (max_complexity=12, beam_width=8000,
time_limit=T), kiv-scale and kiv-fit (constants="scale" / "fit", time_limit=T: measured only when the
installed kiv.discover takes `constants=`), operon (pyoperon, optimizer_iterations=10, max_time=T). T is
--time, the same for every system with a budget. Every system gets --threads threads (default 1): kiv
through RAYON_NUM_THREADS, pyoperon through n_threads. Add kiv settings with --kiv-system
'name:max_complexity=10,beam_width=4000' (time_limit defaults to T).

Output: one table per set and noise level (per problem: S solved / E exact, test R², wall seconds, length
as the system counts it), then a summary (solved, exact, total wall and CPU seconds, median length and
median SymPy node count per system). Every run appends one JSON line per (problem, noise, system) to
--out (default build/bench/laws-<time>.jsonl, out of git) as it goes, and writes a CSV beside it at the end;
--resume FILE continues an interrupted run in the same file, skipping what it holds. --load prints the
tables of saved runs; several files with a --label each (stored in each line; default the git commit of the
checkout) are shown side by side as system@label, which is the before/after view; --merge reads several
files as parts of one run. Files may be gzipped (the recorded baseline is, in bench/baseline/).

Short runs:
    python bench/bench_laws.py --set laws --noise 0 --time 5 --systems kiv,kiv-wide
    python bench/bench_laws.py --set nguyen --problem 'nguyen-1*' --time 2
Full table (long: about 84 problems x 3 noise levels x (20 s + 20 s + kiv defaults) = ~3 hours):
    python bench/bench_laws.py --set nguyen keijzer korns vladislavleva laws --time 20
Independent check:
    python bench/bench_laws.py --set laws-check --draw 1 --time 20
Real data: bench/bench_diabetes.py.

The baseline measured with main of the time (before the constant modes) is in bench/README_laws.md.
"""

import argparse
import csv
import datetime
import gzip
import json
import math
import os
import pathlib
import statistics
import subprocess
import sys
import zlib

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import _sr_problems as problems_mod  # noqa: E402
import _sr_systems as systems_mod  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOLVED, EXACT = 0.999, 1.0 - 1e-9


def git_label():
    try:
        return subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"], capture_output=True,
                              text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return ""


def build_systems(args):
    """name -> fit function, in the order asked for; systems the installed kiv cannot run are left out."""
    table = dict(systems_mod.BUILTIN_KIV)
    table["kiv"] = {"time_limit": args.cap}
    custom = [systems_mod.parse_custom(s) for s in args.kiv_system]
    table.update(custom)
    wanted = args.systems.split(",") if args.systems else (
        ["kiv", "kiv-wide", "kiv-scale", "kiv-fit"] + [n for n, _ in custom] + ["operon"])
    has_constants = systems_mod.kiv_accepts_constants()
    out = {}
    for name in wanted:
        if name == "operon":
            out[name] = (systems_mod.operon_fit(symbols=args.operon_symbols), {"symbols": args.operon_symbols,
                                                                              "optimizer_iterations": 10})
        elif name in table:
            if name in systems_mod.NEEDS_CONSTANTS and not has_constants:
                if args.systems:
                    sys.exit(f"{name}: the installed kiv.discover has no constants= setting")
                continue  # the default list offers them only where the installed kiv has the setting
            out[name] = (systems_mod.kiv_fit(table[name]), table[name])
        else:
            sys.exit(f"unknown system {name!r}; known: {', '.join(list(table) + ['operon'])}")
    return out


def run_one(problem, noise, name, fit, settings, args):
    X, y, Xt, yt = problem.data(args.train, args.test, args.draw, noise)
    seed = zlib.crc32(f"{problem.set}/{problem.name}/{args.draw}/seed".encode())  # pyoperon's random_state
    rec = {"set": problem.set, "problem": problem.name, "noise": noise, "draw": args.draw, "system": name,
           "budget": args.time, "threads": args.threads, "label": args.label, "settings": settings,
           "load_before": round(os.getloadavg()[0], 2)}
    try:
        out, wall, cpu = systems_mod.timed(fit, X, y, problem.feature_names, args.time, args.threads, seed)
    except Exception as exc:  # a system that fails on one problem is a row of the table, not the end of the run
        rec.update(wall=None, cpu=None, r2_test=-math.inf, r2_train=-math.inf, solved=False, exact=False,
                   length=None, nodes=None, text=f"(failed: {type(exc).__name__}: {exc})"[:300],
                   stopped_early=False)
        return rec
    r2t = systems_mod.r2(yt, out.predict(Xt))
    rec.update(wall=round(wall, 4), cpu=round(cpu, 4), r2_test=r2t, r2_train=systems_mod.r2(y, out.predict(X)),
               solved=r2t >= SOLVED, exact=r2t >= EXACT, length=out.length,
               nodes=systems_mod.sympy_nodes(out) if args.nodes else None, text=out.text,
               stopped_early=bool(out.stopped_early), extra=out.extra,
               load_after=round(os.getloadavg()[0], 2))
    if out.front:
        # Each member's test R², so that other rules of choosing from the front can be scored offline.
        rec["rms_y"] = float(np.sqrt(np.mean(y * y)))
        rec["rows"] = len(y)
        rec["front"] = [[c, rmse, systems_mod.r2(yt, predict(Xt)), text] for c, rmse, text, predict in out.front]
    return rec


def fmt_r2(v):
    if v is None or (isinstance(v, float) and math.isnan(v)):
        return "nan"
    if v == -math.inf:
        return "undef"
    if v >= EXACT:
        return "exact"
    if v < -9.99:
        return "<-10"
    return f"{v:.4f}"


def status(r):
    return "E" if r["exact"] else ("S" if r["solved"] else "-")


def display_name(r, multi):
    return f"{r['system']}@{r['label']}" if multi and r.get("label") else r["system"]


def _json_float(v):
    return None if isinstance(v, float) and not math.isfinite(v) else v


def load(paths, merge=False):
    """The records of saved runs. Runs of several files are told apart by their labels, or by the file names
    where two files share a label; merge=True reads them as parts of one run."""
    per_file = []
    for p in paths:
        opener = gzip.open if str(p).endswith(".gz") else open
        with opener(p, "rt") as fh:
            rs = [json.loads(line) for line in fh if line.strip()]
        for r in rs:
            for k in ("r2_test", "r2_train"):
                if r.get(k) is None:
                    r[k] = -math.inf
        per_file.append((pathlib.Path(p).name.split(".")[0], rs))
    labels = [{r.get("label") for r in rs} for _, rs in per_file]
    clash = not merge and any(a & b for i, a in enumerate(labels) for b in labels[i + 1:])
    recs = []
    for stem, rs in per_file:
        for r in rs:
            if clash or not r.get("label"):
                r["label"] = stem
            recs.append(r)
    return recs


def print_tables(recs, multi, detail=True, formulas=False):
    systems = list(dict.fromkeys(display_name(r, multi) for r in recs))
    groups = {}
    for r in recs:
        groups.setdefault((r["set"], r["noise"]), {}).setdefault(r["problem"], {})[display_name(r, multi)] = r
    order = {s: i for i, s in enumerate(problems_mod.SETS)}
    keys = sorted(groups, key=lambda k: (order.get(k[0], 99), k[1]))
    cell = 21  # the width of one system's part of a problem row: status, R², seconds, length
    if detail:
        for key in keys:
            rows = groups[key]
            print(f"\n{key[0]}, noise {key[1] * 100:g}% of rms(y)  (S solved: R² ≥ 0.999, E exact: R² ≥ 1-1e-9; "
                  f"test R², wall s, length)")
            print(f"{'problem':24}" + "".join(f"| {s[:cell]:<{cell}}" for s in systems))
            for prob, by in rows.items():
                line = f"{prob[:24]:24}"
                for s in systems:
                    r = by.get(s)
                    if r is None:
                        line += f"| {'':{cell}}"
                        continue
                    t = "fail" if r["wall"] is None else f"{r['wall']:.1f}"
                    ln = "" if r["length"] is None else str(r["length"])
                    line += f"| {status(r)} {fmt_r2(r['r2_test']):>7} {t:>6} {ln:>3} "
                print(line)
            if formulas:
                for prob, by in rows.items():
                    for s in systems:
                        if s in by:
                            print(f"    {prob} [{s}] {by[s]['text'][:160]}")
    print("\nSummary: solved / exact of N; wall and CPU seconds summed over the problems; median length "
          "(kiv: tokens, operon: nodes) and median SymPy nodes")
    head = f"{'set':14} {'noise':>5} {'N':>3} "
    print(head + "".join(f"| {s[:34]:<34}" for s in systems))
    print(" " * len(head) + "".join(f"| {'sol':>3} {'ex':>3} {'wall':>7} {'cpu':>7} {'len':>4} {'sym':>4} "
                                    for _ in systems))
    totals = {}
    partial = False
    for key in keys:
        rows = groups[key]
        line = f"{key[0][:14]:14} {key[1] * 100:>4g}% {len(rows):>3} "
        for s in systems:
            rs = [by[s] for by in rows.values() if s in by]
            if not rs:
                line += f"| {'':34}"
                continue
            sol = sum(r["solved"] for r in rs)
            ex = sum(r["exact"] for r in rs)
            wall = sum(r["wall"] or 0 for r in rs)
            cpu = sum(r["cpu"] or 0 for r in rs)
            lens = [r["length"] for r in rs if r["length"] is not None]
            nodes = [r["nodes"] for r in rs if r.get("nodes") is not None]
            ml = f"{statistics.median(lens):g}" if lens else ""
            mn = f"{statistics.median(nodes):g}" if nodes else ""
            part = f"{sol:>3} {ex:>3} {wall:>7.0f} {cpu:>7.0f} {ml:>4} {mn:>4} "
            line += f"| {part}" if len(rs) == len(rows) else f"|*{part}"
            partial = partial or len(rs) != len(rows)
            t = totals.setdefault((key[1], s), [0, 0, 0, 0.0, 0.0])
            t[0] += len(rs)
            t[1] += sol
            t[2] += ex
            t[3] += wall
            t[4] += cpu
        print(line)
    if partial:
        print("(* the system ran on only some of the row's N problems)")
    noises = sorted({k[1] for k in keys})
    if len(keys) > len(noises):
        for nz in noises:
            line = f"{'all sets':14} {nz * 100:>4g}% {'':>3} "
            for s in systems:
                t = totals.get((nz, s))
                line += f"| {t[1]:>3} {t[2]:>3} {t[3]:>7.0f} {t[4]:>7.0f} {'of':>4} {t[0]:>4} " if t else \
                    f"| {'':34}"
            print(line)


# Rules of choosing one formula from a front of (complexity k, training rmse r) on n rows, with r counted
# as at least g = 1e-10 * rms(y) (the default precision goal): the lowest value wins, the simpler of equals.
SELECTION_RULES = {
    "least rmse": lambda k, r, n, g: r,
    "score 1e-3": lambda k, r, n, g: r * (1 + 1e-3 * k),
    "AIC": lambda k, r, n, g: 2 * n * math.log(max(r, g)) + 2 * k,
    "BIC": lambda k, r, n, g: 2 * n * math.log(max(r, g)) + k * math.log(n),
    "BIC x2": lambda k, r, n, g: 2 * n * math.log(max(r, g)) + 2 * k * math.log(n),
}


def print_selection(recs, multi):
    """Solved / exact / median length when each rule of SELECTION_RULES chooses from the recorded fronts,
    beside the formula the system returned: the model-selection table."""
    rows = {}
    for r in recs:
        if not r.get("front"):
            continue
        rows.setdefault((r["set"], r["noise"], display_name(r, multi)), []).append(r)
    if not rows:
        print("\nno recorded fronts")
        return
    rules = ["returned", *SELECTION_RULES]
    print("\nModel selection from the front: solved / exact / median length per rule (same runs)")
    head = f"{'set':14} {'noise':>5} {'system':16} {'N':>3} "
    print(head + "".join(f"| {rule:^13}" for rule in rules))
    for (set_, noise, system), rs in sorted(rows.items(), key=lambda kv: (kv[0][0], kv[0][1], kv[0][2])):
        line = f"{set_[:14]:14} {noise * 100:>4g}% {system[:16]:16} {len(rs):>3} "
        for rule in rules:
            picked = []
            for r in rs:
                if rule == "returned":
                    picked.append((r["length"], r["r2_test"]))
                    continue
                g = 1e-10 * r["rms_y"]
                fn = SELECTION_RULES[rule]
                k, _, r2t, _ = min(r["front"], key=lambda m: (fn(m[0], m[1], r["rows"], g), m[0]))
                picked.append((k, -math.inf if r2t is None else r2t))
            sol = sum(v >= SOLVED for _, v in picked)
            ex = sum(v >= EXACT for _, v in picked)
            med = statistics.median(k for k, _ in picked if k is not None)
            line += f"| {sol:>3} {ex:>3} {med:>5g} "
        print(line)


def write_csv(recs, path):
    cols = ["set", "problem", "noise", "draw", "system", "label", "budget", "threads", "wall", "cpu", "r2_test",
            "r2_train", "solved", "exact", "length", "nodes", "stopped_early", "load_before", "load_after", "text"]
    with open(path, "w", newline="") as fh:
        w = csv.DictWriter(fh, cols, extrasaction="ignore")
        w.writeheader()
        for r in recs:
            w.writerow(r)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--set", nargs="+", choices=list(problems_mod.SETS), help="problem sets (default laws)")
    ap.add_argument("--problem", nargs="+", help="problem names or shell-style patterns")
    ap.add_argument("--noise", nargs="+", type=float, default=[0.0, 0.01, 0.1],
                    help="noise levels as fractions of rms(y) (default 0 0.01 0.1)")
    ap.add_argument("--systems", help="comma-separated systems (default kiv,kiv-wide[,kiv-scale,kiv-fit],operon)")
    ap.add_argument("--kiv-system", action="append", default=[], metavar="NAME:K=V,...",
                    help="an extra kiv.discover setting to measure")
    ap.add_argument("--time", type=float, default=20.0, help="seconds per problem for budgeted systems (20)")
    ap.add_argument("--cap", type=float, default=300.0,
                    help="safety time limit for kiv's defaults, which have none of their own (300)")
    ap.add_argument("--threads", type=int, default=1, help="threads for every system (1)")
    ap.add_argument("--draw", type=int, default=0, help="draw number: other seeds for rows and noise (0)")
    ap.add_argument("--train", type=int, default=500)
    ap.add_argument("--test", type=int, default=2000)
    ap.add_argument("--operon-symbols", default=systems_mod.OPERON_SYMBOLS)
    ap.add_argument("--no-nodes", dest="nodes", action="store_false", help="skip the SymPy node count")
    ap.add_argument("--out", help="JSON-lines file of raw results (default build/bench/laws-<time>.jsonl)")
    ap.add_argument("--resume", help="continue the run in this JSON-lines file, skipping what it holds")
    ap.add_argument("--label", help="a name for this run in saved results (default: git commit)")
    ap.add_argument("--load", nargs="+", help="print the tables of saved runs instead of running")
    ap.add_argument("--merge", action="store_true", help="with --load: the files are parts of one run")
    ap.add_argument("--summary", action="store_true", help="print only the summary table")
    ap.add_argument("--formulas", action="store_true", help="print each formula found under its table")
    ap.add_argument("--selection", action="store_true",
                    help="also print the model-selection table (rules of choosing from kiv's recorded fronts)")
    ap.add_argument("--list", action="store_true", help="list the problems and systems and stop")
    args = ap.parse_args()

    if args.load:
        recs = load(args.load, merge=args.merge)
        multi = len(args.load) > 1 and not args.merge
        print_tables(recs, multi=multi, detail=not args.summary, formulas=args.formulas)
        if args.selection:
            print_selection(recs, multi)
        return

    systems_mod.set_threads(args.threads)
    chosen = problems_mod.problems(args.set or ["laws"], args.problem)
    if args.list:
        import numpy as np
        from kiv.formula import check_feature_names

        for p in problems_mod.problems(args.set, args.problem):
            box = ", ".join(f"{v.name} in [{v.lo:g}, {v.hi:g}]{' int' if v.integer else ''}" for v in p.variables)
            check_feature_names(p.feature_names)  # a name kiv refuses would fail every kiv run of the problem
            _, y, _, yt = p.data(args.train, args.test, args.draw, 0.0)
            bad = int(np.sum(~np.isfinite(y)) + np.sum(~np.isfinite(yt)))
            warn = f"   NOT FINITE on {bad} rows" if bad else ""
            print(f"{p.set:14} {p.name:24} {p.text}   ({box}){warn}")
        print("kiv.discover takes constants=:", systems_mod.kiv_accepts_constants())
        return
    if not chosen:
        sys.exit("no problem matches")
    args.label = args.label if args.label is not None else git_label()
    systems = build_systems(args)

    path = pathlib.Path(args.resume or args.out or
                        ROOT / "build" / "bench" / f"laws-{datetime.datetime.now():%Y%m%d-%H%M%S}.jsonl")
    path.parent.mkdir(parents=True, exist_ok=True)
    done = set()
    recs = []
    if args.resume and path.exists():
        recs = load([path])
        done = {(r["set"], r["problem"], r["noise"], r["system"], r["draw"]) for r in recs}
    import kiv

    print(f"kiv from {pathlib.Path(kiv.__file__).parent}; constants= supported: "
          f"{systems_mod.kiv_accepts_constants()}; systems: {', '.join(systems)}; threads {args.threads}; "
          f"budget {args.time:g} s; draw {args.draw}; {len(chosen)} problems x noise {args.noise}; "
          f"load {os.getloadavg()[0]:.2f}; results -> {path}", file=sys.stderr)
    with open(path, "a") as fh:
        for noise in args.noise:
            for p in chosen:
                for name, (fit, settings) in systems.items():
                    if (p.set, p.name, noise, name, args.draw) in done:
                        continue
                    r = run_one(p, noise, name, fit, settings, args)
                    recs.append(r)
                    fh.write(json.dumps({k: _json_float(v) for k, v in r.items()}) + "\n")
                    fh.flush()
                    t = "fail" if r["wall"] is None else f"{r['wall']:.1f}s"
                    print(f"  {p.name:22} {noise * 100:>4g}% {name:10} {status(r)} {fmt_r2(r['r2_test']):>7} {t:>7} "
                          f"{r['text'][:70]}", file=sys.stderr)
    write_csv(recs, path.with_suffix(".csv"))
    print_tables(recs, multi=False, detail=not args.summary, formulas=args.formulas)
    if args.selection:
        print_selection(recs, False)
    print(f"\nraw results: {path} and {path.with_suffix('.csv')}")


if __name__ == "__main__":
    main()

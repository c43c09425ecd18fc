"""How the formula search's time and peak memory grow with max_complexity and beam_width.

Runs the C++ driver bench_discover (built with -DKIV_BUILD_TESTS=ON) once per configuration, each in a
process of its own, so that the peak resident memory is that search's: max_complexity 8..20 and beam_width
2,000 / 8,000 / 32,000, on case a (1 variable x 200 rows) and case b (3 variables x 1,000 rows), other
settings at their defaults. With --before DRIVER, a second driver (built from an earlier revision) runs the
same configurations, alternating with the first, and the table shows both, their ratios and whether they
found the same formula.

Along each row of the grid (one case, one beam width, one driver), a configuration is skipped once the two
below it predict, by their growth, more than --max-memory (default 16 GiB) or more than --max-seconds (default
300) of wall time; every run is also held under an address-space limit a little above --max-memory.

Usage: python bench/bench_scale.py [BUILD_DIR] [--before DRIVER] [--cases a,b] [--widths 2000,8000,32000]
                                   [--complexities 8-20] [--max-memory GIB] [--max-seconds S]
"""

import argparse
import pathlib
import resource
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent


def run(driver, case, mc, bw, limit_bytes):
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (limit_bytes, limit_bytes))

    # stderr goes to a file: held in this process, a long one would raise the peak memory that children
    # started after it inherit across exec.
    with tempfile.TemporaryFile(mode="w+") as err:
        proc = subprocess.run([str(driver), case, "fast", "1", str(mc), str(bw)], stdout=subprocess.PIPE,
                              stderr=err, text=True, preexec_fn=limit)
        err.seek(0, 2)
        err.seek(max(0, err.tell() - 4096))
        stderr = err.read()
    for line in proc.stdout.splitlines():
        if line.startswith("impl=fast"):
            fields = dict(f.split("=", 1) for f in line.split(" ", 6))
            return {"seconds": float(fields["seconds"]), "mib": int(fields["peak_kib"]) / 1024.0,
                    "result": (fields["score"], fields["formula"])}
    reason = (stderr.strip().splitlines() or ["exit status %d" % proc.returncode])[-1]
    return {"failed": reason[:60]}


def predicted(series, key):
    """The next value along a series, from the growth between its last two values."""
    if len(series) < 2:
        return series[-1][key] if series else 0.0
    a, b = series[-2][key], series[-1][key]
    return b * (b / a) if a > 0 else b


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("build", nargs="?", default=str(ROOT / "build" / "cpp-tests"))
    ap.add_argument("--before", help="a bench_discover driver built from an earlier revision")
    ap.add_argument("--cases", default="a,b")
    ap.add_argument("--widths", default="2000,8000,32000")
    ap.add_argument("--complexities", default="8-20")
    ap.add_argument("--max-memory", type=float, default=16.0, help="GiB")
    ap.add_argument("--max-seconds", type=float, default=300.0)
    args = ap.parse_args()

    drivers = {"after": pathlib.Path(args.build) / "bench_discover"}
    if args.before:
        drivers["before"] = pathlib.Path(args.before)
    for d in drivers.values():
        if not d.exists():
            sys.exit(f"{d} not found: configure with -DKIV_BUILD_TESTS=ON and build bench_discover")
    lo, hi = (int(v) for v in args.complexities.split("-"))
    max_mib = args.max_memory * 1024.0
    limit_bytes = int(args.max_memory * 1.1 * (1 << 30))

    head = f"{'case':4} {'beam':>6} {'mc':>3} | {'after s':>9} {'after MiB':>10}"
    if "before" in drivers:
        head += f" | {'before s':>9} {'before MiB':>10} | {'time':>6} {'memory':>6} same"
    print(head)
    print("-" * len(head))
    for case in args.cases.split(","):
        for bw in (int(w) for w in args.widths.split(",")):
            series = {name: [] for name in drivers}
            stopped = {name: None for name in drivers}
            for mc in range(lo, hi + 1):
                got = {}
                for name, driver in drivers.items():
                    s = series[name]
                    if stopped[name] is None and s:
                        if predicted(s, "mib") > max_mib:
                            stopped[name] = "skipped: > %.0f GiB" % args.max_memory
                        elif predicted(s, "seconds") > args.max_seconds:
                            stopped[name] = "skipped: > %.0f s" % args.max_seconds
                    if stopped[name]:
                        got[name] = {"failed": stopped[name]}
                        continue
                    got[name] = run(driver, case, mc, bw, limit_bytes)
                    if "failed" in got[name]:
                        stopped[name] = "skipped after a failure"
                    else:
                        s.append(got[name])
                if all("failed" in g and g["failed"].startswith("skipped") for g in got.values()):
                    break

                def cells(g):
                    if "failed" in g:
                        return f"{g['failed']:>20}"
                    return f"{g['seconds']:9.2f} {g['mib']:10.0f}"

                line = f"{case:4} {bw:6} {mc:3} | {cells(got['after'])}"
                if "before" in got:
                    a, b = got["after"], got["before"]
                    line += f" | {cells(b)}"
                    if "failed" not in a and "failed" not in b:
                        line += (f" | {a['seconds'] / b['seconds']:6.2f} {a['mib'] / b['mib']:6.2f} "
                                 f"{'yes' if a['result'] == b['result'] else 'NO'}")
                print(line, flush=True)


if __name__ == "__main__":
    main()

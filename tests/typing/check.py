"""Type-checks the samples of this folder against the installed kiv_core (with its stubs) and kiv.

accept_*.py must pass mypy --strict (and run); in reject_*.py every line marked '# E: CODE' must be
reported with that error code, and nothing else may be reported. Prints one line per sample and a closing
count; exits 1 on any mismatch.

A sample whose header says '# pending until annotated: NAME ...' (dotted names of functions) is checked
only once every one of them carries annotations in the installed package; until then it is reported as
pending, and counted apart. Parts of kiv get their annotations on their own, and the samples that use them
then take effect without a further change here."""

import importlib
import inspect
import pathlib
import re
import subprocess
import sys

from mypy import api

HERE = pathlib.Path(__file__).resolve().parent
REPORT = re.compile(r"^(?P<file>[^:]+):(?P<line>\d+): error: .*\[(?P<code>[a-z-]+)\]$")


def expected(path):
    marks = set()
    for number, text in enumerate(path.read_text().splitlines(), start=1):
        m = re.search(r"# E: ([a-z-]+)\s*$", text)
        if m:
            marks.add((number, m.group(1)))
    return marks


def unannotated(path):
    """The names the sample waits for that have no annotations yet."""
    m = re.search(r"^# pending until annotated: (.+)$", path.read_text(), re.MULTILINE)
    if not m:
        return []
    missing = []
    for dotted in m.group(1).split():
        module, _, rest = dotted.partition(".")
        obj = importlib.import_module(module)
        for part in rest.split("."):
            try:
                obj = getattr(obj, part)
            except AttributeError:
                obj = importlib.import_module(f"{obj.__name__}.{part}")
        if not inspect.get_annotations(obj):
            missing.append(dotted)
    return missing


def reported(path):
    out, err, _ = api.run(["--strict", "--no-incremental", "--cache-dir", "/dev/null", str(path)])
    found = set()
    for text in out.splitlines():
        m = REPORT.match(text)
        if m:
            found.add((int(m.group("line")), m.group("code")))
    return found, out + err


def main():
    failures = pending = 0
    samples = sorted(HERE.glob("accept_*.py")) + sorted(HERE.glob("reject_*.py"))
    for path in samples:
        waiting = unannotated(path)
        if waiting:
            pending += 1
            print(f"wait {path.name}: pending until annotated: {' '.join(waiting)}")
            continue
        want = expected(path)
        got, text = reported(path)
        ok = got == want and (want or "Success" in text)
        if ok and path.name.startswith("accept_"):
            run = subprocess.run([sys.executable, str(path)], capture_output=True, text=True)
            ok = run.returncode == 0
            text += run.stderr
        print(f"{'ok  ' if ok else 'FAIL'} {path.name}: {len(got)} of {len(want)} expected errors reported")
        if not ok:
            failures += 1
            print(f"  missing: {sorted(want - got)}  unexpected: {sorted(got - want)}")
            print("  " + text.strip().replace("\n", "\n  "))
    checked = len(samples) - pending
    print(f"mypy: {checked - failures} of {checked} samples as expected" + (f", {pending} pending" if pending else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env bash
# Runs the symbolic-regression tables in one go: bash bench/run_laws.sh reduced|full [LABEL]
#   reduced: the scale of the recorded baseline (bench/README_laws.md), about 2 hours (1 h 50 min measured);
#   full:    every set at noise 0, 1 % and 10 % with 20 s per problem, about 3.5 hours.
# PY names the interpreter that imports kiv and pyoperon (default .venv-test/bin/python; for a development
# build: PY=.venv-dev/bin/python PYTHONPATH=build/dev). Results go to build/bench/LABEL-*.jsonl / .csv / .txt.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=${PY:-.venv-test/bin/python}
MODE=${1:-reduced}
LABEL=${2:-$(git rev-parse --short HEAD)}
OUT=build/bench
mkdir -p "$OUT"
run() {  # name, then bench_laws.py arguments; --resume continues an interrupted run
  local name=$1
  shift
  "$PY" bench/bench_laws.py --label "$LABEL" --resume "$OUT/$LABEL-$name.jsonl" "$@" > "$OUT/$LABEL-$name.txt"
  echo "$name done: $OUT/$LABEL-$name.txt"
}
case "$MODE" in
  reduced)
    run laws --set laws --noise 0 0.01 --time 20
    run laws-noise10 --set laws --noise 0.1 --time 5
    run public --set nguyen keijzer korns vladislavleva --noise 0 0.01 0.1 --time 5
    run check --set laws-check --draw 1 --noise 0 0.01 --time 20
    ;;
  full)
    run laws-full --set laws --noise 0 0.01 0.1 --time 20
    run public-full --set nguyen keijzer korns vladislavleva --noise 0 0.01 0.1 --time 20
    run check-full --set laws-check --draw 1 --noise 0 0.01 0.1 --time 20
    ;;
  *)
    echo "usage: bash bench/run_laws.sh reduced|full [LABEL]" >&2
    exit 2
    ;;
esac
"$PY" bench/bench_diabetes.py --time 20 --out "$OUT/$LABEL-diabetes.json" > "$OUT/$LABEL-diabetes.txt"
echo "diabetes done: $OUT/$LABEL-diabetes.txt"

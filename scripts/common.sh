# Shared set-up steps of the demo and test commands (sourced, not run).

# Prints the path of a working Python 3.13 interpreter.
find_python() {
    if command -v python3.13 >/dev/null 2>&1 && python3.13 -c 'import sys' >/dev/null 2>&1; then
        command -v python3.13
        return
    fi
    local root
    root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
    for candidate in "$root"/versions/3.13*/bin/python3.13; do
        if [ -x "$candidate" ]; then
            echo "$candidate"
            return
        fi
    done
    echo "no Python 3.13 found (looked for python3.13 on PATH and under pyenv)" >&2
    return 1
}

# Creates the virtual environment $1 with Python 3.13 unless it exists, and prints its python.
make_venv() {
    local venv=$1 py
    if [ ! -x "$venv/bin/python" ]; then
        py=$(find_python)
        "$py" -m venv "$venv"
    fi
    echo "$venv/bin/python"
}

# Runs a command as root (directly when already root, else through sudo; without a terminal to ask for a
# password on, sudo fails at once instead of waiting).
as_root() {
    if [ "$(id -u)" = 0 ]; then
        "$@"
    elif [ -t 0 ]; then
        sudo "$@"
    else
        sudo -n "$@"
    fi
}

# The C++ stages need GoogleTest. When its headers are missing they install Debian's libgtest-dev; with
# KIV_SKIP_CPP_TESTS=1 they are skipped instead (and the sanitizer build leaves the C++ tests out).
skip_cpp_tests() {
    [ "${KIV_SKIP_CPP_TESTS:-0}" = 1 ]
}

# Says, before anything is built, that a system package will be installed and how to avoid it.
announce_system_packages() {
    if [ -z "${KIV_ANNOUNCED:-}" ] && ! skip_cpp_tests && [ ! -f /usr/include/gtest/gtest.h ]; then
        export KIV_ANNOUNCED=1
        echo "note: GoogleTest's headers are missing: the C++ stages will install Debian's libgtest-dev with"
        echo "      apt-get ($( [ "$(id -u)" = 0 ] && echo "as root" || echo "through sudo")). To skip those stages instead, run with"
        echo "      KIV_SKIP_CPP_TESTS=1 (for example: KIV_SKIP_CPP_TESTS=1 bash scripts/test.sh)."
    fi
}

# Installs GoogleTest from Debian's packages when its headers are missing, saying so first.
ensure_gtest() {
    if [ ! -f /usr/include/gtest/gtest.h ]; then
        echo "installing Debian's libgtest-dev with apt-get for the C++ tests (KIV_SKIP_CPP_TESTS=1 skips them)"
        as_root apt-get update -q
        DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q libgtest-dev
    fi
}

# Makes sure cmake is on PATH, installing it into the virtual environment $1 when it is not.
ensure_cmake() {
    if ! command -v cmake >/dev/null 2>&1; then
        "$1/bin/python" -m pip install -q cmake
        export PATH="$1/bin:$PATH"
    fi
}

# ---- stages and the closing summary ---------------------------------------------------------------------
# A command made of stages calls summary_begin once, then run_stage TITLE COMMAND... per stage; each stage
# reports its counts with stage_result TEXT. When the outermost command ends (success or failure), the
# summary block lists every stage that reported, with its time. Scripts run by a stage (sanitize.sh,
# typecheck.sh) add their lines to the same block through KIV_SUMMARY.

summary_begin() {
    if [ -z "${KIV_SUMMARY:-}" ]; then
        KIV_SUMMARY=$(mktemp)
        export KIV_SUMMARY
        trap 'summary_end $?' EXIT
    fi
}

summary_end() {
    local status=$1 stage="set-up" started
    echo
    echo "== summary"
    if [ "$status" != 0 ] && [ -f "$KIV_SUMMARY.stage" ]; then
        read -r started stage <"$KIV_SUMMARY.stage"
        # A stage that failed before it could count anything still gets its line.
        if ! grep -qF "  $stage " "$KIV_SUMMARY"; then
            summary_line "$stage" "$(($(date +%s) - started))" "failed (see its output above)"
        fi
    fi
    cat "$KIV_SUMMARY"
    if [ "$status" = 0 ]; then
        echo "all stages passed in $((SECONDS / 60))m$((SECONDS % 60))s"
    else
        echo "FAILED in stage: $stage (exit status $status)"
    fi
    rm -f "$KIV_SUMMARY" "$KIV_SUMMARY.stage"
}

run_stage() {
    STAGE_TITLE=$1
    STAGE_START=$SECONDS
    shift
    echo "$(date +%s) $STAGE_TITLE" >"$KIV_SUMMARY.stage"
    echo
    echo "== $STAGE_TITLE ($(date +%T))"
    "$@"
}

summary_line() {
    printf '  %-54s %5ss  %s\n' "$1" "$2" "$3" >>"$KIV_SUMMARY"
}

# Records the current stage's line: its time and TEXT (its counts). A failing stage records its counts
# too, marked FAILED, before it returns its status.
stage_result() {
    summary_line "$STAGE_TITLE" "$((SECONDS - STAGE_START))" "$1"
}

# Runs a command with its output in the log file $1, printing the log only when the command fails.
quietly() {
    local log=$1
    shift
    mkdir -p "$(dirname "$log")"
    if ! "$@" >"$log" 2>&1; then
        cat "$log"
        echo "failed: $*" >&2
        return 1
    fi
}

# Runs pytest in the test folder $2 with the interpreter $1 (and further pytest arguments); the output is
# shown as it comes, and the stage's result is pytest's closing count. Run from the test folder, the
# tests import the installed (or PYTHONPATH's) packages, not the sources.
pytest_stage() {
    local py=$1 dir=$2 log status=0
    shift 2
    log=$(mktemp)
    (cd "$dir" && "$py" -m pytest -q -p no:cacheprovider "$@" .) | tee "$log" || status=$?
    stage_result "$([ "$status" = 0 ] || echo "FAILED: ")$(tail -n 1 "$log" | sed -E 's/^=+ //; s/ in [0-9.]+s.*$//')"
    rm -f "$log"
    return "$status"
}

# Runs the C++ tests of build folder $1 quietly (the per-test lines only on failure), keeping ctest's
# closing "tests passed" line in the output.
ctest_stage() {
    local dir=$1 log status=0
    log=$(mktemp)
    quietly "$log" ctest --test-dir "$dir" --output-on-failure || status=$?
    grep -E "tests passed|Total Test time" "$log" || true
    if [ "$status" = 0 ]; then
        stage_result "$(sed -nE 's/^100% tests passed.* out of ([0-9]+)$/\1 passed/p' "$log")"
    else
        # "95% tests passed, 2 tests failed out of 40"
        stage_result "FAILED: $(sed -nE 's/^[0-9]+% tests passed, ([0-9]+) tests? failed out of ([0-9]+)$/\1 failed of \2/p' "$log")"
    fi
    rm -f "$log"
    return "$status"
}

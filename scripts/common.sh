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

# Runs a command as root (directly when already root, else through sudo).
as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs GoogleTest from Debian's packages when its headers are missing.
ensure_gtest() {
    if [ ! -f /usr/include/gtest/gtest.h ]; then
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

#!/usr/bin/env bash
# Builds the documentation site into build/docs/html (open build/docs/html/index.html): Sphinx with the
# pydata theme, numpydoc and autodoc for the API reference of kiv and kiv_core, and sphinx-gallery, which
# runs the examples of docs/gallery and keeps their pictures.
#
# Sets up .venv-docs with the package and the documentation tools, unless KIV_DOCS_PYTHON names an
# interpreter that has both (the test command passes its own). Further arguments go to sphinx-build: the
# test command passes -W --keep-going, which makes every warning an error. KIV_DOCS_FAST=1 leaves the
# gallery's scripts unrun.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

if [ -n "${KIV_DOCS_PYTHON:-}" ]; then
    PY=$KIV_DOCS_PYTHON
else
    PY=$(make_venv "$PWD/.venv-docs")
    # The distribution was called kiv_core before 0.1.0 and installed the same files.
    "$PY" -m pip uninstall -q -y kiv_core 2>/dev/null
    "$PY" -m pip install -q ".[docs]"
fi

# The gallery's pages are generated into the source tree (docs/auto_examples, ignored by git): start clean.
rm -rf build/docs docs/auto_examples docs/sg_execution_times.rst
MPLBACKEND=Agg "$PY" -m sphinx -b html -d build/docs/doctrees "$@" docs build/docs/html
echo "documentation: build/docs/html/index.html"

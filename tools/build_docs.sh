#!/usr/bin/env bash
# Builds the documentation into docs/_build/html. Sets up .venv/docs (quilmo, and
# docs/requirements.txt from PyPI), runs every example of the gallery, and fails on any
# warning (nitpicky: every cross-reference must resolve). Then runs the examples of the
# pages and of the docstrings as doctests (sphinx.ext.doctest), into docs/_build/doctest.
# The gallery keeps the output of examples that did not change since the last build.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/pythons.sh
python=$(find_newest_python)
python=${python:-$(find_python 3.11)}
prepare_venv .venv/docs "$python" "numpy>=2" -r docs/requirements.txt
# every page read again, so that every warning is seen
rm -rf docs/_build/html docs/_build/doctrees docs/_build/doctest
start=$(date +%s)
.venv/docs/bin/python -m sphinx -b html -W --keep-going -n -q -d docs/_build/doctrees docs docs/_build/html
.venv/docs/bin/python -m sphinx -b doctest -W --keep-going -n -q -d docs/_build/doctrees docs docs/_build/doctest
echo "documentation built in $(( $(date +%s) - start )) s: docs/_build/html/index.html"

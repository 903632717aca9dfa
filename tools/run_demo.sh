#!/usr/bin/env bash
# Sets up a virtual environment (.venv/demo) with quilmo, NumPy and
# matplotlib from PyPI, then runs the demonstration.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/pythons.sh
python=$(find_newest_python)
python=${python:-$(find_python 3.11)}
prepare_venv .venv/demo "$python" numpy matplotlib
exec .venv/demo/bin/python examples/demo.py "$@"

#!/usr/bin/env bash
# The main job: install the package with pip and annotate text with it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
bash scripts/setup.sh
python3 -m pip install -q --root-user-action=ignore --no-build-isolation --no-deps .
python3 examples/annotate.py

#!/usr/bin/env bash
# Builds movimo and shows a few patterns at work in the terminal.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash tools/bootstrap.sh
.venv/bin/python tools/demo.py "$@"

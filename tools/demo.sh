#!/usr/bin/env bash
# Builds movimo, shows a few patterns moving over two beats in the terminal,
# writes the pattern gallery into build/gallery and the documentation site
# into build/docs/html, and says where they are and how to stream patterns
# to a light, a visual or a game as OSC.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash tools/bootstrap.sh
.venv/bin/python tools/demo.py
echo
# --force: build/ is ours, and a gallery from before the marker file has none.
url=$(.venv/bin/python -P -m movimo_tools gallery -o build/gallery --force)
echo "movimo gallery of every pattern: $url"
# -P: the installed movimo_tools, not the source folder, documents itself.
.venv/bin/python -P -m sphinx -q -b html docs build/docs/html
echo "movimo documentation (guide and reference): file://$root/build/docs/html/index.html"
echo "the movimo command and module in your shell: source .venv/bin/activate"
echo "then stream patterns as OSC: movimo stream helix --bpm 128 --osc 127.0.0.1:9000" \
     "(then type 'bpm 140', 'tap' or 'quit'; see movimo stream --help)"
echo "or play them live from a browser: movimo serve helix lfo_flower --bpm 128 --osc 127.0.0.1:9000" \
     "(then open the URL it prints)"

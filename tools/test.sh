#!/usr/bin/env bash
# Builds movimo and runs every test: native tests through CTest, Python
# tests through pytest, then the sanitizer, valgrind and fuzzing stages.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash tools/bootstrap.sh
export PATH="$root/.venv/bin:$PATH"
ctest --test-dir build/py --output-on-failure -j2
.venv/bin/python -m pytest -q tests/python
# The examples in the movimo_tools docstrings run as doctests, on the installed
# package (-P keeps the source folder, which lacks the native part, off the path).
.venv/bin/python -P -m pytest -q --doctest-modules --pyargs movimo_tools
# The sdist and the wheel as users get them, installed where nothing can build;
# the C++ package installed and used by examples/cpp three ways.
bash tools/package_test.sh
bash tools/cpp_package_test.sh
bash tools/harden.sh

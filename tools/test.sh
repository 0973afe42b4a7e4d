#!/usr/bin/env bash
# Builds movimo and runs every test, stage by stage: the build; native tests
# through CTest; Python tests (the golden digests among them) and the
# movimo_tools doctests through pytest; the clang build; the Python and C++
# packages as users get them; then the sanitizer, valgrind and fuzzing
# stages. A missing piece of our own fails its stage.
# It says one line a stage (each stage's whole output goes to
# build/test-logs/), then sums up: stages passed, tests run, skips with their
# reasons and the time taken, and last the tests passed, failed and skipped.
# A failing stage shows the failing test's output.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

stages=(build native python doctests clang package cpp-package hardening)
passed=()
current=
export MOVIMO_TEST_REPORTS="$root/build/test-reports"
rm -rf "$MOVIMO_TEST_REPORTS"
mkdir -p "$MOVIMO_TEST_REPORTS"

summarise() {
  local python=.venv/bin/python failed=() pending=()
  [ -x "$python" ] || python=python3
  if [ -n "$current" ]; then
    failed=(--failed "$current")
    pending=(--pending "${stages[@]:$((${#passed[@]} + 1))}")
  fi
  printf '\n'
  "$python" tools/test_summary.py "$MOVIMO_TEST_REPORTS" "$SECONDS" "${passed[@]}" \
    "${failed[@]}" "${pending[@]}"
}
trap summarise EXIT

# Runs one stage with its whole output in build/test-logs/STAGE.log and says
# one line of it; a passed stage is recorded with its time, as NAME=SECONDS.
# A failed stage shows the end of its log: the failing test's output.
logs=$root/build/test-logs
mkdir -p "$logs"
run() {
  local started=$SECONDS log="$logs/$1.log" status
  current=$1
  shift
  set +e
  "$@" >"$log" 2>&1
  status=$?
  set -e
  if [ $status -ne 0 ]; then
    printf '%-12s FAILED after %ss; from %s:\n' "$current" $((SECONDS - started)) "$log"
    # pytest's failures section where there is one, else the log's end.
    if grep -q '^=* FAILURES =*$' "$log"; then
      sed -n '/^=* FAILURES =*$/,$p' "$log" | head -n 300
    else
      tail -n 60 "$log"
    fi
    exit $status
  fi
  printf '%-12s passed in %ss\n' "$current" $((SECONDS - started))
  passed+=("$current=$((SECONDS - started))")
  current=
}

run build bash tools/bootstrap.sh --developer --warnings-as-errors
export PATH="$root/.venv/bin:$PATH"
run native ctest --test-dir build/py --output-on-failure -j2 \
  --output-junit "$MOVIMO_TEST_REPORTS/ctest.xml"
run python .venv/bin/python -m pytest -q -rs tests/python \
  --junitxml="$MOVIMO_TEST_REPORTS/pytest.xml"
# The examples in the movimo_tools docstrings run as doctests, on the installed
# package (-P keeps the source folder, which lacks the native part, off the path).
run doctests .venv/bin/python -P -m pytest -q --doctest-modules --pyargs movimo_tools \
  --junitxml="$MOVIMO_TEST_REPORTS/doctests.xml"
run clang bash tools/clang_build.sh
# The sdist and the wheel as users get them, installed where nothing can build;
# the C++ package installed and used by examples/cpp three ways.
run package bash tools/package_test.sh
run cpp-package bash tools/cpp_package_test.sh
run hardening bash tools/harden.sh

#!/usr/bin/env bash
# Native hardening stages, run by tools/test.sh after the main build:
#   1. AddressSanitizer + UndefinedBehaviorSanitizer build of the library and
#      its native tests (build/asan), all tests run and its procedural
#      patterns checked against the golden digests;
#   2. valgrind memcheck over the native tests of the main build;
#   3. ThreadSanitizer build (build/tsan) running the concurrency tests;
#   4. libFuzzer harnesses built with clang (build/fuzz), each run for a
#      bounded time from its seed corpus;
#   5. the Python harnesses of the clock inputs' and the control surfaces'
#      message handling (atheris, libFuzzer's engine), likewise.
# The pack generator is built once, in build/py, and reused by these builds.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

fuzz_seconds=${MOVIMO_FUZZ_SECONDS:-15}
generator=$(find build/py -name movimo_pack_generator -type f -perm -u+x | head -n 1)

configure() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOVIMO_BUILD_MODULE=OFF \
    ${generator:+-DMOVIMO_PACK_GENERATOR="$root/$generator"} "$@" >/dev/null
}

stage() { printf '\n== %s\n' "$*"; }

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
configure build/asan -DMOVIMO_BUILD_TESTS=ON -DMOVIMO_SANITIZE=address,undefined
cmake --build build/asan -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j2 \
  ${MOVIMO_TEST_REPORTS:+--output-junit "$MOVIMO_TEST_REPORTS/ctest-asan.xml"}
.venv/bin/python tools/golden_digests.py check --build build/asan --reference build/py

stage "valgrind memcheck"
for binary in build/py/tests/native/movimo_{native,concurrency,generator}_tests; do
  valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    "$binary" --gtest_brief=1
done

stage "ThreadSanitizer"
configure build/tsan -DMOVIMO_BUILD_TESTS=ON -DMOVIMO_SANITIZE=thread
cmake --build build/tsan -j2 --target movimo_concurrency_tests
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/native/movimo_concurrency_tests --gtest_brief=1

stage "libFuzzer, ${fuzz_seconds}s per harness"
CXX=clang++-14 configure build/fuzz -DMOVIMO_BUILD_FUZZERS=ON \
  -DMOVIMO_SANITIZE=address,undefined,fuzzer-no-link
cmake --build build/fuzz -j2 --target fuzz_sampled_pattern fuzz_pattern_library \
  fuzz_sampled_recording fuzz_recording_frames fuzz_sample_by_name
for harness in fuzz_sampled_pattern fuzz_pattern_library fuzz_sampled_recording fuzz_recording_frames fuzz_sample_by_name; do
  corpus=build/fuzz/corpus/$harness
  mkdir -p "$corpus"
  log=build/fuzz/$harness.log
  if ! build/fuzz/tests/fuzz/$harness -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix=build/fuzz/ "$corpus" "tests/fuzz/corpus/$harness" >"$log" 2>&1; then
    tail -n 40 "$log"
    exit 1
  fi
  printf '%s: %s\n' "$harness" "$(grep -E 'stat::number_of_executed_units' "$log")"
done

stage "atheris, ${fuzz_seconds}s per harness: clock inputs and control surfaces"
for harness in fuzz_clock_messages fuzz_control_messages; do
  corpus=build/fuzz/corpus/$harness
  mkdir -p "$corpus"
  log=build/fuzz/$harness.log
  if ! .venv/bin/python tests/fuzz/$harness.py -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 \
      -artifact_prefix=build/fuzz/ "$corpus" "tests/fuzz/corpus/$harness" >"$log" 2>&1; then
    tail -n 40 "$log"
    exit 1
  fi
  printf '%s: %s\n' "$harness" "$(grep -Eo 'Done [0-9]+ runs' "$log")"
done

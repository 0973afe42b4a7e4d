#!/usr/bin/env bash
# The second-compiler stage, run by tools/test.sh after the main build. It
# builds the native library, its own pack generator, the native tests and
# movimo_pattern_values with clang 14 in build/clang, with -ffast-math in the
# flags as a consumer might set them, runs the native tests there, and checks
# that build against the golden digests, measuring any change against the gcc
# build in build/py.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
export PATH="$root/.venv/bin:$PATH"

# Any warning fails the build. clang warns that -fno-fast-math, which the
# targets add, overrides the consumer's -ffast-math: that is the point, so
# that warning is silenced.
cmake -S . -B build/clang -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_CXX_FLAGS="-ffast-math -Wno-overriding-t-option" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DMOVIMO_BUILD_MODULE=OFF -DMOVIMO_BUILD_TESTS=ON >/dev/null
cmake --build build/clang -j2
ctest --test-dir build/clang --output-on-failure -j2 ${MOVIMO_TEST_REPORTS:+--output-junit "$MOVIMO_TEST_REPORTS/ctest-clang.xml"}
.venv/bin/python tools/golden_digests.py check --build build/clang --reference build/py

#!/usr/bin/env bash
# Prepares a machine for movimo and builds it incrementally:
#   - finds Python 3.12 (PATH first, then pyenv),
#   - installs missing Debian packages the native tests and benchmarks need,
#   - creates .venv with the build and test tools,
#   - builds the module, the native tests and the benchmarks in build/py and
#     installs the module into .venv.
# Running it again only rebuilds what changed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf 'bootstrap: %s\n' "$*" >&2; }

is_python312() {
  "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))' 2>/dev/null
}

find_python312() {
  local candidate
  if candidate=$(command -v python3.12 2>/dev/null) && is_python312 "$candidate"; then
    echo "$candidate"; return 0
  fi
  if command -v pyenv >/dev/null 2>&1; then
    for candidate in "$(pyenv root)"/versions/3.12*/bin/python3.12; do
      if [ -x "$candidate" ] && is_python312 "$candidate"; then
        echo "$candidate"; return 0
      fi
    done
  fi
  return 1
}

# GoogleTest and Google Benchmark for the native tests and benchmarks; clang
# with its runtime for the fuzzers, and valgrind, for the hardening stages;
# Chromium and its WebDriver for the gallery tests; the Open Lighting
# Architecture daemon, iproute2 and util-linux (unshare, setpriv) for the DMX
# receiver test, which runs olad in a network namespace of its own; pkgconf
# and unzip for the packaging tests; ALSA, which python-rtmidi links (and
# builds against where it has no wheel), for MIDI clock input.
debian_packages=(libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev valgrind
                 chromium chromium-driver ola iproute2 util-linux pkgconf unzip libasound2-dev)
missing=()
for package in "${debian_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if [ ! -x .venv/bin/python ] || ! is_python312 .venv/bin/python; then
  python=$(find_python312) || { say "Python 3.12 not found on PATH or in pyenv"; exit 1; }
  say "creating .venv with $python"
  rm -rf .venv
  "$python" -m venv .venv
fi

# CMake and Ninja come from .venv too, so every build uses the same versions.
export PATH="$root/.venv/bin:$PATH"

# Reinstall the tools only when their list changed.
stamp=.venv/.requirements.sha256
wanted=$(sha256sum tools/requirements-dev.txt | cut -d' ' -f1)
if [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ]; then
  say "installing build and test tools into .venv"
  .venv/bin/python -m pip install -q --disable-pip-version-check -r tools/requirements-dev.txt
  echo "$wanted" > "$stamp"
fi

# One CMake build tree serves the wheel, the native tests and the benchmarks.
.venv/bin/python -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps \
  -C build-dir=build/py \
  -C cmake.define.MOVIMO_BUILD_TESTS=ON \
  -C cmake.define.MOVIMO_BUILD_BENCH=ON \
  .

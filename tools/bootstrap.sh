#!/usr/bin/env bash
# Prepares a machine for movimo and builds it incrementally:
#   - finds Python 3.12 (PATH first, then pyenv),
#   - installs missing Debian packages the native tests and benchmarks need,
#     waiting for any other package manager that holds the lock,
#   - creates .venv with the build and test tools,
#   - builds the module, the native tests and the benchmarks in build/py,
#     showing the build's progress, and installs the module into .venv.
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
# builds against where it has no wheel), for MIDI clock input; PortAudio for
# live audio input, and the JACK server whose dummy driver gives the audio
# tests an input device without a sound card.
debian_packages=(libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev valgrind
                 chromium chromium-driver ola iproute2 util-linux pkgconf unzip libasound2-dev
                 libportaudio2 jackd2)
missing=()
for package in "${debian_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
# Another apt-get or dpkg at work holds the package manager's lock: wait for
# it (up to ten minutes) rather than fail on "Could not get lock". apt-get
# waits for dpkg's lock when told to, but not for the package lists' lock.
lock_wait_seconds=600
apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=$lock_wait_seconds -qq "$@" \
    >/dev/null
}
update_package_lists() {
  local errors waited=0
  until errors=$(apt_get update 2>&1); do
    if [[ $errors != *"Could not get lock"* ]] || [ $waited -ge $lock_wait_seconds ]; then
      printf '%s\n' "$errors" >&2
      return 1
    fi
    [ $waited -gt 0 ] || say "waiting for another package manager to finish"
    sleep 5
    waited=$((waited + 5))
  done
}
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  update_package_lists
  apt_get install -y "${missing[@]}"
fi

if [ ! -x .venv/bin/python ] || ! is_python312 .venv/bin/python; then
  python=$(find_python312) || { say "Python 3.12 not found on PATH or in pyenv"; exit 1; }
  say "creating .venv with $python"
  rm -rf .venv
  "$python" -m venv .venv
fi

# CMake and Ninja come from .venv too, so every build uses the same versions.
export PATH="$root/.venv/bin:$PATH"

# Runs a command with all its output in the log file LOG, showing only the
# lines the awk program PROGRESS prints from it; on failure, the log's end.
logged() {
  local log=$1 progress=$2 status
  shift 2
  mkdir -p "$(dirname "$log")"
  set +e
  "$@" 2>&1 | tee "$log" | awk "$progress" >&2
  status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -ne 0 ]; then
    say "failed; the end of $log:"
    tail -n 40 "$log" >&2
    exit "$status"
  fi
}

# Reinstall the tools only when their list changed, naming each as pip
# fetches it.
stamp=.venv/.requirements.sha256
wanted=$(sha256sum tools/requirements-dev.txt | cut -d' ' -f1)
if [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ]; then
  say "installing build and test tools into .venv"
  logged build/tools-install.log \
    '/^Collecting / { print "bootstrap:   " $2; fflush() }' \
    .venv/bin/python -m pip install --disable-pip-version-check -r tools/requirements-dev.txt
  echo "$wanted" > "$stamp"
fi

# Ninja's "[done/total]" lines (pip indents them), shown at every tenth of
# the way, so a build of a minute or more is not a silent one.
build_progress='match($0, /^ *\[[0-9]+\/[0-9]+\]/) {
  split(substr($0, index($0, "[") + 1), step, /[\/\]]/)
  if (step[1] == 0) next
  tenth = int(10 * step[1] / step[2])
  if (tenth > shown) {
    printf "bootstrap: building the native code: %d of %d steps\n", step[1], step[2]
    fflush(); shown = tenth
  }
}'

# One CMake build tree serves the wheel, the native tests and the benchmarks.
started=$SECONDS
logged build/native-build.log "BEGIN { shown = -1 } $build_progress" \
  .venv/bin/python -m pip install -v --disable-pip-version-check --no-build-isolation --no-deps \
    -C build-dir=build/py \
    -C cmake.define.MOVIMO_BUILD_TESTS=ON \
    -C cmake.define.MOVIMO_BUILD_BENCH=ON \
    .
say "built and installed into .venv in $((SECONDS - started)) s"

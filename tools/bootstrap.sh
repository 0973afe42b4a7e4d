#!/usr/bin/env bash
# Prepares a machine for movimo and builds it incrementally:
#   - finds Python 3.12 (PATH first, then pyenv),
#   - installs the missing Debian packages, waiting for any other package
#     manager that holds the lock,
#   - creates .venv with the build tools and every feature's libraries,
#   - builds the module into build/py and installs it into .venv.
# With --developer it also installs the developer toolchain (tests, fuzzing,
# packaging, the browsers and servers the tests talk to) and builds the
# native tests and benchmarks.
# It says what it does in a few lines; the full output of each step is kept
# in build/logs/ and shown only when a step fails. Running it again only
# rebuilds what changed.
# With --warnings-as-errors, as tools/test.sh runs it, any compiler warning
# fails the build; build/py keeps that setting for later runs.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf 'bootstrap: %s\n' "$*" >&2; }

developer=false
cmake_defines=()
for option in "$@"; do
  case $option in
    --developer) developer=true ;;
    --warnings-as-errors) cmake_defines+=(-C cmake.define.CMAKE_COMPILE_WARNING_AS_ERROR=ON) ;;
    *) say "usage: tools/bootstrap.sh [--developer] [--warnings-as-errors]"; exit 2 ;;
  esac
done

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

# ALSA, which python-rtmidi links (and builds against where it has no wheel),
# for MIDI input; PortAudio for live audio input.
runtime_packages=(libasound2-dev libportaudio2)
# GoogleTest and Google Benchmark for the native tests and benchmarks; clang
# with its runtime for the fuzzers, and valgrind, for the hardening stages;
# Chromium and its WebDriver for the gallery and console tests; the Open
# Lighting Architecture daemon, iproute2 and util-linux (unshare, setpriv)
# for the DMX receiver tests, which run olad in network namespaces of their
# own; pkgconf and unzip for the packaging tests; tshark, whose Art-Net
# dissector reads movimo's ArtPoll, ArtPollReply and ArtSync in the discovery
# test; the JACK server, whose dummy driver gives the audio tests an input
# device without a sound card.
developer_packages=(libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev valgrind
                    chromium chromium-driver ola iproute2 util-linux pkgconf unzip tshark
                    jackd2)
debian_packages=("${runtime_packages[@]}")
if $developer; then
  debian_packages+=("${developer_packages[@]}")
fi
logs=build/logs
mkdir -p "$logs"
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
    >>"$logs/apt.log" 2>&1
}
update_package_lists() {
  local waited=0
  until apt_get update; do
    if ! tail -n 5 "$logs/apt.log" | grep -q "Could not get lock" ||
        [ $waited -ge $lock_wait_seconds ]; then
      say "apt-get update failed; the end of $logs/apt.log:"
      tail -n 20 "$logs/apt.log" >&2
      return 1
    fi
    [ $waited -gt 0 ] || say "waiting for another package manager to finish"
    sleep 5
    waited=$((waited + 5))
  done
}
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${#missing[@]} Debian packages (log: $logs/apt.log)"
  : >"$logs/apt.log"
  # tshark's package asks whether ordinary users may capture: they may not.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
  update_package_lists
  apt_get install -y "${missing[@]}" || {
    say "apt-get install failed; the end of $logs/apt.log:"
    tail -n 20 "$logs/apt.log" >&2
    exit 1
  }
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

# The Python packages: those above the developer marker of the requirements
# file, or all of them for a developer. A stamp per set says which list is
# installed, so that they are reinstalled only when that list changes.
marker='# --- developer tools'
requirements=$logs/requirements.txt
if $developer; then
  cp tools/requirements-dev.txt "$requirements"
  stamp=.venv/.requirements.sha256
else
  sed "/^$marker/,\$d" tools/requirements-dev.txt >"$requirements"
  stamp=.venv/.requirements-runtime.sha256
fi
wanted=$(sha256sum "$requirements" | cut -d' ' -f1)
everything=$(sha256sum tools/requirements-dev.txt | cut -d' ' -f1)
if [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ] &&
    [ "$(cat .venv/.requirements.sha256 2>/dev/null)" != "$everything" ]; then
  count=$(grep -c '^[^#]' "$requirements")
  say "installing $count Python packages into .venv (log: $logs/pip.log)"
  logged "$logs/pip.log" \
    '/^Collecting / { n++; if (n % 10 == 0) { printf "bootstrap:   %d fetched\n", n; fflush() } }' \
    .venv/bin/python -m pip install --disable-pip-version-check -r "$requirements"
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

# One CMake build tree serves the wheel and, for a developer, the native
# tests and the benchmarks (which need GoogleTest and Google Benchmark).
# Once a developer's build has them, a plain run keeps them.
tests=OFF
if $developer || [ -f build/py/.developer ]; then
  tests=ON
fi
started=$SECONDS
say "building the native code (log: $logs/native-build.log)"
logged "$logs/native-build.log" "BEGIN { shown = -1 } $build_progress" \
  .venv/bin/python -m pip install -v --disable-pip-version-check --no-build-isolation --no-deps \
    -C build-dir=build/py \
    -C cmake.define.MOVIMO_BUILD_TESTS=$tests \
    -C cmake.define.MOVIMO_BUILD_BENCH=$tests \
    "${cmake_defines[@]}" \
    .
if [ $tests = ON ]; then
  touch build/py/.developer
fi
say "built and installed into .venv in $((SECONDS - started)) s"

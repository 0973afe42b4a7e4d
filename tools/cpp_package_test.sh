#!/usr/bin/env bash
# Installs movimo's C++ package and builds examples/cpp against it the ways C++
# users consume a library: find_package, pkg-config, and FetchContent of the
# source tree. Every program built runs, and its output is checked: values
# against the Python module, the guide's example against what the guide says
# it prints.
#   - The shell blocks of docs/guide/cpp.md run as pasted, with HOME in the
#     build tree: the first installs the static library from a copy of the
#     source tree, each other one builds from a copy of examples/cpp. That
#     first build, the one users see, must print no compiler warning.
#   - The build blocks run again against a shared library (BUILD_SHARED_LIBS,
#     reusing the pack generator built before), which must export no function
#     outside movimo's namespaces and none of movimo::internal.
#   - The shared library is configured with Python and pybind11 hidden from
#     CMake: a C++ user needs neither.
#   - The installed trees hold the public headers only (no internal/, no
#     generated headers) and name no path of the source or build trees.
# Run after tools/bootstrap.sh.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
say() { printf 'cpp package: %s\n' "$*" >&2; }
export PATH="$root/.venv/bin:$PATH"
# The guide's commands name no generator or job count; these choose them.
export CMAKE_GENERATOR=Ninja CMAKE_BUILD_PARALLEL_LEVEL=2

out=$root/build/cpp
rm -rf "$out"
mkdir -p "$out/guide" "$out/results"
log=$out/build.log
quiet() { "$@" >>"$log" 2>&1 || { tail -30 "$log"; say "failed: $*"; exit 1; }; }

awk -v dir="$out/guide" '
  /^```sh$/ { block = sprintf("%s/%d.sh", dir, ++count); next }
  /^```/ { block = ""; next }
  block { print > block }' docs/guide/cpp.md
mapfile -t blocks < <(ls -v "$out/guide"/*.sh)
[ ${#blocks[@]} -ge 2 ] || { say "the guide shows no install and build commands"; exit 1; }

# Runs the guide's block $3 in folder $1 with HOME=$2.
run_block() { (cd "$1" && HOME=$2 bash -euo pipefail "$3"); }

# Runs the examples found in folder $1, each output in results/$2.PROGRAM.txt.
run_examples() {
  local program
  while IFS= read -r program; do
    case $(basename "$program") in
      evaluate_patterns) "$program" ;;
      movimo_csv) "$program" helix 128 30 4 ;;
    esac >"$out/results/$2.$(basename "$program").txt" || { say "failed: $program"; exit 1; }
  done < <(find "$1" -maxdepth 2 -type f -executable \( -name evaluate_patterns -o -name movimo_csv \))
}

# Checks the package installed in prefix $1 with the library file $2.
check_installed() {
  local file
  (cd "$1" && find . \( -type f -o -type l \) | sort) >"$out/installed.txt"
  for file in include/movimo/pattern_handle.h include/movimo/version.h "lib/$2" \
              lib/cmake/movimo/movimoConfig.cmake lib/cmake/movimo/movimoConfigVersion.cmake \
              lib/cmake/movimo/movimoTargets.cmake lib/pkgconfig/movimo.pc; do
    grep -qx "./$file" "$out/installed.txt" || { say "not installed in $1: $file"; exit 1; }
  done
  if grep -E "internal/|packs\.h" "$out/installed.txt"; then say "private headers installed (above)"; exit 1; fi
  if grep -rl -e "$source" -e "$out/shared-build" "$1/lib/cmake" "$1/lib/pkgconfig"; then
    say "the installed package names the source or build tree (above)"; exit 1
  fi
}

# Runs every build block of the guide against the package installed in
# $1/.local, each in a fresh copy of examples/cpp, and the programs it built.
build_examples() {
  local block folder
  for block in "${blocks[@]:1}"; do
    folder=$out/$(basename "$1")-$(basename "$block" .sh)
    mkdir -p "$folder"
    cp examples/cpp/CMakeLists.txt examples/cpp/*.cpp "$folder"
    quiet run_block "$folder" "$1" "$block"
    run_examples "$folder" "$(basename "$folder")"
  done
}

say "installing the static library as the guide does"
source=$out/source
mkdir -p "$source"
tar -C "$root" --exclude=./build --exclude='./.?*' -cf - . | tar -C "$source" -xf -
quiet run_block "$source" "$out/static" "${blocks[0]}"
if grep -in "warning" "$log"; then say "the build warns (above)"; exit 1; fi
check_installed "$out/static/.local" libmovimo.a
generator=$source/build/cpp/src/packs/movimo_pack_generator

say "building the examples as the guide does"
build_examples "$out/static"

say "installing the shared library"
quiet cmake -S "$source" -B "$out/shared-build" -DMOVIMO_BUILD_MODULE=OFF -DBUILD_SHARED_LIBS=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_Python=ON -DCMAKE_DISABLE_FIND_PACKAGE_pybind11=ON \
  -DMOVIMO_PACK_GENERATOR="$generator" -DCMAKE_INSTALL_PREFIX="$out/shared/.local"
quiet cmake --build "$out/shared-build"
quiet cmake --install "$out/shared-build"
check_installed "$out/shared/.local" libmovimo.so
if nm -D --defined-only -C "$out/shared/.local/lib/libmovimo.so" |
     awk '$2 == "T" && ($3 !~ /^movimo(_[a-z]+)?::/ || $3 ~ /^movimo::internal::/)' | grep .; then
  say "the shared library exports the functions above"; exit 1
fi

say "building the examples against the shared library"
build_examples "$out/shared"

say "building the examples through FetchContent of the source tree"
quiet cmake -S examples/cpp -B "$out/fetch" -DMOVIMO_SOURCE_DIR="$source" \
  -DMOVIMO_PACK_GENERATOR="$generator"
quiet cmake --build "$out/fetch"
run_examples "$out/fetch" fetch

# 4 beats at 128 bpm and 30 frames a second: 57 frames, each at its pip.
.venv/bin/python - "$out/results" docs/guide/cpp.md <<'PY'
import csv, pathlib, re, sys
import movimo
results, guide = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
printed = re.search(r"It prints:\n\n```text\n(.*?)```", guide.read_text(), re.S).group(1)
for output in results.glob("*.evaluate_patterns.txt"):
    assert output.read_text() == printed, (output.name, output.read_text())
for output in results.glob("*.movimo_csv.txt"):
    rows = list(csv.reader(output.open()))
    assert rows[0] == ["frame", "seconds", "pip", "x", "y", "z"], (output.name, rows[0])
    assert len(rows) == 1 + 57, (output.name, len(rows))
    for frame, seconds, pip, *xyz in rows[1:]:
        assert int(pip) == int(int(frame) / 30 * 64 * 128 / 60), (output.name, frame, pip)
        xyz = tuple(map(float, xyz))
        assert xyz == movimo.sample("helix", int(pip)).as_tuple(), (output.name, frame)
# Each way of building ran both programs.
for way in ("static", "shared", "fetch"):
    for program in ("evaluate_patterns", "movimo_csv"):
        assert list(results.glob(f"{way}*.{program}.txt")), f"{program} did not run ({way})"
PY
if "$out/fetch/movimo_csv" no_such_pattern 128 30 4 2>"$out/unknown.txt"; then
  say "an unknown name was accepted"; exit 1
fi
grep -qx "movimo_csv: no pattern is called no_such_pattern" "$out/unknown.txt"
say "the static and shared installs and FetchContent build the guide's programs, which print its values"

#!/usr/bin/env bash
# Installs movimo's C++ package and builds examples/cpp against it the three
# ways C++ users consume a library: find_package, pkg-config, and FetchContent
# of the source tree. Each build runs the example and its CSV is checked
# against the Python module.
#   - The library is configured without the Python module and with Python,
#     pybind11 and NumPy hidden from CMake: a C++ user needs none of them.
#   - The installed tree holds the public headers only (no internal/, no
#     generated headers) and names no path of the source or build tree.
# Run after tools/bootstrap.sh.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
say() { printf 'cpp package: %s\n' "$*" >&2; }
export PATH="$root/.venv/bin:$PATH"

out=$root/build/cpp
prefix=$out/prefix
rm -rf "$out"
mkdir -p "$out"
log=$out/build.log
quiet() { "$@" >>"$log" 2>&1 || { tail -30 "$log"; say "failed: $*"; exit 1; }; }

say "building and installing the C++ package"
quiet cmake -S . -B "$out/library" -G Ninja -DMOVIMO_BUILD_MODULE=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_Python=ON -DCMAKE_DISABLE_FIND_PACKAGE_pybind11=ON \
  -DCMAKE_INSTALL_PREFIX="$prefix"
quiet cmake --build "$out/library" -j2
quiet cmake --install "$out/library"

(cd "$prefix" && find . -type f | sort) >"$out/installed.txt"
for file in include/movimo/pattern_handle.h include/movimo/version.h lib/libmovimo.a \
            lib/cmake/movimo/movimoConfig.cmake lib/cmake/movimo/movimoConfigVersion.cmake \
            lib/cmake/movimo/movimoTargets.cmake lib/pkgconfig/movimo.pc; do
  grep -qx "./$file" "$out/installed.txt" || { say "not installed: $file"; exit 1; }
done
if grep -E "internal/|packs\.h" "$out/installed.txt"; then say "private headers installed (above)"; exit 1; fi
if grep -rl -e "$out/library" -e "$root/include" -e "$root/src" "$prefix/lib/cmake" \
     "$prefix/lib/pkgconfig"; then
  say "the installed package names the source or build tree (above)"; exit 1
fi

example=$root/examples/cpp
run() { "$1" helix 128 30 4 >"$out/$2.csv"; }

say "example through find_package"
quiet cmake -S "$example" -B "$out/find" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
quiet cmake --build "$out/find"
run "$out/find/movimo_csv" find_package

say "example through pkg-config"
flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs movimo)
# shellcheck disable=SC2086  # the flags are words
quiet c++ -std=c++20 -O2 -o "$out/pkg_config_csv" "$example/movimo_csv.cpp" $flags
run "$out/pkg_config_csv" pkg_config

say "example through FetchContent of the source tree"
# The generator built above serves again instead of being rebuilt.
quiet cmake -S "$example" -B "$out/fetch" -G Ninja -DMOVIMO_SOURCE_DIR="$root" \
  -DMOVIMO_PACK_GENERATOR="$out/library/src/packs/movimo_pack_generator"
quiet cmake --build "$out/fetch" -j2
run "$out/fetch/movimo_csv" fetch_content

# 4 beats at 128 bpm and 30 frames a second: 57 frames, each at its pip.
.venv/bin/python - "$out" <<'PY'
import csv, pathlib, sys
import movimo
out = pathlib.Path(sys.argv[1])
for name in ("find_package", "pkg_config", "fetch_content"):
    rows = list(csv.reader((out / f"{name}.csv").open()))
    assert rows[0] == ["frame", "seconds", "pip", "x", "y", "z"], rows[0]
    assert len(rows) == 1 + 57, (name, len(rows))
    for frame, seconds, pip, *xyz in rows[1:]:
        assert int(pip) == int(int(frame) / 30 * 64 * 128 / 60), (name, frame, pip)
        assert tuple(map(float, xyz)) == movimo.sample("helix", int(pip)).as_tuple(), (name, frame)
PY
if "$out/find/movimo_csv" no_such_pattern 128 30 4 2>"$out/unknown.txt"; then
  say "an unknown name was accepted"; exit 1
fi
grep -qx "movimo_csv: no pattern is called no_such_pattern" "$out/unknown.txt"
say "find_package, pkg-config and FetchContent builds print the same values as the module"

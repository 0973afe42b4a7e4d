"""A picture of one pattern: its path, and each axis against beats; or a rig
of moving heads from a patch file playing it, seen from above.

The path view draws x (lateral) against y (vertical), coloured by depth z
for 3-axis patterns and by the beat within the loop otherwise, with the
seam (where the loop closes) marked. Below or beside it, every moving axis
is drawn over one loop and an eighth more, so the join across the seam shows,
with beat lines, bar lines every four beats and the seam marked.

The rig view places every fixture of a patch file (or an MVR file) at its
position on the floor plan and draws where it aims over one loop of the
pattern, as `movimo dmx` would move it at the tempo given (speed limits
included): pan from home across and tilt from home up, in degrees scaled to
the spacing of the fixtures. A .gif shows the heads moving through the loop
in real time; a .png or .svg their traces.

Needs matplotlib, the plot extra; without it, drawing fails with a message
naming what to install (see `movimo_tools.extras`).
"""

from __future__ import annotations

import argparse
import os
import pathlib
import textwrap
from typing import TYPE_CHECKING, TextIO

import numpy as np

import movimo
from movimo_tools.batch import evaluate, table
from movimo_tools.catalogue import entry
from movimo_tools.commands.options import positive
from movimo_tools.extras import missing_extra
from movimo_tools.gallery import moving_axes
from movimo_tools.outputs.rig_outputs import settings_lines
from movimo_tools.rig import Rig, load_patch
from movimo_tools.show.stages import RigPlayer

if TYPE_CHECKING:  # matplotlib loads only when a preview is drawn
    import matplotlib.figure
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure
    from matplotlib.lines import Line2D

FORMATS = (".png", ".svg")
RIG_FORMATS = (".gif", ".png", ".svg")
RIG_FRAMES = 48   # per loop in the moving view
# The largest aim offset drawn, as a share of the smallest fixture spacing.
AIM_REACH = 0.45
BEATS_PER_BAR = 4
AXIS_NAMES = ("x (lateral)", "y (vertical)", "z (depth)")
AXIS_COLOURS = ("#2f6fdf", "#2a9d5b", "#d9822b")
SEAM_COLOUR = "#d62728"
PATH_WIDTH = 2.0


class PlotUnavailable(ValueError):
    """matplotlib is not installed. A ValueError, so the `movimo` command
    reports it in one line."""


def _figure_class() -> type[Figure]:
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise PlotUnavailable(f"drawing {missing_extra('plot', ['matplotlib'])}") from None
    return Figure


def _draw_path(axes: Axes, figure: Figure, rows: np.ndarray, dimensions: int) -> None:
    from matplotlib.collections import LineCollection

    closed = np.vstack((rows, rows[:1]))
    segments = np.stack((closed[:-1, :2], closed[1:, :2]), axis=1)
    if dimensions == 3:
        # Far segments first and wide, near ones over them and narrow: where a
        # path passes the same point at two depths, both colours show.
        order = np.argsort(rows[:, 2], kind="stable")
        segments, depth = segments[order], rows[order, 2]
        lines = LineCollection(list(segments), array=depth, cmap="coolwarm",
                               linewidths=(PATH_WIDTH + 2.5 * (1 - depth) / 2).tolist())
        lines.set_clim(-1.0, 1.0)  # the whole scale, white at 0, whatever the pattern's range
        label = "z (depth): blue far, red near"
    else:
        lines = LineCollection(list(segments), array=np.arange(len(rows)) / movimo.PIPS_PER_BEAT,
                               cmap="viridis", linewidths=PATH_WIDTH)
        label = "beat within the loop"
    axes.add_collection(lines)
    figure.colorbar(lines, ax=axes, label=label, shrink=0.8)
    axes.plot(*rows[0, :2], marker="*", markersize=14, color=SEAM_COLOUR, linestyle="none",
              label="seam (loop start)")
    axes.set(xlim=(-1.05, 1.05), ylim=(-1.05, 1.05), xlabel=AXIS_NAMES[0],
             ylabel=AXIS_NAMES[1], aspect="equal", title="path")
    axes.grid(alpha=0.3)
    # Below the box, where it cannot hide any of the path.
    axes.legend(loc="upper center", bbox_to_anchor=(0.5, -0.12), fontsize=8, frameon=False)


def _draw_axis(axes: Axes, name: str, axis: int, period_pips: int) -> None:
    shown = period_pips + period_pips // 8
    values = evaluate(name, range(shown))[:, axis]
    beats = np.arange(shown) / movimo.PIPS_PER_BEAT
    period_beats = period_pips / movimo.PIPS_PER_BEAT
    for beat in range(int(beats[-1]) + 1):
        bar_line = beat % BEATS_PER_BAR == 0
        axes.axvline(beat, color="#888" if bar_line else "#ddd", linewidth=1.2 if bar_line else 0.6)
    axes.axvline(period_beats, color=SEAM_COLOUR, linestyle="--", linewidth=1.5, label="seam")
    axes.axvspan(period_beats, beats[-1], color="#f3f3f3")
    axes.plot(beats, values, color=AXIS_COLOURS[axis], linewidth=1.6)
    axes.set(xlim=(0, beats[-1]), ylim=(-1.05, 1.05), ylabel=AXIS_NAMES[axis].split()[0])


def write_preview(name: str, path: str | os.PathLike[str]) -> pathlib.Path:
    """Draws the pattern `name` into `path`, a .png or .svg file."""
    path = pathlib.Path(path)
    if path.suffix.lower() not in FORMATS:
        raise ValueError("the preview file must end in .png or .svg")
    preview_figure(name).savefig(path, dpi=100)
    return path


def preview_figure(name: str) -> matplotlib.figure.Figure:
    """The picture of the pattern `name` that `write_preview` saves, as a
    matplotlib Figure (not shown through pyplot)."""
    Figure = _figure_class()
    pattern = entry(name)
    rows = table(pattern.name)
    moving = moving_axes(rows) or [0]
    figure = Figure(figsize=(12, 6), layout="constrained")
    if len(moving) > 1:
        columns = figure.add_gridspec(1, 2, width_ratios=(1, 1.6))
        _draw_path(figure.add_subplot(columns[0, 0]), figure, rows, pattern.dimensions)
        lane_area = columns[0, 1]
    else:  # one moving axis: its wave says it all
        lane_area = figure.add_gridspec(1, 1)[0, 0]
    lanes = lane_area.subgridspec(len(moving), 1)
    lane_axes: list[Axes] = []
    for lane, axis in enumerate(moving):
        lane_axes.append(figure.add_subplot(lanes[lane, 0],
                                            sharex=lane_axes[0] if lane_axes else None))
        _draw_axis(lane_axes[-1], pattern.name, axis, pattern.period_pips)
    lane_axes[-1].set_xlabel(f"beats (bar lines every {BEATS_PER_BAR}; shaded: the loop again "
                             f"after the seam)")
    lane_axes[0].legend(loc="lower right", bbox_to_anchor=(1.0, 1.0), fontsize=8, frameon=False)
    figure.suptitle(f"{pattern.name} — {pattern.pack} pack, {pattern.family} family, "
                    f"{pattern.period_beats:g} beats, {pattern.dimensions} "
                    f"{'axis' if pattern.dimensions == 1 else 'axes'}\n"
                    + textwrap.shorten(pattern.description, 150), fontsize=11)
    return figure


def rig_aims(rig: Rig, name: str, bpm: float,
             frames: int = RIG_FRAMES) -> tuple[np.ndarray, float]:
    """Pan and tilt (frames, N, 2) of every fixture over the second loop of
    `name` at `bpm` (the longest loop any group plays), frames evenly spaced,
    and the loop's length in seconds. The first loop lets the fixtures
    arrive from home within their speeds."""
    period = max(entry(group.pattern or name).period_pips for group in rig.groups)
    loop_seconds = period / movimo.PIPS_PER_BEAT * 60.0 / bpm
    player = RigPlayer(rig, [name], rate=frames / loop_seconds)
    pips = np.arange(2 * frames) * period / frames
    aims = []
    for pip in pips:
        player.frame(pip)
        aims.append(player.degrees)
    return np.array(aims[frames:]), loop_seconds


def _aim_points(rig: Rig, aims: np.ndarray) -> np.ndarray:
    """Aims as points on the floor plan around each fixture's position."""
    offsets = aims - rig.home_degrees()
    positions = rig.positions
    gaps = np.linalg.norm(positions[:, None] - positions[None], axis=-1)
    spacing = gaps[gaps > 0].min() if (gaps > 0).any() else 1.0
    reach = np.abs(offsets).max()
    # Scaled to within one unit first: a tiny reach divided into the spacing overflows.
    unit = offsets / reach if reach > 0 else offsets
    return np.asarray(positions + unit * (AIM_REACH * spacing))


def write_rig_preview(name: str, patch: str | os.PathLike[str] | Rig,
                      path: str | os.PathLike[str], bpm: float = 120.0) -> pathlib.Path:
    """Draws the rig of `patch` (a patch file, or one read already) playing
    `name` at `bpm` into `path` (.gif moving, .png or .svg traces), seen
    from above."""
    path = pathlib.Path(path)
    if path.suffix.lower() not in RIG_FORMATS:
        raise ValueError("the rig preview file must end in .gif, .png or .svg")
    Figure = _figure_class()
    rig = patch if isinstance(patch, Rig) else load_patch(patch)
    aims, loop_seconds = rig_aims(rig, name, bpm)
    points = _aim_points(rig, aims)
    width, height = np.ptp(np.concatenate([points.reshape(-1, 2), rig.positions]), axis=0)
    figure = Figure(figsize=(8, float(np.clip(8 * height / max(width, 1e-9), 2.5, 8)) + 1),
                    layout="constrained")
    axes = figure.add_subplot()
    axes.plot(*rig.positions.T, "s", color="#444", markersize=5, label="fixture")
    for i in range(len(rig)):
        axes.plot(*points[:, i].T, color="#bbb", linewidth=0.8)
    axes.set(aspect="equal", xlabel="metres", ylabel="metres",
             title=f"{rig.source}: {name} at {bpm:g} bpm, seen from above\n"
                   f"aim around each fixture: pan from home across, tilt from home up")
    axes.grid(alpha=0.3)
    if path.suffix.lower() != ".gif":
        axes.plot(*points[0].T, "o", color=SEAM_COLOUR, markersize=4, label="loop start")
        axes.legend(loc="upper right", fontsize=8)
        figure.savefig(path, dpi=100)
        return path
    from matplotlib.animation import FuncAnimation, PillowWriter

    beams = axes.plot(np.stack([rig.positions[:, 0], points[0, :, 0]]),
                      np.stack([rig.positions[:, 1], points[0, :, 1]]), color="#f0b400")
    heads, = axes.plot(*points[0].T, "o", color=SEAM_COLOUR, markersize=5, label="aim")
    axes.legend(loc="upper right", fontsize=8)

    def show(frame: int) -> list[Line2D]:
        for beam, position, point in zip(beams, rig.positions, points[frame]):
            beam.set_data(*np.stack([position, point], axis=1))
        heads.set_data(*points[frame].T)
        return [*beams, heads]

    animation = FuncAnimation(figure, show, frames=len(points))
    # Pillow takes a fractional rate, whatever matplotlib's annotation says.
    writer = PillowWriter(fps=len(points) / loop_seconds)  # type: ignore[arg-type]
    animation.save(path, writer=writer, dpi=60)
    return path


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers `movimo preview` with the command's subparsers."""
    parser = commands.add_parser(
        "preview", help="draw a pattern, or a rig playing it (needs matplotlib)",
        description="Draw a pattern's path and each axis against beats; with --patch, the\n"
                    "rig's fixtures playing it, seen from above (and where its [[outputs]]\n"
                    "send). Needs matplotlib, the plot extra.")
    parser.add_argument("name")
    parser.add_argument("-o", "--output", required=True, metavar="FILE",
                        help="the picture to write, .png or .svg (.gif too with --patch: the "
                             "fixtures moving)")
    parser.add_argument("--patch", metavar="FILE",
                        help="a rig's patch file or MVR file, as movimo dmx reads")
    parser.add_argument("--bpm", type=positive(float), default=120.0,
                        help="tempo of the rig view (default 120)")
    parser.set_defaults(run=_run)


def _run(args: argparse.Namespace, out: TextIO) -> None:
    if args.patch is None:
        out.write(f"{write_preview(args.name, args.output)}\n")
    else:
        loaded = load_patch(args.patch)
        path = write_rig_preview(args.name, loaded, args.output, args.bpm)
        out.write("".join(f"{line}\n" for line in [*settings_lines(loaded.outputs), str(path)]))

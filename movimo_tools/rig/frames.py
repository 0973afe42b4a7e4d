"""Frames of a rig playing patterns: which pattern value each fixture
reads, where that aims it, and the speed report of a pattern at a tempo.

A pattern value v moves an axis to home + amplitude * v degrees (negated
when inverted), clamped to the fixture's range, limited to its speed, and
written as round(degrees / range * top) with top 255 for one channel and
65535 for a coarse and fine pair (see `movimo_tools.rig.patch.dmx_frame`).
"""

from __future__ import annotations

import dataclasses
import math
from collections.abc import Sequence

import numpy as np

from movimo_tools.batch import loop_rows
from movimo_tools.catalogue import entry
from movimo_tools.limits import motion_limits
from movimo_tools.rig.patch import Rig, dmx_frame


@dataclasses.dataclass(frozen=True)
class Motion:
    """Which pattern value each fixture reads. The tables of the playing
    patterns are stacked and flattened into `values` (x, y, z of a row, then
    the next row); fixture i reads row b + (pip - o) mod p where b, o and p
    are base[i], offset[i] and period[i] over 3.
    Reading one flat array by index is several times faster than picking
    rows of a two-dimensional one."""

    patterns: tuple[str, ...]     # the pattern of each group
    values: np.ndarray
    base: np.ndarray
    period: np.ndarray
    offset: np.ndarray

    def at(self, pip: int) -> np.ndarray:
        """Where each fixture's x value sits in `values` at a whole pip; its
        y and z follow it."""
        # 3 (pip - offset) mod 3 period is 3 ((pip - offset) mod period).
        return np.asarray(self.base + (3 * pip - self.offset) % self.period)


def motion(rig: Rig, patterns: Sequence[str]) -> Motion:
    """Group g plays patterns[g] (its own pattern when the patch pins one)."""
    tables: dict[str, tuple[int, np.ndarray]] = {}
    count = len(rig)
    base = np.zeros(count, dtype=np.int64)
    period = np.ones(count, dtype=np.int64)
    offset = np.zeros(count, dtype=np.int64)
    used = 0
    for group, name in zip(rig.groups, patterns, strict=True):
        if name not in tables:
            rows = loop_rows(name)
            tables[name] = (used, rows)
            used += len(rows)
        start, rows = tables[name]
        base[group.members] = start
        period[group.members] = len(rows)
        offset[group.members] = group.offsets(len(rows), rig.positions)
    stacked = np.concatenate([rows for _, rows in tables.values()])
    # Counted in flat values, three to a row.
    return Motion(tuple(patterns), stacked.reshape(-1), 3 * base, 3 * period, 3 * offset)


def target_degrees(rig: Rig, values: np.ndarray, at: np.ndarray) -> np.ndarray:
    """Pan and tilt (N, 2) in degrees, clamped to range, of fixtures reading
    the flat pattern values at `at` (see Motion)."""
    return np.stack([np.minimum(np.maximum(axis.home + axis.amplitude
                                           * values.take(at + axis.source), 0.0), axis.range)
                     for axis in rig.axes()], axis=1)


class Player:
    """Frames of a rig playing a list of patterns, one at a time, every
    fixture held to its speed from frame to frame (starting from home)."""

    def __init__(self, rig: Rig, patterns: Sequence[str], rate: float) -> None:
        self.rig = rig
        self.patterns = [entry(name).name for name in patterns]
        if not self.patterns:
            raise ValueError("give at least one pattern")
        self.current = 0
        self.motion = motion(rig, self._group_patterns())
        self.degrees = rig.home_degrees()
        self.max_step = np.stack([axis.speed for axis in rig.axes()], axis=1) / rate
        self.min_step = -self.max_step
        self.limited_frames = 0

    def _group_patterns(self) -> list[str]:
        return [group.pattern or self.patterns[self.current] for group in self.rig.groups]

    def next_pattern(self) -> str:
        """Switches every group without a pattern of its own to the next one."""
        self.current = (self.current + 1) % len(self.patterns)
        self.motion = motion(self.rig, self._group_patterns())
        return self.patterns[self.current]

    def frame(self, pip: float) -> tuple[np.ndarray, int]:
        """The slots at `pip` (floored to a whole pip) and how many fixtures
        were held back to their speed."""
        at = self.motion.at(math.floor(pip))
        change = target_degrees(self.rig, self.motion.values, at) - self.degrees
        step = np.minimum(np.maximum(change, self.min_step), self.max_step)
        self.degrees = self.degrees + step
        cut = step != change
        held = int(np.count_nonzero(cut[:, 0] | cut[:, 1]))  # any(axis=1) is far slower
        self.limited_frames += held > 0
        z = self.motion.values.take(at.take(self.rig.z_fixtures) + 2)
        return dmx_frame(self.rig, self.degrees, z), held


# ---------------------------------------------------------------- speed report

@dataclasses.dataclass(frozen=True)
class SpeedCheck:
    """One pattern against the fixtures that may play it, at a tempo."""

    pattern: str
    bpm: float
    fixtures: np.ndarray           # indices of the fixtures that may play it
    too_fast: np.ndarray           # indices of those it would push past their speed
    fastest_bpm: float             # the fastest tempo within every fixture's speed

    def line(self, names: Sequence[str]) -> str:
        safe = f"fastest safe tempo {self.fastest_bpm:.4g} bpm"
        if not len(self.too_fast):
            return f"{self.pattern}: within every fixture's speed at {self.bpm:g} bpm ({safe})"
        shown = ", ".join(names[i] for i in self.too_fast[:5])
        more = f" and {len(self.too_fast) - 5} more" if len(self.too_fast) > 5 else ""
        return (f"{self.pattern}: too fast at {self.bpm:g} bpm for {len(self.too_fast)} of "
                f"{len(self.fixtures)} fixtures ({shown}{more}); {safe}")


def speed_checks(rig: Rig, patterns: Sequence[str], bpm: float) -> list[SpeedCheck]:
    """For each pattern, the fixtures it would push past their patch speed at
    `bpm`, and the fastest tempo at which it pushes none (inf if it is still)."""
    free = np.concatenate([np.zeros(0, np.int64)]
                          + [g.members for g in rig.groups if g.pattern is None])
    players: dict[str, list[np.ndarray]] = {name: [free] for name in patterns}
    for group in rig.groups:
        if group.pattern is not None:
            players.setdefault(group.pattern, []).append(group.members)
    checks = []
    for name, members in players.items():
        fixtures = np.unique(np.concatenate(members))
        if not len(fixtures):
            continue
        peak = np.array(motion_limits(name, bpm).peak_speed)
        ratios = []
        for axis in rig.axes():
            speed = peak[axis.source[fixtures]] * np.abs(axis.amplitude[fixtures])
            ratios.append(np.divide(speed, axis.speed[fixtures],
                                    out=np.zeros(len(fixtures)), where=speed > 0))
        worst = np.maximum(*ratios)
        highest = float(worst.max())
        # Python's division goes to inf where a tiny amplitude makes the
        # ratio tiny; NumPy's would warn of the overflow.
        fastest = bpm / highest if highest > 0 else math.inf
        checks.append(SpeedCheck(name, bpm, fixtures, fixtures[worst > 1.0], fastest))
    return checks


def fixture_lines(rig: Rig, degrees: np.ndarray, frame: np.ndarray) -> list[str]:
    """One line per fixture: pan and tilt in degrees and its DMX channels."""
    width = max(len(name) for name in rig.names)
    index = np.searchsorted(rig.universes, rig.universe)
    lines = []
    for i, name in enumerate(rig.names):
        start = rig.address[i] - 1
        slots = frame[index[i], start:start + rig.footprint[i]]
        lines.append(f"  {name:<{width}}  pan {degrees[i, 0]:7.2f}°  tilt {degrees[i, 1]:7.2f}°"
                     f"  u{rig.universe[i]}/{rig.address[i]}: {' '.join(map(str, slots))}")
    return lines

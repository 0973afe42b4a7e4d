"""What a show drives: a rig of moving heads, or the OSC targets of a stream.

A stage names its groups, places a group's members for a look (a rig in
pan and tilt degrees, OSC targets in pattern units) and makes one frame of
all groups together: a rig's DMX slots, held to every fixture's speed, or a
stream's OSC messages.
"""

from __future__ import annotations

import dataclasses
from collections.abc import Callable, Sequence
from typing import Any

import numpy as np

import movimo
from movimo_tools.catalogue import entry
from movimo_tools.outputs.osc import Target
from movimo_tools.rig import Rig, dmx_frame
from movimo_tools.show.engine import Look, Output, Show
from movimo_tools.spread import even_offsets, wing_offsets


@dataclasses.dataclass(frozen=True)
class _Members:
    """One group's fixtures and what placing them needs, per axis."""

    index: np.ndarray
    rows: np.ndarray
    home: tuple[np.ndarray, np.ndarray]
    amplitude: tuple[np.ndarray, np.ndarray]
    source: tuple[np.ndarray, np.ndarray]


class RigStage:
    """A rig from a patch: each patch group is a show group; groups without
    a pattern of their own start on `first_pattern`. Every fixture moves at
    most its patch speed from frame to frame, starting from home; stopped,
    every fixture glides home at that speed."""

    def __init__(self, rig: Rig, first_pattern: str, rate: float,
                 leads: np.ndarray | None = None) -> None:
        self.rig = rig
        # Seconds each fixture is played ahead, per group; None where none is.
        self._leads = [None if leads is None or not leads[group.members].any()
                       else leads[group.members] for group in rig.groups]
        self.group_names = [group.name for group in rig.groups]
        self.on_setlist = [group.pattern is None for group in rig.groups]
        self.default_looks = [Look(entry(group.pattern or first_pattern).name,
                                   spread=group.spread) for group in rig.groups]
        self._members = [
            _Members(group.members, np.arange(len(group.members)),
                     (rig.pan.home[group.members], rig.tilt.home[group.members]),
                     (rig.pan.amplitude[group.members], rig.tilt.amplitude[group.members]),
                     (rig.pan.source[group.members], rig.tilt.source[group.members]))
            for group in rig.groups]
        self.degrees = rig.home_degrees()
        self._home = rig.home_degrees()
        self._range = np.stack([rig.pan.range, rig.tilt.range], axis=1)
        self._max_step = np.stack([axis.speed for axis in rig.axes()], axis=1) / rate
        self._target = np.zeros((len(rig), 3))
        self.held = 0               # fixtures held to their speed in the last frame
        self.limited_frames = 0     # frames that held any

    def offsets(self, group: int, kind: str, period_pips: int) -> np.ndarray:
        patch_group = dataclasses.replace(self.rig.groups[group], spread=kind)
        return patch_group.offsets(period_pips, self.rig.positions)

    def leads(self, group: int) -> np.ndarray | None:
        return self._leads[group]

    def place(self, group: int, look: Look, values: np.ndarray) -> np.ndarray:
        members = self._members[group]
        scale = look.percent / 100.0
        placed = np.empty((len(members.index), 3))
        for column in (0, 1):
            home, amplitude = members.home[column], members.amplitude[column]
            if look.centre[column]:
                home = home + look.centre[column]
            if scale != 1.0:
                amplitude = amplitude * scale
            placed[:, column] = home + amplitude * values[members.rows, members.source[column]]
        placed[:, 2] = values[:, 2]
        return placed

    def frame(self, frame: int, pip: float, bpm: float, placed: list[np.ndarray],
              stopped: bool, stop_beats: float) -> np.ndarray:
        for members, where in zip(self._members, placed):
            self._target[members.index] = where
        goal = self._home if stopped else np.minimum(np.maximum(self._target[:, :2], 0.0),
                                                     self._range)
        change = goal - self.degrees
        step = np.minimum(np.maximum(change, -self._max_step), self._max_step)
        cut = step != change
        # A fixture within reach lands exactly on its goal (home included).
        self.degrees = np.where(cut, self.degrees + step, goal)
        self.held = int(np.count_nonzero(cut[:, 0] | cut[:, 1]))  # any(axis=1) is far slower
        self.limited_frames += self.held > 0
        z = None if stopped else self._target[self.rig.z_fixtures, 2]
        return dmx_frame(self.rig, self.degrees, z)

    def park_frame(self) -> np.ndarray:
        return self.rig.home_frame()

    def at_home(self) -> bool:
        return bool(np.array_equal(self.degrees, self._home))

    def view(self) -> np.ndarray:
        """Pan and tilt of each fixture, degrees from home."""
        return np.asarray(self.degrees - self._home, dtype=np.float32)

    def layout(self) -> dict[str, Any]:
        return {"kind": "rig", "names": list(self.rig.names),
                "positions": self.rig.positions.tolist(),
                "groups": [group.members.tolist() for group in self.rig.groups]}


class OscStage:
    """The targets of a stream: each streamed pattern is a group named after
    it, whose members are its spread targets. Stopped, the movement shrinks
    to rest over one beat (and grows back on resuming)."""

    def __init__(self, targets: Sequence[Target], prefix: str) -> None:
        self.targets = list(targets)
        self.prefix = prefix
        self.group_names = [target.name for target in targets]
        self.on_setlist = [False] * len(targets)
        self.default_looks = [Look(target.name,
                                   spread="even" if len(target.addresses) > 1 else "none")
                              for target in targets]
        self._relocations: list[tuple[str, tuple[Any, ...]]] = []
        self._view = np.zeros((sum(len(t.addresses) for t in targets), 2), dtype=np.float32)

    def offsets(self, group: int, kind: str, period_pips: int) -> np.ndarray:
        count = len(self.targets[group].addresses)
        if kind == "none":
            return np.zeros(count, dtype=np.int64)
        if kind == "even":
            return even_offsets(count, period_pips)
        if kind == "wing":
            return wing_offsets(count, period_pips)
        raise ValueError(f"OSC targets have no blocks or positions: spread {kind} needs a "
                         f"patch; use none, even or wing")

    def leads(self, group: int) -> None:
        """None: a stream plays all its targets at its --latency."""
        return None

    def place(self, group: int, look: Look, values: np.ndarray) -> np.ndarray:
        scale = look.percent / 100.0
        if scale == 1.0 and look.centre == (0.0, 0.0):
            return values
        placed = values * scale
        placed[:, :2] += look.centre
        return np.asarray(np.clip(placed, -1.0, 1.0))

    def relocated(self, before: float, after: float) -> None:
        """The clock jumped: the next frame says so, from beat and to beat."""
        self._relocations.append((f"{self.prefix}/relocate", (before / movimo.PIPS_PER_BEAT,
                                                              after / movimo.PIPS_PER_BEAT)))

    def frame(self, frame: int, pip: float, bpm: float, placed: list[np.ndarray],
              stopped: bool, stop_beats: float) -> list[tuple[str, tuple[Any, ...]]]:
        # The frame number wraps within OSC's 32-bit integers (24 days at 1000 Hz).
        messages = [(f"{self.prefix}/clock", (frame % 2**31, pip / movimo.PIPS_PER_BEAT, bpm))]
        messages += self._relocations
        self._relocations = []
        share = min(stop_beats, 1.0)
        motion = 1.0 - share if stopped else share
        first = 0
        for target, rows in zip(self.targets, placed):
            if motion < 1.0:
                rows = rows * max(motion, 0.0)
            messages += [(address, tuple(row)) for address, row in
                         zip(target.addresses, rows.tolist(), strict=True)]
            self._view[first:first + len(rows)] = rows[:, :2]
            first += len(rows)
        return messages

    def park_frame(self) -> None:
        return None

    def at_home(self) -> bool:
        return True

    def view(self) -> np.ndarray:
        """x and y of each target."""
        return self._view

    def layout(self) -> dict[str, Any]:
        names: list[str] = []
        groups: list[list[int]] = []
        for target in self.targets:
            groups.append(list(range(len(names), len(names) + len(target.addresses))))
            names += target.addresses
        return {"kind": "osc", "names": names,
                "positions": [[float(i), 0.0] for i in range(len(names))], "groups": groups}


class RigPlayer:
    """A rig's show, played frame by frame at the pips asked for: the frames
    `movimo dmx` sends, for a dry run, a preview or a test. Groups without a
    pattern of their own play the set list `patterns`, from its first."""

    def __init__(self, rig: Rig, patterns: Sequence[str], rate: float,
                 outputs: Sequence[Output] = (), show_file: str | None = None,
                 report_line: Callable[[str], object] = lambda line: None,
                 leads: np.ndarray | None = None) -> None:
        if not patterns:
            raise ValueError("give at least one pattern")
        self.stage = RigStage(rig, entry(patterns[0]).name, rate, leads)
        self.show = Show(self.stage, outputs, setlist=patterns, on_setlist=self.stage.on_setlist,
                         show_file=show_file, report_line=report_line)
        self._pip = 0.0

    @property
    def rig(self) -> Rig:
        return self.stage.rig

    @property
    def degrees(self) -> np.ndarray:
        """Pan and tilt (N, 2) of every fixture after the last frame."""
        return self.stage.degrees

    @property
    def limited_frames(self) -> int:
        return self.stage.limited_frames

    def frame(self, pip: float, frame: int = 0, bpm: float = 0.0) -> tuple[np.ndarray, int]:
        """The slots at `pip` (at `bpm` where fixtures are played ahead), and
        how many fixtures were held to their speed."""
        self._pip = pip
        return self.show.render(frame, pip, bpm), self.stage.held

    def next_pattern(self) -> str:
        """Moves the set list on from the last frame's pip."""
        return self.show.next_pattern(self._pip)

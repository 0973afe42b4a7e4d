"""What a rig's frames mean to a person: the speed report of a pattern at a
tempo, and one line per fixture of a frame.

A pattern value v moves an axis to home + amplitude * v degrees (negated
when inverted), clamped to the fixture's range, limited to its speed, and
written as round(degrees / range * top) with top 255 for one channel and
65535 for a coarse and fine pair (see `movimo_tools.rig.patch.dmx_frame`;
the show's `movimo_tools.show.stages.RigStage` makes the frames).
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

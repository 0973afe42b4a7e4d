"""How fast a pattern moves, and the fastest tempo a fixture can follow.

Speeds and accelerations come from the table by periodic finite
differences, the loop closed on itself:

- step k = row[k + 1] - row[k]: the distance covered in one pip, so the
  peak speed is max abs(step) / pip_seconds;
- bend k = row[k + 1] - 2 row[k] + row[k - 1]: the change of step, so the
  peak acceleration is max abs(bend) / pip_seconds².

Both are per axis and multiplied by `scale`, the fixture's units per pattern
unit (for example degrees of pan and tilt). A pattern moves between -1 and 1,
so a moving head whose pan covers 540° has a scale of 270 for pan when the
pattern is centred on the middle of its range. Speed grows linearly with the
tempo and acceleration with its square, which gives the fastest tempo.
"""

from __future__ import annotations

import dataclasses
import math

import numpy as np
from numpy.typing import ArrayLike

import movimo
from movimo_tools._native import native
from movimo_tools.batch import loop_rows
from movimo_tools.catalogue import entries
from movimo_tools.timing import Tempo


@dataclasses.dataclass(frozen=True)
class MotionLimits:
    """Peak speed and acceleration of one pattern per axis (x, y, z) at a tempo,
    in scaled units per second and per second squared.

    >>> limits = motion_limits("bounce", bpm=120.0, scale=90.0)
    >>> [round(v, 1) for v in limits.peak_speed]
    [720.0, 0.0, 0.0]
    >>> limits.fastest_bpm(max_speed=360.0)
    60.0
    """

    name: str
    bpm: float
    peak_speed: tuple[float, float, float]
    peak_acceleration: tuple[float, float, float]

    def fastest_bpm(self, max_speed: ArrayLike, max_acceleration: ArrayLike = math.inf) -> float:
        """The fastest tempo at which no axis exceeds the given limits.

        Limits are one number for all axes or one per axis, above 0 (inf
        for none). A pattern that does not move gives inf.

        >>> motion_limits("bounce", 120.0).fastest_bpm(math.inf, math.inf)
        inf
        """
        speed = _per_axis(max_speed, "max_speed")
        acceleration = _per_axis(max_acceleration, "max_acceleration")
        if (speed <= 0).any() or (acceleration <= 0).any():
            raise ValueError("speed and acceleration limits must be above 0")
        tempos = [math.inf]
        for limit, peaks, power in ((speed, self.peak_speed, 1.0),
                                    (acceleration, self.peak_acceleration, 0.5)):
            peak = np.asarray(peaks)
            moving = peak > 0  # a still axis sets no limit
            tempos += list(self.bpm * (limit[moving] / peak[moving]) ** power)
        return float(min(tempos))


def _per_axis(value: ArrayLike, what: str) -> np.ndarray:
    array = np.broadcast_to(np.asarray(value, dtype=np.float64), (3,))
    if np.isnan(array).any():
        raise ValueError(f"{what} must be numbers, not NaN")
    return array


def _scale(scale: ArrayLike) -> np.ndarray:
    try:
        factors = _per_axis(scale, "scale")
    except ValueError as error:
        raise ValueError("scale must be one number or three, finite and not negative") from error
    if not np.isfinite(factors).all() or (factors < 0).any():
        raise ValueError("scale must be one number or three, finite and not negative")
    return factors


def peak_differences(rows: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Largest abs(step) and abs(bend) per axis of a looping table (see the module notes).

    >>> step, bend = peak_differences(np.array([[0.0, 0, 0], [0.5, 0, 0], [1.0, 0, 0]]))
    >>> step.tolist(), bend.tolist()
    ([1.0, 0.0, 0.0], [1.5, 0.0, 0.0])
    """
    step = np.roll(rows, -1, axis=0) - rows
    bend = step - np.roll(step, 1, axis=0)
    return np.abs(step).max(axis=0), np.abs(bend).max(axis=0)


def _limits(name: str, rows: np.ndarray, tempo: Tempo, factors: np.ndarray) -> MotionLimits:
    step, bend = peak_differences(rows)
    speed = factors * step / tempo.pip_seconds
    acceleration = factors * bend / tempo.pip_seconds ** 2
    return MotionLimits(name, tempo.bpm, tuple(speed.tolist()), tuple(acceleration.tolist()))


def motion_limits(name: str, bpm: float, scale: ArrayLike = 1.0,
                  library: movimo.PatternLibrary | None = None) -> MotionLimits:
    """Peak speed and acceleration of the pattern `name` at `bpm`, times `scale`.

    >>> motion_limits("circle", 60.0).peak_acceleration[0] > 0
    True
    """
    return _limits(name, loop_rows(name, library), Tempo(bpm), _scale(scale))


def all_motion_limits(bpm: float, scale: ArrayLike = 1.0) -> list[MotionLimits]:
    """`motion_limits` for every built-in pattern, in catalogue order.

    >>> limits = all_motion_limits(128.0, scale=[540.0, 270.0, 0.0])
    >>> len(limits), limits[0].name
    (1731, 'bounce')
    """
    tempo, factors = Tempo(bpm), _scale(scale)
    # Fresh tables, read once: passing them through the table cache would
    # only evict the patterns the caller is using.
    return [_limits(e.name, native.table(e.name), tempo, factors) for e in entries()]


def fastest_tempos(max_speed: ArrayLike, max_acceleration: ArrayLike = math.inf,
                   scale: ArrayLike = 1.0) -> dict[str, float]:
    """The fastest followable tempo of every built-in pattern, by name, for a
    fixture with the given limits (see `MotionLimits.fastest_bpm`).

    >>> tempos = fastest_tempos(max_speed=[360.0, 180.0, math.inf], scale=[540.0, 270.0, 1.0])
    >>> len(tempos), tempos["bounce"]
    (1731, 10.0)
    """
    # Any reference tempo gives the same answer: the peaks scale with it.
    return {limits.name: limits.fastest_bpm(max_speed, max_acceleration)
            for limits in all_motion_limits(120.0, scale)}

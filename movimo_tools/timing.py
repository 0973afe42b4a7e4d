"""Musical time: seconds and beats to pips, and patterns between pips.

A tempo follows the conventions of `movimo.SampledRecording`: a beat lasts
60 / bpm seconds, a pip 60 / bpm / 64 seconds, and pip 0 falls at
`beat_zero_seconds`.

Between two pips a pattern is interpolated over its table, the loop closed
on itself, so frames at any rate run on without a seam (natively, one call
per array):

- "step": the row of the pip in progress (floor), exactly as `movimo.sample`.
- "linear": straight lines between consecutive rows.
- "smooth": uniform Catmull-Rom through the rows, taking the neighbours
  across the loop's end; its first derivative is continuous everywhere.
  Overshoot past [-1, 1] is clipped, since patterns never leave that range.

At a whole pip every method returns the table row exactly.
"""

from __future__ import annotations

import dataclasses
import math

import numpy as np
from numpy.typing import ArrayLike

import movimo
from movimo_tools._native import native
from movimo_tools.batch import MAX_ROWS, check_row_count, loop_rows, real_array, table
from movimo_tools.catalogue import check_library

#: The names of the ways between pips, as the module notes describe them.
INTERPOLATIONS = ("step", "linear", "smooth")


@dataclasses.dataclass(frozen=True)
class Tempo:
    """A tempo in beats per minute and the time, in seconds, of beat zero.

    >>> tempo = Tempo(120.0, beat_zero_seconds=0.5)
    >>> tempo.pip_seconds
    0.0078125
    >>> tempo.pips(1.5), tempo.seconds(128)
    (128.0, 1.5)
    >>> Tempo(-90)
    Traceback (most recent call last):
    ...
    ValueError: bpm must be a finite number above 0
    """

    bpm: float
    beat_zero_seconds: float = 0.0

    def __post_init__(self) -> None:
        bpm, beat_zero = float(self.bpm), float(self.beat_zero_seconds)
        if not (math.isfinite(bpm) and bpm > 0 and math.isfinite(60.0 / bpm)
                and 60.0 / bpm / movimo.PIPS_PER_BEAT > 0):
            raise ValueError("bpm must be a finite number above 0")
        if not math.isfinite(beat_zero):
            raise ValueError("beat_zero_seconds must be finite")
        object.__setattr__(self, "bpm", bpm)
        object.__setattr__(self, "beat_zero_seconds", beat_zero)

    @property
    def pip_seconds(self) -> float:
        """The length of one pip in seconds."""
        return 60.0 / self.bpm / movimo.PIPS_PER_BEAT

    def pips(self, seconds: ArrayLike) -> float | np.ndarray:
        """Fractional pips at times in seconds; a float for a number, else an array.

        >>> Tempo(60.0).pips([0.0, 0.25])
        array([ 0., 16.])
        """
        times = _finite(seconds, "times")
        return _unwrap((times - self.beat_zero_seconds) / self.pip_seconds)

    def seconds(self, pips: ArrayLike) -> float | np.ndarray:
        """Times in seconds of (fractional) pips; a float for a number, else an array.

        >>> Tempo(60.0).seconds(64)
        1.0
        """
        return _unwrap(self.beat_zero_seconds + _finite(pips, "pips") * self.pip_seconds)


def _floats(values: ArrayLike, what: str) -> np.ndarray:
    return real_array(values, what).astype(np.float64, copy=False)


def _finite(values: ArrayLike, what: str) -> np.ndarray:
    array = _floats(values, what)
    if not np.isfinite(array).all():
        raise ValueError(f"{what} must be finite numbers")
    return array


def _unwrap(array: np.ndarray) -> float | np.ndarray:
    return float(array) if array.ndim == 0 else array


def frame_count(tempo: Tempo, fps: float, beats: float) -> int:
    """The number of video frames at `fps` over `beats` beats: the duration
    times the rate, rounded; at least one frame is required.

    >>> frame_count(Tempo(120.0), fps=4, beats=2)
    4
    """
    if not (math.isfinite(fps) and fps > 0):
        raise ValueError("fps must be a finite number above 0")
    if not (math.isfinite(beats) and beats > 0):
        raise ValueError("beats must be a finite number above 0")
    frames = beats * 60.0 / tempo.bpm * fps
    if frames < 0.5:
        raise ValueError("fewer than one frame: raise beats or fps")
    count = round(min(frames, MAX_ROWS + 1))  # an infinite count cannot be rounded
    check_row_count(count)
    return count


def frame_pips(tempo: Tempo, fps: float, beats: float, start_beat: float = 0.0,
               first: int = 0, stop: int | None = None) -> np.ndarray:
    """The fractional pips of video frames at `fps` over `beats` beats, or of
    frames `first` to `stop` - 1 of them (a block of a long render).

    Frame i falls i / fps seconds after `start_beat` (see `frame_count`).

    >>> frame_pips(Tempo(120.0), fps=4, beats=2)
    array([ 0., 32., 64., 96.])
    >>> frame_pips(Tempo(120.0), fps=4, beats=2, first=1, stop=3)
    array([32., 64.])
    """
    count = frame_count(tempo, fps, beats)
    if not math.isfinite(start_beat):
        raise ValueError("start_beat must be finite")
    frames = np.arange(first, count if stop is None else min(stop, count))
    return start_beat * movimo.PIPS_PER_BEAT + frames / fps / tempo.pip_seconds


def evaluate_at(name: str, pips: ArrayLike, interpolation: str = "linear",
                library: movimo.PatternLibrary | None = None) -> np.ndarray:
    """The pattern at fractional pips; the result has the shape of `pips` plus (3,).

    `pips` are ints or floats: a number, a sequence or an integer or float
    array. Bools, complex numbers, dates, durations, text, other objects and
    masked arrays are refused with a TypeError (as are they by the functions
    beside this one).

    >>> evaluate_at("bounce", [16.0, 24.0, 32.0])
    array([[0. , 0. , 0. ],
           [0.5, 0. , 0. ],
           [1. , 0. , 0. ]])
    >>> evaluate_at("bounce", 63.5, "step")
    array([-0.9375,  0.    ,  0.    ])
    >>> bool((evaluate_at("sway", np.arange(128.0), "smooth") == table("sway")).all())
    True
    >>> evaluate_at("bounce", [float("nan")])
    Traceback (most recent call last):
    ...
    ValueError: pips must be finite numbers
    """
    if interpolation not in INTERPOLATIONS:
        raise ValueError(f"interpolation must be one of {', '.join(INTERPOLATIONS)}")
    pips = _floats(pips, "pips")
    check_row_count(pips.size)
    # The native part checks that the pips are finite and within 32 bits.
    flat = np.ascontiguousarray(pips).reshape(-1)
    if library is None:
        rows = native.interpolate(loop_rows(name), flat, interpolation)
    else:
        check_library(library)
        rows = native.library_interpolate(library, name, flat, interpolation)
    return rows.reshape(pips.shape + (3,))


def evaluate_seconds(name: str, seconds: ArrayLike, tempo: Tempo, interpolation: str = "linear",
                     library: movimo.PatternLibrary | None = None) -> np.ndarray:
    """The pattern at times in seconds under `tempo`.

    >>> evaluate_seconds("bounce", [0.0, 0.25], Tempo(120.0))
    array([[-1.,  0.,  0.],
           [ 1.,  0.,  0.]])
    """
    return evaluate_at(name, tempo.pips(seconds), interpolation, library)


def evaluate_beats(name: str, beats: ArrayLike, interpolation: str = "linear",
                   library: movimo.PatternLibrary | None = None) -> np.ndarray:
    """The pattern at (fractional) beats, 64 pips to a beat.

    >>> evaluate_beats("bounce", [0.25, 0.5])
    array([[0., 0., 0.],
           [1., 0., 0.]])
    """
    return evaluate_at(name, _finite(beats, "beats") * movimo.PIPS_PER_BEAT, interpolation,
                       library)

"""The tempo clock: fractional pips as a function of time under a tempo
that can change, set by number or by tapping.

A tempo change re-anchors the clock at the moment it arrives; the phase runs
on from there without a jump. Every clock source answers the members of
`Clock`, so that the frame loop of `movimo_tools.show.loop` runs the tempo
clock here or the follower of an outside clock in `movimo_tools.clocks.follow`
alike.
"""

from __future__ import annotations

import math
from typing import Callable, Protocol

import movimo
from movimo_tools.timing import Tempo

# Tempi the clock accepts, on a command line and while it runs.
MIN_BPM, MAX_BPM = 1.0, 1000.0
# Taps further apart than this start a new series (slower than 30 bpm).
TAP_RESET_SECONDS = 2.0
# Taps closer together than this are bounces, not beats (faster than 600 bpm).
TAP_MIN_SECONDS = 0.1
# The tempo of a series is the mean interval of its last taps.
TAP_WINDOW = 8


def check_tempo(bpm: float) -> Tempo:
    """A tempo within the range the clock runs at: beyond it a typo such as
    'bpm 1e300' would drive the pips out of the finite numbers.

    >>> check_tempo(1e300)
    Traceback (most recent call last):
    ...
    ValueError: the tempo must be 1 to 1000 bpm
    """
    if not MIN_BPM <= bpm <= MAX_BPM:
        raise ValueError(f"the tempo must be {MIN_BPM:g} to {MAX_BPM:g} bpm")
    return Tempo(bpm)


class Clock(Protocol):
    """What the frame loop asks of a clock."""

    @property
    def bpm(self) -> float: ...

    def pip_at(self, seconds: float) -> float: ...

    def set_bpm(self, seconds: float, bpm: float) -> None: ...

    def tap(self, seconds: float) -> bool: ...

    def nudge(self, seconds: float, pips: float) -> None: ...

    def take_relocation(self) -> tuple[float, float] | None: ...

    @property
    def lock_state(self) -> str: ...


class TapTempo:
    """The tempo of a series of taps on the beat: the mean interval of its
    last TAP_WINDOW taps. A tap too long after the last one starts a new
    series, and one too soon after it (a bounce) does too.

    >>> tapping = TapTempo()
    >>> [tapping.tap(t) for t in (1.0, 1.5, 2.0, 9.0)]
    [None, 120.0, 120.0, None]
    """

    def __init__(self) -> None:
        self._taps: list[float] = []

    def tap(self, seconds: float) -> float | None:
        """Records a tap; returns the series' tempo once it has two taps."""
        if self._taps and not TAP_MIN_SECONDS <= seconds - self._taps[-1] <= TAP_RESET_SECONDS:
            self._taps.clear()
        self._taps = self._taps[-(TAP_WINDOW - 1):] + [seconds]
        if len(self._taps) < 2:
            return None
        interval = (self._taps[-1] - self._taps[0]) / (len(self._taps) - 1)
        return 60.0 / interval


class TempoClock:
    """Fractional pips as a function of time under a tempo that can change.

    The pip is anchored at the last change: pip(t) = anchor pip plus the
    time since the anchor over the pip length, plus a share of a slew: a
    tap moves the beat grid not by a jump but by running faster or slower
    over the next beat, never slower than half speed, so the pips of
    successive frames never run backwards.

    >>> clock = TempoClock(120.0, start=10.0)
    >>> clock.pip_at(10.5)
    64.0
    >>> clock.set_bpm(10.5, 60.0)
    >>> clock.pip_at(11.5)
    128.0
    """

    def __init__(self, bpm: float, start: float, start_pip: float = 0.0) -> None:
        self._tempo = check_tempo(bpm)
        self._anchor_time = start
        self._anchor_pip = start_pip
        self._slew_pips = 0.0  # added over the beat after the anchor; at most half a beat
        self._tapping = TapTempo()

    @property
    def bpm(self) -> float:
        return self._tempo.bpm

    def _beats_since_anchor(self, seconds: float) -> float:
        return (seconds - self._anchor_time) / self._tempo.pip_seconds / movimo.PIPS_PER_BEAT

    def pip_at(self, seconds: float) -> float:
        beats = self._beats_since_anchor(seconds)
        slewed = self._slew_pips * min(max(beats, 0.0), 1.0)
        return self._anchor_pip + beats * movimo.PIPS_PER_BEAT + slewed

    def set_bpm(self, seconds: float, bpm: float) -> None:
        """Changes the tempo from time `seconds` on, keeping the phase there;
        what a slew still had to add is spread over the next beat."""
        tempo = check_tempo(bpm)
        still_to_slew = self._slew_pips * (1.0 - min(max(self._beats_since_anchor(seconds), 0.0),
                                                     1.0))
        self._anchor_pip = self.pip_at(seconds)
        self._anchor_time = seconds
        self._slew_pips = still_to_slew
        self._tempo = tempo

    def tap(self, seconds: float) -> bool:
        """Records a tap on the beat; returns whether it set the tempo. The
        grid then slews to the nearest whole beat at the tap, reached one
        beat later.

        >>> clock = TempoClock(120.0, start=0.125)
        >>> [clock.tap(t) for t in (1.5, 2.0)], clock.bpm
        ([False, True], 120.0)
        >>> [clock.pip_at(t) for t in (2.0, 2.25, 2.5, 3.0)]  # 16 pips gained over a beat
        [240.0, 280.0, 320.0, 384.0]
        """
        bpm = self._tapping.tap(seconds)
        if bpm is None:
            return False
        self.set_bpm(seconds, bpm)
        beat = movimo.PIPS_PER_BEAT
        self._slew_pips = round(self._anchor_pip / beat) * beat - self._anchor_pip
        return True

    def nudge(self, seconds: float, pips: float) -> None:
        """Shifts the beat grid `pips` ahead (behind if negative) over the next
        beat, as a tap's correction does; what is still to slew adds up, to
        at most half a beat either way, so the pips never run backwards.

        >>> clock = TempoClock(120.0, start=0.0)
        >>> clock.nudge(1.0, 8.0)
        >>> [clock.pip_at(t) for t in (1.0, 1.25, 1.5, 2.0)]
        [128.0, 164.0, 200.0, 264.0]
        """
        self.set_bpm(seconds, self.bpm)
        half_beat = movimo.PIPS_PER_BEAT / 2
        self._slew_pips = min(max(self._slew_pips + pips, -half_beat), half_beat)

    def take_relocation(self) -> None:
        """Never: a tempo clock's pips only run forwards."""
        return None

    @property
    def lock_state(self) -> str:
        """Where the tempo comes from: the tempo clock keeps its own."""
        return "internal"


ClockFactory = Callable[[float], Clock]


def tempo_clock(bpm: float, start_beat: float = 0.0) -> ClockFactory:
    """A factory of tempo clocks at `bpm` whose first frame falls on `start_beat`."""
    check_tempo(bpm)
    if not math.isfinite(start_beat):
        raise ValueError("the start beat must be finite")
    return lambda start: TempoClock(bpm, start, start_beat * movimo.PIPS_PER_BEAT)

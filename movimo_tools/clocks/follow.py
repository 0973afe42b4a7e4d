"""Following an outside clock: a tempo follower fed with timed beat events.

A source (a MIDI clock, an OSC clock, a test) reports timed events; the
follower turns them into the same pip-against-time clock that the frame
loop of `movimo_tools.show.loop` runs on, `pip_at(seconds)`. It holds no thread and reads no clock of its own:
every call carries its time, so it is a deterministic state machine.

How it follows:

- The source's position against time is fitted by least squares to its
  events of the last few beats, which gives the source's tempo and phase
  with the jitter of single events averaged out.
- An event far from that line is an outlier and is left out; several in a
  row on the same side mean the source really changed, and the fit starts
  again from them.
- The local clock acquires the source once, by a jump forwards to its
  phase (the next beat ahead, or for numbered beats the next point ahead at
  the source's place in the bar) and to its tempo, and from then on slews: it runs a little faster or slower than the
  source until the phase error is gone, its tempo changes by at most a
  bounded share per beat, and its pip never runs backwards.
- The one exception is the source's own relocation: a beat number far from
  where the source was (a DAW looping, a DJ jumping back) or a start from
  the top moves the clock there at once, backwards if need be. Each such
  jump is announced (see `ExternalClock.take_relocation`).
- Through a dropout the local clock runs on at the last tempo; when events
  return they are numbered from the fitted line and the slewing resumes.
- Start, stop, continue and song position work like a sequencer's
  transport: stop holds the pip, start plays from pip 0 at the next pulse.

The sources themselves, MIDI and OSC clock inputs, are in
`movimo_tools.clocks.inputs`.
"""

from __future__ import annotations

import collections
import dataclasses
import itertools
import math
from typing import Callable, Protocol

import movimo
from movimo_tools.clocks.tempo import check_tempo

# MIDI clock pulses per beat (quarter note).
PULSES_PER_BEAT = 24
PIPS_PER_PULSE = movimo.PIPS_PER_BEAT / PULSES_PER_BEAT
# A MIDI song position counts sixteenth notes.
PIPS_PER_SIXTEENTH = movimo.PIPS_PER_BEAT // 4

# The fit covers the last this many beats of events, and at least this many
# events (so that a source of whole beats still averages several).
WINDOW_BEATS = 4.0
MIN_WINDOW_EVENTS = 8
# The fit gives the tempo once its events span this much of a beat.
MIN_FIT_BEATS = 0.25
MIN_FIT_EVENTS = 3
# An event further from the line than this many times the typical miss,
# and than the floor, is an outlier.
OUTLIER_SPREAD = 5.0
OUTLIER_FLOOR_SECONDS = 0.008
# This many outliers in a row, all on one side, are a change of tempo or phase.
CHANGE_OUTLIERS = 3

# A phase error is worked off over about this many beats ...
CORRECTION_BEATS = 1.0
# ... with the local tempo at most this share above or below the source's,
MAX_CORRECTION = 0.05
# ... and the local tempo never changes by more than this share per beat.
MAX_TEMPO_CHANGE_PER_BEAT = 0.1
# A source position further than this from the local pip is a jump of the
# source (a cue, a new song) that the clock follows at once.
RELOCATE_PIPS = 4 * movimo.PIPS_PER_BEAT

# Silence longer than this many of the source's event intervals (and than
# the floor) is a dropout: the local clock holds its tempo.
DROPOUT_INTERVALS = 2.5
DROPOUT_FLOOR_SECONDS = 0.25
# Locked once the phase error is this small; lost beyond the second bound.
LOCK_SECONDS, UNLOCK_SECONDS = 0.002, 0.010

BAR_PIPS = 4 * movimo.PIPS_PER_BEAT
# A move of the clock by less than this is rounding, not a jump.
JUMP_TOLERANCE_PIPS = 1e-6
# Beat numbers a source may place: those whose pips fit the signed 32-bit
# pip range. Beyond it a peer's typo (or malice) would drive the pips out of
# the numbers a frame can be computed or sent with.
MAX_BEAT_NUMBER = 2**31 // movimo.PIPS_PER_BEAT


@dataclasses.dataclass(frozen=True)
class Tick:
    """One clock pulse, 24 to a beat."""


@dataclasses.dataclass(frozen=True)
class Beat:
    """A beat; `number` places it (beat 0 at pip 0), None means the next one."""

    number: float | None = None


@dataclasses.dataclass(frozen=True)
class Bpm:
    """The tempo the source announces."""

    value: float


@dataclasses.dataclass(frozen=True)
class Start:
    """Play from the top: the next pulse is pip 0."""


@dataclasses.dataclass(frozen=True)
class Stop:
    """Hold where the music stopped."""


@dataclasses.dataclass(frozen=True)
class Continue:
    """Play on from where the music stopped (or the last song position)."""


@dataclasses.dataclass(frozen=True)
class SongPosition:
    """Where the next Continue plays from, in sixteenth notes."""

    sixteenths: int


ClockEvent = Tick | Beat | Bpm | Start | Stop | Continue | SongPosition


def _pips_per_second(bpm: float) -> float:
    return bpm * movimo.PIPS_PER_BEAT / 60.0


def _clamp(value: float, bound: float) -> float:
    return max(-bound, min(bound, value))


# A fitted tempo outside the tempi a clock accepts is no tempo.
_SLOWEST_RATE = _pips_per_second(check_tempo(1.0).bpm)
_FASTEST_RATE = _pips_per_second(check_tempo(1000.0).bpm)


class SourceLine:
    """The source's position (pips) against time, fitted to its recent events.

    Until the events span enough of a beat, the line runs from the last event
    at the prior rate: the last fitted or announced tempo.

    >>> line = SourceLine(prior_rate=128.0)
    >>> [line.add(t, 64.0 * t) for t in (0.0, 0.5, 1.0, 1.5)]
    [True, True, True, True]
    >>> line.rate, line.position_at(2.0)
    (64.0, 128.0)
    """

    def __init__(self, prior_rate: float) -> None:
        self.prior_rate = prior_rate
        self.events: collections.deque[tuple[float, float]] = collections.deque()
        self._suspects: list[tuple[float, float, float]] = []
        self._fit: tuple[float, float, float, float] | None = None  # mean t, mean p, rate, rms

    @property
    def fitted(self) -> bool:
        return self._fit is not None

    @property
    def rate(self) -> float:
        """Pips per second."""
        return self.prior_rate if self._fit is None else self._fit[2]

    def position_at(self, seconds: float) -> float:
        if self._fit is not None:
            mean_time, mean_pip, rate, _ = self._fit
            return mean_pip + rate * (seconds - mean_time)
        last_time, last_pip = self.events[-1]
        return last_pip + self.prior_rate * (seconds - last_time)

    def restart(self, keep_last: bool = False) -> None:
        """Forgets the events (keeping the tempo as the prior), or all but the last."""
        self.prior_rate = self.rate
        last = self.events[-1] if keep_last and self.events else None
        self.events.clear()
        self._suspects.clear()
        self._fit = None
        if last is not None:
            self.events.append(last)

    def add(self, seconds: float, pip: float) -> bool:
        """Adds an event at `pip`; returns False for an outlier left out."""
        if self._fit is not None:
            miss = (pip - self.position_at(seconds)) / self.rate
            if abs(miss) > max(OUTLIER_FLOOR_SECONDS, OUTLIER_SPREAD * self._fit[3]):
                return self._suspect(seconds, pip, miss)
        self._suspects.clear()
        self._append(seconds, pip)
        return True

    def _suspect(self, seconds: float, pip: float, miss: float) -> bool:
        self._suspects.append((seconds, pip, miss))
        if len(self._suspects) < CHANGE_OUTLIERS:
            return False
        if not (all(m > 0 for *_, m in self._suspects) or all(m < 0 for *_, m in self._suspects)):
            self._suspects.pop(0)
            return False
        # The source changed: fit again from the outliers that showed it.
        suspects = self._suspects[:]
        self.restart()
        for suspect_seconds, suspect_pip, _ in suspects:
            self._append(suspect_seconds, suspect_pip)
        return True

    def _append(self, seconds: float, pip: float) -> None:
        self.events.append((seconds, pip))
        while (len(self.events) > MIN_WINDOW_EVENTS
               and pip - self.events[0][1] > WINDOW_BEATS * movimo.PIPS_PER_BEAT):
            self.events.popleft()
        self._refit()

    def _refit(self) -> None:
        count = len(self.events)
        span = self.events[-1][1] - self.events[0][1]
        if count < MIN_FIT_EVENTS or span < MIN_FIT_BEATS * movimo.PIPS_PER_BEAT:
            self._fit = None
            return
        # Times relative to the last event keep the sums well conditioned.
        origin = self.events[-1][0]
        times = [t - origin for t, _ in self.events]
        pips = [p for _, p in self.events]
        mean_time, mean_pip = sum(times) / count, sum(pips) / count
        spread = sum((t - mean_time) ** 2 for t in times)
        if spread <= 0.0:
            self._fit = None
            return
        rate = sum((t - mean_time) * (p - mean_pip) for t, p in zip(times, pips)) / spread
        if not _FASTEST_RATE >= rate >= _SLOWEST_RATE:
            self._fit = None
            return
        misses = [(p - mean_pip - rate * (t - mean_time)) / rate for t, p in zip(times, pips)]
        rms = math.sqrt(sum(m * m for m in misses) / count)
        self._fit = (mean_time + origin, mean_pip, rate, rms)
        self.prior_rate = rate


class TempoFollower:
    """A pip clock locked to an outside source's timed events.

    Until the source has shown its tempo the clock runs freely at `bpm`
    from `start_pip` at time `start`.

    >>> follower = TempoFollower(120.0, start=0.0)
    >>> for pulse in range(48):  # two beats at 100 bpm
    ...     follower.observe(1.0 + pulse * 0.025, Tick())
    >>> round(follower.bpm, 6), follower.state_at(2.2)
    (100.0, 'locked')
    """

    def __init__(self, bpm: float, start: float, start_pip: float = 0.0) -> None:
        self._rate = _pips_per_second(check_tempo(bpm).bpm)
        self._anchor_time, self._anchor_pip = start, start_pip
        self._line = SourceLine(self._rate)
        # The earliest time a correction may start from: the clock has been
        # read up to here, and those pips stay as they were.
        self._floor = start
        self._last_update = start
        self._offset = 0.0           # added to the source's own positions
        self._absolute = False       # whether the source has placed its positions
        self._acquired = False
        self._ever_acquired = False  # locked on once: later acquisitions are relocations
        self._tempo_known = False
        self._locked = False
        self._running = True
        self._next_position: float | None = None   # where the next pulse plays
        self._resume_position: float | None = None  # where Continue plays from
        self._heard = False
        self._last_event: float | None = None
        self._last_position: float | None = None  # the source's, outliers too
        self._last_step = PIPS_PER_PULSE
        self.outliers = 0
        self.jumps = 0

    @property
    def bpm(self) -> float:
        """The source's tempo once known, else the starting one."""
        return self._line.rate * 60.0 / movimo.PIPS_PER_BEAT

    def pip_at(self, seconds: float) -> float:
        """The (fractional) pip at a time; once read, the pips up to that
        time are kept by later corrections."""
        self._floor = max(self._floor, seconds)
        return self._local(seconds)

    def state_at(self, seconds: float) -> str:
        """'free' before any event, then 'locking', 'locked', 'holding' (a
        dropout) or 'stopped'."""
        if not self._heard:
            return "free"
        if not self._running:
            return "stopped"
        if self._last_event is not None and seconds - self._last_event > self._dropout_seconds():
            return "holding"
        return "locked" if self._locked else "locking"

    def observe(self, seconds: float, event: ClockEvent) -> None:
        """Takes one event of the source that happened at `seconds`."""
        self._heard = True
        match event:
            case Tick():
                self._position_event(seconds, PIPS_PER_PULSE, None)
            case Beat(number=number):
                if number is not None and not abs(number) <= MAX_BEAT_NUMBER:
                    raise ValueError(f"a beat number must be within ±{MAX_BEAT_NUMBER}")
                placed = None if number is None else float(number) * movimo.PIPS_PER_BEAT
                self._position_event(seconds, movimo.PIPS_PER_BEAT, placed)
            case Bpm(value=value):
                self._announce(seconds, _pips_per_second(check_tempo(value).bpm))
            case Start():
                self._transport(0.0)
                self._jump(max(seconds, self._floor), 0.0, 0.0)
            case Stop():
                self._stop(seconds)
            case Continue():
                position = self._resume_position
                self._transport(self._local(seconds) if position is None else position)
            case SongPosition(sixteenths=sixteenths):
                if sixteenths < 0:
                    raise ValueError("a song position cannot be negative")
                self._resume_position = float(sixteenths * PIPS_PER_SIXTEENTH)
            case _:
                raise TypeError(f"not a clock event: {event!r}")

    def _local(self, seconds: float) -> float:
        return self._anchor_pip + self._rate * (seconds - self._anchor_time)

    def _jump(self, at: float, pip: float, rate: float, relocation: bool = True) -> None:
        """Moves the clock to `pip` at once, not by slewing: forwards on first
        locking to the source, and wherever the source relocates (a DAW
        looping, a DJ jumping back, a start from the top): the only time a
        pip may run backwards. `jumps` counts relocations, to be announced."""
        if relocation and abs(pip - self._local(at)) > JUMP_TOLERANCE_PIPS:
            self.jumps += 1
        self._reanchor(at, pip, rate)

    def _reanchor(self, at: float, pip: float, rate: float) -> None:
        self._anchor_time, self._anchor_pip, self._rate = at, pip, rate
        self._last_update = at

    def _dropout_seconds(self) -> float:
        interval = self._last_step / self._line.rate
        return max(DROPOUT_FLOOR_SECONDS, DROPOUT_INTERVALS * interval)

    def _position_event(self, seconds: float, step: float, placed: float | None) -> None:
        if self._last_event is not None and seconds < self._last_event:
            self.outliers += 1  # out of order: time never runs back at the source
            return
        gap = self._last_event is not None and seconds - self._last_event > self._dropout_seconds()
        self._last_event, self._last_step = seconds, step
        last = self._last_position
        if placed is not None:
            position = placed
            if not self._absolute or (self._line.events and abs(
                    position - self._line.position_at(seconds)) > RELOCATE_PIPS):
                self._line.restart()
                self._absolute, self._offset, self._acquired = True, 0.0, False
        elif self._next_position is not None:
            position = self._next_position
        elif last is None:
            position = 0.0
        elif gap and self._line.events:
            # Events missed in the dropout are counted off the fitted line.
            missed = round((self._line.position_at(seconds) - last) / step)
            position = last + step * max(1, missed)
        else:
            position = last + step
        self._next_position, self._last_position = None, position
        if not self._line.add(seconds, position):
            self.outliers += 1
            return
        self._tempo_known = self._tempo_known or self._line.fitted
        if self._running:
            self._follow(seconds)

    def _follow(self, seconds: float) -> None:
        if not self._tempo_known:
            return
        at = max(seconds, self._floor)
        pip = self._local(at)
        source_rate = self._line.rate
        if not self._acquired:
            source = self._line.position_at(at)
            # Only the beat is known, not which beat: take the next one ahead.
            # Locking on to placed beats for the first time: the next point
            # ahead at the source's place in the bar. Either way the pip does
            # not run back; only a later jump of the source may move it back.
            unit = (movimo.PIPS_PER_BEAT if not self._absolute
                    else None if self._ever_acquired else BAR_PIPS)
            if unit is not None:
                self._offset = math.ceil((pip - source - JUMP_TOLERANCE_PIPS) / unit) * unit
            self._acquired = True
            self._jump(at, source + self._offset, source_rate, relocation=self._ever_acquired)
            self._ever_acquired = True
            self._locked = False
            return
        error = self._line.position_at(at) + self._offset - pip
        if abs(error) > RELOCATE_PIPS:
            self._acquired = False
            self._follow(seconds)
            return
        correction = error * source_rate / (CORRECTION_BEATS * movimo.PIPS_PER_BEAT)
        target = source_rate + _clamp(correction, MAX_CORRECTION * source_rate)
        beats = (at - self._last_update) * source_rate / movimo.PIPS_PER_BEAT
        change = _clamp(target - self._rate, MAX_TEMPO_CHANGE_PER_BEAT * source_rate * beats)
        self._reanchor(at, pip, self._rate + change)
        error_seconds = abs(error) / source_rate
        bound = UNLOCK_SECONDS if self._locked else LOCK_SECONDS
        self._locked = self._line.fitted and error_seconds <= bound

    def _announce(self, seconds: float, rate: float) -> None:
        if not self._line.events:
            # Tempo alone, without beats: change it at once, keeping the phase.
            at = max(seconds, self._floor)
            if self._running:
                self._reanchor(at, self._local(at), rate)
            self._line.prior_rate = rate
        elif abs(rate - self._line.rate) > 0.005 * rate:
            # A new tempo: the events before it no longer tell it.
            self._line.restart(keep_last=True)
            self._line.prior_rate = rate
        self._tempo_known = True

    def _transport(self, position: float) -> None:
        """Start or continue: the next pulse plays `position`."""
        self._line.restart()
        self._running, self._acquired, self._locked = True, False, False
        self._absolute, self._offset = True, 0.0
        self._next_position, self._resume_position = position, None

    def _stop(self, seconds: float) -> None:
        if not self._running:
            return
        at = max(seconds, self._floor)
        if self._last_position is not None:
            self._resume_position = self._last_position + self._offset + self._last_step
        self._reanchor(at, self._local(at), 0.0)
        self._running = False
        self._locked = False


class EventSource(Protocol):
    """What an ExternalClock reads its events from: a clock input
    (`movimo_tools.clocks.clock_input.ClockInput`), which counts what it could
    not take."""

    name: str
    malformed: int
    dropped: int

    @property
    def status(self) -> str: ...

    def drain(self) -> list[tuple[float, ClockEvent]]: ...

    def close(self) -> None: ...


class ExternalClock:
    """The frame loop's clock when an outside source leads: a follower fed
    from a clock input, which reports each change of its lock state and
    each jump of the clock (a relocation of the source).

    Each reading of the pip first takes the events that arrived since the
    last one. Tempo commands do not apply: the source sets the tempo.
    """

    def __init__(self, source: EventSource, bpm: float, start: float, start_pip: float = 0.0,
                 report_state: Callable[[str], None] = lambda line: None) -> None:
        self.source = source
        self._follower = TempoFollower(bpm, start, start_pip)
        self._report_state = report_state
        self._state = ""
        self._status = ""
        self._waiting: list[tuple[float, ClockEvent]] = []
        self._jumps = 0
        self._last_pip: float | None = None
        self._relocation: tuple[float, float] | None = None

    @property
    def bpm(self) -> float:
        return self._follower.bpm

    def pip_at(self, seconds: float) -> float:
        # Events that arrived after `seconds` (a late frame) wait for the
        # next reading, so that no correction reaches back before its event.
        self._waiting += self.source.drain()
        taken = list(itertools.takewhile(lambda event: event[0] <= seconds, self._waiting))
        self._waiting = self._waiting[len(taken):]
        for arrived, event in taken:
            try:
                self._follower.observe(arrived, event)
            except ValueError:
                self.source.malformed += 1
        state, status = self._follower.state_at(seconds), self.source.status
        if (state, status) != (self._state, self._status):
            self._state, self._status = state, status
            self._report_state(f"clock {self.source.name}: {state}, {self.bpm:.2f} bpm"
                               + (f", {status}" if status else ""))
        pip = self._follower.pip_at(seconds)
        if self._follower.jumps != self._jumps and self._last_pip is not None:
            self._relocation = (self._last_pip, pip)
            self._report_state(f"clock {self.source.name}: relocated from beat "
                               f"{self._last_pip / movimo.PIPS_PER_BEAT:.3f} to beat "
                               f"{pip / movimo.PIPS_PER_BEAT:.3f}")
        self._jumps, self._last_pip = self._follower.jumps, pip
        return pip

    def take_relocation(self) -> tuple[float, float] | None:
        """The pips the clock jumped from and to since the last call, if it
        jumped: the one time its pip may run backwards."""
        relocation, self._relocation = self._relocation, None
        return relocation

    def set_bpm(self, seconds: float, bpm: float) -> None:
        raise ValueError(f"the tempo follows {self.source.name}: 'bpm' does not apply")

    def tap(self, seconds: float) -> bool:
        raise ValueError(f"the tempo follows {self.source.name}: 'tap' does not apply")

    def nudge(self, seconds: float, pips: float) -> None:
        raise ValueError(f"the beat follows {self.source.name}: 'nudge' does not apply")

    @property
    def lock_state(self) -> str:
        """The follower's state at the last reading: free, locking, locked, holding or stopped."""
        return self._state or "free"

    def close(self) -> None:
        """Stops listening to the source, and says how many of its messages were malformed."""
        self.source.close()
        if self.source.malformed:
            self._report_state(f"clock {self.source.name}: ignored {self.source.malformed} "
                               f"malformed messages")
        if self.source.dropped:
            self._report_state(f"clock {self.source.name}: dropped {self.source.dropped} "
                               f"events that came faster than the frames could take them")

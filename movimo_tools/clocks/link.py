"""Following an Ableton Link session: its tempo, the phase of its beat
within a quantum, and its start and stop.

The peers of a Link session share one timeline: at any moment each of them
can tell the tempo and where the beat stands within the quantum (a bar of 4
beats by default). So the clock here reads the session at every reading of
the frame loop, where the follower of `movimo_tools.clocks.follow` fits a
line to timed beat events: Link's beat is already exact at any moment, and
fitting and slewing it would only add lag.

- Pip 0 of a quantum is beat 0 of the session's quantum, so with a quantum
  of 4 (or a multiple of 4) the show's bars fall on the session's.
- The pip never runs backwards. A step of the session's beat back by less
  than JUMP_PIPS (a slower tempo heard a moment after it was set) is waited
  out; a larger one (joining a session, a peer forcing the beat) is taken
  forwards instead, by whole quanta, so that the phase still matches. Each
  step beyond JUMP_PIPS either way is announced (`LinkClock.take_relocation`).
- Where peers share start and stop (Link's start/stop sync), a stop holds
  the pip, and a start plays from pip 0 at the session's next quantum
  boundary, as a sequencer's start plays from the top: the one jump back.
- A tempo set by number, by tapping, by halving or doubling is proposed to
  the session, so that every peer takes it.

aalink runs Link under asyncio: its `Link` is made in an event loop that
runs in a thread of its own for as long as the session is joined. The clock
polls the session rather than taking aalink's callbacks, which would need
the interpreter lock on Link's own threads, and so could deadlock leaving.
"""

from __future__ import annotations

import asyncio
import dataclasses
import math
import threading
import time
from typing import Any, Callable

import movimo
from movimo_tools.clocks.inputs import ClockInput
from movimo_tools.clocks.tempo import MAX_BPM, MIN_BPM, TapTempo, check_tempo
from movimo_tools.extras import missing_extra

# The beats whose phase the session shares: a bar of 4 unless asked.
DEFAULT_QUANTUM = 4
MAX_QUANTUM = 64
# Joining and leaving wait at most this long for aalink's event loop.
LOOP_TIMEOUT_SECONDS = 2.0
# The session's tempo until the show's own is set, or the session's is heard.
JOINING_BPM = 120.0
# A step of the session's beat back by less than this is waited out; a step
# either way beyond it is a jump, announced.
JUMP_PIPS = movimo.PIPS_PER_BEAT / 8
# A start heard this soon after a quantum boundary plays from that boundary:
# the news of the start took that long to arrive.
START_GRACE_PIPS = movimo.PIPS_PER_BEAT / 16
# While the tempo moves (a DJ's pitch fader), its lock line is printed at most this often.
TEMPO_LINE_SECONDS = 1.0


def parse_quantum(text: str) -> int:
    """The quantum that `link:QUANTUM` names, DEFAULT_QUANTUM for none.

    >>> parse_quantum(""), parse_quantum("8")
    (4, 8)
    >>> parse_quantum("2.5")
    Traceback (most recent call last):
    ...
    ValueError: the Link quantum must be a whole number of beats from 1 to 64
    """
    if not text:
        return DEFAULT_QUANTUM
    if text.isascii() and text.isdigit() and 1 <= int(text) <= MAX_QUANTUM:
        return int(text)
    raise ValueError(f"the Link quantum must be a whole number of beats from 1 to {MAX_QUANTUM}")


@dataclasses.dataclass(frozen=True)
class LinkReading:
    """The session at one moment: its beat at `seconds` (on the clock the
    session was opened with), its tempo, whether it plays, and its peers."""

    seconds: float
    beat: float
    bpm: float
    playing: bool
    peers: int


class LinkSession(ClockInput):
    """The Link session that `--clock link[:QUANTUM]` joins: read at any
    moment, and told the tempi the show sets."""

    def __init__(self, name: str, quantum: str,
                 now: Callable[[], float] = time.perf_counter) -> None:
        super().__init__(name, now)
        self.quantum = parse_quantum(quantum)
        self._link: Any = None
        self._loop: asyncio.AbstractEventLoop | None = None
        self._thread: threading.Thread | None = None

    def open(self) -> LinkSession:
        """Joins the session, with start/stop sync, on aalink's loop."""
        try:
            import aalink  # type: ignore[import-not-found]
        except ImportError:
            raise ValueError(f"following Link {missing_extra('link', ['aalink'])}") from None

        async def join() -> Any:
            link = aalink.Link(JOINING_BPM)  # aalink takes the loop it is made in
            link.quantum = self.quantum
            link.start_stop_sync_enabled = True
            link.enabled = True
            return link

        self._loop = asyncio.new_event_loop()
        self._thread = threading.Thread(target=self._loop.run_forever, name="link", daemon=True)
        self._thread.start()
        try:
            self._link = asyncio.run_coroutine_threadsafe(join(), self._loop).result(
                LOOP_TIMEOUT_SECONDS)
        except Exception as error:  # noqa: BLE001  Link's sockets fail in many ways
            self.close()
            raise ValueError(f"cannot join the Link session: {error}") from None
        return self

    def read(self) -> LinkReading:
        # The beat is read between two readings of the clock, and placed
        # at their middle: no mapping of Link's clock to ours is needed.
        before = self._now()
        beat = float(self._link.beat)
        after = self._now()
        return LinkReading((before + after) / 2, beat, float(self._link.tempo),
                           bool(self._link.playing), int(self._link.num_peers))

    def propose_tempo(self, bpm: float) -> float:
        """Sets the session's tempo from now on, for every peer; returns the
        tempo the session then has (Link keeps to 20 to 999 bpm)."""
        self._link.tempo = bpm
        return float(self._link.tempo)

    def clock(self, bpm: float, start: float, start_pip: float,
              report_state: Callable[[str], None]) -> LinkClock:
        """The session's clock (see `LinkClock`); `bpm` is the session's
        tempo if no peer has been found yet."""
        return LinkClock(self, bpm, start_pip, report_state)

    def close(self) -> None:
        """Leaves the session and stops aalink's loop, waiting at most
        LOOP_TIMEOUT_SECONDS for it."""
        if self._link is not None:
            self._link.enabled = False
            self._link = None
        if self._loop is not None and self._thread is not None:
            self._loop.call_soon_threadsafe(self._loop.stop)
            self._thread.join(LOOP_TIMEOUT_SECONDS)
            if not self._thread.is_alive():
                self._loop.close()
            self._loop = self._thread = None


class LinkClock:
    """The frame loop's clock when a Link session leads: pips that follow
    the session's beat, never backwards but for a start from the top, with
    tempo commands proposed to the session.

    Each reading of the pip reads the session; a change of its peers, its
    transport or its tempo is reported as a lock line. A tempo outside 1 to
    1000 bpm is clamped to that range and counted (`clamped`); a session
    state that is no number is left out, and counted as malformed.
    """

    def __init__(self, session: LinkSession, bpm: float, start_pip: float = 0.0,
                 report_state: Callable[[str], None] = lambda line: None) -> None:
        self.source = session
        self._report_state = report_state
        self._quantum_pips = session.quantum * movimo.PIPS_PER_BEAT
        self._bpm = check_tempo(bpm).bpm
        self._offset: float | None = None  # whole quanta added to the session's pips
        self._pip = start_pip  # the last pip read, which later ones never go below
        self._read_at = -math.inf  # the time of the last reading
        # The time, pip and pips per second the session ran from at the last reading.
        self._running: tuple[float, float, float] | None = None
        self._playing: bool | None = None
        self._stopped = False
        self._top: float | None = None  # the session's pip where a start plays pip 0
        self._relocation: tuple[float, float] | None = None
        self._tapping = TapTempo()
        self._session_bpm = math.nan
        self._state = ""
        self._line = ("", -math.inf)  # the tempo of the last lock line, and when
        self.clamped = 0
        if session.read().peers == 0:
            session.propose_tempo(self._bpm)  # alone, the session is the show's

    @property
    def bpm(self) -> float:
        return self._bpm

    def pip_at(self, seconds: float) -> float:
        if seconds < self._read_at:
            # A time before the last reading (a command placed between frames
            # computed ahead of their due time): the pips read stay as read.
            rate = 0.0 if self._running is None else self._running[2]
            return self._pip - rate * (self._read_at - seconds)
        reading = self.source.read()
        if not (math.isfinite(reading.beat) and math.isfinite(reading.bpm)):
            self.source.malformed += 1
            return self._pip
        self._bpm = self._within_range(reading.bpm)
        session_pip = (reading.beat + (seconds - reading.seconds) * self._bpm / 60.0
                       ) * movimo.PIPS_PER_BEAT
        self._follow_transport(reading.playing, session_pip)
        pip = self._place(seconds, session_pip)
        self._read_at = seconds
        self._report(seconds, reading.peers)
        return pip

    def _within_range(self, bpm: float) -> float:
        within = min(max(bpm, MIN_BPM), MAX_BPM)
        if within != bpm and bpm != self._session_bpm:
            self.clamped += 1
        self._session_bpm = bpm
        return within

    def _follow_transport(self, playing: bool, session_pip: float) -> None:
        if self._playing is not None and playing != self._playing:
            self._stopped = not playing
            self._top = None
            if playing:
                self._top = self._quantum_pips * math.ceil(
                    (session_pip - START_GRACE_PIPS) / self._quantum_pips)
        self._playing = playing

    def _place(self, seconds: float, session_pip: float) -> float:
        if self._stopped or (self._top is not None and session_pip < self._top):
            self._running = None
            return self._pip  # stopped, or started and waiting for the next quantum
        if self._top is not None:
            self._offset, self._top = -self._top, None
            self._jump(self._pip, session_pip + self._offset)
            self._pip = session_pip + self._offset
        elif self._offset is None:
            # The first reading: the first pip at the session's phase from the start pip on.
            self._offset = self._quantum_pips * math.ceil(
                (self._pip - session_pip) / self._quantum_pips)
            self._pip = session_pip + self._offset
        else:
            pip = session_pip + self._offset
            if pip < self._pip - JUMP_PIPS:
                self._offset += self._quantum_pips * math.ceil(
                    (self._pip - pip) / self._quantum_pips)
                pip = session_pip + self._offset
            if self._running is not None and not self._ran_on(*self._running, seconds, pip):
                self._jump(self._pip, pip)
            self._pip = max(self._pip, pip)
        self._running = (seconds, session_pip + self._offset, self._pips_per_second())
        return self._pip

    def _pips_per_second(self) -> float:
        return self._bpm * movimo.PIPS_PER_BEAT / 60.0

    def _ran_on(self, since: float, from_pip: float, rate: float, seconds: float,
                pip: float) -> bool:
        """Whether the session came to `pip` at `seconds` by running on from
        `from_pip` at `since`, at its tempo then or now (or one in between)."""
        slower, faster = sorted((rate, self._pips_per_second()))
        step, elapsed = pip - from_pip, seconds - since
        return elapsed * slower - JUMP_PIPS <= step <= elapsed * faster + JUMP_PIPS

    def _jump(self, before: float, after: float) -> None:
        if self._relocation is not None:
            before = self._relocation[0]  # not yet taken: one jump from where it was
        self._relocation = (before, after)
        self._report_state(f"clock {self.source.name}: relocated from beat "
                           f"{before / movimo.PIPS_PER_BEAT:.3f} to beat "
                           f"{after / movimo.PIPS_PER_BEAT:.3f}")

    def _report(self, seconds: float, peers: int) -> None:
        state = "alone" if peers == 0 else f"linked, {peers} peer{'s' if peers > 1 else ''}"
        if self._stopped:
            state += ", stopped"
        elif self._top is not None:
            state += ", starting on the next quantum"
        bpm = f"{self._bpm:.2f}"
        lined_bpm, lined_at = self._line
        if state != self._state or (bpm != lined_bpm
                                    and seconds - lined_at >= TEMPO_LINE_SECONDS):
            self._state, self._line = state, (bpm, seconds)
            self._report_state(f"clock {self.source.name}: {state}, {bpm} bpm")

    def take_relocation(self) -> tuple[float, float] | None:
        """The pips the clock jumped from and to since the last call, if it
        jumped: forwards, or back to the top when the session started."""
        relocation, self._relocation = self._relocation, None
        return relocation

    def set_bpm(self, seconds: float, bpm: float) -> None:
        """Proposes `bpm` to the session, from now on."""
        self._bpm = self._within_range(self.source.propose_tempo(check_tempo(bpm).bpm))

    def tap(self, seconds: float) -> bool:
        """Records a tap on the beat; from the second tap of a series on,
        proposes the taps' tempo to the session (the session keeps its phase)."""
        bpm = self._tapping.tap(seconds)
        if bpm is not None:
            self.set_bpm(seconds, bpm)
        return bpm is not None

    def nudge(self, seconds: float, pips: float) -> None:
        raise ValueError(f"the beat follows {self.source.name}: 'nudge' does not apply")

    @property
    def lock_state(self) -> str:
        """The session at the last reading: alone or linked with its peers,
        and stopped, or started and waiting for the next quantum."""
        return self._state or "alone"

    def close(self) -> None:
        """Leaves the session, and says how many of its tempi were clamped
        and how many of its states were left out."""
        self.source.close()
        if self.clamped:
            self._report_state(f"clock {self.source.name}: clamped {self.clamped} tempi "
                               f"to {MIN_BPM:g} to {MAX_BPM:g} bpm")
        if self.source.malformed:
            self._report_state(f"clock {self.source.name}: ignored {self.source.malformed} "
                               f"readings of the session that were no numbers")

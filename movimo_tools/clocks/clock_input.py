"""The queue between an outside clock's input and the follower of
`movimo_tools.clocks.follow`: events stamped with the time they happened,
put by the input's own thread and taken by the frame loop. The inputs
themselves are in `movimo_tools.clocks.inputs` and
`movimo_tools.clocks.audio`.
"""

from __future__ import annotations

import queue
import time
from typing import TYPE_CHECKING, Callable

from movimo_tools.clocks.follow import ClockEvent, ExternalClock

if TYPE_CHECKING:
    from movimo_tools.clocks.tempo import Clock

# Events waiting for the frame loop; a flood beyond this is dropped and counted.
MAX_WAITING_EVENTS = 4096


class ClockInput:
    """Events of an outside clock on their way to the follower, each stamped
    with the time it arrived; counts the malformed messages it ignored and
    the events it dropped in a flood (more than MAX_WAITING_EVENTS waiting)."""

    def __init__(self, name: str, now: Callable[[], float] = time.perf_counter) -> None:
        self.name = name
        self.malformed = 0
        self.dropped = 0
        self._now = now
        self._events: queue.Queue[tuple[float, ClockEvent]] = queue.Queue(MAX_WAITING_EVENTS)

    def put(self, event: ClockEvent, seconds: float | None = None) -> None:
        try:
            self._events.put_nowait((self._now() if seconds is None else seconds, event))
        except queue.Full:
            self.dropped += 1

    def drain(self) -> list[tuple[float, ClockEvent]]:
        events = []
        while not self._events.empty():
            events.append(self._events.get_nowait())
        return events

    def close(self) -> None:
        """Stops listening; an input that opened nothing has nothing to close."""

    def clock(self, bpm: float, start: float, start_pip: float,
              report_state: Callable[[str], None]) -> Clock:
        """The frame loop's clock that this input leads, from time `start`:
        a tempo follower fed its events, running at `bpm` from `start_pip`
        until they show the source's tempo and beat."""
        return ExternalClock(self, bpm, start, start_pip, report_state)

    @property
    def status(self) -> str:
        """What the input adds to the follower's lock lines (an audio input's
        confidence, say); nothing for a clock that sends its beats."""
        return ""

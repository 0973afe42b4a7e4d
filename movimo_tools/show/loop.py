"""The frame loop that every show runs, and the signals that stop it.

Frame i is due `i / rate` seconds after the start, and its pip is read from
the clock at that due time, never by adding up per-frame steps, so output
cannot drift from the tempo however long it runs.

The loop takes its clock from a factory, `make_clock(start) -> clock`, where
a clock answers the members of `movimo_tools.clocks.tempo.Clock`: the tempo
clock, or any other source of beats with the same members, such as the
follower of an outside clock in `movimo_tools.clocks.follow`; a clock with a
`close()` is closed when the loop ends.
"""

from __future__ import annotations

import dataclasses
import math
import signal
import threading
import time
from typing import Any, Callable

from movimo_tools.clocks.tempo import Clock, ClockFactory

# A loop this far behind its clock skips the missed frames instead of
# sending them in a burst (after the machine stalled, say).
MAX_CATCH_UP_SECONDS = 0.5
# A frame loop waiting for its next frame looks for a stop request this often.
STOP_POLL_SECONDS = 0.05


def check_rate(rate: float) -> None:
    """Refuses a frame rate outside 1 to 1000 frames per second."""
    if not (math.isfinite(rate) and 1.0 <= rate <= 1000.0):
        raise ValueError("the frame rate must be 1 to 1000 per second")


@dataclasses.dataclass
class FrameReport:
    """What a frame loop did: its start on the clock it ran by, the frames
    and the messages or packets sent, frames skipped after a stall, and how
    late frames left after their due time (seconds); and what parking sent."""

    start: float
    frames: int = 0
    sent: int = 0
    skipped: int = 0
    parked: int = 0        # packets that brought the stage home afterwards
    total_lateness: float = 0.0
    max_lateness: float = 0.0

    def add_frame(self, sent: int, lateness: float) -> None:
        self.frames += 1
        self.sent += sent
        self.total_lateness += lateness
        self.max_lateness = max(self.max_lateness, lateness)

    @property
    def mean_lateness(self) -> float:
        return self.total_lateness / self.frames if self.frames else 0.0


def run_frames(send_frame: Callable[[int, float, float, float], int], make_clock: ClockFactory,
               *, rate: float, frames: int | None = None,
               before_frame: Callable[[Clock, float, float], bool] = lambda clock, last, due: True,
               stop: Callable[[], bool] = lambda: False,
               relocated: Callable[[float, float], object] = lambda before, after: None,
               lead: float = 0.0,
               now: Callable[[], float] = time.perf_counter,
               sleep: Callable[[float], object] = time.sleep) -> FrameReport:
    """Calls `send_frame(frame, pip, bpm, due)` at `rate` frames per second
    until `frames` have gone (or for ever), `before_frame(clock, last_due,
    due)` returns False (it applies commands, such as quit, between the last
    frame sent and this one), `stop()` says so (it is asked at least every
    STOP_POLL_SECONDS) or Ctrl-C; `due` is the frame's due time on the `now`
    clock, and `send_frame` returns how many messages or packets it sent.
    With a `lead`, each frame is computed and sent for `lead` seconds after
    its due time (for lights that answer late): `send_frame` gets that pip
    and that time. When the clock jumps (an
    outside clock's relocation), `relocated(before, after)` hears the pips
    before the frame that carries the jump is sent.

    >>> from movimo_tools.clocks.tempo import tempo_clock
    >>> fake = [0.0]
    >>> report = run_frames(lambda frame, pip, bpm, due: print(frame, pip) or 1,
    ...                     tempo_clock(120.0),
    ...                     rate=4.0, frames=3, now=lambda: fake[0],
    ...                     sleep=lambda s: fake.__setitem__(0, fake[0] + s))
    0 0.0
    1 32.0
    2 64.0
    >>> report.frames, report.sent
    (3, 3)
    """
    check_rate(rate)
    if frames is not None and frames < 1:
        raise ValueError("the frame count must be at least 1")
    start = now()
    clock = make_clock(start)
    report = FrameReport(start)
    frame = 0
    last_due = start  # of the last frame sent
    try:
        while frames is None or frame < frames:
            due = start + frame / rate
            while (left := due - now()) > STOP_POLL_SECONDS and not stop():
                sleep(STOP_POLL_SECONDS)
            if stop():
                break
            sleep(max(0.0, left))
            if not before_frame(clock, last_due, due):
                break
            shown = due + lead
            pip, bpm = clock.pip_at(shown), clock.bpm
            if (relocation := clock.take_relocation()) is not None:
                relocated(*relocation)
            lateness = now() - due
            report.add_frame(send_frame(frame, pip, bpm, shown), lateness)
            last_due = due
            frame += 1
            behind = math.floor((now() - start) * rate) - frame
            if behind > MAX_CATCH_UP_SECONDS * rate:
                report.skipped += behind
                frame += behind
    except KeyboardInterrupt:
        pass  # Ctrl-C is the ordinary way to stop an endless loop.
    finally:
        if hasattr(clock, "close"):
            clock.close()
    return report


class StopRequests:
    """Ctrl-C (SIGINT) and SIGTERM as requests to stop, for a command that
    must park its rig on the way out; call it to ask whether one came.

    The handlers only set a flag that the frame loop reads: they never raise
    into the code that is running, so a second, impatient signal cannot cut
    the parking short. SIGINT is handled whatever the command inherited (a
    background job of a script starts with it ignored). SIGHUP is ignored:
    a lost terminal does not stop the show. Outside the main thread, where
    handlers cannot be installed, nothing changes.
    """

    def __init__(self) -> None:
        self.count = 0  # signals received
        self._saved: dict[int, Any] = {}

    @property
    def requested(self) -> bool:
        return self.count > 0

    def __call__(self) -> bool:
        return self.requested

    def _request(self, signum: int, frame: object) -> None:
        self.count += 1

    def __enter__(self) -> StopRequests:
        if threading.current_thread() is threading.main_thread():
            for number in (signal.SIGINT, signal.SIGTERM):
                self._saved[number] = signal.signal(number, self._request)
            self._saved[signal.SIGHUP] = signal.signal(signal.SIGHUP, signal.SIG_IGN)
        return self

    def __exit__(self, *exception: object) -> None:
        # Once asked to stop, the command is on its way out: later signals
        # (a supervisor repeating SIGTERM) are ignored until it exits, so
        # that they cannot turn a clean exit into a killed process or a
        # traceback. (The interpreter resets its own handlers as it exits,
        # but leaves ignored signals ignored.)
        for number, handler in self._saved.items():
            signal.signal(number, signal.SIG_IGN if self.requested else handler)
        self._saved.clear()

"""The tempo clock, the frame loop and the send that rides out network
failures, which `movimo stream` and `movimo dmx` share.

Frame i is due `i / rate` seconds after the start, and its pip is read from
the clock at that due time, never by adding up per-frame steps, so output
cannot drift from the tempo however long it runs. A tempo change re-anchors
the clock at the moment it arrives; the phase runs on from there without a
jump.

The loop takes its clock from a factory, `make_clock(start) -> clock`, where
a clock answers `pip_at(seconds)`, `bpm`, `set_bpm(seconds, bpm)` and
`tap(seconds)`: the tempo clock below, or any other source of beats with the
same four members, such as the follower of an outside clock in
`movimo_tools.follow`; a clock with a `close()` is closed when the loop ends.
The command-line options of the clock live here too, so every command that
runs frames offers the same ones.
"""

from __future__ import annotations

import argparse
import dataclasses
import math
import queue
import signal
import sys
import threading
import time
from collections.abc import Iterable
from typing import Any, Callable, Protocol, TypeAlias, TypeVar

import movimo
from movimo_tools.console import LineWriter, command_lines
from movimo_tools.timing import Tempo

# Command lines, each with the time it arrived.
Commands: TypeAlias = "queue.Queue[tuple[float, str]]"
Number = TypeVar("Number", int, float)

CONTROL_HELP = """\
While it runs, it reads commands from standard input, one a line:
  bpm B   change the tempo to B beats per minute; the phase runs on smoothly
  tap     tap along on the beat: two or more taps set the tempo, and the beat
          grid moves so that the last tap falls on a whole beat
          (a pause of more than 2 s starts a new series of taps)
  quit    stop
"""

# Tempi the clock accepts, on a command line and while it runs.
MIN_BPM, MAX_BPM = 1.0, 1000.0
# Taps further apart than this start a new series (slower than 30 bpm).
TAP_RESET_SECONDS = 2.0
# Taps closer together than this are bounces, not beats (faster than 600 bpm).
TAP_MIN_SECONDS = 0.1
# The tempo of a series is the mean interval of its last taps.
TAP_WINDOW = 8
# A loop this far behind its clock skips the missed frames instead of
# sending them in a burst (after the machine stalled, say).
MAX_CATCH_UP_SECONDS = 0.5
# A frame loop waiting for its next frame looks for a stop request this often.
STOP_POLL_SECONDS = 0.05


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


def check_rate(rate: float) -> None:
    """Refuses a frame rate outside 1 to 1000 frames per second."""
    if not (math.isfinite(rate) and 1.0 <= rate <= 1000.0):
        raise ValueError("the frame rate must be 1 to 1000 per second")


class Clock(Protocol):
    """What the frame loop asks of a clock."""

    @property
    def bpm(self) -> float: ...

    def pip_at(self, seconds: float) -> float: ...

    def set_bpm(self, seconds: float, bpm: float) -> None: ...

    def tap(self, seconds: float) -> bool: ...

    def take_relocation(self) -> tuple[float, float] | None: ...


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
        self._taps: list[float] = []

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
        if self._taps and not TAP_MIN_SECONDS <= seconds - self._taps[-1] <= TAP_RESET_SECONDS:
            self._taps.clear()
        self._taps = self._taps[-(TAP_WINDOW - 1):] + [seconds]
        if len(self._taps) < 2:
            return False
        interval = (self._taps[-1] - self._taps[0]) / (len(self._taps) - 1)
        self.set_bpm(seconds, 60.0 / interval)
        beat = movimo.PIPS_PER_BEAT
        self._slew_pips = round(self._anchor_pip / beat) * beat - self._anchor_pip
        return True

    def take_relocation(self) -> None:
        """Never: a tempo clock's pips only run forwards."""
        return None


ClockFactory = Callable[[float], Clock]


def tempo_clock(bpm: float, start_beat: float = 0.0) -> ClockFactory:
    """A factory of tempo clocks at `bpm` whose first frame falls on `start_beat`."""
    check_tempo(bpm)
    if not math.isfinite(start_beat):
        raise ValueError("the start beat must be finite")
    return lambda start: TempoClock(bpm, start, start_beat * movimo.PIPS_PER_BEAT)


def parse_command(line: str) -> tuple[str, float | None]:
    """One control line as (verb, number); see CONTROL_HELP.

    >>> parse_command(" BPM 128 "), parse_command("tap")
    (('bpm', 128.0), ('tap', None))
    >>> parse_command("bpm fast")
    Traceback (most recent call last):
    ...
    ValueError: unknown command 'bpm fast': use 'bpm B', 'tap' or 'quit'
    """
    words = line.lower().split()
    try:
        if words == ["tap"] or words == ["quit"]:
            return words[0], None
        if len(words) == 2 and words[0] == "bpm":
            return "bpm", float(words[1])
    except ValueError:
        pass
    raise ValueError(f"unknown command '{line.strip()}': use 'bpm B', 'tap' or 'quit'")


def read_commands(lines: Iterable[str], commands: Commands,
                  now: Callable[[], float] = time.perf_counter) -> None:
    """Puts each line on `commands` with the time it arrived (for a tap, the
    time is what counts); meant to run in a thread over standard input."""
    try:
        for line in lines:
            commands.put((now(), line))
    except (OSError, ValueError):
        pass  # standard input is gone (a hung-up terminal): no more commands


def stdin_commands(note: Callable[[str], object] = lambda text: None) -> Commands:
    """A queue fed with the lines of standard input by a background thread;
    `note(text)` hears of lines skipped as no command (see command_lines)."""
    commands: Commands = queue.Queue()
    if sys.stdin is not None:  # None when the command was started with stdin closed
        threading.Thread(target=read_commands, args=(command_lines(sys.stdin, note), commands),
                         daemon=True).start()
    return commands


def apply_commands(clock: Clock, commands: Commands, not_before: float, not_after: float,
                   report_line: Callable[[str], object],
                   other: Callable[[str], object] | None = None) -> bool:
    """Applies the waiting commands to the clock; returns False after quit.

    A command takes effect when it arrived, but not before the last frame
    sent nor after the frame about to go (a late frame finds commands that
    arrived after its time), so the pips of successive frames never run
    backwards from it.
    `other(line)`, when given, gets first look at each line and returns
    whether it handled it (a command's own verbs, such as switching pattern).
    """
    while True:
        try:
            arrived, line = commands.get_nowait()
        except queue.Empty:
            return True
        if other is not None and other(line):
            continue
        at = min(max(arrived, not_before), not_after)
        try:
            verb, value = parse_command(line)
            if verb == "quit":
                return False
            if verb == "bpm" and value is not None:
                clock.set_bpm(at, value)
                report_line(f"tempo {clock.bpm:g} bpm")
            elif clock.tap(at):
                report_line(f"tap: tempo {clock.bpm:.2f} bpm")
            else:
                report_line("tap: tap again on each beat to set the tempo")
        except ValueError as error:
            report_line(str(error))


class SendFailures:
    """`send` that rides out failures of the network: a route that goes away
    for a moment or a pulled cable fails a burst of sends (of frames, of
    packets), and the frames go on, on tempo. Failed sends are counted, and `warn(line)`
    hears of each burst once, when it starts and when it ends.

    >>> def unreachable(*message):
    ...     raise OSError(101, "Network is unreachable")
    >>> send = SendFailures(unreachable, "10.0.0.1:9000", print)
    >>> send("/a", ()); send("/b", ())
    cannot send to 10.0.0.1:9000: Network is unreachable; the stream runs on
    >>> send.failed
    2
    """

    def __init__(self, send: Callable[..., object], where: str,
                 warn: Callable[[str], object]) -> None:
        self._send = send
        self._where = where
        self._warn = warn
        self._burst = 0
        self.failed = 0

    def __call__(self, *message: Any) -> None:
        try:
            self._send(*message)
        except OSError as error:
            if not self._burst:
                self._warn(f"cannot send to {self._where}: {error.strerror or error}; "
                           f"the stream runs on")
            self._burst += 1
            self.failed += 1
        else:
            if self._burst:
                self._warn(f"sending to {self._where} again after {self._burst} failed sends")
                self._burst = 0


@dataclasses.dataclass
class FrameReport:
    """What a frame loop did: its start on the clock it ran by, the frames
    and the messages or packets sent, frames skipped after a stall, and how
    late frames left after their due time (seconds)."""

    start: float
    frames: int = 0
    sent: int = 0
    skipped: int = 0
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
               *, rate: float, frames: int | None = None, commands: Commands | None = None,
               report_line: Callable[[str], object] = lambda line: None,
               other_command: Callable[[str], object] | None = None,
               stop: Callable[[], bool] = lambda: False,
               relocated: Callable[[float, float], object] = lambda before, after: None,
               now: Callable[[], float] = time.perf_counter,
               sleep: Callable[[float], object] = time.sleep) -> FrameReport:
    """Calls `send_frame(frame, pip, bpm, due)` at `rate` frames per second
    until `frames` have gone (or for ever), a quit command arrives, `stop()`
    says so (it is asked at least every STOP_POLL_SECONDS) or Ctrl-C;
    `due` is the frame's due time on the `now` clock, and `send_frame`
    returns how many messages or packets it sent. When the clock jumps (an
    outside clock's relocation), `relocated(before, after)` hears the pips
    before the frame that carries the jump is sent.

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
            if commands is not None and not apply_commands(clock, commands, last_due, due,
                                                           report_line, other_command):
                break
            pip, bpm = clock.pip_at(due), clock.bpm
            if (relocation := clock.take_relocation()) is not None:
                relocated(*relocation)
            lateness = now() - due
            report.add_frame(send_frame(frame, pip, bpm, due), lateness)
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
        self.requested = False
        self._saved: dict[int, Any] = {}

    def __call__(self) -> bool:
        return self.requested

    def _request(self, signum: int, frame: object) -> None:
        self.requested = True

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


def positive(kind: Callable[[str], Number]) -> Callable[[str], Number]:
    """An argparse type: a finite number of `kind` above 0."""
    def parse(text: str) -> Number:
        value = kind(text)
        if not (math.isfinite(value) and value > 0):
            raise argparse.ArgumentTypeError("must be above 0")
        return value
    return parse


def add_clock_arguments(parser: argparse.ArgumentParser, default_rate: float) -> None:
    """The options of the clock and the frame loop: tempo, rate and length."""
    parser.add_argument("--bpm", type=positive(float), required=True,
                        help="starting tempo, 1 to 1000")
    parser.add_argument("--rate", type=positive(float), default=default_rate, metavar="HZ",
                        help=f"frames per second (default {default_rate:g})")
    stop = parser.add_mutually_exclusive_group()
    stop.add_argument("--frames", type=positive(int), help="stop after this many frames")
    stop.add_argument("--duration", type=positive(float), metavar="SECONDS",
                      help="stop after this long")
    parser.add_argument("--start-beat", type=float, default=0.0, help="beat of the first frame")
    parser.add_argument("--clock", default="internal", metavar="midi:PORT|osc:HOST:PORT|internal",
                        help="follow an outside clock's tempo and beat: MIDI clock from an "
                             "input port, or OSC /tempo BPM, /beat N and /tick on a UDP port; "
                             "lock changes go to standard error (default internal: --bpm, "
                             "then typed bpm and tap)")


def clock_from_arguments(args: argparse.Namespace) -> tuple[ClockFactory, int | None]:
    """The clock factory and the frame count (None: endless) the options ask
    for. An outside clock's input is opened here, so that one that cannot be
    opened fails before anything is sent."""
    check_rate(args.rate)
    frames = args.frames if args.duration is None else max(1, round(args.duration * args.rate))
    internal = tempo_clock(args.bpm, args.start_beat)
    from movimo_tools.follow import ExternalClock, open_clock  # it builds on this module
    source = open_clock(args.clock)
    if source is None:
        return internal, frames

    report_state = LineWriter(sys.stderr)  # a closed terminal does not stop the show
    start_pip = args.start_beat * movimo.PIPS_PER_BEAT
    return lambda start: ExternalClock(source, args.bpm, start, start_pip, report_state), frames

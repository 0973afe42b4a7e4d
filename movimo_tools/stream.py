"""Patterns streamed as OSC messages on a steady clock locked to a tempo.

Frame i is due `i / rate` seconds after the start, and its pip is read from
the tempo clock at that due time, never by adding up per-frame steps, so a
stream cannot drift from the tempo however long it runs. A tempo change
re-anchors the clock at the moment it arrives; the phase runs on from there
without a jump.

Each frame sends, in this order:

- `PREFIX/clock` with the frame number (int), the beat and the tempo in bpm;
- `PREFIX/NAME` with x, y and z for every pattern, or, spread over N
  targets, `PREFIX/NAME/I` for I = 0 .. N-1, target I lagging I/N of a loop.

Values are 32-bit OSC floats, which every receiver reads, or 64-bit doubles
when asked (those carry `movimo.sample`'s values bit for bit).
"""

from __future__ import annotations

import argparse
import dataclasses
import math
import queue
import re
import sys
import threading
import time

import numpy as np
from pythonosc.osc_message_builder import OscMessageBuilder
from pythonosc.udp_client import UDPClient

import movimo
from movimo_tools.catalogue import entry
from movimo_tools.spread import even_offsets, spread
from movimo_tools.timing import INTERPOLATIONS, Tempo

CONTROL_HELP = """\
While it runs, the stream reads commands from standard input, one a line:
  bpm B   change the tempo to B beats per minute; the phase runs on smoothly
  tap     tap along on the beat: two or more taps set the tempo, and the beat
          grid moves so that the last tap falls on a whole beat
          (a pause of more than 2 s starts a new series of taps)
  quit    stop the stream
"""

# Tempi a stream accepts, on its command line and while it runs.
MIN_BPM, MAX_BPM = 1.0, 1000.0
# Taps further apart than this start a new series (slower than 30 bpm).
TAP_RESET_SECONDS = 2.0
# Taps closer together than this are bounces, not beats (faster than 600 bpm).
TAP_MIN_SECONDS = 0.1
# The tempo of a series is the mean interval of its last taps.
TAP_WINDOW = 8
# A stream this far behind its clock skips the missed frames instead of
# sending them in a burst (after the machine stalled, say).
MAX_CATCH_UP_SECONDS = 0.5
# Most pattern messages a frame may carry: patterns times spread targets
# (sending 1024 takes about 8 ms, half a frame at 60 Hz).
MAX_MESSAGES_PER_FRAME = 1024
_ADDRESS_PREFIX = re.compile(r"(/[A-Za-z0-9_.\-]+)+")


def _stream_tempo(bpm: float) -> Tempo:
    """A tempo within the range a stream runs at: beyond it a typo such as
    'bpm 1e300' would drive the pips out of the finite numbers.

    >>> _stream_tempo(1e300)
    Traceback (most recent call last):
    ...
    ValueError: the tempo must be 1 to 1000 bpm
    """
    if not MIN_BPM <= bpm <= MAX_BPM:
        raise ValueError(f"the tempo must be {MIN_BPM:g} to {MAX_BPM:g} bpm")
    return Tempo(bpm)


class TempoClock:
    """Fractional pips as a function of time under a tempo that can change.

    The pip is anchored at the last change: pip(t) = anchor pip plus the
    time since the anchor over the pip length.

    >>> clock = TempoClock(120.0, start=10.0)
    >>> clock.pip_at(10.5)
    64.0
    >>> clock.set_bpm(10.5, 60.0)
    >>> clock.pip_at(11.5)
    128.0
    """

    def __init__(self, bpm: float, start: float, start_pip: float = 0.0) -> None:
        self._tempo = _stream_tempo(bpm)
        self._anchor_time = start
        self._anchor_pip = start_pip
        self._taps: list[float] = []

    @property
    def bpm(self) -> float:
        return self._tempo.bpm

    @property
    def taps(self) -> int:
        """How many taps the current series holds (at most TAP_WINDOW)."""
        return len(self._taps)

    def pip_at(self, seconds: float) -> float:
        return self._anchor_pip + (seconds - self._anchor_time) / self._tempo.pip_seconds

    def set_bpm(self, seconds: float, bpm: float) -> None:
        """Changes the tempo from time `seconds` on, keeping the phase there."""
        tempo = _stream_tempo(bpm)
        self._anchor_pip = self.pip_at(seconds)
        self._anchor_time = seconds
        self._tempo = tempo

    def tap(self, seconds: float) -> bool:
        """Records a tap on the beat; returns whether it set the tempo.

        >>> clock = TempoClock(120.0, start=0.0)
        >>> [clock.tap(t) for t in (1.0, 1.5, 2.0)], clock.bpm, clock.pip_at(2.0)
        ([False, True, True], 120.0, 256.0)
        """
        if self._taps and not TAP_MIN_SECONDS <= seconds - self._taps[-1] <= TAP_RESET_SECONDS:
            self._taps.clear()
        self._taps = self._taps[-(TAP_WINDOW - 1):] + [seconds]
        if len(self._taps) < 2:
            return False
        interval = (self._taps[-1] - self._taps[0]) / (len(self._taps) - 1)
        self.set_bpm(seconds, 60.0 / interval)
        self._anchor_pip = round(self._anchor_pip / movimo.PIPS_PER_BEAT) * movimo.PIPS_PER_BEAT
        return True


@dataclasses.dataclass(frozen=True)
class Target:
    """One streamed pattern: its loop length, the lag of each of its
    targets, and the OSC address of each."""

    name: str
    period_pips: int
    offsets: np.ndarray
    addresses: tuple[str, ...]


def check_prefix(prefix: str) -> str:
    """An OSC address prefix: one or more /parts of letters, digits, _ . -

    >>> check_prefix("/rig/moving heads")
    Traceback (most recent call last):
    ...
    ValueError: the OSC prefix must be /parts of letters, digits, '_', '.' or '-'
    """
    if not _ADDRESS_PREFIX.fullmatch(prefix):
        raise ValueError("the OSC prefix must be /parts of letters, digits, '_', '.' or '-'")
    return prefix


def make_targets(names, spread_count: int = 1, prefix: str = "/movimo") -> list[Target]:
    """The streamed patterns; with a spread above 1, each gets numbered addresses.

    >>> [t.addresses for t in make_targets(["bounce", "sway"], 2, "/rig")]
    [('/rig/bounce/0', '/rig/bounce/1'), ('/rig/sway/0', '/rig/sway/1')]
    """
    check_prefix(prefix)
    if not 1 <= len(names) * spread_count <= MAX_MESSAGES_PER_FRAME:
        raise ValueError(f"patterns times spread targets must be 1 to {MAX_MESSAGES_PER_FRAME}")
    targets = []
    for name in names:
        period = entry(name).period_pips
        addresses: tuple[str, ...]
        if spread_count == 1:
            addresses = (f"{prefix}/{name}",)
        else:
            addresses = tuple(f"{prefix}/{name}/{i}" for i in range(spread_count))
        targets.append(Target(name, period, even_offsets(spread_count, period), addresses))
    return targets


def frame_messages(targets: list[Target], frame: int, pip: float, bpm: float,
                   prefix: str = "/movimo", interpolation: str = "step") -> list[tuple]:
    """The (address, arguments) of every message of one frame.

    >>> frame_messages(make_targets(["bounce"]), 3, 32.5, 120.0)
    [('/movimo/clock', (3, 0.5078125, 120.0)), ('/movimo/bounce', (1.0, 0.0, 0.0))]
    """
    # The frame number wraps within OSC's 32-bit integers (24 days at 1000 Hz).
    messages = [(f"{prefix}/clock", (frame % 2**31, pip / movimo.PIPS_PER_BEAT, bpm))]
    for target in targets:
        # Reduced to one loop first, so a pip beyond the 32-bit range (a long
        # run at a fast tempo) still evaluates; the floor modulo is exact.
        values = spread(target.name, pip % target.period_pips, target.offsets, interpolation)
        messages += [(address, tuple(row)) for address, row in
                     zip(target.addresses, values.tolist(), strict=True)]
    return messages


class OscSender:
    """Sends OSC messages over UDP, floats as 32-bit or 64-bit values."""

    def __init__(self, host: str, port: int, double: bool = False) -> None:
        self._client = UDPClient(host, port)
        self._float_type = (OscMessageBuilder.ARG_TYPE_DOUBLE if double
                            else OscMessageBuilder.ARG_TYPE_FLOAT)

    def send(self, address: str, arguments) -> None:
        builder = OscMessageBuilder(address)
        for value in arguments:
            builder.add_arg(value, OscMessageBuilder.ARG_TYPE_INT if isinstance(value, int)
                            else self._float_type)
        self._client.send(builder.build())


def parse_endpoint(text: str) -> tuple[str, int]:
    """HOST:PORT, with an IPv6 host in brackets.

    >>> parse_endpoint("127.0.0.1:9000"), parse_endpoint("[::1]:57120")
    (('127.0.0.1', 9000), ('::1', 57120))
    >>> parse_endpoint("localhost")
    Traceback (most recent call last):
    ...
    ValueError: the OSC destination must be HOST:PORT with a port of 1 to 65535
    """
    host, _, port = text.rpartition(":")
    host = host[1:-1] if host.startswith("[") and host.endswith("]") else host
    if not host or not port.isdigit() or not 1 <= int(port) <= 65535:
        raise ValueError("the OSC destination must be HOST:PORT with a port of 1 to 65535")
    return host, int(port)


@dataclasses.dataclass
class StreamReport:
    """What a stream did: its start on the clock it ran by, the frames and
    messages sent, frames skipped after a stall, and how late frames left
    after their due time (seconds)."""

    start: float
    frames: int = 0
    messages: int = 0
    skipped: int = 0
    total_lateness: float = 0.0
    max_lateness: float = 0.0

    def add_frame(self, messages: int, lateness: float) -> None:
        self.frames += 1
        self.messages += messages
        self.total_lateness += lateness
        self.max_lateness = max(self.max_lateness, lateness)

    @property
    def mean_lateness(self) -> float:
        return self.total_lateness / self.frames if self.frames else 0.0


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


def read_commands(lines, commands: queue.Queue, now=time.perf_counter) -> None:
    """Puts each line on `commands` with the time it arrived (for a tap, the
    time is what counts); meant to run in a thread over standard input."""
    for line in lines:
        commands.put((now(), line))


def _apply_commands(clock: TempoClock, commands: queue.Queue, not_before: float,
                    report_line) -> bool:
    """Applies the waiting commands to the clock; returns False after quit.

    A command takes effect when it arrived, but never before the last frame
    sent, so the pips of successive frames never run backwards from it.
    """
    while True:
        try:
            arrived, line = commands.get_nowait()
        except queue.Empty:
            return True
        at = max(arrived, not_before)
        try:
            verb, value = parse_command(line)
            if verb == "quit":
                return False
            if verb == "bpm" and value is not None:
                clock.set_bpm(at, value)
                report_line(f"tempo {clock.bpm:g} bpm")
            elif clock.tap(at):
                report_line(f"tap {clock.taps}: tempo {clock.bpm:.2f} bpm")
            else:
                report_line("tap 1: tap again on each beat to set the tempo")
        except ValueError as error:
            report_line(str(error))


def run_stream(targets: list[Target], bpm: float, send, *, rate: float = 60.0,
               frames: int | None = None, start_beat: float = 0.0, prefix: str = "/movimo",
               interpolation: str = "step", commands: queue.Queue | None = None,
               report_line=lambda line: None, now=time.perf_counter,
               sleep=time.sleep) -> StreamReport:
    """Sends frames at `rate` per second until `frames` have been sent (or
    for ever), or a quit command arrives; `send(address, arguments)` sends
    one message. Returns what happened.
    """
    check_rate(rate)
    if frames is not None and frames < 1:
        raise ValueError("the frame count must be at least 1")
    if interpolation not in INTERPOLATIONS:
        raise ValueError(f"interpolation must be one of {', '.join(INTERPOLATIONS)}")
    if not math.isfinite(start_beat):
        raise ValueError("the start beat must be finite")
    start = now()
    clock = TempoClock(bpm, start, start_beat * movimo.PIPS_PER_BEAT)
    report = StreamReport(start)
    frame = 0
    try:
        while frames is None or frame < frames:
            due = start + frame / rate
            sleep(max(0.0, due - now()))
            if commands is not None and not _apply_commands(clock, commands, due, report_line):
                break
            messages = frame_messages(targets, frame, clock.pip_at(due), clock.bpm, prefix,
                                      interpolation)
            lateness = now() - due
            for address, arguments in messages:
                send(address, arguments)
            report.add_frame(len(messages), lateness)
            frame += 1
            behind = math.floor((now() - start) * rate) - frame
            if behind > MAX_CATCH_UP_SECONDS * rate:
                report.skipped += behind
                frame += behind
    except KeyboardInterrupt:
        pass  # Ctrl-C is the ordinary way to stop an endless stream.
    return report


def check_rate(rate: float) -> None:
    """Refuses a frame rate outside 1 to 1000 frames per second."""
    if not (math.isfinite(rate) and 1.0 <= rate <= 1000.0):
        raise ValueError("the frame rate must be 1 to 1000 per second")


def _positive(kind):
    def parse(text: str):
        value = kind(text)
        if not (math.isfinite(value) and value > 0):
            raise argparse.ArgumentTypeError("must be above 0")
        return value
    return parse


def add_command(commands) -> None:
    """Registers `movimo stream` with the command's subparsers."""
    parser = commands.add_parser(
        "stream", help="send patterns as OSC messages in time with a tempo",
        description="Send patterns as OSC messages over UDP, frame by frame, locked to a\n"
                    "tempo. Each frame sends PREFIX/clock (frame, beat, bpm), then\n"
                    "PREFIX/NAME (x, y, z) for each pattern, or PREFIX/NAME/I for each\n"
                    "spread target I.",
        epilog=CONTROL_HELP + "\nexample: movimo stream helix lfo_flower --bpm 128 "
                              "--osc 127.0.0.1:9000 --spread 8 --rate 60",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="+", metavar="NAME", help="patterns to stream")
    parser.add_argument("--bpm", type=_positive(float), required=True, help="starting tempo, 1 to 1000")
    parser.add_argument("--osc", required=True, metavar="HOST:PORT", help="where to send")
    parser.add_argument("--spread", type=_positive(int), default=1, metavar="N",
                        help="targets per pattern, lagging evenly over its loop (default 1)")
    parser.add_argument("--rate", type=_positive(float), default=60.0, metavar="HZ",
                        help="frames per second (default 60)")
    stop = parser.add_mutually_exclusive_group()
    stop.add_argument("--frames", type=_positive(int), help="stop after this many frames")
    stop.add_argument("--duration", type=_positive(float), metavar="SECONDS",
                      help="stop after this long")
    parser.add_argument("--start-beat", type=float, default=0.0, help="beat of the first frame")
    parser.add_argument("--interpolation", choices=INTERPOLATIONS, default="step",
                        help="between pips (default step: exactly movimo.sample's values)")
    parser.add_argument("--double", action="store_true",
                        help="send 64-bit doubles instead of 32-bit floats")
    parser.add_argument("--prefix", default="/movimo", help="OSC address prefix")
    parser.set_defaults(run=_run)


def _run(args, out) -> None:
    host, port = parse_endpoint(args.osc)
    check_rate(args.rate)
    _stream_tempo(args.bpm)
    targets = make_targets(args.names, args.spread, args.prefix)
    frames = args.frames if args.duration is None else max(1, round(args.duration * args.rate))
    commands: queue.Queue = queue.Queue()
    if sys.stdin is not None:  # None when the stream was started with stdin closed
        threading.Thread(target=read_commands, args=(sys.stdin, commands), daemon=True).start()

    def say(line: str) -> None:
        out.write(line + "\n")
        out.flush()

    say(f"streaming {', '.join(args.names)} to {host}:{port} at {args.rate:g} frames/s, "
        f"{args.bpm:g} bpm; type 'bpm B', 'tap' or 'quit' and Enter")
    try:
        sender = OscSender(host, port, args.double)
        report = run_stream(targets, args.bpm, sender.send, rate=args.rate, frames=frames,
                            start_beat=args.start_beat, prefix=args.prefix,
                            interpolation=args.interpolation, commands=commands,
                            report_line=say)
    except OSError as error:
        raise ValueError(f"cannot send to {args.osc}: {error.strerror or error}") from None
    say(f"sent {report.frames} frames, {report.messages} messages; "
        f"{report.skipped} frames skipped; late by {report.mean_lateness * 1e3:.3f} ms "
        f"on average, {report.max_lateness * 1e3:.3f} ms at most")

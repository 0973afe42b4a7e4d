"""`movimo stream`: patterns streamed as OSC messages (see
`movimo_tools.outputs.osc`) on the tempo clock or an outside one, frames
locked to the tempo however long the stream runs.
"""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import sys
import time
from collections.abc import Callable, Iterable, Iterator
from typing import Any, TextIO

from movimo_tools.clocks.tempo import ClockFactory, tempo_clock
from movimo_tools.commands.options import (add_clock_arguments, clock_from_arguments, positive,
                                          settle_tempo)
from movimo_tools.endpoints import parse_endpoint
from movimo_tools.commands.showrun import (CONTROL_HELP, add_show_arguments, open_surfaces,
                                           run_show)
from movimo_tools.outputs.osc import OscOutput, OscSender, Target, make_targets
from movimo_tools.outputs.sending import SendFailures
from movimo_tools.show.engine import Show
from movimo_tools.show.loop import FrameReport, run_frames
from movimo_tools.show.stages import OscStage
from movimo_tools.surfaces.console import LineWriter
from movimo_tools.timing import INTERPOLATIONS


def run_stream(targets: list[Target], bpm: float,
               send_frame: Callable[[list[tuple[str, tuple[Any, ...]]], float], object], *,
               rate: float = 60.0,
               frames: int | None = None, start_beat: float = 0.0, prefix: str = "/movimo",
               interpolation: str = "step", commands: Iterable[tuple[float, str]] = (),
               report_line: Callable[[str], object] = lambda line: None,
               now: Callable[[], float] = time.perf_counter,
               sleep: Callable[[float], object] = time.sleep,
               make_clock: ClockFactory | None = None,
               stop: Callable[[], bool] = lambda: False) -> FrameReport:
    """Sends frames at `rate` per second until `frames` have been sent (or
    for ever), a quit command arrives or `stop()` says so; `send_frame(messages, due)` sends
    the (address, arguments) messages of a frame due at time `due`. The
    clock is a tempo clock at `bpm` from `start_beat` unless `make_clock`
    gives another. `commands` are typed command lines, each with the time
    it arrived. Returns what happened.
    """
    show, stage = stream_show(targets, [OscOutput(send_frame)], prefix=prefix,
                              interpolation=interpolation, report_line=report_line, now=now)
    for arrived, line in commands:
        show.submit_line(line, arrived)
    return run_frames(show.send_frame, make_clock or tempo_clock(bpm, start_beat), rate=rate,
                      frames=frames, before_frame=show.before_frame, stop=stop,
                      relocated=stage.relocated, now=now, sleep=sleep)


def stream_show(targets: list[Target], outputs: list[OscOutput], *, prefix: str,
                interpolation: str, show_file: str | None = None,
                report_line: Callable[[str], object] = lambda line: None,
                now: Callable[[], float] = time.perf_counter) -> tuple[Show, OscStage]:
    """A show whose groups are the streamed patterns, each one's targets its members."""
    if interpolation not in INTERPOLATIONS:
        raise ValueError(f"interpolation must be one of {', '.join(INTERPOLATIONS)}")
    stage = OscStage(targets, prefix)
    show = Show(stage, outputs, setlist=[target.name for target in targets],
                on_setlist=stage.on_setlist, show_file=show_file, interpolation=interpolation,
                report_line=report_line, now=now)
    return show, stage


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers `movimo stream` with the command's subparsers."""
    parser = commands.add_parser(
        "stream", help="send patterns as OSC messages in time with a tempo",
        description="Send patterns as OSC messages over UDP, frame by frame, locked to a\n"
                    "tempo. Each frame sends PREFIX/clock (frame, beat, bpm), then\n"
                    "PREFIX/NAME (x, y, z) for each pattern, or PREFIX/NAME/I for each\n"
                    "spread target I, in one OSC bundle timetagged with the frame's due\n"
                    "time (split only where a frame outgrows one UDP datagram).",
        epilog=CONTROL_HELP + "\nexample: movimo stream helix lfo_flower --bpm 128 "
                              "--osc 127.0.0.1:9000 --spread 8 --rate 60",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="+", metavar="NAME", help="patterns to stream")
    add_osc_arguments(parser, required=True)
    add_clock_arguments(parser, default_rate=60.0)
    add_show_arguments(parser)
    parser.set_defaults(run=_run)


def add_osc_arguments(parser: argparse.ArgumentParser, required: bool) -> None:
    """Where OSC goes, and how."""
    parser.add_argument("--osc", required=required, metavar="HOST:PORT", help="where to send")
    parser.add_argument("--spread", type=positive(int), default=1, metavar="N",
                        help="targets per pattern, lagging evenly over its loop (default 1)")
    parser.add_argument("--interpolation", choices=INTERPOLATIONS, default="step",
                        help="between pips (default step: exactly movimo.sample's values)")
    parser.add_argument("--double", action="store_true",
                        help="send 64-bit doubles instead of 32-bit floats")
    parser.add_argument("--prefix", default="/movimo", help="OSC address prefix")
    parser.add_argument("--messages", action="store_true",
                        help="send each message as its own datagram, not in bundles, for "
                             "receivers that do not read bundles")


def open_sender(args: argparse.Namespace) -> OscSender:
    """The sender to --osc, looked up once; a host that cannot be had is one line."""
    host, port = parse_endpoint(args.osc)
    try:
        return OscSender(host, port, args.double, bundles=not args.messages)
    except OSError as error:
        raise ValueError(f"cannot send to {args.osc}: {error.strerror or error}") from None


def _run(args: argparse.Namespace, out: TextIO) -> None:
    settle_tempo(args)
    # Neither a closed terminal nor a reader gone from a pipe stops the show.
    say, warn = LineWriter(out), LineWriter(sys.stderr)
    with osc_show(args, say, warn) as run:
        report = run_show(run.show, run.make_clock, rate=args.rate, frames=run.frames,
                          warn=warn, lead=args.latency / 1000, relocated=run.stage.relocated,
                          surfaces=open_surfaces(args, run.show))
    say(run.summary(report))


@dataclasses.dataclass
class StreamRun:
    """A stream's show ready to run: the show and its stage, its clock and
    frame count, and its send, riding out failures."""

    show: Show
    stage: OscStage
    make_clock: ClockFactory
    frames: int | None
    failures: SendFailures

    def summary(self, report: FrameReport) -> str:
        return (f"sent {report.frames} frames, {report.sent} messages ({self.failures.failed} "
                f"sends failed); {report.skipped} frames skipped; late by "
                f"{report.mean_lateness * 1e3:.3f} ms on average, "
                f"{report.max_lateness * 1e3:.3f} ms at most")


@contextlib.contextmanager
def osc_show(args: argparse.Namespace, say: Callable[[str], object],
             warn: Callable[[str], object]) -> Iterator[StreamRun]:
    """The show of streamed patterns as the options ask: its sender open
    (and closed after), its clock ready, what it streams said."""
    targets = make_targets(args.names, args.spread, args.prefix)
    sender = open_sender(args)
    try:
        make_clock, frames = clock_from_arguments(args)
        send = SendFailures(sender.send_frame, args.osc, warn)
        show, stage = stream_show(targets, [OscOutput(send)], prefix=args.prefix,
                                  interpolation=args.interpolation, show_file=args.show,
                                  report_line=say)
        say(f"streaming {', '.join(args.names)} to {args.osc} at {args.rate:g} frames/s, "
            f"{args.bpm:g} bpm; type 'bpm B', 'tap', 'quit' or another command and Enter")
        yield StreamRun(show, stage, make_clock, frames, send)
    finally:
        sender.close()

"""`movimo stream`: patterns streamed as OSC messages (see
`movimo_tools.outputs.osc`) on the tempo clock or an outside one, frames
locked to the tempo however long the stream runs.
"""

from __future__ import annotations

import argparse
import sys
import time
from collections.abc import Callable
from typing import Any, TextIO

import movimo
from movimo_tools.clocks.tempo import ClockFactory, tempo_clock
from movimo_tools.commands.options import add_clock_arguments, clock_from_arguments, positive
from movimo_tools.endpoints import parse_endpoint
from movimo_tools.outputs.osc import OscSender, Target, frame_messages, make_targets
from movimo_tools.outputs.sending import SendFailures
from movimo_tools.show.loop import CONTROL_HELP, Commands, FrameReport, StopRequests, run_frames
from movimo_tools.surfaces.console import LineWriter, stdin_commands
from movimo_tools.timing import INTERPOLATIONS


def run_stream(targets: list[Target], bpm: float,
               send_frame: Callable[[list[tuple[str, tuple[Any, ...]]], float], object], *,
               rate: float = 60.0,
               frames: int | None = None, start_beat: float = 0.0, prefix: str = "/movimo",
               interpolation: str = "step", commands: Commands | None = None,
               report_line: Callable[[str], object] = lambda line: None,
               now: Callable[[], float] = time.perf_counter,
               sleep: Callable[[float], object] = time.sleep,
               make_clock: ClockFactory | None = None,
               stop: Callable[[], bool] = lambda: False) -> FrameReport:
    """Sends frames at `rate` per second until `frames` have been sent (or
    for ever), a quit command arrives or `stop()` says so; `send_frame(messages, due)` sends
    the (address, arguments) messages of a frame due at time `due`. The
    clock is a tempo clock at `bpm` from `start_beat` unless `make_clock`
    gives another. Returns what happened.
    """
    if interpolation not in INTERPOLATIONS:
        raise ValueError(f"interpolation must be one of {', '.join(INTERPOLATIONS)}")

    relocations: list[tuple[str, tuple[Any, ...]]] = []

    def relocated(before: float, after: float) -> None:
        beats = (before / movimo.PIPS_PER_BEAT, after / movimo.PIPS_PER_BEAT)
        relocations.append((f"{prefix}/relocate", beats))

    def send_messages(frame: int, pip: float, bpm: float, due: float) -> int:
        messages = frame_messages(targets, frame, pip, bpm, prefix, interpolation)
        messages[1:1] = relocations
        relocations.clear()
        send_frame(messages, due)
        return len(messages)

    return run_frames(send_messages, make_clock or tempo_clock(bpm, start_beat), rate=rate,
                      frames=frames, commands=commands, report_line=report_line, stop=stop,
                      relocated=relocated, now=now, sleep=sleep)


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
    parser.add_argument("--osc", required=True, metavar="HOST:PORT", help="where to send")
    parser.add_argument("--spread", type=positive(int), default=1, metavar="N",
                        help="targets per pattern, lagging evenly over its loop (default 1)")
    add_clock_arguments(parser, default_rate=60.0)
    parser.add_argument("--interpolation", choices=INTERPOLATIONS, default="step",
                        help="between pips (default step: exactly movimo.sample's values)")
    parser.add_argument("--double", action="store_true",
                        help="send 64-bit doubles instead of 32-bit floats")
    parser.add_argument("--prefix", default="/movimo", help="OSC address prefix")
    parser.add_argument("--messages", action="store_true",
                        help="send each message as its own datagram, not in bundles, for "
                             "receivers that do not read bundles")
    parser.set_defaults(run=_run)


def _run(args: argparse.Namespace, out: TextIO) -> None:
    host, port = parse_endpoint(args.osc)
    make_clock, frames = clock_from_arguments(args)
    targets = make_targets(args.names, args.spread, args.prefix)
    # Neither a closed terminal nor a reader gone from a pipe stops the show.
    say, warn = LineWriter(out), LineWriter(sys.stderr)
    try:
        sender = OscSender(host, port, args.double, bundles=not args.messages)
    except OSError as error:
        raise ValueError(f"cannot send to {args.osc}: {error.strerror or error}") from None
    send = SendFailures(sender.send_frame, args.osc, warn)
    commands = stdin_commands(note=warn)
    say(f"streaming {', '.join(args.names)} to {host}:{port} at {args.rate:g} frames/s, "
        f"{args.bpm:g} bpm; type 'bpm B', 'tap' or 'quit' and Enter")
    with StopRequests() as stop_requested:
        try:
            report = run_stream(targets, args.bpm, send, rate=args.rate, frames=frames,
                                prefix=args.prefix, interpolation=args.interpolation,
                                commands=commands, report_line=say, make_clock=make_clock,
                                stop=stop_requested)
        finally:
            sender.close()
    say(f"sent {report.frames} frames, {report.sent} messages ({send.failed} sends failed); "
        f"{report.skipped} frames skipped; late by {report.mean_lateness * 1e3:.3f} ms "
        f"on average, {report.max_lateness * 1e3:.3f} ms at most")

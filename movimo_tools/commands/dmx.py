"""`movimo dmx`: the moving heads of a patch file driven over Art-Net or
sACN in time with a tempo; every ending parks them at home.
"""

from __future__ import annotations

import argparse
import math
import sys
from collections.abc import Callable
from typing import TextIO

import movimo
from movimo_tools.clocks.tempo import ClockFactory
from movimo_tools.commands.options import add_clock_arguments, clock_from_arguments
from movimo_tools.endpoints import parse_destination
from movimo_tools.outputs.dmx import ARTNET_PORT, PORTS, SACN_PORT, DmxSender
from movimo_tools.outputs.sending import SendFailures
from movimo_tools.rig import Player, fixture_lines, load_patch, speed_checks
from movimo_tools.show.loop import CONTROL_HELP, StopRequests, run_frames
from movimo_tools.surfaces.console import LineWriter, stdin_commands

RIG_CONTROL_HELP = CONTROL_HELP + "  next    switch to the next PATTERN of the command line\n"
DRY_RUN_FRAMES = 4


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers `movimo dmx` with the command's subparsers."""
    parser = commands.add_parser(
        "dmx", help="drive moving heads over Art-Net or sACN from a patch file",
        description="Drive the fixtures of a patch file (TOML) with patterns in time with a\n"
                    "tempo, sending every universe as ArtDmx or E1.31 packets to one\n"
                    "address. Before it starts it says which patterns would move which\n"
                    "fixtures faster than their patch allows; while it runs no fixture\n"
                    "moves faster. On quit, Ctrl-C or SIGTERM it parks every fixture at\n"
                    "home. Groups of the patch without a pattern of their own play the\n"
                    "first PATTERN, and 'next' moves on to the following one.",
        epilog=RIG_CONTROL_HELP + "\nexample: movimo dmx helix --patch rig.toml --bpm 128 "
                                  "--artnet 10.0.0.20",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="+", metavar="PATTERN", help="patterns to play in turn")
    parser.add_argument("--patch", required=True, metavar="FILE", help="the rig's patch file")
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--artnet", metavar="HOST[:PORT]",
                       help=f"send ArtDmx to this node (port {ARTNET_PORT} by default)")
    where.add_argument("--sacn", metavar="HOST[:PORT]",
                       help=f"send E1.31 unicast to this receiver (port {SACN_PORT} by default)")
    where.add_argument("--dry-run", action="store_true",
                       help=f"send nothing: print the speed report and the first frames "
                            f"({DRY_RUN_FRAMES} unless --frames says)")
    add_clock_arguments(parser, default_rate=44.0)
    parser.add_argument("--priority", type=int, default=100, help="sACN priority, 0 to 200")
    parser.add_argument("--source-name", default="movimo", help="sACN source name")
    parser.set_defaults(run=_run)


def _run(args: argparse.Namespace, out: TextIO) -> None:
    loaded = load_patch(args.patch)
    player = Player(loaded, args.names, args.rate)
    # A dry run's output is the point of it: failing to write that is an
    # error. A running show goes on without its terminal or its reader.
    say = (lambda line: out.write(line + "\n")) if args.dry_run else LineWriter(out)
    for check in speed_checks(loaded, player.patterns, args.bpm):
        say(check.line(loaded.names))
    make_clock, frames = clock_from_arguments(args)
    if args.dry_run:
        _dry_run(player, make_clock, frames or DRY_RUN_FRAMES, args.rate, say)
        return
    protocol = "artnet" if args.artnet else "sacn"
    host, port = parse_destination(args.artnet or args.sacn, PORTS[protocol])
    where = f"{host}:{port}"
    try:
        sender = DmxSender(protocol, host, port, loaded.universes, source_name=args.source_name,
                           priority=args.priority)
    except OSError as error:
        raise ValueError(f"cannot send to {where}: {error.strerror or error}") from None
    warn = LineWriter(sys.stderr)
    send_packet = SendFailures(sender.send_packet, where, warn)
    commands = stdin_commands(note=warn)
    first_hold: list[int] = []

    def send_frame(frame: int, pip: float, bpm: float, due: float) -> int:
        slots, held = player.frame(pip)
        if held and not first_hold:
            first_hold.append(frame)
            say(f"speed limit: {held} fixtures held to their patch speed at frame {frame}"
                f" (said once)")
        return sender.send(slots, send_packet)

    def next_pattern(line: str) -> bool:
        if line.strip().lower() != "next":
            return False
        say(f"playing {player.next_pattern()}")
        return True

    say(f"driving {len(loaded)} fixtures in {len(loaded.universes)} universes with "
        f"{', '.join(player.patterns)} over {protocol} to {where} at {args.rate:g} "
        f"frames/s, {args.bpm:g} bpm; type 'bpm B', 'tap', 'next' or 'quit' and Enter")
    with StopRequests() as stop_requested:
        try:
            report = run_frames(send_frame, make_clock, rate=args.rate, frames=frames,
                                commands=commands, report_line=say, other_command=next_pattern,
                                stop=stop_requested)
        finally:
            # Every ending passes here, an error in a frame or the clock too.
            sender.send(loaded.home_frame(), send_packet)
            sender.close()
        say(f"sent {report.frames} frames, {report.sent} packets ({send_packet.failed} "
            f"failed); {report.skipped} frames skipped; {player.limited_frames} frames held "
            f"a fixture to its speed; parked at home")


def _dry_run(player: Player, make_clock: ClockFactory, frames: int, rate: float,
             say: Callable[[str], object]) -> None:
    clock = make_clock(0.0)
    for frame in range(frames):
        pip = clock.pip_at(frame / rate)
        slots, held = player.frame(pip)
        said_held = f"; {held} fixtures held to their patch speed" if held else ""
        say(f"frame {frame}: beat {pip / movimo.PIPS_PER_BEAT:.3f}, pip {math.floor(pip)}"
            f"{said_held}")
        for line in fixture_lines(player.rig, player.degrees, slots):
            say(line)
    say("dry run: nothing sent")

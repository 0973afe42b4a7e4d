"""`movimo dmx`: the moving heads of a patch file driven over Art-Net or
sACN in time with a tempo, to every node the patch's [[outputs]] name (or
the one place --artnet or --sacn names); every ending parks them at home.
"""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import math
import sys
from collections.abc import Callable, Iterator, Sequence
from typing import TextIO

import numpy as np

import movimo
from movimo_tools.clocks.tempo import ClockFactory
from movimo_tools.commands.options import (add_clock_arguments, clock_from_arguments,
                                          settle_tempo)
from movimo_tools.endpoints import check_interface, parse_destination
from movimo_tools.commands.showrun import (CONTROL_HELP, add_show_arguments, open_surfaces,
                                           run_show)
from movimo_tools.catalogue import entry
from movimo_tools.outputs.dmx import ARTNET_PORT, PORTS, SACN_PORT
from movimo_tools.outputs.rig_outputs import RigOutputs, settings_lines
from movimo_tools.rig import PatchOutput, Rig, fixture_lines, load_patch, speed_checks
from movimo_tools.show.loop import FrameReport
from movimo_tools.show.stages import RigPlayer
from movimo_tools.surfaces.console import LineWriter
# A dry run says one frame a beat over one loop, at most this many, after
# letting the heads reach the pattern for at most this long.
MAX_DRY_RUN_BEATS = 16
DRY_RUN_WARM_UP_SECONDS = 30.0


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers `movimo dmx` with the command's subparsers."""
    parser = commands.add_parser(
        "dmx", help="drive moving heads over Art-Net or sACN from a patch file",
        description="Drive the fixtures of a patch file (TOML) with patterns in time with a\n"
                    "tempo, sending every universe as ArtDmx or E1.31 packets where the\n"
                    "patch's [[outputs]] say, or to the one place --artnet or --sacn\n"
                    "says. Before it starts it says which patterns would move which\n"
                    "fixtures faster than their patch allows; while it runs no fixture\n"
                    "moves faster. On quit, Ctrl-C or SIGTERM it parks every fixture at\n"
                    "home. Groups of the patch without a pattern of their own play the\n"
                    "first PATTERN, and 'next' moves on to the following one.",
        epilog=CONTROL_HELP + "\nexample: movimo dmx helix --patch rig.toml --bpm 128 "
                                  "--artnet 10.0.0.20",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="+", metavar="PATTERN", help="patterns to play in turn")
    parser.add_argument("--patch", required=True, metavar="FILE",
                        help="the rig's patch file (TOML), or an MVR file (.mvr)")
    add_dmx_arguments(parser.add_mutually_exclusive_group(), parser)
    add_clock_arguments(parser, default_rate=44.0)
    add_show_arguments(parser)
    parser.set_defaults(run=_run)


def add_dmx_arguments(where: argparse._MutuallyExclusiveGroup,
                      parser: argparse.ArgumentParser) -> None:
    """Where DMX goes (at most one of `where`), and the options of the outputs."""
    where.add_argument("--artnet", metavar="HOST[:PORT]",
                       help=f"send every universe as ArtDmx to this node or broadcast address "
                            f"(port {ARTNET_PORT} by default), instead of the patch's [[outputs]]")
    where.add_argument("--sacn", nargs="?", const="", metavar="HOST[:PORT]",
                       help=f"send every universe as E1.31 to this receiver (port {SACN_PORT} by "
                            f"default), or without one by multicast, instead of the patch's "
                            f"[[outputs]]")
    parser.add_argument("--dry-run", action="store_true",
                        help="send nothing: print the outputs, the speed report, how the "
                             "universes go out, and one frame a beat over one loop of the "
                             "pattern once the heads follow it (--frames N: N beats)")
    parser.add_argument("--sync", action="store_true",
                        help="follow every frame with ArtSync, or an E1.31 sync packet, on "
                             "every output")
    parser.add_argument("--interface", metavar="ADDR",
                        help="this machine's IPv4 address to send --artnet or --sacn from")
    parser.add_argument("--priority", type=int, default=100,
                        help="sACN priority of --sacn, 0 to 200")
    parser.add_argument("--source-name", default="movimo",
                        help="the name receivers and pollers see")


def chosen_outputs(args: argparse.Namespace, loaded: Rig,
                   say: Callable[[str], object]) -> tuple[PatchOutput, ...]:
    """Where the universes go: all to the one place --artnet or --sacn
    names, which wins over the patch's [[outputs]] (said in one line), else
    where those say; --sync turns sync on for every output."""
    protocol = "artnet" if args.artnet is not None else "sacn" if args.sacn is not None else None
    if protocol is None:
        outputs = loaded.outputs
    else:
        text = args.artnet if protocol == "artnet" else args.sacn
        host, port = parse_destination(text, PORTS[protocol]) if text else (None, PORTS[protocol])
        interface = None if args.interface is None else check_interface(args.interface)
        outputs = (PatchOutput(protocol, tuple(loaded.universes.tolist()), host, port,
                               args.priority, interface),)
        if loaded.outputs:
            say(f"--{protocol} replaces the {len(loaded.outputs)} [[outputs]] of "
                f"{loaded.source}: every universe goes to one place")
    if args.sync:
        outputs = tuple(dataclasses.replace(output, sync=True) for output in outputs)
    return outputs


def output_leads(rig: Rig, outputs: Sequence[PatchOutput]) -> np.ndarray | None:
    """Seconds each fixture is played ahead: its output's latency (None: none is)."""
    leads = np.zeros(len(rig))
    for output in outputs:
        leads[np.isin(rig.universe, output.universes)] = output.latency / 1000
    return leads if leads.any() else None


def say_speed_limits(player: RigPlayer, say: Callable[[str], object]) -> None:
    """Says, once, when the speed limit first holds fixtures back."""
    frame = 0

    def listen(state: object, view: object) -> None:
        nonlocal frame
        if frame >= 0 and player.stage.held:
            say(f"speed limit: {player.stage.held} fixtures held to their patch speed at "
                f"frame {frame} (said once)")
            frame = -1  # said
        elif frame >= 0:
            frame += 1

    player.show.add_listener(listen)


def _run(args: argparse.Namespace, out: TextIO) -> None:
    settle_tempo(args)
    loaded = load_patch(args.patch)
    if args.dry_run:
        dry_run(args, loaded, out)
        return
    # A running show goes on without its terminal or its reader.
    say, warn = LineWriter(out), LineWriter(sys.stderr)
    with rig_show(args, loaded, say, warn) as run:
        report = run_show(run.player.show, run.make_clock, rate=args.rate, frames=run.frames,
                          warn=warn, lead=args.latency / 1000,
                          surfaces=open_surfaces(args, run.player.show))
    say(run.summary(report))


@dataclasses.dataclass
class RigRun:
    """A patch's show ready to run: its player, clock and frame count, and
    the outputs it sends to, riding out failures."""

    player: RigPlayer
    make_clock: ClockFactory
    frames: int | None
    outputs: RigOutputs

    def summary(self, report: FrameReport) -> str:
        return (f"sent {report.frames} frames, {report.sent} packets ({self.outputs.failed} "
                f"failed); {report.skipped} frames skipped; {self.player.limited_frames} frames "
                f"held a fixture to its speed; {self.outputs.parking(report.parked)}")


@contextlib.contextmanager
def rig_show(args: argparse.Namespace, loaded: Rig, say: Callable[[str], object],
             warn: Callable[[str], object]) -> Iterator[RigRun]:
    """The show of a patch as the options ask: its outputs open (and, once
    it is parked, their streams ended and closed), its clock ready, the
    speed report and what it drives said."""
    outputs = chosen_outputs(args, loaded, say)
    if not outputs:
        raise ValueError("say where the universes go: --artnet HOST, --sacn [HOST], or "
                         "[[outputs]] in the patch")
    rig_outputs = RigOutputs(loaded.universes, outputs, warn, source_name=args.source_name)
    try:
        player = RigPlayer(loaded, args.names, args.rate, [rig_outputs], show_file=args.show,
                           report_line=say, leads=output_leads(loaded, outputs))
        for line in loaded.notes:
            say(line)
        for check in speed_checks(loaded, player.show.setlist, args.bpm):
            say(check.line(loaded.names))
        make_clock, frames = clock_from_arguments(args)
        say_speed_limits(player, say)
        say(f"driving {len(loaded)} fixtures in {len(loaded.universes)} universes with "
            f"{', '.join(player.show.setlist)} at {args.rate:g} frames/s, {args.bpm:g} bpm; "
            f"type 'bpm B', 'tap', 'next', 'quit' or another command and Enter")
        for line in rig_outputs.lines():
            say(line)
        yield RigRun(player, make_clock, frames, rig_outputs)
    finally:
        rig_outputs.close()


def dry_run(args: argparse.Namespace, loaded: Rig, out: TextIO) -> None:
    """The speed report, how universes go out, and frames of the motion, sent
    nowhere. Its output is the point of it: failing to write that is an error."""
    def say(line: str) -> None:
        out.write(line + "\n")

    outputs = chosen_outputs(args, loaded, say)
    for line in settings_lines(outputs):
        say(line)
    player = RigPlayer(loaded, args.names, args.rate, show_file=args.show, report_line=say,
                       leads=output_leads(loaded, outputs))
    for line in loaded.notes:
        say(line)
    for check in speed_checks(loaded, player.show.setlist, args.bpm):
        say(check.line(loaded.names))
    for universe in loaded.universes:
        say(universe_line(int(universe)))
    make_clock, frames = clock_from_arguments(args)
    loop_beats = max(entry(track.look.pattern).period_beats for track in player.show.tracks)
    _dry_run(player, make_clock, frames or min(math.ceil(loop_beats), MAX_DRY_RUN_BEATS),
             args.rate, say)


def universe_line(universe: int) -> str:
    """How a patch universe goes out: as Art-Net port-address and as sACN universe.

    >>> universe_line(18)
    'universe 18: Art-Net port-address 18 (net 0, sub-net 1, universe 2); sACN universe 18'
    """
    artnet = (f"Art-Net port-address {universe} (net {universe >> 8}, sub-net "
              f"{universe >> 4 & 15}, universe {universe & 15})" if universe < 1 << 15
              else "beyond Art-Net's 32768 port-addresses")
    sacn = f"sACN universe {universe}" if universe >= 1 else "not an sACN universe (1 to 63999)"
    return f"universe {universe}: {artnet}; {sacn}"


def _dry_run(player: RigPlayer, make_clock: ClockFactory, beats: int, rate: float,
             say: Callable[[str], object]) -> None:
    """Plays frames at `rate` until every fixture follows the pattern (for at
    most DRY_RUN_WARM_UP_SECONDS), then says the first frame of each beat for
    `beats` beats."""
    clock = make_clock(0.0)
    frame, pip = 0, clock.pip_at(0.0)
    slots, held = player.frame(pip, frame, clock.bpm)
    while held and frame < DRY_RUN_WARM_UP_SECONDS * rate:
        frame += 1
        pip = clock.pip_at(frame / rate)
        slots, held = player.frame(pip, frame, clock.bpm)
    if held:
        say(f"the heads are still held to their speed after {frame / rate:.2f} s: the pattern "
            f"is too fast for them at this tempo")
    else:
        say(f"the first {frame} frames ({frame / rate:.2f} s) glide from home; then the first "
            f"frame of each beat:")
    said, next_beat = 0, math.ceil(pip / movimo.PIPS_PER_BEAT)
    while said < beats:
        if pip >= next_beat * movimo.PIPS_PER_BEAT:
            said_held = f"; {held} fixtures held to their patch speed" if held else ""
            say(f"frame {frame}: beat {pip / movimo.PIPS_PER_BEAT:.3f}, pip {math.floor(pip)}"
                f"{said_held}")
            for line in fixture_lines(player.rig, player.degrees, slots):
                say(line)
            said, next_beat = said + 1, math.floor(pip / movimo.PIPS_PER_BEAT) + 1
        frame += 1
        pip = clock.pip_at(frame / rate)
        slots, held = player.frame(pip, frame, clock.bpm)
    say("dry run: nothing sent")

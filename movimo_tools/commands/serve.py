"""`movimo serve`: a show played from a browser console. With a patch it
drives the rig as `movimo dmx` does; without one it streams the patterns as
OSC as `movimo stream` does. The console listens on --host and --port.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Callable
from typing import TYPE_CHECKING, TextIO

from movimo_tools.clocks.tempo import ClockFactory
from movimo_tools.commands.dmx import add_dmx_arguments, dry_run, rig_show
from movimo_tools.commands.options import add_clock_arguments, settle_tempo
from movimo_tools.commands.showrun import (CONTROL_HELP, add_show_arguments,
                                           open_surfaces, run_show)
from movimo_tools.commands.stream import add_osc_arguments, osc_show
from movimo_tools.extras import missing_extra
from movimo_tools.rig import load_patch
from movimo_tools.show.engine import Show
from movimo_tools.show.loop import FrameReport
from movimo_tools.surfaces import Surface
from movimo_tools.surfaces.console import LineWriter

if TYPE_CHECKING:  # Starlette and uvicorn load only when a console is served
    from movimo_tools.surfaces.web import WebConsole

DEFAULT_PORT = 8000


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers `movimo serve` with the command's subparsers."""
    parser = commands.add_parser(
        "serve", help="play a show from a browser console",
        description="Play a show from a browser console: each group's patterns as a grid,\n"
                    "its size, speed, phase, spread and centre, the cues, the tempo and a\n"
                    "live view of the rig. With --patch it drives the rig over Art-Net or\n"
                    "sACN as 'movimo dmx' does, to the patch's [[outputs]] or where\n"
                    "--artnet or --sacn says (and parks it on every ending); without\n"
                    "one it streams the patterns as OSC to --osc as 'movimo stream' does.\n"
                    "The console listens on 127.0.0.1 unless --host says otherwise; on any\n"
                    "other address every page needs the token in the printed URL.",
        epilog=CONTROL_HELP + "\nexamples:\n"
               "  movimo serve helix lfo_flower --patch rig.toml --bpm 128 --artnet 10.0.0.20\n"
               "  movimo serve helix bounce --osc 127.0.0.1:9000 --bpm 120 --port 8080",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="+", metavar="PATTERN",
                        help="patterns to play: the set list of a rig's groups, or the "
                             "streamed patterns")
    parser.add_argument("--patch", metavar="FILE",
                        help="the rig's patch file, TOML or MVR (without it, stream to --osc)")
    add_dmx_arguments(parser.add_mutually_exclusive_group(), parser)
    add_osc_arguments(parser, required=False)
    add_clock_arguments(parser, default_rate=44.0)
    add_show_arguments(parser)
    parser.add_argument("--host", default="127.0.0.1",
                        help="the address the console listens on (default 127.0.0.1: this "
                             "machine only)")
    parser.add_argument("--port", type=int, default=DEFAULT_PORT,
                        help=f"the console's port (default {DEFAULT_PORT})")
    parser.set_defaults(run=_run)


def _run(args: argparse.Namespace, out: TextIO) -> None:
    settle_tempo(args)
    if not 0 <= args.port <= 65535:
        raise ValueError("the console's port must be 0 to 65535")
    if args.patch is None:
        if args.artnet is not None or args.sacn is not None or args.dry_run:
            raise ValueError("--artnet, --sacn and --dry-run drive a rig: give --patch FILE")
        if not args.osc:
            raise ValueError("give --patch FILE to drive a rig, or --osc HOST:PORT to stream")
    elif args.osc:
        raise ValueError("--osc streams without a patch; a rig takes --artnet or --sacn")
    # A running show goes on without its terminal or its reader.
    say, warn = LineWriter(out), LineWriter(sys.stderr)
    if args.patch is None:
        with osc_show(args, say, warn) as stream:
            report = _serve(args, stream.show, stream.make_clock, stream.frames, say, warn,
                            stream.stage.relocated)
        say(stream.summary(report))
        return
    loaded = load_patch(args.patch)
    if args.dry_run:
        dry_run(args, loaded, out)
        return
    with rig_show(args, loaded, say, warn) as rig:
        report = _serve(args, rig.player.show, rig.make_clock, rig.frames, say, warn)
    say(rig.summary(report))


def _serve(args: argparse.Namespace, show: Show, make_clock: ClockFactory, frames: int | None,
           say: Callable[[str], object], warn: Callable[[str], object],
           relocated: Callable[[float, float], object] = lambda before, after: None,
           ) -> FrameReport:
    console = open_console(show, args.host, args.port)
    surfaces: list[Surface] = [console]
    try:
        surfaces += open_surfaces(args, show)
    except BaseException:
        console.close()
        raise
    say(f"console: {console.url}")
    return run_show(show, make_clock, rate=args.rate, frames=frames, warn=warn,
                    relocated=relocated, lead=args.latency / 1000, surfaces=surfaces)


def open_console(show: Show, host: str, port: int) -> WebConsole:
    """The browser console, serving already; its libraries are an extra."""
    try:
        from movimo_tools.surfaces.web import WebConsole
    except ImportError:
        needs = missing_extra("console", ["starlette", "uvicorn", "websockets"])
        raise ValueError(f"the console {needs}") from None
    return WebConsole(show, host, port)

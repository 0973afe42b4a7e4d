"""Running a show from the command line: standard input as its console, the
options every show command shares, and the one way out, which parks.
"""

from __future__ import annotations

import argparse
from collections.abc import Callable, Sequence

from movimo_tools.clocks.tempo import ClockFactory
from movimo_tools.show.commands import HELP
from movimo_tools.show.engine import Show
from movimo_tools.show.loop import FrameReport, StopRequests, run_frames
from movimo_tools.surfaces import Surface
from movimo_tools.surfaces.console import read_stdin

CONTROL_HELP = "While it runs, it reads commands from standard input. " + HELP.replace(
    "one a line", "one a line (WHEN is now, beat, bar or phrase; FADE is in beats)")


def add_show_arguments(parser: argparse.ArgumentParser) -> None:
    """The options of the show itself, beside those of its clock."""
    parser.add_argument("--show", metavar="FILE",
                        help="the show file that keeps cues (JSON; created when a cue is "
                             "first stored)")
    parser.add_argument("--control", action="append", default=[],
                        metavar="osc:HOST:PORT|midi:PORT",
                        help="play the show from an OSC control surface listening on "
                             "HOST:PORT, or from a MIDI input port mapped by --midi-map "
                             "(may be given more than once)")
    parser.add_argument("--midi-map", metavar="FILE",
                        help="the TOML map of a MIDI controller's notes and CCs to commands")


def open_surfaces(args: argparse.Namespace, show: Show) -> list[Surface]:
    """The control surfaces `--control` names, each listening already; one
    that cannot be opened is a one-line error before anything is sent."""
    if not args.control:
        return []
    from movimo_tools.surfaces.controls import open_control  # the MIDI backend loads on use
    surfaces: list[Surface] = []
    try:
        for named in args.control:
            surfaces.append(open_control(named, show, args.midi_map))
    except BaseException:
        for surface in surfaces:
            surface.close()
        raise
    return surfaces


def run_show(show: Show, make_clock: ClockFactory, *, rate: float, frames: int | None,
             warn: Callable[[str], object],
             relocated: Callable[[float, float], object] = lambda before, after: None,
             lead: float = 0.0, surfaces: Sequence[Surface] = ()) -> FrameReport:
    """Runs the show's frames until they are done, quit, Ctrl-C or SIGTERM,
    reading commands from standard input, each frame computed `lead`
    seconds ahead (see run_frames); whatever ends it, the stage is
    parked (the report counts those packets as `parked`) and the surfaces
    closed."""
    read_stdin(show.submit_line, note=warn)
    with StopRequests() as stop_requested:
        parked = 0
        try:
            report = run_frames(show.send_frame, make_clock, rate=rate, frames=frames,
                                before_frame=show.before_frame, stop=stop_requested,
                                relocated=relocated, lead=lead)
        finally:
            # Every ending passes here: an error in a frame or the clock too.
            # A signal while parking (an impatient second Ctrl-C) parks at once.
            asked = stop_requested.count
            parked = show.park(rate, urgent=lambda: stop_requested.count > asked)
            for surface in surfaces:
                surface.close()
        report.parked = parked
        return report

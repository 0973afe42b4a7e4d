"""The command-line options of the clock and the frame loop, so that every
command that runs frames offers the same ones.
"""

from __future__ import annotations

import argparse
import math
import sys
from typing import Callable, TypeVar

import movimo
from movimo_tools.clocks.beats import DEFAULT_BPM_RANGE, parse_bpm_range
from movimo_tools.clocks.follow import ExternalClock
from movimo_tools.clocks.inputs import open_clock
from movimo_tools.clocks.tempo import ClockFactory, tempo_clock
from movimo_tools.show.loop import check_rate
from movimo_tools.surfaces.console import LineWriter

Number = TypeVar("Number", int, float)


def positive(kind: Callable[[str], Number]) -> Callable[[str], Number]:
    """An argparse type: a finite number of `kind` above 0."""
    def parse(text: str) -> Number:
        value = kind(text)
        if not (math.isfinite(value) and value > 0):
            raise argparse.ArgumentTypeError("must be above 0")
        return value
    return parse


def bpm_range(text: str) -> tuple[float, float]:
    """An argparse type: LO:HI, the tempi an audio clock prefers."""
    try:
        return parse_bpm_range(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


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
    parser.add_argument("--clock", default="internal",
                        metavar="midi:PORT|osc:HOST:PORT|audio[:DEVICE]|internal",
                        help="follow an outside clock's tempo and beat: MIDI clock from an "
                             "input port, OSC /tempo BPM, /beat N and /tick on a UDP port, or "
                             "the beats heard in an audio input (movimo devices lists them) or "
                             "in a WAV file played along (audio:FILE.wav); lock changes go to "
                             "standard error (default internal: --bpm, then typed bpm and tap)")
    low, high = DEFAULT_BPM_RANGE
    parser.add_argument("--bpm-range", type=bpm_range, default=DEFAULT_BPM_RANGE,
                        metavar="LO:HI",
                        help="the tempi an audio clock prefers: it doubles or halves what it "
                             f"hears into this range (default {low:g}:{high:g})")


def clock_from_arguments(args: argparse.Namespace) -> tuple[ClockFactory, int | None]:
    """The clock factory and the frame count (None: endless) the options ask
    for. An outside clock's input is opened here, so that one that cannot be
    opened fails before anything is sent."""
    check_rate(args.rate)
    frames = args.frames if args.duration is None else max(1, round(args.duration * args.rate))
    internal = tempo_clock(args.bpm, args.start_beat)
    source = open_clock(args.clock, bpm_range=args.bpm_range)
    if source is None:
        return internal, frames

    report_state = LineWriter(sys.stderr)  # a closed terminal does not stop the show
    start_pip = args.start_beat * movimo.PIPS_PER_BEAT
    return lambda start: ExternalClock(source, args.bpm, start, start_pip, report_state), frames

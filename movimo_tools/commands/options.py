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
from movimo_tools.clocks.sources import open_clock
from movimo_tools.clocks.tempo import ClockFactory, tempo_clock
from movimo_tools.show.loop import check_rate
from movimo_tools.surfaces.console import LineWriter

Number = TypeVar("Number", int, float)

# The tempo a show starts at while an outside clock has not yet shown its own.
OUTSIDE_CLOCK_BPM = 120.0
# Lights answer within a second; a larger lead is a typo.
MAX_LATENCY_MS = 1000.0


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
    parser.add_argument("--bpm", type=positive(float),
                        help="starting tempo, 1 to 1000: needed with the internal clock; "
                             f"following an outside one, the tempo until it locks (default "
                             f"{OUTSIDE_CLOCK_BPM:g})")
    parser.add_argument("--rate", type=positive(float), default=default_rate, metavar="HZ",
                        help=f"frames per second (default {default_rate:g})")
    stop = parser.add_mutually_exclusive_group()
    stop.add_argument("--frames", type=positive(int), help="stop after this many frames")
    stop.add_argument("--duration", type=positive(float), metavar="SECONDS",
                      help="stop after this long")
    parser.add_argument("--start-beat", type=float, default=0.0, help="beat of the first frame")
    parser.add_argument("--latency", type=float, default=0.0, metavar="MS",
                        help="compute every frame for this many milliseconds ahead, for lights "
                             f"that answer late (0 to {MAX_LATENCY_MS:g}; default 0)")
    parser.add_argument("--clock", default="internal",
                        metavar="midi:PORT|osc:HOST:PORT|link[:QUANTUM]|audio[:DEVICE]|internal",
                        help="follow an outside clock's tempo and beat: MIDI clock from an "
                             "input port, OSC /tempo BPM, /beat N and /tick on a UDP port, "
                             "the Link session, its beat phase within QUANTUM beats (default "
                             "4), or the beats heard in an audio input (movimo devices lists "
                             "them) or in a WAV file played along (audio:FILE.wav); lock changes "
                             "go to standard error (default internal: --bpm, then typed bpm "
                             "and tap)")
    low, high = DEFAULT_BPM_RANGE
    parser.add_argument("--bpm-range", type=bpm_range, default=DEFAULT_BPM_RANGE,
                        metavar="LO:HI",
                        help="the tempi an audio clock prefers: it doubles or halves what it "
                             f"hears into this range (default {low:g}:{high:g})")


def settle_tempo(args: argparse.Namespace) -> None:
    """Gives --bpm its default where an outside clock leads, and checks --latency:
    the internal clock has no tempo but the one it is given."""
    if args.bpm is None:
        if args.clock == "internal":
            raise ValueError("give the tempo with --bpm, or follow an outside clock with --clock")
        args.bpm = OUTSIDE_CLOCK_BPM
    if not 0.0 <= args.latency <= MAX_LATENCY_MS:
        raise ValueError(f"--latency must be 0 to {MAX_LATENCY_MS:g} ms")


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
    return lambda start: source.clock(args.bpm, start, start_pip, report_state), frames

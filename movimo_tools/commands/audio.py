"""`movimo beats`: the tempo and the beat times of a recording, found by the
same analysis as the audio clock, for preparing a show; `movimo devices`:
the audio and MIDI inputs a clock can listen to.
"""

from __future__ import annotations

import argparse
import csv
import json
from typing import TextIO

from movimo_tools.clocks.audio import list_inputs
from movimo_tools.clocks.beats import DEFAULT_BPM_RANGE, analyse, read_wav
from movimo_tools.commands.options import bpm_range
from movimo_tools.extras import missing_extra


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers `movimo beats` and `movimo devices` with the command's subparsers."""
    beats = commands.add_parser(
        "beats", help="print the tempo and the beat times of a WAV recording",
        description="Print the tempo and the beat times (seconds from the start) of a WAV\n"
                    "file of integer samples, mixed to mono, as the audio clock would hear\n"
                    "them played (--clock audio:FILE.wav). The first beats come once the\n"
                    "analysis is sure of them, a few seconds in; a breakdown without drums\n"
                    "has none.",
        epilog="example: movimo beats set.wav --format json --bpm-range 70:140",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    beats.add_argument("file", metavar="FILE.wav")
    beats.add_argument("--format", choices=("text", "csv", "json"), default="text")
    beats.add_argument("--bpm-range", type=bpm_range, default=DEFAULT_BPM_RANGE,
                       metavar="LO:HI", help="the tempi to prefer: what is heard is doubled or "
                                             "halved into them (default 80:160)")
    beats.set_defaults(run=_beats)
    devices = commands.add_parser("devices", help="list the audio and MIDI inputs")
    devices.set_defaults(run=_devices)


def _beats(args: argparse.Namespace, out: TextIO) -> None:
    rate, samples = read_wav(args.file)
    bpm, beats = analyse(samples, rate, args.bpm_range)
    if args.format == "json":
        out.write(json.dumps({"bpm": None if bpm is None else round(bpm, 3),
                              "beats": [round(beat, 6) for beat in beats]}) + "\n")
    elif args.format == "csv":
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["beat", "seconds"])
        writer.writerows((number, f"{beat:.6f}") for number, beat in enumerate(beats))
    elif bpm is None:
        out.write("no beats found\n")
    else:
        out.write(f"tempo {bpm:.2f} bpm, {len(beats)} beats\n")
        out.writelines(f"{beat:.6f}\n" for beat in beats)


def _devices(args: argparse.Namespace, out: TextIO) -> None:
    try:
        audio = list_inputs() or ["none"]
    except ValueError as error:
        audio = [str(error)]
    out.write("audio inputs (--clock audio:NUMBER or audio:NAME):\n")
    out.writelines(f"  {line}\n" for line in audio)
    out.write("MIDI inputs (--clock midi:NAME):\n")
    out.writelines(f"  {line}\n" for line in _midi_inputs())


def _midi_inputs() -> list[str]:
    try:
        import mido  # type: ignore[import-untyped]
    except ImportError:
        return [f"listing MIDI inputs {missing_extra('midi', ['mido', 'python-rtmidi'])}"]
    try:
        return list(mido.Backend("mido.backends.rtmidi").get_input_names()) or ["none"]
    except (OSError, ImportError, RuntimeError) as error:
        return [f"none: {' '.join(str(error).split())}"]

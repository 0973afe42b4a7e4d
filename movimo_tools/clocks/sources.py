"""Opening the clock source a show follows, by the name its --clock option gives."""

from __future__ import annotations

import time
from typing import Callable

from movimo_tools.clocks.audio import AudioClockInput
from movimo_tools.clocks.inputs import ClockInput, MidiClockInput, OscClockInput
from movimo_tools.clocks.link import LinkSession
from movimo_tools.endpoints import parse_endpoint


def open_clock(source: str, now: Callable[[], float] = time.perf_counter,
               bpm_range: tuple[float, float] | None = None) -> ClockInput | None:
    """Opens the clock input `source` names: midi:PORT, osc:HOST:PORT,
    link[:QUANTUM] (joins the Link session), audio[:DEVICE|:FILE.wav] (heard
    within `bpm_range`, see `movimo_tools.clocks.beats`), or internal (None:
    the stream keeps its own tempo).

    >>> open_clock("internal") is None
    True
    >>> open_clock("ableton")
    Traceback (most recent call last):
    ...
    ValueError: the clock must be midi:PORT, osc:HOST:PORT, link[:QUANTUM], audio[:DEVICE] or internal
    """
    kind, _, where = source.partition(":")
    if source == "internal":
        return None
    if kind == "midi" and where:
        return MidiClockInput(source, now).open(where)
    if kind == "osc" and where:
        return OscClockInput(source, now).open(
            *parse_endpoint(where, "the OSC clock's listening address"))
    if kind == "link":
        return LinkSession(source, where, now).open()
    if kind == "audio":
        return AudioClockInput(source, now, bpm_range).open(where)
    raise ValueError("the clock must be midi:PORT, osc:HOST:PORT, link[:QUANTUM], audio[:DEVICE] "
                     "or internal")

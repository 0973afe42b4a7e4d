"""The control surfaces a show command opens for its `--control` options:
an OSC surface (`movimo_tools.surfaces.osc_control`) or a MIDI controller
(`movimo_tools.surfaces.midi_control`).
"""

from __future__ import annotations

from movimo_tools.endpoints import parse_endpoint
from movimo_tools.show.engine import Show
from movimo_tools.surfaces import Surface
from movimo_tools.surfaces.midi_control import MidiControl
from movimo_tools.surfaces.osc_control import OscControl


def open_control(control: str, show: Show, midi_map: str | None) -> Surface:
    """Opens the control surface `control` names: osc:HOST:PORT listens for OSC
    there; midi:PORT reads the MIDI input port PORT as the map file
    `midi_map` says. Every failure is a one-line ValueError.

    >>> open_control("midi:Launchpad", None, None)
    Traceback (most recent call last):
    ...
    ValueError: --control midi:Launchpad needs a MIDI map: give --midi-map FILE
    """
    kind, _, where = control.partition(":")
    if kind == "osc" and where:
        return OscControl(show, *parse_endpoint(where, "the OSC control's listening address"))
    if kind == "midi" and where:
        if midi_map is None:
            raise ValueError(f"--control {control} needs a MIDI map: give --midi-map FILE")
        return MidiControl(show, where, midi_map)
    raise ValueError(f"a control must be osc:HOST:PORT or midi:PORT, not {control!r}")

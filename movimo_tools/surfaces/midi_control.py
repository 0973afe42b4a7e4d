"""Playing a show from a MIDI controller: pads pick patterns or cues or run
commands, faders and knobs set values, and the pads' lights follow the show.

`MidiControl(show, port_name, midi_map)` reads the MIDI input port
`port_name` (through mido and python-rtmidi, the midi extra) as
the map file `midi_map` says. A map is TOML::

    [[pads]]             # a note-on picks a pattern or a cue, or runs a command
    note = 36            # 0 to 127
    group = "front"      # a group of the show (a pattern pad only)
    pattern = "helix"    # or: cue = "chorus" (or its number: cue = 2)
                         # or: command = "tap", "stop", "resume", "next", "halve" or "double"
    when = "bar"         # optional, pattern and cue pads: now, beat, bar (default) or phrase
    fade = 2             # optional, pattern and cue pads: beats (default 0)
    channel = 1          # optional: 1 to 16 (default: any channel)

    [[faders]]           # a control change sets a value
    cc = 1               # 0 to 127
    control = "size"     # size, speed, phase or tempo
    group = "front"      # for size, speed and phase
    when = "bar"         # optional, speed and phase: as for a pad (default bar; beat for phase)
    fade = 1             # optional, speed and phase (default 1)
    channel = 1          # optional, as for a pad

    [lights]             # optional: pad lights follow the show
    output = "PORT NAME" # the MIDI output port; a note-on's velocity is the colour
    on = 5               # the pad of what plays (default 127)
    pending = 9          # the pad of what waits for its beat, bar or phrase (default 64)
    off = 0              # every other pad (default 0)
    channel = 1          # the channel of pads that listen on any (default 1)

A note-on of velocity 0 is a release, as a note-off is: neither does
anything. One note or control may drive several pads or faders (one per
group, say). A fader's value, 0 to 127, becomes:

- size: 0 % at 0, 100 % at 64, 200 % at 127, in a straight line between,
  so that a centre detent is the pattern's own size;
- speed: five equal bands, 0-25 x1/4, 26-51 x1/2, 52-76 x1, 77-102 x2,
  103-127 x4;
- phase: -1 beat at 0, none at 64, +1 beat at 127, straight between;
- tempo: 60 bpm plus the value, 60 to 187 bpm.

A pattern pad is lit `on` while its group plays the pattern and `pending`
while the group waits to change to it. A cue pad is `on` while every group
of the cue plays the cue's pattern, speed, phase and spread (size and
centre are trims played live, which do not unlight it) and `pending` while
they wait to; a stop pad is `on` while the motion is stopped and a resume
pad while it runs; every other pad is `off`. Lights change only when they
must, and go off when the surface closes.

A map is a regular file of at most MAX_MAP_BYTES of UTF-8; every mistake in
it is a one-line error naming the file, the entry and the field, before
anything is opened. Bytes that are no MIDI message are counted in
`ignored`, as are commands the show refuses; messages no pad or fader maps
(clock, active sensing) are passed over.
"""

from __future__ import annotations

import dataclasses
import os
import threading
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np

from movimo_tools.catalogue import entry
from movimo_tools.clocks.inputs import decoded_midi, open_midi_port
from movimo_tools.rig.patch import (_check_name, _fail, _integer, _number, _quoted,
                                    _unknown_keys, read_toml)
from movimo_tools.show.commands import (MAX_FADE_BEATS, SPEEDS, WHENS, Command, CommandError,
                                        Double, Halve, NextPattern, RecallCue, ResumeMotion,
                                        SetPattern, SetPhase, SetSize, SetSpeed, SetTempo,
                                        StopMotion, Tap)
from movimo_tools.show.engine import Show

MAX_MAP_BYTES = 64 << 10
PAD_COMMANDS: dict[str, type[Command]] = {
    "tap": Tap, "stop": StopMotion, "resume": ResumeMotion, "next": NextPattern,
    "halve": Halve, "double": Double}
CONTROLS = ("size", "speed", "phase", "tempo")
LOWEST_FADER_BPM = 60.0

_PAD_KEYS = {"note", "group", "pattern", "cue", "command", "when", "fade", "channel"}
_FADER_KEYS = {"cc", "control", "group", "when", "fade", "channel"}
_LIGHT_KEYS = {"output", "on", "pending", "off", "channel"}
# The look fields a cue's pad light compares.
_CUE_FIELDS = ("pattern", "speed", "phase", "spread")
_OFF, _PENDING, _ON = range(3)


@dataclasses.dataclass(frozen=True)
class Pad:
    """A note and the command its note-on sends; `channel` 0-15, or None for any."""

    note: int
    channel: int | None
    command: Command


@dataclasses.dataclass(frozen=True)
class Fader:
    """A control change and the value it sets (one of CONTROLS)."""

    cc: int
    channel: int | None
    control: str
    group: str = ""
    when: str | None = None
    fade: float | None = None

    def command(self, value: int) -> Command:
        """The command of a control value, 0 to 127 (see the module notes)."""
        timing: dict[str, Any] = {key: given for key, given in
                                  (("when", self.when), ("fade", self.fade)) if given is not None}
        match self.control:
            case "size":
                return SetSize(self.group, _centred(value, 0.0, 100.0, 200.0))
            case "speed":
                return SetSpeed(self.group, SPEEDS[value * len(SPEEDS) // 128], **timing)
            case "phase":
                return SetPhase(self.group, _centred(value, -1.0, 0.0, 1.0), **timing)
        return SetTempo(LOWEST_FADER_BPM + value)


def _centred(value: int, low: float, middle: float, high: float) -> float:
    """`low` at 0, `middle` at 64, `high` at 127, straight between.

    >>> [_centred(value, 0.0, 100.0, 200.0) for value in (0, 32, 64, 127)]
    [0.0, 50.0, 100.0, 200.0]
    """
    if value <= 64:
        return low + (middle - low) * value / 64
    return middle + (high - middle) * (value - 64) / 63


@dataclasses.dataclass(frozen=True)
class Lights:
    """Where pad lights go and the velocity of each state; `channel` 0-15."""

    output: str
    on: int = 127
    pending: int = 64
    off: int = 0
    channel: int = 0


@dataclasses.dataclass(frozen=True)
class MidiMap:
    """A MIDI map, read and checked: its pads, faders and lights."""

    source: str
    pads: tuple[Pad, ...]
    faders: tuple[Fader, ...]
    lights: Lights | None


def load_midi_map(path: str | os.PathLike[str], groups: Sequence[str]) -> MidiMap:
    """Reads and checks a MIDI map for a show of `groups`; every mistake is
    a one-line ValueError naming the file, the entry and the field."""
    return parse_midi_map(read_toml(path, MAX_MAP_BYTES, "a MIDI map"), str(path), groups)


def parse_midi_map(document: Mapping[str, Any], source: str, groups: Sequence[str]) -> MidiMap:
    """A MIDI map from a parsed TOML document; `source` names it in errors."""
    _unknown_keys(dict(document), {"pads", "faders", "lights"}, source, "top level")
    pads = tuple(_pad(table, source, f"pad {number}", groups)
                 for number, table in enumerate(_tables(document, "pads", source), 1))
    faders = tuple(_fader(table, source, f"fader {number}", groups)
                   for number, table in enumerate(_tables(document, "faders", source), 1))
    lights = document.get("lights")
    if lights is not None and not isinstance(lights, dict):
        _fail(source, "top level", "lights", "must be a table")
    return MidiMap(source, pads, faders, None if lights is None else _lights(lights, source))


def _tables(document: Mapping[str, Any], key: str, source: str) -> list[dict[str, Any]]:
    tables = document.get(key, [])
    if not isinstance(tables, list) or not all(isinstance(table, dict) for table in tables):
        _fail(source, "top level", key, f"must be tables: [[{key}]]")
    return tables


def _required(table: dict[str, Any], key: str, source: str, where: str) -> Any:
    if key not in table:
        _fail(source, where, key, "missing")
    return table[key]


def _channel(table: dict[str, Any], source: str, where: str) -> int | None:
    if "channel" not in table:
        return None
    return _integer(table["channel"], source, where, "channel", 1, 16) - 1


def _group(table: dict[str, Any], source: str, where: str, groups: Sequence[str]) -> str:
    group = _required(table, "group", source, where)
    if not isinstance(group, str) or group not in groups:
        _fail(source, where, "group", f"no group {_quoted(group)}: the groups are "
                                      f"{', '.join(groups)}")
    return group


def _timing(table: dict[str, Any], source: str, where: str) -> dict[str, Any]:
    """The optional `when` and `fade` of a pad or fader."""
    timing: dict[str, Any] = {}
    if "when" in table:
        if not isinstance(table["when"], str) or table["when"] not in WHENS:
            _fail(source, where, "when", f"must be one of {', '.join(WHENS)}")
        timing["when"] = table["when"]
    if "fade" in table:
        timing["fade"] = _number(table["fade"], source, where, "fade", 0.0, MAX_FADE_BEATS)
    return timing


def _not_for(table: dict[str, Any], keys: Sequence[str], source: str, where: str,
             kind: str) -> None:
    for key in keys:
        if key in table:
            _fail(source, where, key, f"not used by {kind}")


def _pad(table: dict[str, Any], source: str, where: str, groups: Sequence[str]) -> Pad:
    _unknown_keys(table, _PAD_KEYS, source, where)
    note = _integer(_required(table, "note", source, where), source, where, "note", 0, 127)
    channel = _channel(table, source, where)
    actions = [key for key in ("pattern", "cue", "command") if key in table]
    if len(actions) != 1:
        _fail(source, where, "/".join(actions) or "pattern",
              "give one of pattern, cue or command" if not actions else
              "give only one of pattern, cue and command")
    command: Command
    match actions[0], table[actions[0]]:
        case "pattern", str(pattern):
            group = _group(table, source, where, groups)
            try:
                name = entry(pattern).name
            except ValueError:
                _fail(source, where, "pattern", f"unknown pattern {_quoted(pattern)}")
            command = SetPattern(group, name, **_timing(table, source, where))
        case "cue", str() | int() as cue if not isinstance(cue, bool):
            _not_for(table, ("group",), source, where, "a cue pad")
            try:
                command = RecallCue(str(cue), **_timing(table, source, where))
            except CommandError as error:
                _fail(source, where, "cue", str(error))
        case "command", str(word) if word in PAD_COMMANDS:
            _not_for(table, ("group", "when", "fade"), source, where, "a command pad")
            command = PAD_COMMANDS[word]()
        case "command", word:
            _fail(source, where, "command", f"must be one of {', '.join(PAD_COMMANDS)}, not "
                                            f"{_quoted(word)}")
        case action, value:
            _fail(source, where, action, f"must be a name, not {_quoted(value)}")
    return Pad(note, channel, command)


def _fader(table: dict[str, Any], source: str, where: str, groups: Sequence[str]) -> Fader:
    _unknown_keys(table, _FADER_KEYS, source, where)
    cc = _integer(_required(table, "cc", source, where), source, where, "cc", 0, 127)
    channel = _channel(table, source, where)
    control = _required(table, "control", source, where)
    if not isinstance(control, str) or control not in CONTROLS:
        _fail(source, where, "control", f"must be one of {', '.join(CONTROLS)}")
    if control == "tempo":
        _not_for(table, ("group", "when", "fade"), source, where, "a tempo fader")
        return Fader(cc, channel, control)
    group = _group(table, source, where, groups)
    if control == "size":
        _not_for(table, ("when", "fade"), source, where, "a size fader: size changes at once")
    return Fader(cc, channel, control, group, **_timing(table, source, where))


def _lights(table: dict[str, Any], source: str) -> Lights:
    _unknown_keys(table, _LIGHT_KEYS, source, "lights")
    output = table.get("output")
    if not isinstance(output, str) or not output:
        _fail(source, "lights", "output", "must name the MIDI output port of the lights")
    _check_name(output, source, "lights", "output")
    velocities = {key: _integer(table[key], source, "lights", key, 0, 127)
                  for key in ("on", "pending", "off") if key in table}
    return Lights(output, **velocities,
                  channel=_integer(table.get("channel", 1), source, "lights", "channel", 1, 16)
                  - 1)


def midi_commands(midi_map: MidiMap, message: Any) -> list[Command]:
    """The commands of one mido message under a map: those of every pad
    its note-on plays, or of every fader its control change moves.

    >>> import mido
    >>> pads = (Pad(36, None, SetPattern("front", "helix")),)
    >>> faders = (Fader(1, 0, "tempo"),)
    >>> midi_map = MidiMap("map", pads, faders, None)
    >>> midi_commands(midi_map, mido.Message("note_on", note=36, velocity=100))
    [SetPattern(group='front', pattern='helix', when='bar', fade=0.0)]
    >>> midi_commands(midi_map, mido.Message("control_change", channel=0, control=1, value=68))
    [SetTempo(bpm=128.0)]
    """
    match message.type:
        case "note_on" if message.velocity > 0:
            return [pad.command for pad in midi_map.pads
                    if pad.note == message.note and pad.channel in (None, message.channel)]
        case "control_change":
            return [fader.command(message.value) for fader in midi_map.faders
                    if fader.cc == message.control and fader.channel in (None, message.channel)]
    return []


CueLooks = Sequence[tuple[str, Mapping[str, Mapping[str, Any]]]]


def pad_lights(midi_map: MidiMap, state: Mapping[str, Any],
               cues: CueLooks = ()) -> dict[tuple[int, int], int]:
    """The velocity of each pad's light, by (channel 0-15, note), for a state
    of the show; `cues` are the show's cues in order, each a name and the
    looks it holds by group (as `Look.as_dict` gives them). Where several
    pads share a note, the light shows the most of them: on, then pending."""
    lights = midi_map.lights
    if lights is None:
        return {}
    groups = {group["name"]: group for group in state["groups"]}
    levels: dict[tuple[int, int], int] = {}
    for pad in midi_map.pads:
        key = (lights.channel if pad.channel is None else pad.channel, pad.note)
        levels[key] = max(levels.get(key, _OFF), _pad_level(pad.command, state, groups, cues))
    velocity = {_OFF: lights.off, _PENDING: lights.pending, _ON: lights.on}
    return {key: velocity[level] for key, level in levels.items()}


def _pad_level(command: Command, state: Mapping[str, Any],
               groups: Mapping[str, Mapping[str, Any]], cues: CueLooks) -> int:
    match command:
        case SetPattern(group=name, pattern=pattern) if name in groups:
            group = groups[name]
            if group["look"]["pattern"] == pattern:
                return _ON
            if group["next"] is not None and group["next"]["pattern"] == pattern:
                return _PENDING
        case RecallCue(cue=cue):
            looks = _cue_looks(cue, cues)
            held = [(groups[name], look) for name, look in looks.items() if name in groups]
            if held and all(_plays(group["look"], look) for group, look in held):
                return _ON
            if held and all(_plays(group["next"] or group["look"], look) for group, look in held):
                return _PENDING
        case StopMotion() | ResumeMotion():
            return _ON if state["stopped"] == isinstance(command, StopMotion) else _OFF
    return _OFF


def _cue_looks(cue: str, cues: CueLooks) -> Mapping[str, Mapping[str, Any]]:
    """A cue's looks found as the show finds them: a number is its place."""
    if cue.isascii() and cue.isdigit() and 1 <= int(cue) <= len(cues):
        return cues[int(cue) - 1][1]
    return next((looks for name, looks in cues if name == cue), {})


def _plays(look: Mapping[str, Any], cue_look: Mapping[str, Any]) -> bool:
    return all(look[field] == cue_look[field] for field in _CUE_FIELDS)


class MidiCommands:
    """What a MIDI control surface makes of its messages, without ports:
    commands handed to the show, the rest counted in `ignored`. `taken`
    counts the commands the show queued."""

    def __init__(self, show: Show, midi_map: MidiMap) -> None:
        self.show = show
        self.midi_map = midi_map
        self.ignored = 0
        self.taken = 0

    def receive(self, message: Any) -> None:
        """Takes one message: a mido message or its raw bytes."""
        decoded = decoded_midi(message)
        if decoded is None:
            self.ignored += 1
            return
        for command in midi_commands(self.midi_map, decoded):
            try:
                self.show.submit(command)
                self.taken += 1
            except CommandError:
                self.ignored += 1


class MidiControl(MidiCommands):
    """A MIDI control surface reading the input port `port_name` as the map
    file `midi_map` says, and lighting its pads if the map asks, until
    closed. A map with a mistake or a port that cannot be opened is a
    one-line ValueError before anything runs."""

    def __init__(self, show: Show, port_name: str, midi_map: str | os.PathLike[str]) -> None:
        super().__init__(show, load_midi_map(
            midi_map, [group["name"] for group in show.state()["groups"]]))
        lights = self.midi_map.lights
        self._closed = False
        self._latest = show.state()
        self._wake = threading.Event()
        self._lighting: threading.Thread | None = None
        if lights is not None:
            output = open_midi_port(lights.output, "MIDI control", output=True)
            self._lighting = threading.Thread(target=self._light, args=(output, lights),
                                              daemon=True)
        try:
            self._input = open_midi_port(port_name, "MIDI control", callback=self.receive)
        except ValueError:
            if lights is not None:
                output.close()
            raise
        if self._lighting is not None:
            self._wake.set()
            self._lighting.start()
            show.add_listener(self._after_frame)

    def _after_frame(self, state: dict[str, Any] | None, view: np.ndarray) -> None:
        """Keeps the latest state for the lights; from the frame loop, so at once."""
        if state is not None:
            self._latest = state
            self._wake.set()

    def _light(self, output: Any, lights: Lights) -> None:
        """Sends the pad lights that changed whenever the state did, and all
        off at the end; then closes the output."""
        import mido  # type: ignore[import-untyped]
        lit: dict[tuple[int, int], int] = {}
        with output:
            while True:
                self._wake.wait()
                self._wake.clear()
                closing = self._closed
                wanted = (dict.fromkeys(lit, lights.off) if closing else
                          pad_lights(self.midi_map, self._latest, self._cue_looks()))
                for (channel, note), velocity in wanted.items():
                    if lit.get((channel, note)) != velocity:
                        try:
                            output.send(mido.Message("note_on", channel=channel, note=note,
                                                     velocity=velocity))
                        except OSError:
                            continue  # the device is gone for now: again at the next change
                        lit[channel, note] = velocity
                if closing:
                    return

    def _cue_looks(self) -> CueLooks:
        return [(cue.name, {group: look.as_dict() for group, look in cue.looks.items()})
                for cue in self.show.cues]

    def close(self) -> None:
        """Stops reading, puts the pad lights out and closes the ports."""
        if self._closed:
            return
        self._closed = True
        self._input.close()
        if self._lighting is not None:
            self._wake.set()
            self._lighting.join(timeout=2.0)

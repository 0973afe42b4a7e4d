"""The show's commands: what every control surface sends into the show.

A surface (standard input, the browser console, OSC, MIDI) only turns its
input into these commands; the show alone changes state. Each command is a
small frozen dataclass, checked where it is made, so a malformed one never
reaches the show. Changes of what a group plays take effect at a pip the
show chooses: `now`, or the next `beat`, `bar` (4 beats) or `phrase` (4 bars),
and blend from the old motion to the new over `fade` beats.

Two ways in besides the constructors: `parse_line` reads a typed line
("pattern front helix bar 2") and `from_message` a JSON-style mapping
({"type": "pattern", "group": "front", "pattern": "helix"}).

>>> parse_line("pattern front helix bar 2")
SetPattern(group='front', pattern='helix', when='bar', fade=2.0)
>>> from_message({"type": "size", "group": "front", "percent": 150})
SetSize(group='front', percent=150.0)
>>> parse_line("speed front 3")
Traceback (most recent call last):
...
movimo_tools.show.commands.CommandError: speed must be one of 1/4, 1/2, 1, 2, 4, not 3.0
"""

from __future__ import annotations

import dataclasses
import math
from fractions import Fraction
from typing import Any, ClassVar

import movimo

# Where a change may land, and the pips between such points (4/4 time).
WHENS = {"now": 1, "beat": movimo.PIPS_PER_BEAT, "bar": 4 * movimo.PIPS_PER_BEAT,
         "phrase": 16 * movimo.PIPS_PER_BEAT}
# Speeds keep the motion on the beat grid: quarter, half, normal, double, quadruple time.
SPEEDS = (0.25, 0.5, 1.0, 2.0, 4.0)
SPREADS = ("none", "even", "wing", "group", "position")
MAX_FADE_BEATS = 64.0
MAX_PERCENT = 200.0
# A phase offset of up to four bars either way; a nudge of up to half a beat.
MAX_PHASE_BEATS = 16.0
MAX_NUDGE_BEATS = 0.5
# Centre offsets: degrees of pan and tilt for a rig, pattern units for OSC targets.
MAX_CENTRE = 720.0
MAX_NAME_CHARACTERS = 64
MIN_BPM, MAX_BPM = 1.0, 1000.0


class CommandError(ValueError):
    """A command that cannot be made: said in one line."""


def _name(value: object, what: str) -> str:
    if not isinstance(value, str) or not value or len(value) > MAX_NAME_CHARACTERS:
        raise CommandError(f"{what} must be a name of 1 to {MAX_NAME_CHARACTERS} characters")
    if not value.isprintable():
        raise CommandError(f"{what} must be printable text")
    return value


def _number(value: object, what: str, low: float, high: float) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise CommandError(f"{what} must be a number")
    if not low <= value <= high:  # NaN fails too
        raise CommandError(f"{what} must be {low:g} to {high:g}, not {value:g}")
    return float(value)


def _when(value: object) -> str:
    if value not in WHENS:
        raise CommandError(f"when must be one of {', '.join(WHENS)}, not {value!r}")
    return str(value)


class Command:
    """Base of every command; `kind` is its word in lines and messages."""

    kind: ClassVar[str] = ""
    help: ClassVar[str] = ""


@dataclasses.dataclass(frozen=True)
class GroupChange(Command):
    """A change of what one group plays, landing at `when` over `fade` beats."""

    group: str

    def __post_init__(self) -> None:
        _name(self.group, "group")
        for field in dataclasses.fields(self):
            if field.name == "when":
                _when(getattr(self, "when"))
            elif field.name == "fade":
                object.__setattr__(self, "fade", _number(getattr(self, "fade"), "fade", 0.0,
                                                         MAX_FADE_BEATS))


@dataclasses.dataclass(frozen=True)
class SetPattern(GroupChange):
    kind: ClassVar[str] = "pattern"
    help: ClassVar[str] = "pattern GROUP NAME [WHEN [FADE]]  play NAME (at the next bar)"
    pattern: str
    when: str = "bar"
    fade: float = 0.0

    def __post_init__(self) -> None:
        super().__post_init__()
        _name(self.pattern, "pattern")


@dataclasses.dataclass(frozen=True)
class SetSize(GroupChange):
    kind: ClassVar[str] = "size"
    help: ClassVar[str] = "size GROUP PERCENT                how big the movement is, 0 to 200"
    percent: float

    def __post_init__(self) -> None:
        super().__post_init__()
        object.__setattr__(self, "percent", _number(self.percent, "size", 0.0, MAX_PERCENT))


@dataclasses.dataclass(frozen=True)
class SetSpeed(GroupChange):
    kind: ClassVar[str] = "speed"
    help: ClassVar[str] = "speed GROUP X [WHEN [FADE]]       1/4, 1/2, 1, 2 or 4 times (next bar)"
    speed: float
    when: str = "bar"
    fade: float = 1.0

    def __post_init__(self) -> None:
        super().__post_init__()
        if isinstance(self.speed, bool) or self.speed not in SPEEDS:
            shown = ", ".join(str(Fraction(s)) for s in SPEEDS)
            raise CommandError(f"speed must be one of {shown}, not {_shown(self.speed)}")
        object.__setattr__(self, "speed", float(self.speed))


@dataclasses.dataclass(frozen=True)
class SetPhase(GroupChange):
    kind: ClassVar[str] = "phase"
    help: ClassVar[str] = "phase GROUP BEATS [WHEN [FADE]]   run BEATS ahead (behind if negative)"
    beats: float
    when: str = "beat"
    fade: float = 1.0

    def __post_init__(self) -> None:
        super().__post_init__()
        object.__setattr__(self, "beats", _number(self.beats, "phase", -MAX_PHASE_BEATS,
                                                  MAX_PHASE_BEATS))


@dataclasses.dataclass(frozen=True)
class SetCentre(GroupChange):
    kind: ClassVar[str] = "centre"
    help: ClassVar[str] = "centre GROUP PAN TILT             move the centre of the movement"
    pan: float
    tilt: float

    def __post_init__(self) -> None:
        super().__post_init__()
        for axis in ("pan", "tilt"):
            object.__setattr__(self, axis, _number(getattr(self, axis), f"centre {axis}",
                                                   -MAX_CENTRE, MAX_CENTRE))


@dataclasses.dataclass(frozen=True)
class SetSpread(GroupChange):
    kind: ClassVar[str] = "spread"
    help: ClassVar[str] = "spread GROUP KIND [WHEN [FADE]]   none, even, wing, group or position"
    spread: str
    when: str = "bar"
    fade: float = 1.0

    def __post_init__(self) -> None:
        super().__post_init__()
        if self.spread not in SPREADS:
            raise CommandError(f"spread must be one of {', '.join(SPREADS)}, not "
                               f"{_shown(self.spread)}")


@dataclasses.dataclass(frozen=True)
class RecallCue(Command):
    kind: ClassVar[str] = "cue"
    help: ClassVar[str] = "cue NAME|N [WHEN [FADE]]         recall a stored look (next bar)"
    cue: str
    when: str = "bar"
    fade: float = 0.0

    def __post_init__(self) -> None:
        _name(self.cue, "cue")
        _when(self.when)
        object.__setattr__(self, "fade", _number(self.fade, "fade", 0.0, MAX_FADE_BEATS))


@dataclasses.dataclass(frozen=True)
class StoreCue(Command):
    kind: ClassVar[str] = "store"
    help: ClassVar[str] = "store NAME                        store every group's look as a cue"
    cue: str

    def __post_init__(self) -> None:
        _name(self.cue, "cue")
        if self.cue.isdigit():
            raise CommandError("a cue name must not be a number: numbers recall cues by place")


@dataclasses.dataclass(frozen=True)
class SetTempo(Command):
    kind: ClassVar[str] = "bpm"
    help: ClassVar[str] = "bpm B                             change the tempo; the phase runs on"
    bpm: float

    def __post_init__(self) -> None:
        object.__setattr__(self, "bpm", _number(self.bpm, "the tempo", MIN_BPM, MAX_BPM))


@dataclasses.dataclass(frozen=True)
class Nudge(Command):
    kind: ClassVar[str] = "nudge"
    help: ClassVar[str] = "nudge BEATS                       shift the beat ahead (back if < 0)"
    beats: float

    def __post_init__(self) -> None:
        object.__setattr__(self, "beats", _number(self.beats, "nudge", -MAX_NUDGE_BEATS,
                                                  MAX_NUDGE_BEATS))


@dataclasses.dataclass(frozen=True)
class Tap(Command):
    kind: ClassVar[str] = "tap"
    help: ClassVar[str] = "tap                               tap along on the beat"


@dataclasses.dataclass(frozen=True)
class Halve(Command):
    kind: ClassVar[str] = "halve"
    help: ClassVar[str] = "halve                             halve the tempo"


@dataclasses.dataclass(frozen=True)
class Double(Command):
    kind: ClassVar[str] = "double"
    help: ClassVar[str] = "double                            double the tempo"


@dataclasses.dataclass(frozen=True)
class StopMotion(Command):
    kind: ClassVar[str] = "stop"
    help: ClassVar[str] = "stop                              glide everything home"


@dataclasses.dataclass(frozen=True)
class ResumeMotion(Command):
    kind: ClassVar[str] = "resume"
    help: ClassVar[str] = "resume                            move again"


@dataclasses.dataclass(frozen=True)
class NextPattern(Command):
    kind: ClassVar[str] = "next"
    help: ClassVar[str] = "next                              groups on the set list play its next"


@dataclasses.dataclass(frozen=True)
class Quit(Command):
    kind: ClassVar[str] = "quit"
    help: ClassVar[str] = "quit                              park and stop"


COMMANDS: dict[str, type[Command]] = {
    kind.kind: kind for kind in (SetTempo, Tap, Nudge, Halve, Double, SetPattern, SetSize,
                                 SetSpeed, SetPhase, SetCentre, SetSpread, RecallCue, StoreCue,
                                 NextPattern, StopMotion, ResumeMotion, Quit)}
HELP = "Commands, one a line:\n" + "".join(f"  {kind.help}\n" for kind in COMMANDS.values())


def _shown(value: object) -> str:
    text = repr(value) if isinstance(value, str) else str(value)
    return text if len(text) <= 40 else text[:37] + "..."


def _word_number(word: str, what: str) -> float:
    try:
        value = float(Fraction(word)) if "/" in word else float(word)
    except (ValueError, ZeroDivisionError):
        raise CommandError(f"{what} must be a number, not {_shown(word)}") from None
    if not math.isfinite(value):
        raise CommandError(f"{what} must be finite")
    return value


# The fields a line gives after the verb, in order: each a (name, number?) pair.
_LINE_FIELDS: dict[str, tuple[tuple[str, bool], ...]] = {
    "pattern": (("group", False), ("pattern", False), ("when", False), ("fade", True)),
    "size": (("group", False), ("percent", True)),
    "speed": (("group", False), ("speed", True), ("when", False), ("fade", True)),
    "phase": (("group", False), ("beats", True), ("when", False), ("fade", True)),
    "centre": (("group", False), ("pan", True), ("tilt", True)),
    "spread": (("group", False), ("spread", False), ("when", False), ("fade", True)),
    "cue": (("cue", False), ("when", False), ("fade", True)),
    "store": (("cue", False),),
    "bpm": (("bpm", True),),
    "nudge": (("beats", True),),
}
_REQUIRED = {kind: len([field for field in dataclasses.fields(command)  # type: ignore[arg-type]
                        if field.default is dataclasses.MISSING])
             for kind, command in COMMANDS.items()}


def parse_line(line: str) -> Command:
    """A typed command line: the verb, then its fields in order (see HELP)."""
    words = line.split()
    if not words:
        raise CommandError("an empty line is no command")
    verb = words[0].lower()
    command = COMMANDS.get("centre" if verb == "center" else verb)
    if command is None:
        raise CommandError(f"unknown command {_shown(words[0])}: "
                           f"use {', '.join(COMMANDS)}")
    fields = _LINE_FIELDS.get(command.kind, ())
    given = words[1:]
    if not _REQUIRED[command.kind] <= len(given) <= len(fields):
        raise CommandError(f"use: {command.help.split('  ')[0]}")
    values: dict[str, Any] = {}
    for (name, numeric), word in zip(fields, given):
        values[name] = _word_number(word, name) if numeric else word
    return command(**values)


def from_message(message: object) -> Command:
    """A command from a mapping with its `type` and its fields, as a browser
    or a script sends it; anything else in it is refused."""
    if not isinstance(message, dict):
        raise CommandError("a command must be an object")
    kind = message.get("type")
    command = COMMANDS.get(kind) if isinstance(kind, str) else None
    if command is None:
        raise CommandError(f"unknown command type {_shown(kind)}")
    names = {field.name for field in dataclasses.fields(command)}  # type: ignore[arg-type]
    unknown = set(message) - names - {"type"}
    if unknown:
        raise CommandError(f"unknown field {_shown(sorted(unknown)[0])} in a {kind} command")
    try:
        return command(**{key: value for key, value in message.items() if key != "type"})
    except TypeError:
        raise CommandError(f"a {kind} command lacks a field") from None

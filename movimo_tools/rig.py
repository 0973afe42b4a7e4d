"""Moving heads driven over DMX512: a patch file, frames and the packets that carry them.

A patch (TOML) describes the rig. `[types.NAME]` tables hold what fixtures
of one model share, `[[fixtures]]` place fixtures (a fixture may take every
type key itself, which then wins), `[[groups]]` give fixtures a phase spread
and, if wanted, a pattern of their own::

    [types.spot]
    channels = ["pan", "pan_fine", "tilt", "tilt_fine", "dimmer"]  # from the start address
    pan_range = 540        # degrees between DMX value 0 and the highest value
    tilt_range = 270
    pan_speed = 300        # fastest movement, degrees per second
    tilt_speed = 200
    values = { dimmer = 255 }    # static value of every other channel (default 0)
    amplitude = [60, 30]   # degrees of pan and tilt at a pattern value of ±1
    home = [270, 135]      # pan and tilt in degrees (default: mid-range)
    invert = ["pan"]       # axes that move the other way
    swap = false           # true: the pattern's x drives tilt and y drives pan
    z = "dimmer"           # a channel the pattern's z drives, 0 to 255 (optional)

    [[fixtures]]
    name = "left"
    type = "spot"
    universe = 1
    address = 1
    count = 1              # more than 1: NAME-1 .. NAME-N on consecutive addresses
    position = [0, 0]      # metres on the floor plan (default: 1 m apart along x)

    [[groups]]
    name = "front"
    fixtures = ["left", "right"]
    spread = "even"        # none, even, wing, group (with blocks = N) or
                           # position (with span = beats and direction = [dx, dy])
    pattern = "helix"      # optional: else the group plays the command's pattern

Every number is held to bounds far beyond any real rig, so that nothing
computed from a patch can overflow: ranges above 0 and at most 3600
degrees; speeds 0.01 to 1e9 degrees per second, or inf for no limit;
amplitude 0 to the axis's range and home within it; positions within
±10000 m, a spread's direction within ±1000 (not [0, 0]) and its span 0 to
1023 beats. A patch file is a regular file of at most 4 MiB of UTF-8 (a
byte-order mark is allowed), and names may hold no control characters: a
console shows them.

The patch is read once into arrays, one entry per fixture, so a frame for
every fixture is a handful of NumPy operations whatever the size of the rig.
A pattern value v moves an axis to home + amplitude * v degrees (negated
when inverted), clamped to the fixture's range, limited to its speed, and
written as round(degrees / range * top) with top 255 for one channel and
65535 for a coarse and fine pair.

Packets follow the published layouts of ArtDmx (Art-Net 4) and of the E1.31
data packet; each is a pure function of its universe, sequence and slots.
They are built here rather than by a sender library because the Python ones
send from threads or event loops of their own, at their own rate (and sACN
ones announce universes by multicast), where every packet here must leave on
its frame of the tempo clock, to the one address given.
"""

from __future__ import annotations

import argparse
import dataclasses
import difflib
import ipaddress
import math
import os
import pathlib
import re
import reprlib
import socket
import stat
import struct
import sys
import textwrap
import tomllib
import unicodedata
import uuid
from collections.abc import Callable, Iterable, Sequence
from typing import Any, TextIO
from typing import NoReturn

import numpy as np

import movimo
from movimo_tools.batch import loop_rows
from movimo_tools.catalogue import entry
from movimo_tools.clock import (CONTROL_HELP, ClockFactory, SendFailures, StopRequests,
                                add_clock_arguments, clock_from_arguments, run_frames,
                                stdin_commands)
from movimo_tools.console import LineWriter
from movimo_tools.limits import motion_limits
from movimo_tools.spread import even_offsets, group_offsets, position_offsets, wing_offsets

SLOTS = 512
MAX_UNIVERSE = 63999
MAX_FIXTURES = 1 << 16
AXES = ("pan", "tilt")
SPREADS = ("none", "even", "wing", "group", "position")

_TYPE_KEYS = {"channels", "pan_range", "tilt_range", "pan_speed", "tilt_speed", "values",
              "amplitude", "home", "invert", "swap", "z"}
_FIXTURE_KEYS = _TYPE_KEYS | {"name", "type", "universe", "address", "count", "position"}
_GROUP_KEYS = {"name", "fixtures", "spread", "blocks", "span", "direction", "pattern"}
_TOP_KEYS = {"types", "fixtures", "groups"}
_CHANNEL_NAME = re.compile(r"[a-z][a-z0-9_]*")
_BARE_KEY = re.compile(r"[A-Za-z0-9_-]{1,40}")
# Line breaks, escapes and the marks that reorder or hide text on a terminal.
_CONTROL_CATEGORIES = {"Cc", "Cf", "Zl", "Zp", "Cs"}
MAX_PATCH_BYTES = 4 << 20
MAX_RANGE = 3600.0
MIN_SPEED, MAX_SPEED = 0.01, 1e9
MAX_POSITION = 10000.0
MAX_DIRECTION = 1000.0
MAX_SPAN_BEATS = 1023.0
# Text from the patch in an error: quoted, escaped, and cut short.
_quoted = reprlib.Repr(maxstring=60, maxother=60, maxlong=40).repr


class PatchError(ValueError):
    """A patch that cannot be used, said in one line: file, item and field.

    Every character a terminal would act on is shown escaped, so that text
    taken from the patch can neither split the line nor drive the terminal.
    """

    def __init__(self, line: str) -> None:
        super().__init__("".join(c if c.isprintable() else c.encode("unicode_escape").decode()
                                 for c in line))


@dataclasses.dataclass(frozen=True)
class Group:
    """Fixtures that move together, each lagging by its spread offset."""

    name: str
    members: np.ndarray            # fixture indices
    spread: str = "none"
    blocks: int = 1                # for the group spread
    span_beats: float = 1.0        # for the position spread
    direction: tuple[float, float] = (1.0, 0.0)
    pattern: str | None = None     # None: the pattern the command is playing

    def offsets(self, period_pips: int, positions: np.ndarray) -> np.ndarray:
        """The pip lag of each member under a pattern of `period_pips`."""
        count = len(self.members)
        if self.spread == "even":
            return even_offsets(count, period_pips)
        if self.spread == "wing":
            return wing_offsets(count, period_pips)
        if self.spread == "group":
            return group_offsets(count, self.blocks, period_pips)
        if self.spread == "position":
            return position_offsets(positions[self.members],
                                    round(self.span_beats * movimo.PIPS_PER_BEAT),
                                    self.direction)
        return np.zeros(count, dtype=np.int64)


@dataclasses.dataclass(frozen=True)
class Axis:
    """Pan or tilt of every fixture, one array entry per fixture.

    `coarse` and `fine` are slot indices into the rig's flat frame
    (universe index * 512 + channel - 1); `fine` is -1 on an 8-bit axis.
    """

    range: np.ndarray
    home: np.ndarray
    amplitude: np.ndarray      # signed: negative when inverted
    speed: np.ndarray          # degrees per second
    source: np.ndarray         # pattern axis driving it: 0 x, 1 y
    coarse: np.ndarray
    fine: np.ndarray
    # Derived once for the frames: the highest DMX value, the shift from it
    # to the coarse byte, and the fixtures with a fine channel and its slots.
    top: np.ndarray = dataclasses.field(init=False)
    shift: np.ndarray = dataclasses.field(init=False)
    fine_fixtures: np.ndarray = dataclasses.field(init=False)
    fine_slots: np.ndarray = dataclasses.field(init=False)

    def __post_init__(self) -> None:
        wide = self.fine >= 0
        object.__setattr__(self, "top", np.where(wide, 65535.0, 255.0))
        object.__setattr__(self, "shift", np.where(wide, 8, 0).astype(np.uint16))
        object.__setattr__(self, "fine_fixtures", np.flatnonzero(wide))
        object.__setattr__(self, "fine_slots", self.fine[wide])


@dataclasses.dataclass(frozen=True)
class Rig:
    """A patch read into arrays: one entry per fixture, in patch order."""

    source: str
    names: tuple[str, ...]
    universes: np.ndarray          # the universe numbers used, ascending
    universe: np.ndarray           # per fixture
    address: np.ndarray            # per fixture, 1-based start address
    footprint: np.ndarray          # per fixture, channel count
    positions: np.ndarray          # (N, 2) metres
    pan: Axis
    tilt: Axis
    z_slot: np.ndarray             # -1 where the pattern's z drives nothing
    resting: np.ndarray            # (universes, 512) uint8: every static value
    groups: tuple[Group, ...]
    z_fixtures: np.ndarray = dataclasses.field(init=False)   # those with a z channel
    z_slots: np.ndarray = dataclasses.field(init=False)      # and its slot

    def __post_init__(self) -> None:
        object.__setattr__(self, "z_fixtures", np.flatnonzero(self.z_slot >= 0))
        object.__setattr__(self, "z_slots", self.z_slot[self.z_slot >= 0])

    def __len__(self) -> int:
        return len(self.names)

    def axes(self) -> tuple[Axis, Axis]:
        return self.pan, self.tilt

    def home_degrees(self) -> np.ndarray:
        return np.stack([self.pan.home, self.tilt.home], axis=1)

    def home_frame(self) -> np.ndarray:
        """Every fixture parked at home, every other channel at its static value."""
        return dmx_frame(self, self.home_degrees(), None)


def _fail(source: str, where: str, field: str, problem: str) -> NoReturn:
    raise PatchError(f"{source}: {where}: {field}: {problem}")


def _unknown_keys(table: dict[str, Any], known: set[str], source: str, where: str) -> None:
    for key in table:
        if key not in known:
            close = difflib.get_close_matches(key, sorted(known), n=1)
            hint = f" (did you mean {close[0]}?)" if close else ""
            _fail(source, where, key if _BARE_KEY.fullmatch(key) else _quoted(key),
                  f"unknown key{hint}")


def _check_name(name: str, source: str, where: str, field: str) -> None:
    for character in name:
        if unicodedata.category(character) in _CONTROL_CATEGORIES:
            _fail(source, where, field, f"{_quoted(name)} holds control character "
                                        f"U+{ord(character):04X}; names are shown on a "
                                        f"console, so they must be printable")


def _number(value: object, source: str, where: str, field: str, low: float, high: float,
            *, positive: bool = False) -> float:
    """`value` as a float from `low` to `high` (and above 0 if `positive`);
    the bounds are checked on the number read, before any conversion."""
    if isinstance(value, bool) or not isinstance(value, (int, float)) or value != value:
        _fail(source, where, field, "must be a number")
    if value in (math.inf, -math.inf):
        _fail(source, where, field, "must be finite")
    if positive and not value > 0:
        _fail(source, where, field, f"must be above 0, not {_quoted(value)}")
    if not low <= value <= high:
        _fail(source, where, field, f"must be {low:g} to {high:g}, not {_quoted(value)}")
    return float(value)


def _integer(value: object, source: str, where: str, field: str, low: int, high: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int) or not low <= value <= high:
        _fail(source, where, field, f"must be a whole number from {low} to {high}")
    return value


def _pair(value: object, source: str, where: str, field: str, limit: float,
          ) -> tuple[float, float]:
    if not isinstance(value, list) or len(value) != 2:
        _fail(source, where, field, "must be two numbers, [pan, tilt]")
    return tuple(_number(v, source, where, field, -limit, limit)  # type: ignore[return-value]
                 for v in value)


@dataclasses.dataclass
class _Entry:
    """One [[fixtures]] entry, checked, before it is expanded into arrays."""

    name: str
    universe: int
    address: int
    count: int
    channels: list[str]
    ranges: tuple[float, float]
    speeds: tuple[float, float]
    values: dict[str, int]
    amplitude: tuple[float, float]
    home: tuple[float, float]
    invert: set[str]
    swap: bool
    z: str | None
    position: tuple[float, float] | None


def _channels(value: object, source: str, where: str) -> list[str]:
    if not isinstance(value, list) or not value:
        _fail(source, where, "channels", "must be a list of channel names")
    for name in value:
        if not isinstance(name, str) or not _CHANNEL_NAME.fullmatch(name):
            _fail(source, where, "channels",
                  f"{_quoted(name)} is not a channel name (a-z, 0-9, _)")
    if len(set(value)) != len(value):
        _fail(source, where, "channels", "a channel is named twice")
    for axis in AXES:
        if axis not in value:
            _fail(source, where, "channels", f"needs a {axis} channel")
    return value


def _named_table(table: object, kind: str, known: set[str], source: str, index: int,
                 ) -> tuple[str, str]:
    """The name of the index-th [[fixtures]] or [[groups]] table, and the
    words that place it in an error; checks it is a table of known keys."""
    where = f"{kind} {index + 1}"
    if not isinstance(table, dict):
        _fail(source, where, f"{kind}s", f"each {kind} must be a table")
    name = table.get("name")
    if not isinstance(name, str) or not name.strip():
        _fail(source, where, "name", f"every {kind} needs a name")
    _check_name(name, source, where, "name")
    where = f"{kind} {_quoted(name)}"
    _unknown_keys(table, known, source, where)
    return name, where


def _entry_of(table: dict[str, Any], types: dict[str, Any], source: str, index: int) -> _Entry:
    name, where = _named_table(table, "fixture", _FIXTURE_KEYS, source, index)
    settings = {}
    if "type" in table:
        kind = table["type"]
        if not isinstance(kind, str) or kind not in types:
            _fail(source, where, "type", f"no type {_quoted(kind)} in [types]")
        settings.update(types[kind])
    settings.update(table)
    for key in ("channels", "universe", "address", "pan_range", "tilt_range", "pan_speed",
                "tilt_speed", "amplitude"):
        if key not in settings:
            _fail(source, where, key, "missing")
    channels = _channels(settings["channels"], source, where)
    ranges = tuple(_number(settings[f"{axis}_range"], source, where, f"{axis}_range", 0.0,
                           MAX_RANGE, positive=True) for axis in AXES)
    speeds = tuple(math.inf if settings[f"{axis}_speed"] == math.inf
                   else _number(settings[f"{axis}_speed"], source, where, f"{axis}_speed",
                                MIN_SPEED, MAX_SPEED, positive=True) for axis in AXES)
    amplitude = _pair(settings["amplitude"], source, where, "amplitude", MAX_RANGE)
    if min(amplitude) < 0:
        _fail(source, where, "amplitude", "must not be negative (use invert)")
    for axis, degrees, span in zip(AXES, amplitude, ranges):
        if degrees > span:
            _fail(source, where, "amplitude", f"{axis} {degrees:g} is more than its range "
                                              f"{span:g}")
    home = _pair(settings.get("home", [ranges[0] / 2, ranges[1] / 2]), source, where, "home",
                 MAX_RANGE)
    for axis, degrees, span in zip(AXES, home, ranges):
        if not 0 <= degrees <= span:
            _fail(source, where, "home", f"{axis} {degrees:g} is outside 0 to {span:g}")
    invert = settings.get("invert", [])
    if not isinstance(invert, list) or not all(axis in AXES for axis in invert):
        _fail(source, where, "invert", "must be a list of 'pan' and 'tilt'")
    swap = settings.get("swap", False)
    if not isinstance(swap, bool):
        _fail(source, where, "swap", "must be true or false")
    static = [c for c in channels if c not in ("pan", "pan_fine", "tilt", "tilt_fine")]
    values = settings.get("values", {})
    if not isinstance(values, dict):
        _fail(source, where, "values", "must be a table of channel = value")
    for channel, value in values.items():
        if channel not in static:
            _fail(source, where, "values", f"{_quoted(channel)} is not one of its static "
                                           f"channels ({', '.join(static) or 'none'})")
        _integer(value, source, where, f"values.{channel}", 0, 255)
    z = settings.get("z")
    if z is not None and z not in static:
        _fail(source, where, "z", f"must name one of its static channels "
                                  f"({', '.join(static) or 'none'})")
    universe = _integer(settings["universe"], source, where, "universe", 0, MAX_UNIVERSE)
    address = _integer(settings["address"], source, where, "address", 1, SLOTS)
    count = _integer(settings.get("count", 1), source, where, "count", 1, MAX_FIXTURES)
    last = address + count * len(channels) - 1
    if last > SLOTS:
        _fail(source, where, "address", f"its channels run from {address} to {last}, past "
                                        f"{SLOTS}")
    position = settings.get("position")
    if position is not None:
        position = _pair(position, source, where, "position", MAX_POSITION)
    return _Entry(name, universe, address, count, channels, ranges, speeds,  # type: ignore[arg-type]
                  values, amplitude, home, set(invert), swap, z, position)


def _group_of(table: dict[str, Any], by_name: dict[str, np.ndarray], source: str,
              index: int) -> Group:
    name, where = _named_table(table, "group", _GROUP_KEYS, source, index)
    fixtures = table.get("fixtures")
    if not isinstance(fixtures, list) or not fixtures:
        _fail(source, where, "fixtures", "must list fixture names")
    for fixture in fixtures:
        if not isinstance(fixture, str) or fixture not in by_name:
            _fail(source, where, "fixtures", f"no fixture named {_quoted(fixture)}")
    members = np.concatenate([by_name[fixture] for fixture in fixtures])
    spread = table.get("spread", "even")
    if spread not in SPREADS:
        _fail(source, where, "spread", f"must be one of {', '.join(SPREADS)}")
    blocks = _integer(table.get("blocks", 1), source, where, "blocks", 1, len(members))
    span = _number(table.get("span", 1.0), source, where, "span", 0.0, MAX_SPAN_BEATS)
    direction = _pair(table.get("direction", [1.0, 0.0]), source, where, "direction",
                      MAX_DIRECTION)
    if direction == (0.0, 0.0):
        _fail(source, where, "direction", "must not be [0, 0]")
    pattern = table.get("pattern")
    if pattern is not None:
        if not isinstance(pattern, str):
            _fail(source, where, "pattern", f"must be a pattern name, not {_quoted(pattern)}")
        try:
            entry(pattern)
        except ValueError:
            _fail(source, where, "pattern", f"unknown pattern {_quoted(pattern)}")
    return Group(name, members, spread, blocks, span, direction, pattern)


def parse_patch(document: dict[str, Any], source: str = "patch") -> Rig:
    """A rig from a parsed patch document; `source` names it in errors,
    which are all one-line PatchErrors."""
    try:
        return _checked_rig(document, source)
    except PatchError:
        raise
    except Exception as error:
        # A value of a shape no check foresaw: still one line, naming the file.
        shown = textwrap.shorten(f"{type(error).__name__}: {error}", 200, placeholder=" ...")
        raise PatchError(f"{source}: cannot use this patch: {shown}") from error


def _checked_rig(document: dict[str, Any], source: str) -> Rig:
    _unknown_keys(document, _TOP_KEYS, source, "top level")
    types = document.get("types", {})
    if not isinstance(types, dict):
        _fail(source, "top level", "types", "must be a table of fixture types")
    for type_name, table in types.items():
        _check_name(type_name, source, "top level", "types")
        if not isinstance(table, dict):
            _fail(source, f"type {_quoted(type_name)}", "types", "must be a table")
        _unknown_keys(table, _TYPE_KEYS, source, f"type {_quoted(type_name)}")
    tables = document.get("fixtures")
    if not isinstance(tables, list) or not tables:
        _fail(source, "top level", "fixtures", "the patch needs at least one [[fixtures]]")
    entries = [_entry_of(table, types, source, i) for i, table in enumerate(tables)]
    names: list[str] = []
    by_name: dict[str, np.ndarray] = {}
    for item in entries:
        first = len(names)
        copies = ([item.name] if item.count == 1
                  else [f"{item.name}-{i + 1}" for i in range(item.count)])
        for name in {item.name, *copies}:
            if name in by_name:
                _fail(source, f"fixture {_quoted(item.name)}", "name", f"{_quoted(name)} is taken")
        by_name[item.name] = np.arange(first, first + item.count)
        by_name.update({copy: np.array([first + i]) for i, copy in enumerate(copies)})
        names += copies
    if len(names) > MAX_FIXTURES:
        _fail(source, "top level", "fixtures", f"at most {MAX_FIXTURES} fixtures")
    rig_arrays = _arrays(entries, source, names)
    groups = _groups(document.get("groups", []), by_name, len(names), source)
    return Rig(source, tuple(names), groups=groups, **rig_arrays)


def _groups(tables: object, by_name: dict[str, np.ndarray], count: int, source: str,
            ) -> tuple[Group, ...]:
    if not isinstance(tables, list):
        _fail(source, "top level", "groups", "must be [[groups]] tables")
    groups = [_group_of(table, by_name, source, i) for i, table in enumerate(tables)]
    owner = np.full(count, -1)
    for index, group in enumerate(groups):
        if any(g.name == group.name for g in groups[:index]):
            _fail(source, f"group {_quoted(group.name)}", "name", "another group has this name")
        taken = group.members[owner[group.members] >= 0]
        if len(taken) or len(np.unique(group.members)) != len(group.members):
            _fail(source, f"group {_quoted(group.name)}", "fixtures",
                  "a fixture may belong to one group only")
        owner[group.members] = index
    rest = np.flatnonzero(owner < 0)
    if len(rest):
        groups.append(Group("ungrouped", rest))
    return tuple(groups)


def _arrays(entries: list[_Entry], source: str, names: list[str]) -> dict[str, Any]:
    """Per-fixture arrays from the checked entries; refuses overlapping addresses."""
    def per_fixture(value_of: Callable[[_Entry], float], dtype: type = np.float64) -> np.ndarray:
        return np.concatenate([np.full(e.count, value_of(e), dtype=dtype) for e in entries])

    index = np.concatenate([np.arange(e.count) for e in entries])
    footprint = per_fixture(lambda e: len(e.channels), np.int64)
    address = per_fixture(lambda e: e.address, np.int64) + index * footprint
    universe = per_fixture(lambda e: e.universe, np.int64)
    _check_overlaps(universe, address, footprint, names, source)
    universes, universe_index = np.unique(universe, return_inverse=True)
    first_slot = universe_index * SLOTS + address - 1

    def slot(channel: str) -> np.ndarray:
        offset = per_fixture(lambda e: e.channels.index(channel) if channel in e.channels
                             else -1, np.int64)
        return np.where(offset >= 0, first_slot + offset, -1)

    def axis(number: int, name: str) -> Axis:
        sign = per_fixture(lambda e: -1.0 if name in e.invert else 1.0)
        return Axis(range=per_fixture(lambda e: e.ranges[number]),
                    home=per_fixture(lambda e: e.home[number]),
                    amplitude=sign * per_fixture(lambda e: e.amplitude[number]),
                    speed=per_fixture(lambda e: e.speeds[number]),
                    source=per_fixture(lambda e: number ^ e.swap, np.int64),
                    coarse=slot(name), fine=slot(f"{name}_fine"))

    z_slot = np.full(len(names), -1, dtype=np.int64)
    resting = np.zeros(len(universes) * SLOTS, dtype=np.uint8)
    # Unplaced fixtures stand 1 m apart along x; a counted row steps along x.
    positions = np.stack([np.arange(len(names), dtype=np.float64), np.zeros(len(names))], axis=1)
    start = 0
    for e in entries:
        span = slice(start, start + e.count)
        if e.z is not None:
            z_slot[span] = first_slot[span] + e.channels.index(e.z)
        for channel, value in e.values.items():
            resting[first_slot[span] + e.channels.index(channel)] = value
        if e.position is not None:
            positions[span] = np.array(e.position) + np.stack(
                [np.arange(e.count), np.zeros(e.count)], axis=1)
        start += e.count
    return dict(universes=universes, universe=universe, address=address, footprint=footprint,
                positions=positions, pan=axis(0, "pan"), tilt=axis(1, "tilt"), z_slot=z_slot,
                resting=resting.reshape(len(universes), SLOTS))


def _check_overlaps(universe: np.ndarray, address: np.ndarray, footprint: np.ndarray,
                    names: list[str], source: str) -> None:
    order = np.lexsort((address, universe))
    same = universe[order][1:] == universe[order][:-1]
    ends = (address + footprint - 1)[order]
    clash = np.flatnonzero(same & (address[order][1:] <= ends[:-1]))
    if len(clash):
        first, second = order[clash[0]], order[clash[0] + 1]
        _fail(source, f"fixture {_quoted(names[second])}", "address",
              f"channels {address[second]}-{address[second] + footprint[second] - 1} of "
              f"universe {universe[second]} overlap fixture {_quoted(names[first])} "
              f"({address[first]}-{address[first] + footprint[first] - 1})")


def load_patch(path: str | os.PathLike[str]) -> Rig:
    """Reads and checks a patch file; every problem is a one-line PatchError."""
    path = pathlib.Path(path)
    try:
        data = _patch_bytes(path)
    except PatchError:
        raise
    except (OSError, ValueError) as error:  # ValueError: a NUL in the path
        raise PatchError(f"{path}: cannot read: {getattr(error, 'strerror', None) or error}",
                         ) from None
    try:
        # Windows editors often start UTF-8 text with a byte-order mark.
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        line = data.count(b"\n", 0, error.start) + 1
        raise PatchError(f"{path}: not UTF-8 text: byte 0x{data[error.start]:02x} on line "
                         f"{line}") from None
    try:
        document = tomllib.loads(text)
    except tomllib.TOMLDecodeError as error:
        raise PatchError(f"{path}: not valid TOML: {error}") from None
    except ValueError:  # int() refuses thousands of digits
        raise PatchError(f"{path}: cannot read: a number of thousands of digits") from None
    except RecursionError:
        raise PatchError(f"{path}: cannot read: arrays or tables nested too deeply") from None
    return parse_patch(document, str(path))


def _patch_bytes(path: pathlib.Path) -> bytes:
    """The bytes of a regular file of at most MAX_PATCH_BYTES: a device such
    as /dev/zero is never read, nor a FIFO waited on."""
    _check_regular(path, os.stat(path))  # before opening: opening a device may act on it
    with open(os.open(path, os.O_RDONLY | os.O_NONBLOCK), "rb") as file:
        # What was opened may have replaced what was looked at.
        _check_regular(path, os.fstat(file.fileno()))
        data = file.read(MAX_PATCH_BYTES + 1)
    if len(data) > MAX_PATCH_BYTES:
        raise PatchError(f"{path}: cannot read: more than the {MAX_PATCH_BYTES >> 20} MiB a "
                         f"patch may hold")
    return data


def _check_regular(path: pathlib.Path, status: os.stat_result) -> None:
    if not stat.S_ISREG(status.st_mode):
        raise PatchError(f"{path}: cannot read: not a regular file (a device, pipe or "
                         f"directory)")


# ---------------------------------------------------------------- frames

@dataclasses.dataclass(frozen=True)
class Motion:
    """Which pattern value each fixture reads. The tables of the playing
    patterns are stacked and flattened into `values` (x, y, z of a row, then
    the next row); fixture i reads row b + (pip - o) mod p where b, o and p
    are base[i], offset[i] and period[i] over 3.
    Reading one flat array by index is several times faster than picking
    rows of a two-dimensional one."""

    patterns: tuple[str, ...]     # the pattern of each group
    values: np.ndarray
    base: np.ndarray
    period: np.ndarray
    offset: np.ndarray

    def at(self, pip: int) -> np.ndarray:
        """Where each fixture's x value sits in `values` at a whole pip; its
        y and z follow it."""
        # 3 (pip - offset) mod 3 period is 3 ((pip - offset) mod period).
        return np.asarray(self.base + (3 * pip - self.offset) % self.period)


def motion(rig: Rig, patterns: Sequence[str]) -> Motion:
    """Group g plays patterns[g] (its own pattern when the patch pins one)."""
    tables: dict[str, tuple[int, np.ndarray]] = {}
    count = len(rig)
    base = np.zeros(count, dtype=np.int64)
    period = np.ones(count, dtype=np.int64)
    offset = np.zeros(count, dtype=np.int64)
    used = 0
    for group, name in zip(rig.groups, patterns, strict=True):
        if name not in tables:
            rows = loop_rows(name)
            tables[name] = (used, rows)
            used += len(rows)
        start, rows = tables[name]
        base[group.members] = start
        period[group.members] = len(rows)
        offset[group.members] = group.offsets(len(rows), rig.positions)
    stacked = np.concatenate([rows for _, rows in tables.values()])
    # Counted in flat values, three to a row.
    return Motion(tuple(patterns), stacked.reshape(-1), 3 * base, 3 * period, 3 * offset)


def target_degrees(rig: Rig, values: np.ndarray, at: np.ndarray) -> np.ndarray:
    """Pan and tilt (N, 2) in degrees, clamped to range, of fixtures reading
    the flat pattern values at `at` (see Motion)."""
    return np.stack([np.minimum(np.maximum(axis.home + axis.amplitude
                                           * values.take(at + axis.source), 0.0), axis.range)
                     for axis in rig.axes()], axis=1)


def dmx_frame(rig: Rig, degrees: np.ndarray, z: np.ndarray | None) -> np.ndarray:
    """The (universes, 512) slots for pan and tilt in degrees; where `z` is
    given (one pattern z per fixture that has a z channel), those channels
    follow it from 0 at -1 to 255 at 1."""
    frame = rig.resting.copy()
    flat = frame.reshape(-1)
    for column, axis in enumerate(rig.axes()):
        level = np.rint(degrees[:, column] / axis.range * axis.top).astype(np.uint16)
        flat[axis.coarse] = (level >> axis.shift).astype(np.uint8)
        # The cast to 8 bits keeps the low byte.
        flat[axis.fine_slots] = level.take(axis.fine_fixtures).astype(np.uint8)
    if z is not None:
        flat[rig.z_slots] = np.rint((z + 1.0) * 127.5).astype(np.uint8)
    return frame


class Player:
    """Frames of a rig playing a list of patterns, one at a time, every
    fixture held to its speed from frame to frame (starting from home)."""

    def __init__(self, rig: Rig, patterns: Sequence[str], rate: float) -> None:
        self.rig = rig
        self.patterns = [entry(name).name for name in patterns]
        if not self.patterns:
            raise ValueError("give at least one pattern")
        self.current = 0
        self.motion = motion(rig, self._group_patterns())
        self.degrees = rig.home_degrees()
        self.max_step = np.stack([axis.speed for axis in rig.axes()], axis=1) / rate
        self.min_step = -self.max_step
        self.limited_frames = 0

    def _group_patterns(self) -> list[str]:
        return [group.pattern or self.patterns[self.current] for group in self.rig.groups]

    def next_pattern(self) -> str:
        """Switches every group without a pattern of its own to the next one."""
        self.current = (self.current + 1) % len(self.patterns)
        self.motion = motion(self.rig, self._group_patterns())
        return self.patterns[self.current]

    def frame(self, pip: float) -> tuple[np.ndarray, int]:
        """The slots at `pip` (floored to a whole pip) and how many fixtures
        were held back to their speed."""
        at = self.motion.at(math.floor(pip))
        change = target_degrees(self.rig, self.motion.values, at) - self.degrees
        step = np.minimum(np.maximum(change, self.min_step), self.max_step)
        self.degrees = self.degrees + step
        cut = step != change
        held = int(np.count_nonzero(cut[:, 0] | cut[:, 1]))  # any(axis=1) is far slower
        self.limited_frames += held > 0
        z = self.motion.values.take(at.take(self.rig.z_fixtures) + 2)
        return dmx_frame(self.rig, self.degrees, z), held


# ---------------------------------------------------------------- speed report

@dataclasses.dataclass(frozen=True)
class SpeedCheck:
    """One pattern against the fixtures that may play it, at a tempo."""

    pattern: str
    bpm: float
    fixtures: np.ndarray           # indices of the fixtures that may play it
    too_fast: np.ndarray           # indices of those it would push past their speed
    fastest_bpm: float             # the fastest tempo within every fixture's speed

    def line(self, names: Sequence[str]) -> str:
        safe = f"fastest safe tempo {self.fastest_bpm:.4g} bpm"
        if not len(self.too_fast):
            return f"{self.pattern}: within every fixture's speed at {self.bpm:g} bpm ({safe})"
        shown = ", ".join(names[i] for i in self.too_fast[:5])
        more = f" and {len(self.too_fast) - 5} more" if len(self.too_fast) > 5 else ""
        return (f"{self.pattern}: too fast at {self.bpm:g} bpm for {len(self.too_fast)} of "
                f"{len(self.fixtures)} fixtures ({shown}{more}); {safe}")


def speed_checks(rig: Rig, patterns: Sequence[str], bpm: float) -> list[SpeedCheck]:
    """For each pattern, the fixtures it would push past their patch speed at
    `bpm`, and the fastest tempo at which it pushes none (inf if it is still)."""
    free = np.concatenate([np.zeros(0, np.int64)]
                          + [g.members for g in rig.groups if g.pattern is None])
    players: dict[str, list[np.ndarray]] = {name: [free] for name in patterns}
    for group in rig.groups:
        if group.pattern is not None:
            players.setdefault(group.pattern, []).append(group.members)
    checks = []
    for name, members in players.items():
        fixtures = np.unique(np.concatenate(members))
        if not len(fixtures):
            continue
        peak = np.array(motion_limits(name, bpm).peak_speed)
        ratios = []
        for axis in rig.axes():
            speed = peak[axis.source[fixtures]] * np.abs(axis.amplitude[fixtures])
            ratios.append(np.divide(speed, axis.speed[fixtures],
                                    out=np.zeros(len(fixtures)), where=speed > 0))
        worst = np.maximum(*ratios)
        highest = float(worst.max())
        # Python's division goes to inf where a tiny amplitude makes the
        # ratio tiny; NumPy's would warn of the overflow.
        fastest = bpm / highest if highest > 0 else math.inf
        checks.append(SpeedCheck(name, bpm, fixtures, fixtures[worst > 1.0], fastest))
    return checks


# ---------------------------------------------------------------- packets

ARTNET_PORT = 6454
SACN_PORT = 5568
# id, opcode, version (high, low), sequence, physical, port-address; the
# opcode and port-address go low byte first, the slot count after them high first.
_ARTDMX_HEAD = struct.Struct("<8sHBBBBH")
_ARTNET_ID = b"Art-Net\x00"
_OP_DMX = 0x5000
_ARTNET_VERSION = 14


def artdmx_packet(port_address: int, sequence: int, slots: bytes) -> bytes:
    """An ArtDmx packet: 18 header bytes, then the slots (an even count, 2 to 512).

    The 15-bit port-address carries net (bits 8-14), sub-net (4-7) and
    universe (0-3) and goes low byte first; sequence 0 means none, so a
    sender counts 1 to 255.

    >>> artdmx_packet(0x0102, 7, bytes([9, 8]))[:20].hex(" ")
    '41 72 74 2d 4e 65 74 00 00 50 00 0e 07 00 02 01 00 02 09 08'
    """
    if not 0 <= port_address < 1 << 15:
        raise ValueError("an Art-Net port-address is 0 to 32767")
    if not 2 <= len(slots) <= SLOTS or len(slots) % 2:
        raise ValueError("ArtDmx carries an even number of slots, 2 to 512")
    head = _ARTDMX_HEAD.pack(_ARTNET_ID, _OP_DMX, 0, _ARTNET_VERSION, sequence, 0, port_address)
    return head + len(slots).to_bytes(2, "big") + bytes(slots)


_ACN_ID = b"ASC-E1.17\x00\x00\x00"
_ROOT_VECTOR_DATA = 0x00000004
_FRAMING_VECTOR_DATA = 0x00000002
_DMP_SET_PROPERTY = 0x02
_E131_HEAD = struct.Struct(">HH12sHI16s" "HI64sBHBBH" "HBBHHH" "B")


def e131_packet(universe: int, sequence: int, slots: bytes, cid: bytes, source_name: str,
                priority: int = 100) -> bytes:
    """An E1.31 data packet: root, framing and DMP layers (126 bytes) and
    the slots after the null start code. Each layer starts with 0x7 in its
    top flag bits and its length from there to the end of the packet.

    >>> packet = e131_packet(1, 0, bytes(512), bytes(16), "movimo")
    >>> len(packet), packet[16:18].hex(), packet[38:40].hex(), packet[115:117].hex()
    (638, '726e', '7258', '720b')
    """
    if not 1 <= universe <= MAX_UNIVERSE:
        raise ValueError(f"an sACN universe is 1 to {MAX_UNIVERSE}")
    _check_priority(priority)
    if len(cid) != 16:
        raise ValueError("a CID is 16 bytes")
    if not 1 <= len(slots) <= SLOTS:
        raise ValueError("an sACN packet carries 1 to 512 slots")
    # At most 63 bytes and a null, cut between characters.
    name = source_name.encode()[:63].decode(errors="ignore").encode()
    total = 126 + len(slots)
    flags = 0x7000
    head = _E131_HEAD.pack(0x0010, 0x0000, _ACN_ID, flags | (total - 16), _ROOT_VECTOR_DATA, cid,
                           flags | (total - 38), _FRAMING_VECTOR_DATA, name, priority, 0,
                           sequence, 0, universe,
                           flags | (total - 115), _DMP_SET_PROPERTY, 0xA1, 0x0000, 0x0001,
                           len(slots) + 1,
                           0x00)
    return head + bytes(slots)


def _check_priority(priority: int) -> None:
    if not 0 <= priority <= 200:
        raise ValueError("an sACN priority is 0 to 200")


def default_cid() -> bytes:
    """A component identifier that stays the same on one machine, as receivers
    expect of a source across restarts."""
    return uuid.uuid5(uuid.NAMESPACE_DNS, f"movimo.{socket.gethostname()}").bytes


class DmxSender:
    """Sends every universe of a frame as one packet to one unicast address."""

    def __init__(self, protocol: str, host: str, port: int, universes: Iterable[int], *,
                 cid: bytes | None = None, source_name: str = "movimo",
                 priority: int = 100) -> None:
        self.protocol = protocol
        self.universes = [int(u) for u in universes]
        self.cid = default_cid() if cid is None else cid
        self.source_name, self.priority = source_name, priority
        if protocol == "artnet" and max(self.universes) >= 1 << 15:
            raise ValueError("Art-Net reaches universes 0 to 32767 only")
        if protocol == "sacn" and min(self.universes) < 1:
            raise ValueError(f"sACN reaches universes 1 to {MAX_UNIVERSE} only")
        _check_priority(priority)
        self.address = resolve_unicast(host, port)
        self._socket = socket.socket(self.address[0], socket.SOCK_DGRAM)
        self.sequence = 0

    def packets(self, frame: np.ndarray) -> list[bytes]:
        """The packets of one (universes, 512) frame; advances the sequence."""
        self.sequence += 1
        if self.protocol == "artnet":
            number = (self.sequence - 1) % 255 + 1
            return [artdmx_packet(u, number, row.tobytes())
                    for u, row in zip(self.universes, frame, strict=True)]
        return [e131_packet(u, self.sequence % 256, row.tobytes(), self.cid, self.source_name,
                            self.priority) for u, row in zip(self.universes, frame, strict=True)]

    def send_packet(self, packet: bytes) -> None:
        self._socket.sendto(packet, self.address[1])

    def send(self, frame: np.ndarray,
             send_packet: Callable[[bytes], object] | None = None) -> int:
        """Sends the packets of a frame, each through `send_packet(packet)`
        (this sender's own unless given); returns how many."""
        packets = self.packets(frame)
        for packet in packets:
            (send_packet or self.send_packet)(packet)
        return len(packets)

    def close(self) -> None:
        self._socket.close()


def parse_destination(text: str, default_port: int) -> tuple[str, int]:
    """HOST or HOST:PORT (an IPv6 host in brackets).

    >>> parse_destination("10.0.0.5", 6454), parse_destination("[::1]:5568", 1)
    (('10.0.0.5', 6454), ('::1', 5568))
    """
    host, port = text, str(default_port)
    if text.startswith("["):
        host, _, rest = text[1:].partition("]")
        if rest:
            port = rest.removeprefix(":")
    elif text.count(":") == 1:
        host, port = text.split(":")
    if not host or not port.isdigit() or not 1 <= int(port) <= 65535:
        raise ValueError(f"the destination must be HOST or HOST:PORT, not {text!r}")
    return host, int(port)


def resolve_unicast(host: str, port: int) -> tuple[int, tuple[Any, ...]]:
    """The address family and socket address of a unicast host."""
    try:
        family, _, _, _, address = socket.getaddrinfo(host, port, type=socket.SOCK_DGRAM)[0]
    except (socket.gaierror, UnicodeError) as error:
        raise ValueError(f"cannot resolve {host}: {getattr(error, 'strerror', error)}") from None
    ip = ipaddress.ip_address(address[0])
    if ip.is_multicast or ip.is_unspecified or str(ip) == "255.255.255.255":
        raise ValueError(f"{host} is not a unicast address: movimo sends to one receiver")
    return family, address


# ---------------------------------------------------------------- the command

RIG_CONTROL_HELP = CONTROL_HELP + "  next    switch to the next PATTERN of the command line\n"
PORTS = {"artnet": ARTNET_PORT, "sacn": SACN_PORT}
DRY_RUN_FRAMES = 4


def fixture_lines(rig: Rig, degrees: np.ndarray, frame: np.ndarray) -> list[str]:
    """One line per fixture: pan and tilt in degrees and its DMX channels."""
    width = max(len(name) for name in rig.names)
    index = np.searchsorted(rig.universes, rig.universe)
    lines = []
    for i, name in enumerate(rig.names):
        start = rig.address[i] - 1
        slots = frame[index[i], start:start + rig.footprint[i]]
        lines.append(f"  {name:<{width}}  pan {degrees[i, 0]:7.2f}°  tilt {degrees[i, 1]:7.2f}°"
                     f"  u{rig.universe[i]}/{rig.address[i]}: {' '.join(map(str, slots))}")
    return lines


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers `movimo dmx` with the command's subparsers."""
    parser = commands.add_parser(
        "dmx", help="drive moving heads over Art-Net or sACN from a patch file",
        description="Drive the fixtures of a patch file (TOML) with patterns in time with a\n"
                    "tempo, sending every universe as ArtDmx or E1.31 packets to one\n"
                    "address. Before it starts it says which patterns would move which\n"
                    "fixtures faster than their patch allows; while it runs no fixture\n"
                    "moves faster. On quit, Ctrl-C or SIGTERM it parks every fixture at\n"
                    "home. Groups of the patch without a pattern of their own play the\n"
                    "first PATTERN, and 'next' moves on to the following one.",
        epilog=RIG_CONTROL_HELP + "\nexample: movimo dmx helix --patch rig.toml --bpm 128 "
                                  "--artnet 10.0.0.20",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="+", metavar="PATTERN", help="patterns to play in turn")
    parser.add_argument("--patch", required=True, metavar="FILE", help="the rig's patch file")
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--artnet", metavar="HOST[:PORT]",
                       help=f"send ArtDmx to this node (port {ARTNET_PORT} by default)")
    where.add_argument("--sacn", metavar="HOST[:PORT]",
                       help=f"send E1.31 unicast to this receiver (port {SACN_PORT} by default)")
    where.add_argument("--dry-run", action="store_true",
                       help=f"send nothing: print the speed report and the first frames "
                            f"({DRY_RUN_FRAMES} unless --frames says)")
    add_clock_arguments(parser, default_rate=44.0)
    parser.add_argument("--priority", type=int, default=100, help="sACN priority, 0 to 200")
    parser.add_argument("--source-name", default="movimo", help="sACN source name")
    parser.set_defaults(run=_run)


def _run(args: argparse.Namespace, out: TextIO) -> None:
    loaded = load_patch(args.patch)
    player = Player(loaded, args.names, args.rate)
    # A dry run's output is the point of it: failing to write that is an
    # error. A running show goes on without its terminal or its reader.
    say = (lambda line: out.write(line + "\n")) if args.dry_run else LineWriter(out)
    for check in speed_checks(loaded, player.patterns, args.bpm):
        say(check.line(loaded.names))
    make_clock, frames = clock_from_arguments(args)
    if args.dry_run:
        _dry_run(player, make_clock, frames or DRY_RUN_FRAMES, args.rate, say)
        return
    protocol = "artnet" if args.artnet else "sacn"
    host, port = parse_destination(args.artnet or args.sacn, PORTS[protocol])
    where = f"{host}:{port}"
    try:
        sender = DmxSender(protocol, host, port, loaded.universes, source_name=args.source_name,
                           priority=args.priority)
    except OSError as error:
        raise ValueError(f"cannot send to {where}: {error.strerror or error}") from None
    warn = LineWriter(sys.stderr)
    send_packet = SendFailures(sender.send_packet, where, warn)
    commands = stdin_commands(note=warn)
    first_hold: list[int] = []

    def send_frame(frame: int, pip: float, bpm: float, due: float) -> int:
        slots, held = player.frame(pip)
        if held and not first_hold:
            first_hold.append(frame)
            say(f"speed limit: {held} fixtures held to their patch speed at frame {frame}"
                f" (said once)")
        return sender.send(slots, send_packet)

    def next_pattern(line: str) -> bool:
        if line.strip().lower() != "next":
            return False
        say(f"playing {player.next_pattern()}")
        return True

    say(f"driving {len(loaded)} fixtures in {len(loaded.universes)} universes with "
        f"{', '.join(player.patterns)} over {protocol} to {where} at {args.rate:g} "
        f"frames/s, {args.bpm:g} bpm; type 'bpm B', 'tap', 'next' or 'quit' and Enter")
    with StopRequests() as stop_requested:
        try:
            report = run_frames(send_frame, make_clock, rate=args.rate, frames=frames,
                                commands=commands, report_line=say, other_command=next_pattern,
                                stop=stop_requested)
        finally:
            # Every ending passes here, an error in a frame or the clock too.
            sender.send(loaded.home_frame(), send_packet)
            sender.close()
        say(f"sent {report.frames} frames, {report.sent} packets ({send_packet.failed} "
            f"failed); {report.skipped} frames skipped; {player.limited_frames} frames held "
            f"a fixture to its speed; parked at home")


def _dry_run(player: Player, make_clock: ClockFactory, frames: int, rate: float,
             say: Callable[[str], object]) -> None:
    clock = make_clock(0.0)
    for frame in range(frames):
        pip = clock.pip_at(frame / rate)
        slots, held = player.frame(pip)
        said_held = f"; {held} fixtures held to their patch speed" if held else ""
        say(f"frame {frame}: beat {pip / movimo.PIPS_PER_BEAT:.3f}, pip {math.floor(pip)}"
            f"{said_held}")
        for line in fixture_lines(player.rig, player.degrees, slots):
            say(line)
    say("dry run: nothing sent")

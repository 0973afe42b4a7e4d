"""Moving heads of a patch file: the patch read, checked and held in
arrays, one entry per fixture.

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
    gdtf = "Maker@Spot.gdtf"   # or: channels, ranges and home from a GDTF file's
    mode = "Extended"          # DMX mode (see movimo_tools.rig.gdtf)

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

    [[outputs]]            # optional: where universes go (else --artnet or --sacn says)
    protocol = "sacn"      # or "artnet"
    universes = [1, 2]     # default: every universe no other output takes
    address = "10.0.0.20"  # unicast; Art-Net also a broadcast address (2.255.255.255,
                           # 255.255.255.255); sACN without one: each universe's
                           # multicast group 239.255.hi.lo
    port = 5568            # default 5568 for sACN, 6454 for Art-Net
    priority = 100         # sACN, 0 to 200
    interface = "10.0.0.5" # this machine's IPv4 address to send from (default: as routed)
    sync = true            # follow each frame with ArtSync or an sACN sync packet
    sync_universe = 63999  # sACN: the universe its sync packets go on
    ttl = 1                # sACN multicast: routers it may cross (1: this network only)
    latency = 40           # ms its lights answer late: their frames are computed ahead

Every number is held to bounds far beyond any real rig, so that nothing
computed from a patch can overflow: ranges above 0 and at most 3600
degrees; speeds 0.01 to 1e9 degrees per second, or inf for no limit;
amplitude 0 to the axis's range and home within it; positions within
±10000 m, a spread's direction within ±1000 (not [0, 0]) and its span 0 to
1023 beats. A patch file is a regular file of at most 4 MiB of UTF-8 (a
byte-order mark is allowed), and names may hold no control characters: a
console shows them. `load_patch` also reads an MVR file, a whole rig (see
`movimo_tools.rig.mvr`).

The patch is read once into arrays, one entry per fixture, so a frame for
every fixture is a handful of NumPy operations whatever the size of the rig.

`dmx_frame` writes pan and tilt into a frame's slots; it sits beside `Rig`,
whose home frame it writes.
"""

from __future__ import annotations

import dataclasses
import difflib
import ipaddress
import math
import os
import pathlib
import re
import reprlib
import tomllib
import unicodedata
from collections.abc import Callable
from typing import Any
from typing import NoReturn

import numpy as np

import movimo
from movimo_tools.catalogue import entry
from movimo_tools.rig.files import PatchError, described, open_regular
from movimo_tools.rig.gdtf import FixtureTypes, FixtureTypeSettings
from movimo_tools.rig.mvr import notes as mvr_notes
from movimo_tools.rig.mvr import read_mvr, side_file
from movimo_tools.spread import even_offsets, group_offsets, position_offsets, wing_offsets

SLOTS = 512
MAX_UNIVERSE = 63999
MAX_ARTNET_UNIVERSE = (1 << 15) - 1
MAX_FIXTURES = 1 << 16
AXES = ("pan", "tilt")
# The channels movimo moves itself; every other channel holds its `values`.
DRIVEN_CHANNELS = ("pan", "pan_fine", "tilt", "tilt_fine")
SPREADS = ("none", "even", "wing", "group", "position")
PROTOCOLS = ("artnet", "sacn")
DEFAULT_PORTS = {"artnet": 6454, "sacn": 5568}
# The highest sACN universe: the usual choice for sync packets, clear of
# the low universes that carry data.
DEFAULT_SYNC_UNIVERSE = MAX_UNIVERSE

_TYPE_KEYS = {"channels", "pan_range", "tilt_range", "pan_speed", "tilt_speed", "values",
              "amplitude", "home", "invert", "swap", "z", "gdtf", "mode"}
_FIXTURE_KEYS = _TYPE_KEYS | {"name", "type", "universe", "address", "count", "position"}
_GROUP_KEYS = {"name", "fixtures", "spread", "blocks", "span", "direction", "pattern"}
_OUTPUT_KEYS = {"protocol", "universes", "address", "port", "priority", "interface", "sync",
                "sync_universe", "ttl", "latency"}
# Lights answer within a second; a larger latency is a typo.
MAX_OUTPUT_LATENCY_MS = 1000.0
_TOP_KEYS = {"types", "fixtures", "groups", "outputs"}
_CHANNEL_NAME = re.compile(r"[a-z][a-z0-9_]*")
_BARE_KEY = re.compile(r"[A-Za-z0-9_-]{1,40}")
# An IPv4 or IPv6 address or a DNS name; resolving it waits for the show.
_HOST_NAME = re.compile(r"[A-Za-z0-9.:_%-]{1,253}")
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
class PatchOutput:
    """Where some of a rig's universes go: an [[outputs]] entry, or what
    --artnet or --sacn says for every universe."""

    protocol: str                  # "artnet" or "sacn"
    universes: tuple[int, ...]     # ascending
    address: str | None            # None: sACN multicast, each universe to its group
    port: int
    priority: int = 100
    interface: str | None = None   # an IPv4 address of this machine to send from
    sync: bool = False
    sync_universe: int = DEFAULT_SYNC_UNIVERSE
    ttl: int = 1
    latency: float = 0.0           # ms: its fixtures' frames are computed this far ahead


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
    notes: tuple[str, ...] = ()    # what the loader tells the user: types from files, ...
    outputs: tuple[PatchOutput, ...] = ()   # none: the command line says where
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
    for name in value:
        # A misspelt driven channel would silently become a constant one.
        close = difflib.get_close_matches(name, DRIVEN_CHANNELS, n=1, cutoff=0.75)
        if close and name not in DRIVEN_CHANNELS:
            _fail(source, where, "channels", f"{_quoted(name)} drives nothing: did you mean "
                                             f"{close[0]}? (rename it to hold it constant)")
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


def _entry_of(table: dict[str, Any], types: dict[str, Any], source: str, index: int,
              fixture_types: FixtureTypeSettings | None) -> _Entry:
    name, where = _named_table(table, "fixture", _FIXTURE_KEYS, source, index)
    settings = {}
    kind = table.get("type")
    if "type" in table:
        if not isinstance(kind, str) or kind not in types:
            _fail(source, where, "type", f"no type {_quoted(kind)} in [types]")
        settings.update(types[kind])
    settings.update(table)
    if "gdtf" in settings:
        if fixture_types is None:
            _fail(source, where, "gdtf", "GDTF types are read by load_patch, which knows the "
                                         "patch's folder")
        settings = fixture_types(settings, kind, where)
    elif "mode" in settings:
        _fail(source, where, "mode", "names a DMX mode of a GDTF file: give gdtf too")
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
    static_names = set(static)   # a type read from a file may have hundreds of channels
    values = settings.get("values", {})
    if not isinstance(values, dict):
        _fail(source, where, "values", "must be a table of channel = value")
    for channel, value in values.items():
        if channel not in static_names:
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


def parse_patch(document: dict[str, Any], source: str = "patch",
                fixture_types: FixtureTypeSettings | None = None) -> Rig:
    """A rig from a parsed patch document; `source` names it in errors,
    which are all one-line PatchErrors. `fixture_types` gives the settings
    of fixtures whose type names a GDTF file (`FixtureTypes.settings`)."""
    try:
        return _checked_rig(document, source, fixture_types)
    except PatchError:
        raise
    except Exception as error:
        # A value of a shape no check foresaw: still one line, naming the file.
        raise PatchError(f"{source}: cannot use this patch: {described(error)}") from error


def _checked_rig(document: dict[str, Any], source: str,
                 fixture_types: FixtureTypeSettings | None) -> Rig:
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
    entries = [_entry_of(table, types, source, i, fixture_types)
               for i, table in enumerate(tables)]
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
    outputs = _outputs(document.get("outputs", []), rig_arrays["universes"].tolist(), source)
    return Rig(source, tuple(names), groups=groups, outputs=outputs, **rig_arrays)


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


def _outputs(tables: object, universes: list[int], source: str) -> tuple[PatchOutput, ...]:
    """The [[outputs]] entries, checked; with any, every universe of the rig
    must go to one of them."""
    if not isinstance(tables, list):
        _fail(source, "top level", "outputs", "must be [[outputs]] tables")
    listed = [_listed_universes(table, universes, source, index)
              for index, table in enumerate(tables)]
    takers = [index for index, chosen in enumerate(listed) if chosen is None]
    if len(takers) > 1:
        _fail(source, f"output {takers[1] + 1}", "universes",
              "only one output may leave its universes out (it takes the rest)")
    claimed = {u for chosen in listed if chosen is not None for u in chosen}
    rest = tuple(u for u in universes if u not in claimed)
    if tables and not takers and rest:
        _fail(source, "top level", "outputs", f"no output carries universe"
                                              f"{'s' * (len(rest) > 1)} "
                                              f"{', '.join(map(str, rest))}: list "
                                              f"{'them' if len(rest) > 1 else 'it'} in an "
                                              f"output, or leave one output's universes out")
    return tuple(_output_of(table, rest if chosen is None else chosen, universes, source, index)
                 for index, (table, chosen) in enumerate(zip(tables, listed)))


def _listed_universes(table: object, universes: list[int], source: str, index: int,
                      ) -> tuple[int, ...] | None:
    """The universes an output names (None: it takes the rest)."""
    where = f"output {index + 1}"
    if not isinstance(table, dict):
        _fail(source, where, "outputs", "each output must be a table")
    _unknown_keys(table, _OUTPUT_KEYS, source, where)
    if "universes" not in table:
        return None
    chosen = table["universes"]
    if not isinstance(chosen, list) or not chosen:
        _fail(source, where, "universes", "must list universe numbers of the patch")
    for universe in chosen:
        if isinstance(universe, bool) or not isinstance(universe, int) or (
                universe not in universes):
            _fail(source, where, "universes", f"no fixture is on universe {_quoted(universe)}")
    if len(set(chosen)) != len(chosen):
        _fail(source, where, "universes", "a universe is listed twice")
    return tuple(sorted(chosen))


def _output_of(table: dict[str, Any], chosen: tuple[int, ...], universes: list[int],
               source: str, index: int) -> PatchOutput:
    where = f"output {index + 1}"
    protocol = table.get("protocol")
    if protocol not in PROTOCOLS:
        _fail(source, where, "protocol", f"must be {' or '.join(PROTOCOLS)}")
    if not chosen:
        _fail(source, where, "universes", "every universe goes to another output already")
    sacn = protocol == "sacn"
    low, high = (1, MAX_UNIVERSE) if sacn else (0, MAX_ARTNET_UNIVERSE)
    if not (low <= chosen[0] and chosen[-1] <= high):
        _fail(source, where, "universes", f"{protocol} carries universes {low} to {high}")
    for key in ("priority", "sync_universe", "ttl"):
        if key in table and not sacn:
            _fail(source, where, key, "is for sACN outputs only")
    address = table.get("address")
    if address is not None:
        address = _output_address(address, protocol, source, where)
    elif not sacn:
        _fail(source, where, "address", "an Art-Net output needs the address of its node, or "
                                        "a broadcast address")
    interface = table.get("interface")
    if interface is not None:
        try:
            ip = ipaddress.IPv4Address(interface)
        except (ipaddress.AddressValueError, TypeError):
            _fail(source, where, "interface", f"must be an IPv4 address of this machine, not "
                                              f"{_quoted(interface)}")
        if ip.is_multicast or ip.is_unspecified or ip == ipaddress.IPv4Address("255.255.255.255"):
            _fail(source, where, "interface", f"{ip} is no address of a machine")
    sync = table.get("sync", False)
    if not isinstance(sync, bool):
        _fail(source, where, "sync", "must be true or false")
    sync_universe = _integer(table.get("sync_universe", DEFAULT_SYNC_UNIVERSE), source, where,
                             "sync_universe", 1, MAX_UNIVERSE)
    if sync and sacn and sync_universe in universes:
        _fail(source, where, "sync_universe", f"universe {sync_universe} carries fixtures: sync "
                                              f"packets need a universe of their own")
    return PatchOutput(protocol, chosen, address,
                       _integer(table.get("port", DEFAULT_PORTS[protocol]), source, where, "port",
                                1, 65535),
                       _integer(table.get("priority", 100), source, where, "priority", 0, 200),
                       interface, sync, sync_universe,
                       _integer(table.get("ttl", 1), source, where, "ttl", 1, 255),
                       _number(table.get("latency", 0.0), source, where, "latency", 0.0,
                               MAX_OUTPUT_LATENCY_MS))


def _output_address(address: object, protocol: str, source: str, where: str) -> str:
    """A host name or an IP address an output may send to."""
    if not isinstance(address, str) or not _HOST_NAME.fullmatch(address):
        _fail(source, where, "address", f"must be an IP address or a host name, not "
                                        f"{_quoted(address)}")
    try:
        ip = ipaddress.ip_address(address)
    except ValueError:
        return address      # a name: resolved when the show starts
    if ip.is_multicast:
        _fail(source, where, "address", "leave it out for sACN multicast: each universe goes "
                                        "to its own group" if protocol == "sacn"
              else "Art-Net goes to a node or by broadcast, not multicast")
    if ip.is_unspecified or (protocol == "sacn" and str(ip) == "255.255.255.255"):
        _fail(source, where, "address", f"cannot send {protocol} to {ip}")
    return address


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
        offset = {channel: index for index, channel in enumerate(e.channels)}
        if e.z is not None:
            z_slot[span] = first_slot[span] + offset[e.z]
        for channel, value in e.values.items():
            resting[first_slot[span] + offset[channel]] = value
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
    """Reads and checks a patch file, or an MVR file (a path ending in .mvr)
    and its side file; every problem is a one-line PatchError."""
    path = pathlib.Path(path)
    if path.suffix.lower() == ".mvr":
        side = side_file(path)
        loaded, lines, left_alone = read_mvr(
            path, read_toml(side, MAX_PATCH_BYTES, "a patch") if side.exists() else None, side,
            parse_patch)
        return dataclasses.replace(
            loaded, notes=mvr_notes(lines, left_alone, set(loaded.universes.tolist())))
    fixture_types = FixtureTypes(path.parent, str(path))
    loaded = parse_patch(read_toml(path, MAX_PATCH_BYTES, "a patch"), str(path),
                         fixture_types.settings)
    return dataclasses.replace(loaded, notes=tuple(fixture_types.lines()))


def read_toml(path: str | os.PathLike[str], max_bytes: int, what: str) -> dict[str, Any]:
    """The document of a TOML file of the show (a patch, an MVR file's side
    file, a MIDI map): a regular file of at most `max_bytes` of UTF-8 text, a
    byte-order mark allowed. Every problem is a one-line PatchError naming
    the file; `what` names the kind of file where it is too big."""
    path = pathlib.Path(path)
    with open_regular(path) as file:
        data = file.read(max_bytes + 1)
    if len(data) > max_bytes:
        size = f"{max_bytes >> 20} MiB" if max_bytes >= 1 << 20 else f"{max_bytes >> 10} KiB"
        raise PatchError(f"{path}: cannot read: more than the {size} {what} may hold")
    try:
        # Windows editors often start UTF-8 text with a byte-order mark.
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        line = data.count(b"\n", 0, error.start) + 1
        raise PatchError(f"{path}: not UTF-8 text: byte 0x{data[error.start]:02x} on line "
                         f"{line}") from None
    try:
        return tomllib.loads(text)
    except tomllib.TOMLDecodeError as error:
        raise PatchError(f"{path}: not valid TOML: {error}") from None
    except ValueError:  # int() refuses thousands of digits
        raise PatchError(f"{path}: cannot read: a number of thousands of digits") from None
    except RecursionError:
        raise PatchError(f"{path}: cannot read: arrays or tables nested too deeply") from None


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

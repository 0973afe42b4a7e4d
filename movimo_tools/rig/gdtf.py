"""Fixture types from GDTF files, the fixture format the makers publish.

A `[types.NAME]` table (or a fixture) of a patch may name a GDTF file and
one of its DMX modes instead of typing the channels by hand::

    [types.spot]
    gdtf = "Maker@Spot.gdtf"   # in the patch's folder or below it
    mode = "Extended"          # may be left out when the file has one mode
    values = { dimmer = 255 }  # anything the patch states wins

From the mode come:

- `channels`, in DMX order from the start address. The first Pan and Tilt
  channels become `pan` and `tilt`, their second bytes `pan_fine` and
  `tilt_fine` (a third and fourth byte, `_ultra` and `_uber`, stay at their
  default); every other channel is named from its attribute in lower case
  ("ColorAdd_R" becomes `color_add_r`), a repeated name taking `_2`, `_3`.
  Channels of a second DMX break, and virtual channels, are not sent.
- `pan_range` and `tilt_range`: the degrees from DMX value 0 to the top, from
  the PhysicalFrom and PhysicalTo of the Pan and Tilt channel functions
  (which must start at DMX 0).
- `home`: where each axis's default DMX value puts it.
- `values`: every other channel at its default DMX value. The patch's
  `values` are laid over these channel by channel.
- `pan_speed` and `tilt_speed`: the function's range over its RealFade (the
  seconds it takes from one end to the other) where the file gives one,
  else the patch's, else `DEFAULT_SPEEDS`: 180 degrees per second pan and
  120 tilt, slower than most moving heads.
- `amplitude`: the patch's, else a quarter of each range
  (`DEFAULT_AMPLITUDE_SHARE`).

The dry run and the start of every run say, per type, which channels movimo
drives and which it holds, and where each number came from (the file, the
patch, or a default).

GDTF files are zip archives read under the bounds of
`movimo_tools.rig.files`; their description is parsed with pygdtf (an
optional extra: `pip install '.[gdtf]'` from a clone) only after it has been checked
there. A file with no Pan and Tilt channels at all is no moving head and is
not parsed further. Otherwise what the library's work grows with is counted
first: it sizes lists by DMX offsets and breaks (at most
`_BOUNDED_ATTRIBUTES`) and numbers by the bytes of DMX values and channels
(at most `MAX_CHANNEL_BYTES`), copies every channel of a geometry once per
reference to it (at most `MAX_REFERENCE_COPIES` copies), checks every
channel against every offset (at most `MAX_EXPANDED_CHANNELS`, counting
copies) and looks for the channels of every geometry among all of them (at
most `MAX_GEOMETRY_SCAN` geometries times channels). Real moving heads stay
well within these; a file made to exhaust the library is refused at once,
and one at the bounds takes a few seconds.
"""

from __future__ import annotations

import collections
import dataclasses
import io
import math
import pathlib
import re
from collections.abc import Sequence
from typing import Any, Protocol
from xml.parsers import expat

from movimo_tools.extras import missing_extra
from movimo_tools.rig.files import (Archive, Budget, PatchError, check_xml, described,
                                    open_regular)

DEFAULT_SPEEDS = {"pan": 180.0, "tilt": 120.0}
DEFAULT_AMPLITUDE_SHARE = 0.25
MAX_GDTF_BYTES = 64 << 20
MAX_DESCRIPTION_BYTES = 32 << 20
DESCRIPTION = "description.xml"
AXES = ("pan", "tilt")
DRIVEN = ("pan", "pan_fine", "tilt", "tilt_fine")
NAMES_SHOWN = 8
MAX_CHANNEL_BYTES = 4
_FINER = ("fine", "ultra", "uber")             # the bytes after the coarse one
_AXIS_ATTRIBUTES = {"Pan": "pan", "Tilt": "tilt"}
MAX_REFERENCE_COPIES = 1024
MAX_EXPANDED_CHANNELS = 4096
MAX_GEOMETRY_SCAN = 1 << 24
# Numbers the GDTF library turns into list lengths.
_BOUNDED_ATTRIBUTES = {"Offset": 4096, "DMXOffset": 1 << 16, "DMXBreak": 256}
_DMX_VALUE = re.compile(r"\s*\d+/(\d+)s?\s*")


class FixtureTypeSettings(Protocol):
    """What the patch reader calls for a fixture whose settings name a GDTF
    file: `FixtureTypes.settings`."""

    def __call__(self, stated: dict[str, Any], type_name: str | None, where: str,
                 ) -> dict[str, Any]:
        """The settings `stated` with what the file gives laid under them."""


@dataclasses.dataclass(frozen=True)
class Packed:
    """A GDTF file packed in the rig's MVR file, rather than a path on disk."""

    name: str


@dataclasses.dataclass(frozen=True)
class GdtfMode:
    """One DMX mode of a GDTF file, as much of a patch type as the file gives."""

    file: str                      # the file, as errors and the dry run name it
    name: str
    channels: tuple[str, ...]
    values: dict[str, int]         # every channel but the driven ones, at its default
    ranges: dict[str, float]       # degrees, per axis the mode has
    home_shares: dict[str, float]  # the default DMX value over the top, per axis
    speeds: dict[str, float]       # degrees per second, where the file gives them
    unsent: str = ""               # what of the mode is not sent, if anything


def channel_name(attribute: str) -> str:
    """A GDTF attribute as a patch channel name (a-z, 0-9, _).

    >>> [channel_name(a) for a in ("ColorAdd_R", "Gobo1WheelSpin", "ColorRGB_Red", "3D")]
    ['color_add_r', 'gobo1_wheel_spin', 'color_rgb_red', 'c_3d']
    """
    words = re.sub(r"(?<=[a-z])(?=[A-Z])|(?<=[0-9A-Z])(?=[A-Z][a-z])", "_", attribute).lower()
    name = re.sub(r"[^a-z0-9]+", "_", words).strip("_") or "channel"
    return name if name[0].isalpha() else f"c_{name}"


def _level(value: Any, width: int) -> int:
    """A GDTF DMX value ("value/bytes") at a channel's width in bytes: a
    value of fewer bytes is scaled up (255/1 is 65535 on two bytes)."""
    top, stated_top = (1 << 8 * width) - 1, (1 << 8 * max(1, int(value.byte_count))) - 1
    return min(max(round(int(value.value) * top / stated_top), 0), top)


def _library() -> Any:
    try:
        import pygdtf  # type: ignore[import-untyped]
    except ImportError:
        raise PatchError(f"reading GDTF files {missing_extra('gdtf', ['pygdtf', 'pymvr'])}",
                         ) from None
    return pygdtf


def read_description(archive: Archive) -> Any | None:
    """The fixture type of a GDTF archive, as pygdtf reads it; None if none
    of its modes has Pan and Tilt channels."""
    label = f"{archive.label}: {DESCRIPTION}"
    data = archive.read(DESCRIPTION, MAX_DESCRIPTION_BYTES)
    check_xml(data, label)
    if not _moves_and_within_bounds(data, label):
        return None
    pygdtf = _library()
    try:
        return pygdtf.FixtureType(dsc_file=io.BytesIO(data))
    except Exception as error:  # the library's own, of any kind: still one line
        raise PatchError(f"{label}: cannot read: {described(error)}") from None


def _moves_and_within_bounds(data: bytes, label: str) -> bool:
    """Whether a description has Pan and Tilt channels; if it has, refuses
    it where it would make the GDTF library work without end (see above)."""
    parser = expat.ParserCreate()
    geometries, inside = 0, 0
    references: collections.Counter[str | None] = collections.Counter()
    channels: collections.Counter[str | None] = collections.Counter()
    axes: set[str] = set()
    refused: list[str] = []

    def start(name: str, attributes: dict[str, str]) -> None:
        nonlocal geometries, inside
        if name == "LogicalChannel" and attributes.get("Attribute") in _AXIS_ATTRIBUTES:
            axes.add(attributes["Attribute"])
        refused.extend(f"{name} {attribute}={value[:40]!r} is out of bounds"
                       for attribute, value in attributes.items()
                       if _out_of_bounds(attribute, value))
        geometries += inside > 0
        inside += name == "Geometries"
        if name == "GeometryReference":
            references[attributes.get("Geometry")] += 1
        elif name == "DMXChannel":
            channels[attributes.get("Geometry")] += 1

    def end(name: str) -> None:
        nonlocal inside
        inside -= name == "Geometries"

    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.Parse(data, True)
    if len(axes) < len(_AXIS_ATTRIBUTES):
        return False
    if refused:
        raise PatchError(f"{label}: {refused[0]}")
    copies = sum(count * references[geometry] for geometry, count in channels.items())
    expanded = copies + sum(channels.values())
    if (copies > MAX_REFERENCE_COPIES or expanded > MAX_EXPANDED_CHANNELS
            or geometries * expanded > MAX_GEOMETRY_SCAN):
        raise PatchError(f"{label}: {expanded} DMX channels ({copies} of them copies for "
                         f"geometry references) in {geometries} geometries: more than is read "
                         f"({MAX_EXPANDED_CHANNELS} channels, {MAX_REFERENCE_COPIES} copies, "
                         f"{MAX_GEOMETRY_SCAN} channels times geometries)")
    return True


def _out_of_bounds(attribute: str, value: str) -> bool:
    """Whether an attribute holds a number the GDTF library would size a list
    by, above its bound, or give a DMX value or channel more than
    MAX_CHANNEL_BYTES bytes (it shifts by them)."""
    stated = _DMX_VALUE.fullmatch(value)
    if stated and (len(stated[1]) > 1 or int(stated[1]) > MAX_CHANNEL_BYTES):
        return True
    if attribute not in _BOUNDED_ATTRIBUTES:
        return False
    numbers = re.findall(r"\d+", value)
    return (any(len(n) > 9 or int(n) > _BOUNDED_ATTRIBUTES[attribute] for n in numbers)
            or (attribute == "Offset" and len(numbers) > MAX_CHANNEL_BYTES))


def listed(names: Sequence[str]) -> str:
    """The names joined by commas, at most NAMES_SHOWN of them."""
    more = f" and {len(names) - NAMES_SHOWN} more" if len(names) > NAMES_SHOWN else ""
    return ", ".join(names[:NAMES_SHOWN]) + more


def mode_of(fixture_type: Any, mode: str | None, label: str, where: str) -> GdtfMode:
    """The DMX mode `mode` (None: the only one) of a fixture type pygdtf read."""
    modes = list(fixture_type.dmx_modes)
    names = [repr(str(m.name)) for m in modes]
    if mode is None and len(modes) != 1:
        raise PatchError(f"{label}: {where} names no DMX mode and the file has "
                         f"{len(modes)}: {listed(names)}")
    chosen = modes[0] if mode is None else fixture_type.dmx_modes.get_mode_by_name(mode)
    if chosen is None:
        raise PatchError(f"{label}: has no DMX mode {mode!r}, which {where} names (its "
                         f"modes: {listed(names)})")
    try:
        return _read_mode(chosen, label)
    except PatchError:
        raise
    except Exception as error:
        raise PatchError(f"{label}: mode {str(chosen.name)!r}: cannot read: {described(error)}",
                         ) from None


def _read_mode(mode: Any, label: str) -> GdtfMode:
    slots: dict[int, str] = {}
    taken: set[str] = set()
    values: dict[str, int] = {}
    ranges: dict[str, float] = {}
    home_shares: dict[str, float] = {}
    speeds: dict[str, float] = {}
    other_breaks: set[int] = set()
    for channel in mode.dmx_channels:
        if not channel.offset:                 # virtual
            continue
        if channel.dmx_break != 1:
            other_breaks.add(channel.dmx_break)
            continue
        attribute = str(channel.attribute)
        width = len(channel.offset)
        names = _byte_names(attribute, width, taken)
        level = _level(channel.default, width)
        axis = names[0] if names[0] in AXES else None
        for index, (offset, name) in enumerate(zip(channel.offset, names)):
            if offset in slots:
                raise PatchError(f"{label}: mode {str(mode.name)!r}: two channels at offset "
                                 f"{offset}")
            slots[offset] = name
            if axis is None or index >= 2:     # the driven axes take two bytes at most
                values[name] = (level >> 8 * (width - 1 - index)) & 0xFF
        if axis is not None:
            ranges[axis], speed = _axis_range(channel, attribute, width, label)
            if speed is not None:
                speeds[axis] = speed
            home_shares[axis] = level / ((1 << 8 * width) - 1)
    if not slots:
        raise PatchError(f"{label}: mode {str(mode.name)!r} has no DMX channels")
    channels = tuple(slots.get(offset, f"unused_{offset}") for offset in range(1, max(slots) + 1))
    values.update({name: 0 for name in channels if name.startswith("unused_")})
    unsent = (f"channels of DMX break {', '.join(map(str, sorted(other_breaks)))} are not sent"
              if other_breaks else "")
    return GdtfMode(label, str(mode.name), channels, values, ranges, home_shares, speeds, unsent)


def _byte_names(attribute: str, width: int, taken: set[str]) -> list[str]:
    """The channel names of a channel's bytes, coarse first, none of them taken."""
    base = _AXIS_ATTRIBUTES.get(attribute) or channel_name(attribute)
    candidate, count = base, 1
    while True:
        names = [candidate] + [f"{candidate}_{finer}" for finer in _FINER[:width - 1]]
        if not taken.intersection(names):
            taken.update(names)
            return names
        count += 1
        candidate = f"{base}_{count}"


def _axis_range(channel: Any, attribute: str, width: int, label: str,
                ) -> tuple[float, float | None]:
    """Degrees from DMX 0 to the top of the channel, from the function of
    `attribute` that starts at DMX 0; and its speed, if it gives a RealFade."""
    functions = [function for logical in channel.logical_channels
                 for function in logical.channel_functions if str(function.attribute) == attribute]
    starting = [f for f in functions if _level(f.dmx_from, width) == 0]
    if not starting:
        raise PatchError(f"{label}: no {attribute} function starts at DMX 0")
    function = starting[0]
    span = abs(float(function.physical_to.value) - float(function.physical_from.value))
    covered = _level(function.dmx_to, width)
    if covered <= 0:
        raise PatchError(f"{label}: its {attribute} function covers no DMX values")
    degrees = span * ((1 << 8 * width) - 1) / covered
    fade = float(function.real_fade)
    return degrees, (span / fade if fade > 0 and span > 0 else None)


@dataclasses.dataclass
class _Use:
    """A type as the first of its fixtures uses it, and how many do."""

    user: str                      # "type 'spot'", or the fixture that names the file
    mode: GdtfMode
    settings: dict[str, Any]
    sources: dict[str, str]
    names: list[str]               # of its [[fixtures]] entries
    count: int = 0                 # of its fixtures


class FixtureTypes:
    """The GDTF files one patch names, each read once, and the settings
    their types give its fixtures: `settings` is the hook the patch reader
    calls for every fixture with a `gdtf` key.

    A string names a file relative to `folder`; a `Packed` name, a file in
    `packed`, the MVR archive being read.
    """

    def __init__(self, folder: pathlib.Path, source: str, budget: Budget | None = None) -> None:
        self.folder = folder
        self.source = source
        self.budget = budget or Budget()
        self.packed: Archive | None = None
        self._types: dict[object, tuple[str, Any | None]] = {}
        self._modes: dict[tuple[object, str | None], GdtfMode] = {}
        self._uses: dict[tuple[str, object, str], _Use] = {}

    def mode(self, gdtf: object, mode: object, where: str) -> GdtfMode:
        """The DMX mode `mode` of the GDTF file `gdtf`, as a fixture at
        `where` names them."""
        if mode is not None and not isinstance(mode, str):
            raise PatchError(f"{self.source}: {where}: mode: must be the name of a DMX mode")
        if not isinstance(gdtf, (str, Packed)):
            raise PatchError(f"{self.source}: {where}: gdtf: must be a file name")
        key = (gdtf, mode)
        if key not in self._modes:
            label, fixture_type = self._fixture_type(gdtf, where)
            self._modes[key] = (GdtfMode(label, mode or "", (), {}, {}, {}, {})
                                if fixture_type is None else
                                mode_of(fixture_type, mode, label, where))
        return self._modes[key]

    def _fixture_type(self, gdtf: str | Packed, where: str) -> tuple[str, Any | None]:
        if gdtf not in self._types:
            if isinstance(gdtf, Packed):
                assert self.packed is not None, "only an MVR file's reader packs names"
                archive = self.packed.nested(gdtf.name, MAX_GDTF_BYTES)
                self._types[gdtf] = (archive.label, read_description(archive))
            else:
                path = self._path(gdtf, where)
                with open_regular(path) as file:
                    archive = Archive(file, str(path), self.budget)
                    self._types[gdtf] = (archive.label, read_description(archive))
        return self._types[gdtf]

    def _path(self, name: str, where: str) -> pathlib.Path:
        relative = pathlib.PurePath(name)
        if not name or relative.is_absolute() or ".." in relative.parts:
            raise PatchError(f"{self.source}: {where}: gdtf: {name!r} must name a file in the "
                             f"patch's folder or below it")
        return self.folder / relative

    def settings(self, stated: dict[str, Any], type_name: str | None, where: str,
                 ) -> dict[str, Any]:
        """A fixture's settings: what its GDTF mode and the defaults give,
        under what the patch states (`stated`, its type's and its own keys)."""
        found = self.mode(stated["gdtf"], stated.get("mode"), where)
        if not found.channels:
            raise PatchError(f"{found.file}: no DMX mode has Pan and Tilt channels: movimo "
                             f"drives moving heads")
        channels = stated.get("channels", list(found.channels))
        merged: dict[str, Any] = {"channels": channels}
        sources: dict[str, str] = {}
        for axis in AXES:
            if axis in found.ranges:
                merged[f"{axis}_range"] = found.ranges[axis]
            merged[f"{axis}_speed"] = found.speeds.get(axis, DEFAULT_SPEEDS[axis])
            sources[f"{axis}_speed"] = "file" if axis in found.speeds else "default"
        ranges = [r for r in (stated.get(f"{axis}_range", merged.get(f"{axis}_range"))
                              for axis in AXES)
                  if isinstance(r, (int, float)) and not isinstance(r, bool) and math.isfinite(r)]
        if len(ranges) == len(AXES):    # else the patch's check of the ranges says what is wrong
            merged["amplitude"] = [r * DEFAULT_AMPLITUDE_SHARE for r in ranges]
            sources["amplitude"] = "default"
            if all(axis in found.home_shares for axis in AXES):
                merged["home"] = [found.home_shares[axis] * r for axis, r in zip(AXES, ranges)]
                sources["home"] = "file"
        merged.update((key, value) for key, value in stated.items()
                      if key not in ("gdtf", "mode", "values"))
        sources.update((key, "patch") for key in stated)
        values = stated.get("values", {})
        # Channels the patch names itself keep the file's values of those they share.
        kept = {c for c in channels if isinstance(c, str)} if isinstance(channels, list) else set()
        file_values = (found.values if "channels" not in stated else
                       {name: level for name, level in found.values.items() if name in kept})
        merged["values"] = {**file_values, **values} if isinstance(values, dict) else values
        self._note(f"type {type_name!r}" if type_name else where, stated["gdtf"], found, merged,
                   sources, stated)
        return merged

    def _note(self, user: str, gdtf: object, found: GdtfMode, merged: dict[str, Any],
              sources: dict[str, str], stated: dict[str, Any]) -> None:
        key = (user, gdtf, found.name)
        if key not in self._uses:
            self._uses[key] = _Use(user, found, merged, sources, [])
        use = self._uses[key]
        use.names.append(str(stated.get("name", "")))
        count = stated.get("count", 1)
        use.count += count if isinstance(count, int) else 1

    def lines(self) -> list[str]:
        """One line per type: the file and mode, its fixtures, the channels
        movimo drives and those it holds, and where each number came from."""
        return [_type_line(use) for use in self._uses.values()]


def _type_line(use: _Use) -> str:
    settings, sources = use.settings, use.sources
    channels = settings["channels"]
    driven = [c for c in channels if c in DRIVEN or c == settings.get("z")]
    held = [f"{c} {settings['values'].get(c, 0)}" for c in channels if c not in driven]
    axes = ", ".join(f"{axis} {settings[f'{axis}_range']:g}° at "
                     f"{settings[f'{axis}_speed']:g}°/s ({sources.get(f'{axis}_speed', 'patch')})"
                     for axis in AXES)
    home = settings.get("home", [settings[f"{axis}_range"] / 2 for axis in AXES])
    amplitude = settings["amplitude"]
    unsent = f"; {use.mode.unsent}" if use.mode.unsent else ""
    fixtures = f"{use.count} fixture{'s' if use.count != 1 else ''}"
    return (f"{use.user} ({use.mode.file}, mode {use.mode.name!r}): {fixtures} "
            f"({listed(use.names)}); drives {', '.join(driven)}; holds "
            f"{', '.join(held) or 'nothing'}; {axes}; amplitude {amplitude[0]:.4g}°, "
            f"{amplitude[1]:.4g}° ({sources.get('amplitude', 'patch')}); home {home[0]:.4g}°, "
            f"{home[1]:.4g}° ({sources.get('home', 'mid-range')}){unsent}")

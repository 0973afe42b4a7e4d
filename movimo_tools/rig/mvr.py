"""Rigs from MVR files, the exchange format CAD, visualiser and console
programs export: `--patch rig.mvr` reads every fixture of the file with
pymvr (an optional extra: `pip install '.[gdtf]'` from a clone).

- Every fixture whose GDTF mode has Pan and Tilt becomes a moving head at its
  DMX address (the lowest break's), as the file writes it: "universe.address"
  or an absolute address, (universe - 1) * 512 + address, universes counting
  from 1. Its type is its GDTF file's name without ".gdtf"; its mode, its
  GDTFMode; both read from the GDTF file packed in the MVR (see
  `movimo_tools.rig.gdtf`, which also says what the file gives and the
  defaults of what it does not).
- Names are the file's, made printable and unique ("Spot", "Spot #2").
- Positions are the fixtures' x and y in metres, their matrices composed
  through the layers, groups and trusses above them (MVR counts millimetres).
- Each fixture belongs to the innermost group object that holds it, else to
  its layer; these become the rig's groups, with the patch's default spread.
- Other fixtures are left alone: those without an address, without a GDTF
  type, or whose mode has no Pan or Tilt. Visualisers often export such
  placeholder types for moving heads; the dry run names them in one line.

A side file beside the MVR file, its name with ".toml" added
(`rig.mvr.toml`), adds what MVR does not carry, as a patch file does, and
wins wherever both say something:

- `[types.NAME]`, NAME being a type as the dry run names it, adds keys to
  every fixture of that type: speeds, amplitude, `values`, `home`... A type
  given `channels` (and its ranges) is typed by hand and its GDTF file is
  not read: the way to drive a placeholder. A type given a `gdtf` file of
  its own (relative to the side file) takes its `mode` from the side file
  too.
- `[[fixtures]]` with the name of a fixture of the MVR file add keys to it;
  others are fixtures of their own, as in a patch file (a type of the MVR
  file, with a `mode`, serves them too). Overlapping addresses are refused
  as in a patch file.
- `[[groups]]` with the name of a group of the MVR file add keys (`spread`,
  `pattern`...) to it, or replace its fixtures; others are groups of their
  own. A fixture a side group lists leaves the MVR group that held it.
- Every other key (outputs, say) is read as in a patch file.
"""

from __future__ import annotations

import collections
import dataclasses
import io
import pathlib
import zipfile
from collections.abc import Callable
from typing import Any, TypeVar

import numpy as np

from movimo_tools.extras import missing_extra
from movimo_tools.rig.files import (Archive, Budget, PatchError, check_xml, described,
                                    open_regular)
from movimo_tools.rig.gdtf import FixtureTypeSettings, FixtureTypes, Packed, listed

# What the patch reader's parse makes of the document (a Rig): it is passed
# in, since the patch reader imports this module.
Parsed = TypeVar("Parsed")

SCENE = "GeneralSceneDescription.xml"
MAX_SCENE_BYTES = 32 << 20
MAX_NAME = 60
_IDENTITY = np.array([[1.0, 0, 0], [0, 1, 0], [0, 0, 1], [0, 0, 0]])


def side_file(path: pathlib.Path) -> pathlib.Path:
    """The side file of an MVR file: `rig.mvr.toml` beside `rig.mvr`."""
    return path.with_name(path.name + ".toml")


@dataclasses.dataclass(frozen=True)
class _Found:
    """One fixture of the MVR file, before it is judged."""

    name: str
    gdtf: str | None                 # the GDTF file's name in the archive
    mode: str | None
    address: tuple[int, int] | None  # universe and address
    position: tuple[float, float]
    group: int                       # index into the groups found


def read_mvr(path: pathlib.Path, side: dict[str, Any] | None, side_path: pathlib.Path,
             parse: Callable[[dict[str, Any], str, FixtureTypeSettings], Parsed],
             ) -> tuple[Parsed, list[str], list[int]]:
    """The rig of the MVR file at `path`, with `side` (the side file's
    document, None if there is none) laid over it, parsed by `parse` (the
    patch reader's `parse_patch`, which imports this module) while the file
    is open; with the lines that say what was found, per type, and what was
    left alone and why, and the universes of the fixtures left alone (see
    `notes`)."""
    source = str(path) if side is None else f"{path} (with {side_path.name})"
    budget = Budget()
    types = FixtureTypes(side_path.parent, source, budget)
    with open_regular(path) as file:
        archive = Archive(file, str(path), budget)
        types.packed = archive
        found, groups = _scene(archive)
        document, lines, left_alone = _document(path, found, groups, side or {}, side_path,
                                                types, archive)
        loaded = parse(document, source, types.settings)
    return loaded, [lines[0], *types.lines(), *lines[1:]], left_alone


def notes(lines: list[str], left_alone: list[int], sent: set[int]) -> tuple[str, ...]:
    """What the dry run says of an MVR rig: `lines`, and a note where fixtures
    left alone are patched in universes movimo sends (`sent`)."""
    shared = [universe for universe in left_alone if universe in sent]
    if not shared:
        return tuple(lines)
    return (*lines, f"note: {len(shared)} fixtures left alone are patched in universes movimo "
                    f"sends ({', '.join(map(str, sorted(set(shared))))}): it sends 0 on their "
                    f"channels")


def _scene(archive: Archive) -> tuple[list[_Found], list[str]]:
    """Every fixture of the scene, and the names of its layers and groups."""
    label = f"{archive.label}: {SCENE}"
    data = archive.read(SCENE, MAX_SCENE_BYTES)
    check_xml(data, label)
    try:
        import pymvr  # type: ignore[import-untyped]
    except ImportError:
        raise PatchError(f"reading MVR files {missing_extra('gdtf', ['pygdtf', 'pymvr'])}",
                         ) from None
    found: list[_Found] = []
    groups: list[str] = []
    try:
        # The library opens an archive: one holding only the checked scene.
        single = io.BytesIO()
        with zipfile.ZipFile(single, "w") as writer:
            writer.writestr(SCENE, data)
        scene = getattr(pymvr.GeneralSceneDescription(single), "scene", None)
        if scene is None:
            raise PatchError(f"{label}: has no Scene")
        for layer in scene.layers:
            groups.append(layer.name)
            _walk(layer.child_list, _placed(layer.matrix, _IDENTITY), len(groups) - 1, groups,
                  found)
    except PatchError:
        raise
    except Exception as error:  # the library's own, of any kind: still one line
        raise PatchError(f"{label}: cannot read: {described(error)}") from None
    return found, groups


def _placed(matrix: Any, parent: np.ndarray) -> np.ndarray:
    """An object's axes and origin (rows u, v, w, o) in the scene, from its
    matrix within its parent's."""
    local = np.array(matrix.matrix, dtype=np.float64)[:, :3]
    return np.vstack([local[:3] @ parent[:3], local[3] @ parent[:3] + parent[3]])


def _walk(children: Any, parent: np.ndarray, group: int, groups: list[str],
          found: list[_Found]) -> None:
    if children is None:
        return
    for fixture in children.fixtures:
        placed = _placed(fixture.matrix, parent)
        addresses = fixture.addresses.addresses
        first = min(addresses, key=lambda a: a.dmx_break) if addresses else None
        found.append(_Found(fixture.name or f"fixture {fixture.fixture_id or ''}".strip(),
                            _unmangled(fixture.gdtf_spec), fixture.gdtf_mode,
                            (first.universe, first.address) if first else None,
                            (placed[3, 0] / 1000, placed[3, 1] / 1000), group))
        _walk(fixture.child_list, placed, group, groups, found)
    for group_object in children.group_objects:
        groups.append(group_object.name)
        _walk(group_object.child_list, _placed(group_object.matrix, parent), len(groups) - 1,
              groups, found)
    for holder in (*children.scene_objects, *children.trusses, *children.supports,
                   *children.video_screens, *children.projectors):
        _walk(holder.child_list, _placed(holder.matrix, parent), group, groups, found)


def _unmangled(name: str | None) -> str | None:
    """The GDTF file name as written: the library reads it as if it were
    stored in code page 437."""
    if name is None:
        return None
    try:
        return name.encode("cp437").decode("utf-8")
    except (UnicodeEncodeError, UnicodeDecodeError):
        return name


def _printable_names(names: list[str], fallback: str) -> list[str]:
    """The names made printable, at most MAX_NAME long, and unique: a
    repeated name takes " #2", " #3"."""
    seen: set[str] = set()
    repeats: collections.Counter[str] = collections.Counter()
    unique = []
    for raw in names:
        base = " ".join("".join(c if c.isprintable() else " " for c in raw).split())
        base = base[:MAX_NAME].strip() or fallback
        name = base
        while name in seen:     # the count goes on from the last repeat of this name
            repeats[base] += 1
            name = f"{base} #{repeats[base] + 1}"
        seen.add(name)
        unique.append(name)
    return unique


NO_PAN_OR_TILT = "no pan or tilt in their GDTF mode"


def _document(path: pathlib.Path, found: list[_Found], group_names: list[str],
              side: dict[str, Any], side_path: pathlib.Path, types: FixtureTypes,
              archive: Archive) -> tuple[dict[str, Any], list[str], list[int]]:
    """The patch document of the MVR file's moving heads and the side file;
    the lines that say what was found and left alone; and the universes of
    the fixtures left alone."""
    names = _printable_names([f.name for f in found], "fixture")
    known = set(names)
    side_types = side.get("types", {})
    stated_types = side_types if isinstance(side_types, dict) else {}
    for type_name, stated in stated_types.items():
        if not isinstance(stated, dict):
            raise PatchError(f"{side_path}: type {type_name!r}: types: must be a table")
    side_fixtures = side.get("fixtures", [])
    if not isinstance(side_fixtures, list):
        raise PatchError(f"{side_path}: top level: fixtures: must be [[fixtures]] tables")
    own = {t["name"]: t for t in side_fixtures
           if isinstance(t, dict) and isinstance(t.get("name"), str) and t["name"] in known}
    type_tables: dict[str, Any] = {}
    tables: list[dict[str, Any]] = []
    members: dict[int, list[str]] = collections.defaultdict(list)
    left_alone: dict[str, list[str]] = collections.defaultdict(list)
    placeholders: collections.Counter[str] = collections.Counter()
    left_alone_universes = []
    for item, name in zip(found, names):
        stem = item.gdtf[:-5] if item.gdtf and item.gdtf.lower().endswith(".gdtf") else item.gdtf
        table: dict[str, Any] = {"name": name, "position": [float(v) for v in item.position]}
        type_table: dict[str, Any] = {}
        if item.gdtf and stem:
            table["type"] = stem
            type_table = type_tables.setdefault(stem, _type_table(
                stated_types.get(stem, {}), item.gdtf, archive))
        if item.address:
            table["universe"], table["address"] = item.address
        fixture_table = own.get(name, {})
        # The mode goes with the packed file, unless the side file types the fixture itself.
        if (isinstance(type_table.get("gdtf"), Packed) and item.mode is not None
                and not {"gdtf", "channels"} & fixture_table.keys()):
            table["mode"] = item.mode
        table.update(fixture_table)
        final = {**type_table, **table}
        if item.gdtf and not {"gdtf", "channels"} & final.keys():
            reason: str | None = f"GDTF file {item.gdtf!r} is not in the MVR file"
        else:
            reason = _left_alone_because(final, types, name)
        if reason is None:
            tables.append(table)
            members[item.group].append(name)
            continue
        left_alone[reason].append(name)
        if reason == NO_PAN_OR_TILT:
            placeholders[f"{stem} mode {item.mode!r}"] += 1
        if isinstance(final.get("universe"), int):
            left_alone_universes.append(final["universe"])
    document = dict(side)
    document["types"] = stated_types | type_tables if isinstance(side_types, dict) else side_types
    document["fixtures"] = tables + [t for t in side_fixtures
                                     if not (isinstance(t, dict) and t.get("name") in own)]
    document["groups"] = _groups(members, _printable_names(group_names, "group"),
                                 side.get("groups", []))
    lines = [f"{path}: {len(found)} fixtures: {len(tables)} moving heads, "
             f"{len(found) - len(tables)} left alone"]
    if placeholders:
        kinds = ", ".join(f"{kind} ({count} fixtures)" for kind, count in placeholders.items())
        lines.append(f"no pan or tilt in the GDTF mode of {kinds}: left alone; if they are "
                     f"moving heads, give their type's channels in {side_path.name} as "
                     f"[types.NAME]")
    lines += [f"left alone ({reason}): {listed(fixtures)}"
              for reason, fixtures in left_alone.items()]
    return document, lines, left_alone_universes


def _type_table(stated: dict[str, Any], gdtf: str, archive: Archive) -> dict[str, Any]:
    """A type of the MVR file: its packed GDTF file under what the side file
    states of it, unless that names a file of its own or types it by hand."""
    if {"gdtf", "channels"} & stated.keys() or archive.member(gdtf) is None:
        return stated
    return {"gdtf": Packed(gdtf), **stated}


def _left_alone_because(final: dict[str, Any], types: FixtureTypes, name: str) -> str | None:
    """Why a fixture with these settings is no moving head; None if it is one."""
    if "universe" not in final or "address" not in final:
        return "no DMX address"
    channels = final.get("channels")
    if channels is None and "gdtf" in final:
        channels = types.mode(final["gdtf"], final.get("mode"), f"fixture {name!r}").channels
    if channels is None:
        return "no GDTF type"
    if not (isinstance(channels, (list, tuple)) and "pan" in channels and "tilt" in channels):
        return NO_PAN_OR_TILT
    return None


def _groups(members: dict[int, list[str]], names: list[str], side_groups: object) -> object:
    """The MVR file's groups with the side file's laid over them by name."""
    if not isinstance(side_groups, list):
        return side_groups      # the patch reader says what is wrong with it
    named = {g["name"]: g for g in side_groups
             if isinstance(g, dict) and isinstance(g.get("name"), str)}
    claimed = {fixture for g in named.values() if isinstance(g.get("fixtures"), list)
               for fixture in g["fixtures"] if isinstance(fixture, str)}
    groups: list[object] = []
    merged = set()
    for index, name in enumerate(names):
        if index not in members:
            continue
        table = {"name": name, "fixtures": [f for f in members[index] if f not in claimed]}
        if name in named:
            table.update(named[name])
            merged.add(name)
        if table["fixtures"]:
            groups.append(table)
    return groups + [g for g in side_groups
                     if not (isinstance(g, dict) and g.get("name") in merged)]

"""Pattern descriptors with the pack and family each pattern belongs to."""

from __future__ import annotations

import dataclasses
import difflib
import functools
from typing import Any

import movimo
from movimo_tools._native import native

LIBRARY = "library"


@dataclasses.dataclass(frozen=True)
class PatternEntry:
    """One pattern's descriptor, with its pack and family.

    Procedural patterns belong to the pack and family "procedural", a
    library's own patterns to the pack "library".

    >>> bounce = entry("bounce")
    >>> bounce.period_pips, bounce.period_beats, bounce.dimensions, bounce.pack
    (64, 1.0, 1, 'procedural')
    """

    name: str
    description: str
    period_pips: int
    dimensions: int
    pack: str
    family: str

    @property
    def period_beats(self) -> float:
        """The loop length in beats.

        >>> entry("box_step").period_beats
        4.0
        """
        return self.period_pips / movimo.PIPS_PER_BEAT


def family_of(name: str) -> str:
    """The family word of a pattern name: the text before its first underscore.

    >>> family_of("beat_house_shuffle_bounce"), family_of("lfo_breathe")
    ('beat', 'lfo')
    """
    return name.partition("_")[0]


def _entry(info: dict[str, Any], pack: str, family: str) -> PatternEntry:
    return PatternEntry(info["name"], info["description"], info["period_pips"],
                        info["dimensions"], pack, family)


@functools.cache
def entries() -> tuple[PatternEntry, ...]:
    """All built-in patterns in catalogue order: the procedural ones, then the packs.

    >>> patterns = entries()
    >>> len(patterns), patterns[0].name, patterns[15].pack
    (1731, 'bounce', 'initial')
    """
    return tuple(_entry(info, pack, family)
                 for info, (pack, family) in zip(movimo.catalogue(), native.groups(), strict=True))


def check_library(library: object, optional: bool = True) -> None:
    """Refuses anything but a `movimo.PatternLibrary`, or None (the built-ins
    alone) where `optional`.

    >>> check_library({"nod": []})
    Traceback (most recent call last):
    ...
    TypeError: library must be a movimo.PatternLibrary
    """
    if not ((optional and library is None) or isinstance(library, movimo.PatternLibrary)):
        raise TypeError("library must be a movimo.PatternLibrary")


def library_entries(library: movimo.PatternLibrary) -> tuple[PatternEntry, ...]:
    """A library's own patterns, in the order it holds them (the built-ins left out).

    >>> rows = [[0.0, 0.0, 0.0], [0.5, 0.0, 0.0]]
    >>> library = movimo.PatternLibrary([movimo.SampledPattern("nod", "A nod", rows)])
    >>> [(e.name, e.period_pips, e.pack) for e in library_entries(library)]
    [('nod', 2, 'library')]
    """
    check_library(library, optional=False)
    own = library.catalogue()[len(entries()):]
    return tuple(_entry(info, LIBRARY, family_of(info["name"])) for info in own)


@functools.cache
def _builtin_by_name() -> dict[str, PatternEntry]:
    return {pattern.name: pattern for pattern in entries()}


def entry(name: str, library: movimo.PatternLibrary | None = None) -> PatternEntry:
    """The descriptor of the pattern `name`, built-in or held by `library`.

    >>> entry("helix").dimensions
    3
    >>> entry("no_such_pattern")
    Traceback (most recent call last):
    ...
    ValueError: Unknown movimo: no_such_pattern
    """
    found = _builtin_by_name().get(name)
    if found is None and library is not None:
        found = next((e for e in library_entries(library) if e.name == name), None)
    if found is None:
        raise ValueError(f"Unknown movimo: {name}")
    return found


def known_entry(name: str) -> PatternEntry:
    """The built-in pattern `name`, or a one-line ValueError naming the closest names.

    >>> known_entry("figure_8")
    Traceback (most recent call last):
    ...
    ValueError: unknown pattern 'figure_8' (did you mean figure_eight?)
    """
    try:
        return entry(name)
    except ValueError:
        close = difflib.get_close_matches(name, list(_builtin_by_name()), n=3)
        hint = f" (did you mean {', '.join(close)}?)" if close else ""
        raise ValueError(f"unknown pattern {name!r}{hint}") from None

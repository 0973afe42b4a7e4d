"""One pattern at the Python prompt: readable, comparable values by pip or
by beat, its loop as a table or a picture, and the patterns a search finds.

>>> pattern("helix")
<Pattern helix: 4 beats, 3 axes — Four-beat double-turn helix>
>>> circle = pattern("circle")
>>> circle.at(16)
Offset(x=1.0, y=0.0, z=0.0)
>>> x, y, z = circle.at_beats(0.25)
>>> circle.at(16) == circle.at_beats(0.25) == (x, y, z)
True
"""

from __future__ import annotations

import dataclasses
import operator
from collections.abc import Iterator
from typing import TYPE_CHECKING, NamedTuple

import numpy as np

import movimo
from movimo_tools.batch import check_pip_range, loop_rows, table
from movimo_tools.catalogue import PatternEntry, known_entry
from movimo_tools.timing import evaluate_beats
from movimo_tools.vocabulary import search

if TYPE_CHECKING:  # matplotlib loads only when a pattern is drawn
    import matplotlib.figure


class Offset(NamedTuple):
    """A pattern's value at one moment: lateral x, vertical y and depth z,
    each in [-1, 1].

    >>> x, y, z = Offset(0.5, 0.0, 0.0)
    >>> Offset(0.5, 0.0, 0.0) == (0.5, 0.0, 0.0)
    True
    """

    x: float
    y: float
    z: float


class Pattern(PatternEntry):
    """A built-in pattern: its catalogue entry, and its values as `Offset`
    tuples. Iterating over it gives one loop, pip by pip.

    >>> [round(x, 3) for x, _, _ in pattern("bounce")][:3]
    [-1.0, -0.938, -0.875]
    """

    def __repr__(self) -> str:
        beats = "beat" if self.period_beats == 1 else "beats"
        axes = "axis" if self.dimensions == 1 else "axes"
        return (f"<Pattern {self.name}: {self.period_beats:g} {beats}, {self.dimensions} {axes}"
                f" — {self.description}>")

    def at(self, pip: int) -> Offset:
        """The value at a whole pip (64 to a beat), exactly as `movimo.sample`
        gives it. Fractional times go to `at_beats`, or to
        `movimo_tools.evaluate_at` for many pips at once.

        >>> pattern("bounce").at(16)
        Offset(x=0.0, y=0.0, z=0.0)
        """
        try:
            whole = operator.index(pip)
        except TypeError:
            raise TypeError(f"pip must be a whole number, not {type(pip).__name__}: for a time "
                            f"between pips use at_beats(beats), or "
                            f"movimo_tools.evaluate_at(name, pips) for many") from None
        check_pip_range(whole, whole)
        return Offset(*movimo.sample(self.name, whole).as_tuple())

    def at_beats(self, beats: float, interpolation: str = "linear") -> Offset:
        """The value at a time in beats, between pips too. Linear by default,
        as `evaluate_beats`: a value that moves on between pips rather than
        holding each pip's; "step" gives the pip in progress exactly, and
        "smooth" a curve through the pips. At a whole pip every way gives
        `at`'s value.

        >>> pattern("bounce").at_beats(0.125), pattern("bounce").at_beats(0.125, "step")
        (Offset(x=-0.5, y=0.0, z=0.0), Offset(x=-0.5, y=0.0, z=0.0))
        >>> pattern("bounce").at_beats(0.1255, "step").x == pattern("bounce").at(8).x
        True
        """
        if np.ndim(beats) != 0:
            raise TypeError("at_beats takes one time: movimo_tools.evaluate_beats takes many")
        return Offset(*evaluate_beats(self.name, beats, interpolation).tolist())

    def table(self) -> np.ndarray:
        """One loop as a new (period_pips, 3) array: row k is the value at pip k.

        >>> pattern("helix").table().shape
        (256, 3)
        """
        return table(self.name)

    def plot(self) -> matplotlib.figure.Figure:
        """The picture `movimo preview` draws, as a matplotlib Figure: the
        path, and each axis against beats. Save it with `savefig`; in a
        notebook it shows by itself. Needs matplotlib, the plot extra."""
        from movimo_tools.preview import preview_figure
        return preview_figure(self.name)

    def __iter__(self) -> Iterator[Offset]:
        return (Offset(*row) for row in loop_rows(self.name).tolist())


def pattern(name: str) -> Pattern:
    """The built-in pattern `name`; an unknown name is a ValueError naming
    the closest ones.

    >>> pattern("helx")
    Traceback (most recent call last):
    ...
    ValueError: unknown pattern 'helx' (did you mean helix?)
    """
    return Pattern(**dataclasses.asdict(known_entry(name)))


def patterns(text: str | None = None, *, family: str | None = None, axes: int | None = None,
             pack: str | None = None) -> list[Pattern]:
    """The built-in patterns, in catalogue order, whose name or description
    holds the words of `text`, or that do what its words of the trade mean
    (see `movimo_tools.vocabulary`), with the family, number of axes and
    pack given. None found is an empty list.

    >>> patterns("figure 8", pack="procedural")
    [<Pattern figure_eight: 2 beats, 2 axes — Two-beat figure eight>]
    >>> len(patterns(family="orbit", axes=2)), patterns("nothing says this")
    (16, [])
    """
    return [Pattern(**dataclasses.asdict(found))
            for found in search(text, pack=pack, family=family, axes=axes)]

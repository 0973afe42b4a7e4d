"""Finding patterns by the words lighting and video people search with.

Many catalogue descriptions are written for the pattern's author ("Indexed
SHA-256 control points in a closed drift path"), so a search for "random"
or "ballyhoo" would find nothing in them. `TERMS` maps the words of the
trade to the families and the motions (words of pattern names) that do
what the word means; a search takes those along with the text itself.

A search is split into words, each a term of the trade where its words
spell one ("figure 8", "tilt nod"), and a pattern matches when every one
of them matches it: a plain word anywhere in its name or description (part
of a word too, so "paradid" finds the paradiddles), a term when the pattern
is in one of its families or names one of its motions, or when the term is
a whole word of the description ("star" is not found in "start"). The
gallery's search box runs the same rules over the same table in the browser.

>>> [p.name for p in search("tilt nod", pack="atlas")][:3]
['env_lift_hold_drop', 'env_inhale_exhale', 'env_triple_swell']
>>> nearest_terms("balyhoo")
['ballyhoo']
"""

from __future__ import annotations

import dataclasses
import difflib
import functools
import re

from movimo_tools.catalogue import PatternEntry, entries

# How far, in edits, a suggested term may lie from a word that matched
# nothing: one edit per three letters, at least one.
LETTERS_PER_EDIT = 3
MAX_SUGGESTIONS = 3


@dataclasses.dataclass(frozen=True)
class Term:
    """A word of the trade: the `families` and the `motions` (whole words of
    pattern names, underscores joining several) that do what it means, and
    the other ways people write it (`also`)."""

    term: str
    families: tuple[str, ...] = ()
    motions: tuple[str, ...] = ()
    also: tuple[str, ...] = ()

    def covers(self, pattern: PatternEntry) -> bool:
        """Whether `pattern` is in one of the families or names one of the motions.

        >>> TERMS[0].covers(entries()[2]), entries()[2].name
        (True, 'circle')
        """
        return pattern.family in self.families or any(
            f"_{motion}_" in f"_{pattern.name}_" for motion in self.motions)


# Mapped from what the patterns do (their tables and descriptions), not
# from their names alone: the env family is the one that moves y only,
# hence tilt; wave, akwf and ease move x only, hence pan.
TERMS = (
    Term("circle", ("orbit",), ("circle", "orbit"), ("orbit", "round", "spin", "rotate")),
    Term("figure 8", (), ("figure_eight", "figure8"),
         ("figure eight", "figure-8", "figure8", "infinity", "lemniscate")),
    Term("ballyhoo", ("weave",), ("figure_eight", "figure8", "lissajous", "sweep"), ("bally",)),
    Term("sweep", ("scan",), ("sweep", "pendulum", "slalom", "glide"), ("swipe", "pan sweep")),
    Term("pan sway", ("wave", "akwf"), ("sway", "pendulum", "slalom"),
         ("sway", "pan", "side to side", "side-to-side", "pan swing")),
    Term("tilt nod", ("env",), ("lift",),
         ("nod", "tilt", "head nod", "nodding", "tilt bounce")),
    Term("fan", (), ("sway", "pendulum"), ("fan out", "fan in", "fanning")),
    Term("wave", ("wave", "lfo"), ("wave", "swell"), ("sine", "sine wave", "oscillate")),
    Term("chase", ("seq", "tour"), ("stairs", "stair", "ratchet"),
         ("step chase", "position chase", "sequence")),
    Term("bounce", (), ("bounce", "rebound", "spring", "hop"), ("bouncing", "jump")),
    Term("random", ("noise",), ("drift", "seeded"),
         ("noise", "drift", "organic", "wander", "random walk", "chaos")),
    Term("pulse", ("burst", "euclid", "poly", "accent"), ("pulse", "ratchet", "flutter", "gate"),
         ("pulses", "strobe", "strobe-like", "strobe-like pulses", "hits", "stabs", "flash",
          "stutter")),
    Term("spiral", (), ("spiral", "corkscrew"), ("corkscrew", "vortex", "swirl")),
    Term("flower", ("polar",), ("rose", "flower", "scallop"), ("rose", "petals", "petal")),
    Term("spirograph", ("spiro",), (), ("hypotrochoid", "epitrochoid")),
    Term("square", (), ("box", "square", "diamond", "corner"), ("box", "rectangle", "diamond")),
    Term("star", ("tour",), ("star",), ("pentagram", "polygon")),
    Term("zigzag", ("scan",), ("zigzag", "slalom", "switchback"),
         ("zig-zag", "zig zag", "serpentine", "snake", "slalom")),
    Term("pendulum", (), ("pendulum", "sway", "rocking", "rocker"),
         ("swing", "swinging", "rock", "rocking")),
    Term("breathe", ("env",), ("breathe", "breathing", "breaths", "inhale", "exhale", "swell"),
         ("breathing", "breath", "swell", "inhale")),
    Term("lissajous", ("weave",), ("lissajous",), ("lissajou",)),
    Term("scan", ("scan",), (), ("raster", "audience scan")),
    Term("shake", (), ("flutter", "wobble", "ripple", "trills"),
         ("shiver", "tremble", "tremor", "jitter", "vibrate", "wobble")),
    Term("drop", (), ("drop", "dive", "falling"), ("dive", "fall", "duck")),
    Term("zoom", (), ("surge", "depth"), ("dolly", "push in", "depth", "in and out")),
    Term("step", (), ("step", "stairs", "stair", "taps"),
         ("steps", "side step", "step touch", "stepping")),
    Term("ease", ("ease",), (), ("easing", "ease in", "ease out", "ease in out", "tween")),
    Term("groove", ("groove",), (), ("funk", "funky")),
    Term("four on the floor", (), ("four_floor",),
         ("four to the floor", "4 on the floor", "four-on-the-floor", "4otf")),
    Term("drum roll", ("rudiment", "stick"), ("roll", "rolls", "flam", "diddle", "stroke"),
         ("drum", "drums", "drumming", "sticking", "roll")),
    Term("polyrhythm", ("poly", "meter"), ("polymeter",),
         ("polyrhythms", "polymeter", "cross-rhythm", "3 against 2")),
    Term("syncopation", ("swing",), ("syncopated", "offbeat", "swung", "shuffle"),
         ("syncopated", "offbeat", "off-beat", "shuffle")),
    Term("echo", ("echo",), (), ("delay", "repeat")),
    Term("call and response", ("dialogue", "canon"), ("answer", "response", "call"),
         ("call response", "question and answer")),
    Term("torus knot", ("space", "braid"), ("torus", "knot"), ("torus", "knot")),
    Term("mechanical", ("mech", "arm"), ("robot",), ("machine", "piston", "crank", "robotic")),
    Term("hold", ("dwell",), ("hold", "dwell", "plateau", "suspended"),
         ("pause", "freeze", "dwell")),
    Term("sawtooth", ("akwf",), ("saw", "quick_return"), ("saw", "ramp", "saw wave")),
)


@functools.cache
def _spellings() -> dict[str, Term]:
    """Every way of writing each term, lower case, to the term."""
    return {spelling.lower(): term for term in TERMS for spelling in (term.term, *term.also)}


@functools.cache
def _longest_spelling() -> int:
    return max(len(spelling.split()) for spelling in _spellings())


def _search_parts(text: str) -> list[tuple[str, Term | None]]:
    """The words of a search, each with the term it spells, longest terms
    first: a term's words stay together.

    >>> [(words, term and term.term) for words, term in _search_parts("Figure 8  helix")]
    [('figure 8', 'figure 8'), ('helix', None)]
    """
    words = text.lower().split()
    parts: list[tuple[str, Term | None]] = []
    start = 0
    while start < len(words):
        for count in range(min(_longest_spelling(), len(words) - start), 0, -1):
            phrase = " ".join(words[start:start + count])
            term = _spellings().get(phrase)
            if term is not None or count == 1:
                parts.append((phrase, term))
                start += count
                break
    return parts


def _part_matches(part: tuple[str, Term | None], pattern: PatternEntry) -> bool:
    words, term = part
    text = f"{pattern.name} {pattern.description}".lower()
    if term is None:
        return words in text
    # ASCII word boundaries, as in the browser.
    whole_word = re.search(rf"\b{re.escape(words)}\b", text, re.ASCII)
    return term.covers(pattern) or whole_word is not None


def _check_choice(kind: str, kinds: str, value: str | None, known: list[str]) -> None:
    """Refuses a filter value that no pattern has, naming the values there are.

    >>> _check_choice("pack", "packs", "clubb", ["club", "initial"])
    Traceback (most recent call last):
    ...
    ValueError: unknown pack 'clubb' (did you mean club?); packs: club, initial
    """
    if value is None or value in known:
        return
    close = difflib.get_close_matches(value, known, n=3)
    hint = f" (did you mean {', '.join(close)}?)" if close else ""
    raise ValueError(f"unknown {kind} '{value}'{hint}; {kinds}: {', '.join(known)}")


def search(text: str | None = None, *, pack: str | None = None, family: str | None = None,
           axes: int | None = None, period_pips: int | None = None) -> list[PatternEntry]:
    """The built-in patterns, in catalogue order, that match `text` (by the
    rules in the module's notes) and have the pack, family, number of axes
    and period given.
    An unknown pack or family is a ValueError naming the closest ones.

    >>> [p.name for p in search("ballyhoo", pack="procedural")]
    ['figure_eight']
    >>> [p.name for p in search("circle", pack="procedural", axes=2)]
    ['circle']
    """
    _check_choice("pack", "packs", pack, list(dict.fromkeys(e.pack for e in entries())))
    _check_choice("family", "families", family, sorted({e.family for e in entries()}))
    parts = _search_parts(text or "")
    return [pattern for pattern in entries()
            if (pack is None or pattern.pack == pack)
            and (family is None or pattern.family == family)
            and (axes is None or pattern.dimensions == axes)
            and (period_pips is None or pattern.period_pips == period_pips)
            and all(_part_matches(part, pattern) for part in parts)]


def _edit_distance(first: str, second: str) -> int:
    """The fewest single-letter insertions, deletions, substitutions and
    swaps of neighbours that turn one string into the other.

    >>> _edit_distance("balyhoo", "ballyhoo"), _edit_distance("fna", "fan")
    (1, 1)
    """
    previous2: list[int] = []
    previous = list(range(len(second) + 1))
    for i, letter in enumerate(first, 1):
        current = [i]
        for j, other in enumerate(second, 1):
            cost = min(previous[j] + 1, current[j - 1] + 1,
                       previous[j - 1] + (letter != other))
            if i > 1 and j > 1 and letter == second[j - 2] and first[i - 2] == other:
                cost = min(cost, previous2[j - 2] + 1)
            current.append(cost)
        previous2, previous = previous, current
    return previous[-1]


@functools.cache
def _suggestion_words() -> tuple[str, ...]:
    """What a word that matches nothing is compared with, in order of
    preference: the spellings of the terms, then the words of the pattern
    names in alphabetical order."""
    name_words = sorted({word for pattern in entries() for word in pattern.name.split("_")
                         if re.fullmatch("[a-z]+", word)})
    return (*_spellings(), *name_words)


def nearest_terms(words: str) -> list[str]:
    """The terms of the trade and words of pattern names nearest to `words`,
    closest first (at most three): what a search that found nothing might
    have meant. A spelling of a term is named by the term.

    >>> nearest_terms("chace"), nearest_terms("swep"), nearest_terms("xyzzy")
    (['chase'], ['sweep', 'step'], [])
    """
    words = " ".join(words.lower().split())
    reach = max(1, len(words) // LETTERS_PER_EDIT)
    scored = []
    for rank, candidate in enumerate(_suggestion_words()):
        distance = _edit_distance(words, candidate)
        if distance <= reach:
            term = _spellings().get(candidate)
            scored.append((distance, rank, term.term if term else candidate))
    return list(dict.fromkeys(name for _, _, name in sorted(scored)))[:MAX_SUGGESTIONS]


def no_match_message(text: str | None, filtered: bool) -> str:
    """What to say when a search finds nothing, naming the nearest terms to
    the words that match no pattern at all; `filtered` when other filters
    than the text narrowed it.

    >>> no_match_message("fan balyhoo", False)
    "no pattern matches 'fan balyhoo'; did you mean ballyhoo?"
    >>> no_match_message(None, True)
    'no pattern matches these filters'
    """
    if not text or not text.split():
        return "no pattern matches these filters"
    near = [name for words, term in _search_parts(text)
            if not any(_part_matches((words, term), pattern) for pattern in entries())
            for name in nearest_terms(words)]
    message = f"no pattern matches {text!r}" + (" with these filters" if filtered else "")
    return message + (f"; did you mean {', '.join(dict.fromkeys(near))}?" if near else "")

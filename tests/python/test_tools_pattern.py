"""movimo_tools.pattern: one pattern at the prompt, and the vocabulary that
patterns() and the searches share."""

import re
import sys

import numpy as np
import pytest

import movimo
import movimo_tools
from movimo_tools import Offset, pattern, patterns
from movimo_tools.vocabulary import TERMS


@pytest.mark.parametrize("name, shown", [
    ("helix", "<Pattern helix: 4 beats, 3 axes — Four-beat double-turn helix>"),
    ("bounce", "<Pattern bounce: 1 beat, 1 axis — One-beat vertical bounce>"),
    ("dialogue_2_5_4", "<Pattern dialogue_2_5_4: 5.5 beats, 3 axes — Different eighth-note "
                       "group lengths pass a phrase between directions, with late pickup "
                       "responses.>"),
])
def test_a_pattern_shows_what_it_is(name, shown):
    assert repr(pattern(name)) == shown


def test_values_are_offsets_that_read_compare_and_unpack():
    helix = pattern("helix")
    sampled = movimo.sample("helix", 100)
    value = helix.at(np.int64(100))
    assert value == helix.at(100) == helix.at(100 - 4 * 256) == sampled.as_tuple()
    x, y, z = value
    assert (x, y, z) == (sampled.x, sampled.y, sampled.z)
    assert repr(value) == f"Offset(x={sampled.x!r}, y={sampled.y!r}, z={sampled.z!r})"
    assert type(x) is float
    # Between pips: linear unless told; at a whole pip every way gives `at`.
    assert helix.at_beats(100 / 64, "smooth") == value
    assert helix.at_beats(1.5 + 1 / 128) == Offset(*movimo_tools.evaluate_beats(
        "helix", 1.5 + 1 / 128).tolist())
    assert helix.at_beats(1.5 + 1 / 128, "step") == helix.at(96)
    loop = list(helix)
    assert len(loop) == 256 and loop[100] == value
    assert np.array(loop).tolist() == helix.table().tolist()


@pytest.mark.parametrize("call, error, message", [
    (lambda: pattern("helx"), ValueError, "unknown pattern 'helx' (did you mean helix?)"),
    (lambda: pattern("helix").at(1.5), TypeError,
     "pip must be a whole number, not float: for a time between pips use at_beats(beats), "
     "or movimo_tools.evaluate_at(name, pips) for many"),
    (lambda: pattern("helix").at(np.float64(2.0)), TypeError, "not float64: for a time between"),
    (lambda: pattern("helix").at(2**31), ValueError, "signed 32-bit pip range"),
    (lambda: pattern("helix").at_beats([0.5, 1.0]), TypeError, "evaluate_beats takes many"),
    (lambda: patterns(family="orbits"), ValueError, "unknown family 'orbits' (did you mean "
                                                    "orbit"),
])
def test_mistakes_are_explained(call, error, message):
    with pytest.raises(error, match=re.escape(message)):
        call()


@pytest.mark.parametrize("filters, names", [
    ({"text": "figure 8", "pack": "procedural"}, ["figure_eight"]),
    ({"text": "tilt nod", "family": "env", "axes": 2}, 16),
    ({"family": "orbit", "axes": 2}, 16),
    ({"text": "circle", "pack": "procedural"}, ["circle"]),
    ({"text": "circle", "axes": 1}, []),
])
def test_patterns_filters(filters, names):
    found = patterns(**filters)
    assert all(isinstance(p, movimo_tools.Pattern) for p in found)
    assert (len(found) if isinstance(names, int) else [p.name for p in found]) == names


def test_plot_draws_the_preview_or_says_what_to_install(monkeypatch):
    figure = pattern("lfo_flower").plot()
    assert len(figure.axes) >= 3 and "lfo_flower" in figure.texts[0].get_text()
    monkeypatch.setitem(sys.modules, "matplotlib.figure", None)
    with pytest.raises(ValueError, match=re.escape(
            "drawing needs matplotlib: pip install 'matplotlib>=3.8'")):
        pattern("helix").plot()


def test_the_vocabulary_names_only_what_the_catalogue_has():
    families = {e.family for e in movimo_tools.entries()}
    names = [f"_{e.name}_" for e in movimo_tools.entries()]
    spellings = [s.lower() for term in TERMS for s in (term.term, *term.also)]
    assert len(spellings) == len(set(spellings))
    for term in TERMS:
        assert set(term.families) <= families, term.term
        for motion in term.motions:
            assert any(f"_{motion}_" in name for name in names), (term.term, motion)
        assert patterns(term.term), term.term

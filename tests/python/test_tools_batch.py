"""Batch evaluation: bit-identical to movimo.sample, shapes, libraries, bad input."""

import itertools

import numpy as np
import pytest

import movimo

import movimo_tools
from movimo_tools._native import native
from movimo_tools.batch import MAX_ROWS

NAMES = [e.name for e in movimo_tools.entries()]
INT_MIN, INT_MAX = -(2**31), 2**31 - 1


def reference(name, pips, sample=movimo.sample):
    return np.array([sample(name, int(p)).as_tuple() for p in pips]).reshape(-1, 3)


def test_packs_and_families_come_from_the_library_in_catalogue_order():
    groups = native.groups()
    runs = [(pack, len(list(run))) for pack, run in itertools.groupby(p for p, _ in groups)]
    assert runs == [("procedural", 15), ("initial", 28), ("expansion", 24), ("atlas", 256),
                    ("continuum", 320), ("club", 144), ("dancefloor", 944)]
    assert all(family == ("procedural" if pack == "procedural" else name.partition("_")[0])
               for name, (pack, family) in zip(NAMES, groups, strict=True))


def test_every_table_and_edge_pip_matches_sample_bit_for_bit():
    for entry in movimo_tools.entries():
        period = entry.period_pips
        pips = [0, 1, period - 1, period, -1, -period - 1, INT_MIN, INT_MAX, 12345]
        rows = movimo_tools.evaluate(entry.name, pips)
        assert rows.tobytes() == reference(entry.name, pips).tobytes(), entry.name
        assert movimo_tools.table(entry.name).shape == (period, 3)


@pytest.mark.parametrize("name", ["bounce", "helix", "lfo_breathe", "rhythm_group_223",
                                  NAMES[-1]])
def test_whole_tables_match_sample(name):
    rows = movimo_tools.table(name)
    assert rows.tobytes() == reference(name, range(len(rows))).tobytes()


def test_result_shape_follows_the_pips():
    assert movimo_tools.evaluate("circle", 16).shape == (3,)
    grid = movimo_tools.evaluate("circle", np.arange(12).reshape(3, 4))
    assert grid.shape == (3, 4, 3)
    assert (grid[1, 2] == movimo.sample("circle", 6).as_tuple()).all()
    assert movimo_tools.evaluate("circle", range(100, -100, -7)).shape == (29, 3)


def test_tables_handed_out_are_private_copies():
    first = movimo_tools.table("sway")
    first[:] = 0.5
    assert (movimo_tools.table("sway") == reference("sway", range(128))).all()


def test_shared_tables_cannot_be_made_writeable():
    from movimo_tools.batch import loop_rows
    view = loop_rows("sway")
    while isinstance(view, np.ndarray):
        with pytest.raises(ValueError):
            view.flags.writeable = True
        view = view.base
    assert (loop_rows("sway") == reference("sway", range(128))).all()


@pytest.fixture
def library():
    rows = [[0.0, 0.0, 0.0], [0.25, -0.5, 0.0], [1.0, 0.0, 0.75]]
    patterns = [movimo.SampledPattern("wink", "", rows),
                movimo.SampledPattern("tilt_only", "", [[0.0, 0.5, 0.0]])]
    return movimo.PatternLibrary(patterns)


def test_library_patterns_and_builtins_through_a_library(library):
    pips = [-4, -1, 0, 2, 3, INT_MAX]
    for name in ["wink", "tilt_only", "helix"]:
        got = movimo_tools.evaluate(name, pips, library=library)
        assert got.tobytes() == reference(name, pips, library.sample).tobytes()
    assert movimo_tools.table("wink", library).tolist() == [
        [0.0, 0.0, 0.0], [0.25, -0.5, 0.0], [1.0, 0.0, 0.75]]
    assert [movimo_tools.period_pips(n, library) for n in ["wink", "tilt_only", "helix"]] == [
        3, 1, 256]
    tables = movimo_tools.library_tables(library)
    assert list(tables) == ["wink", "tilt_only"]
    assert tables["tilt_only"].tolist() == [[0.0, 0.5, 0.0]]


@pytest.mark.parametrize("pips, error, message", [
    ([], ValueError, "no pips given"),
    (range(0), ValueError, "no pips given"),
    (range(MAX_ROWS + 1), ValueError, "too many pips"),
    (range(10**15), ValueError, "too many pips"),
    ([2**31], ValueError, "32-bit pip range"),
    (range(INT_MIN - 1, INT_MIN + 5), ValueError, "32-bit pip range"),
    ([1.5], TypeError, "must be integers"),
    ([True], TypeError, "must be integers"),
    (["3"], TypeError, "must be integers"),
])
def test_bad_pips_are_refused(pips, error, message):
    with pytest.raises(error, match=message):
        movimo_tools.evaluate("bounce", pips)


@pytest.mark.parametrize("call", [movimo_tools.table, movimo_tools.evaluate_at,
                                  lambda name: movimo_tools.evaluate(name, [0])])
@pytest.mark.parametrize("name", ["Bounce", "bounce ", "", "lfo"])
def test_unknown_names_report_the_name(call, name, library):
    with pytest.raises(ValueError, match=f"^Unknown movimo: {name}$"):
        call(name) if call is not movimo_tools.evaluate_at else call(name, [0.5])
    with pytest.raises(ValueError, match=f"^Unknown movimo: {name}$"):
        movimo_tools.table(name, library)
    with pytest.raises(ValueError, match=f"^Unknown movimo: {name}$"):
        movimo_tools.period_pips(name)


def test_a_name_must_be_text_and_a_library_a_pattern_library():
    with pytest.raises(TypeError, match="must be a str"):
        movimo_tools.table(["bounce"])
    for call in (lambda: movimo_tools.evaluate("bounce", [0], library={}),
                 lambda: movimo_tools.library_tables(None),
                 lambda: movimo_tools.evaluate_at("bounce", [0.5], library=[])):
        with pytest.raises(TypeError, match="library must be a movimo.PatternLibrary"):
            call()

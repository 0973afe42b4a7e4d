"""Musical time and evaluation between pips."""

import math
import re

import numpy as np
import pytest

import movimo

import movimo_tools
from movimo_tools import Tempo, evaluate_at

METHODS = movimo_tools.INTERPOLATIONS
PATTERNS = ["bounce", "helix", "lfo_breathe", "rhythm_group_223", "akwf_quick_return"]


@pytest.fixture(scope="module")
def ramp_library():
    # A triangle wave of period 8: straight lines between its two corners.
    rows = [[v, 0.0, 0.0] for v in (0.0, 0.25, 0.5, 0.75, 1.0, 0.75, 0.5, 0.25)]
    return movimo.PatternLibrary([movimo.SampledPattern("ramp", "", rows)])


def test_tempo_follows_the_recording_conventions():
    tempo = Tempo(150, beat_zero_seconds=-2.0)
    assert tempo.pip_seconds == 60 / 150 / 64
    assert tempo.bpm == 150.0 and isinstance(tempo.bpm, float)
    assert tempo.pips(-2.0) == 0.0
    assert tempo.pips(-2.0 + 60 / 150) == pytest.approx(64.0)
    times = np.linspace(-3.0, 7.0, 11)
    assert np.allclose(tempo.seconds(tempo.pips(times)), times)


@pytest.mark.parametrize("bpm", [0.0, -120.0, math.nan, math.inf, 5e-324])
def test_tempo_refuses_bad_bpm(bpm):
    with pytest.raises(ValueError, match="bpm must be a finite number above 0"):
        Tempo(bpm)


@pytest.mark.parametrize("origin", [math.nan, -math.inf])
def test_tempo_refuses_a_bad_beat_origin(origin):
    with pytest.raises(ValueError, match="beat_zero_seconds must be finite"):
        Tempo(120.0, origin)


@pytest.mark.parametrize("times", [[0.0, math.nan], math.inf])
def test_times_must_be_finite(times):
    with pytest.raises(ValueError, match="times must be finite"):
        Tempo(120.0).pips(times)
    with pytest.raises(ValueError, match="times must be finite"):
        movimo_tools.evaluate_seconds("bounce", times, Tempo(120.0))
    with pytest.raises(ValueError, match="beats must be finite"):
        movimo_tools.evaluate_beats("bounce", times)


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("name", PATTERNS)
def test_whole_pips_give_the_exact_table_rows(name, method):
    period = movimo_tools.entry(name).period_pips
    pips = np.arange(-period - 3, period + 3)
    exact = movimo_tools.evaluate(name, pips)
    assert evaluate_at(name, pips.astype(float), method).tobytes() == exact.tobytes()


@pytest.mark.parametrize("name", PATTERNS)
def test_linear_runs_straight_between_rows_and_across_the_seam(name):
    period = movimo_tools.entry(name).period_pips
    rows = movimo_tools.table(name)
    halfway = evaluate_at(name, [period - 0.5, 10.5, -0.5])
    assert np.allclose(halfway[0], (rows[-1] + rows[0]) / 2)
    assert np.allclose(halfway[1], (rows[10] + rows[11]) / 2)
    assert (halfway[2] == halfway[0]).all()


@pytest.mark.parametrize("method", METHODS)
def test_library_patterns_interpolate_like_builtins(ramp_library, method):
    pips = np.arange(-9, 17)
    exact = movimo_tools.evaluate("ramp", pips, ramp_library)
    assert evaluate_at("ramp", pips.astype(float), method, ramp_library).tobytes() == \
        exact.tobytes()
    through_library = evaluate_at("helix", [3.25, -7.5], method, ramp_library)
    assert through_library.tobytes() == evaluate_at("helix", [3.25, -7.5], method).tobytes()


def test_smooth_passes_straight_stretches_unchanged(ramp_library):
    # Catmull-Rom reproduces a line wherever four neighbours are collinear.
    got = evaluate_at("ramp", [1.5, 2.25, 9.5], "smooth", ramp_library)
    assert got[:, 0].tolist() == [0.375, 0.5625, 0.375]


@pytest.mark.parametrize("name", PATTERNS)
def test_smooth_is_periodic_and_continuous_in_slope(name):
    period = movimo_tools.entry(name).period_pips
    knots = np.array([0.0, 1.0, period / 2, period - 1.0])
    h = 1e-6
    left = (evaluate_at(name, knots, "smooth") - evaluate_at(name, knots - h, "smooth")) / h
    right = (evaluate_at(name, knots + h, "smooth") - evaluate_at(name, knots, "smooth")) / h
    assert np.allclose(left, right, atol=1e-4)
    shifted = evaluate_at(name, knots + 0.3 + period, "smooth")
    assert np.allclose(shifted, evaluate_at(name, knots + 0.3, "smooth"), atol=1e-12)


@pytest.mark.parametrize("fps", [60, 144, 240])
def test_frames_do_not_step_at_high_rates(fps):
    # Between frames the interpolated motion moves at most one table step
    # scaled by the frame length; stepping to whole pips would stall and jump.
    name, tempo = "lfo_breathe", Tempo(100.0)
    rows = movimo_tools.table(name)
    largest_step = np.abs(np.diff(rows[:, 0], append=rows[:1, 0])).max()
    pips = movimo_tools.frame_pips(tempo, fps, beats=8)
    frame_pips = 1 / fps / tempo.pip_seconds
    for method in ("linear", "smooth"):
        jumps = np.abs(np.diff(evaluate_at(name, pips, method)[:, 0]))
        assert jumps.max() <= largest_step * frame_pips * 1.2
        assert (jumps > 0).all()


def test_smooth_stays_within_the_pattern_range():
    values = evaluate_at("akwf_quick_return", np.arange(0, 256, 0.25), "smooth")
    assert np.abs(values).max() <= 1.0


def test_frame_pips_counts_and_places_frames():
    pips = movimo_tools.frame_pips(Tempo(120.0), fps=60, beats=4, start_beat=2)
    assert len(pips) == 120
    assert pips[0] == 128.0
    assert pips[60] == pytest.approx(128.0 + 128.0)


@pytest.mark.parametrize("kwargs, message", [
    (dict(fps=0, beats=1), "fps must be"),
    (dict(fps=math.nan, beats=1), "fps must be"),
    (dict(fps=60, beats=-1), "beats must be"),
    (dict(fps=60, beats=1, start_beat=math.inf), "start_beat must be finite"),
    (dict(fps=0.001, beats=1), "fewer than one frame"),
    (dict(fps=1e6, beats=1e6), "too many pips"),
    (dict(fps=1e300, beats=1e300), "too many pips"),
])
def test_frame_pips_refuses_bad_requests(kwargs, message):
    with pytest.raises(ValueError, match=message):
        movimo_tools.frame_pips(Tempo(120.0), **kwargs)


@pytest.mark.parametrize("pips, message", [
    ([], "no pips given"),
    ([0.0, math.nan], "pips must be finite"),
    ([3e9, math.nan], "pips must be finite"),
    ([2.0**31], "32-bit pip range"),
])
def test_evaluate_at_refuses_bad_pips(pips, message):
    with pytest.raises(ValueError, match=message):
        evaluate_at("bounce", pips)


# Pips, times and offsets: every integer and float width is read as its
# float64 value; whatever else NumPy would quietly turn into numbers is
# refused, naming what was given.
@pytest.mark.parametrize("call", [
    lambda values: evaluate_at("bounce", values),
    lambda values: Tempo(120.0).pips(values),
    lambda values: movimo_tools.spread("bounce", 0.5, values),
], ids=["evaluate_at", "Tempo.pips", "spread"])
@pytest.mark.parametrize("values, refused", [
    *[(np.array([0, 3, 100], dtype=code), None)
      for code in np.typecodes["AllInteger"] + np.typecodes["Float"]],
    ([0, 3.5], None),
    (np.array([0, 3], dtype="datetime64[s]"), "datetime64[s]"),
    (np.array([0, 3], dtype="timedelta64[s]"), "timedelta64[s]"),
    (np.array([0, 3 + 1j]), "complex128"),
    (["0", "3.5"], "str"),
    ([b"0"], "bytes"),
    (np.array([0, 3.5], dtype=object), "object"),
    (np.ma.masked_array([0.0, 3.0], mask=[False, True]), "a masked array"),
    (np.array([False, True]), "bool"),
    (True, "bool"),
])
def test_only_real_numbers_are_taken(call, values, refused):
    if refused is None:
        assert np.array_equal(call(values), call(np.asarray(values, dtype=np.float64)))
    else:
        with pytest.raises(TypeError, match=re.escape(f"not {refused}")):
            call(values)


def test_evaluate_at_refuses_unknown_methods():
    with pytest.raises(ValueError, match="interpolation must be one of step, linear, smooth"):
        evaluate_at("bounce", [0.5], "cubic")


def test_native_interpolation_matches_the_numpy_code_it_replaced_bit_for_bit():
    # Every pattern, at pips before, across and beyond its loop: whole pips,
    # halves, thirds and fractions close to both ends of a pip; and a spread
    # frame between pips.
    import numpy_interpolation
    from movimo_tools.spread import even_offsets, spread
    fractions = np.array([0.0, 0.5, 1 / 3, 0.75, 1e-9, 1 - 2**-40])
    for entry in movimo_tools.entries():
        period = entry.period_pips
        wholes = np.array([-3 * period - 1, -1, 0, 1, period // 2, period - 1, period, 5 * period])
        pips = (wholes[:, np.newaxis] + fractions).reshape(-1)
        rows = movimo_tools.table(entry.name)
        offsets = even_offsets(7, period)
        for method in ("step", "linear", "smooth"):
            expected = numpy_interpolation.evaluate_at(rows, pips, method)
            assert evaluate_at(entry.name, pips, method).tobytes() == expected.tobytes(), \
                (entry.name, method)
            frame = numpy_interpolation.spread(rows, period + 0.25, offsets, method)
            assert spread(entry.name, period + 0.25, offsets, method).tobytes() \
                == frame.tobytes(), (entry.name, method)

"""Motion limits: peak speed and acceleration, and the fastest followable tempo."""

import math

import numpy as np
import pytest

import movimo

import movimo_tools
from movimo_tools import motion_limits


@pytest.fixture(scope="module")
def library():
    # x: a triangle with steps of 0.25 per pip and one turn at each corner;
    # y: still; z: a single spike.
    x = [0.0, 0.25, 0.5, 0.25]
    z = [0.0, 0.0, 0.5, 0.0]
    rows = [[a, 0.0, c] for a, c in zip(x, z)]
    return movimo.PatternLibrary([movimo.SampledPattern("zigzag", "", rows)])


def test_peaks_from_periodic_differences(library):
    pip_seconds = 60 / 120 / 64
    limits = motion_limits("zigzag", 120.0, scale=[100.0, 1.0, 10.0], library=library)
    assert limits.peak_speed == pytest.approx((25 / pip_seconds, 0.0, 5 / pip_seconds))
    assert limits.peak_acceleration == pytest.approx((50 / pip_seconds**2, 0.0,
                                                      10 / pip_seconds**2))


def test_speed_scales_with_tempo_and_acceleration_with_its_square():
    slow, fast = motion_limits("helix", 60.0), motion_limits("helix", 180.0)
    assert np.allclose(fast.peak_speed, np.multiply(slow.peak_speed, 3))
    assert np.allclose(fast.peak_acceleration, np.multiply(slow.peak_acceleration, 9))


@pytest.mark.parametrize("max_speed, max_acceleration", [
    (200.0, math.inf), (math.inf, 5000.0), (200.0, 5000.0), ([300.0, 150.0, 80.0], 9000.0),
])
def test_fastest_tempo_meets_the_tightest_limit(max_speed, max_acceleration):
    limits = motion_limits("lfo_flower", 120.0, scale=[540.0, 270.0, 1.0])
    bpm = limits.fastest_bpm(max_speed, max_acceleration)
    at_limit = motion_limits("lfo_flower", bpm, scale=[540.0, 270.0, 1.0])
    speed_use = np.divide(at_limit.peak_speed, max_speed)
    acceleration_use = np.divide(at_limit.peak_acceleration, max_acceleration)
    assert max(speed_use.max(), acceleration_use.max()) == pytest.approx(1.0)


def test_a_still_axis_never_limits_the_tempo(library):
    limits = motion_limits("zigzag", 120.0, library=library)
    assert limits.fastest_bpm([math.inf, 1e-9, math.inf]) == math.inf


def test_fastest_tempos_for_every_builtin_match_single_patterns():
    tempos = movimo_tools.fastest_tempos(400.0, 8000.0, scale=[540.0, 270.0, 90.0])
    assert len(tempos) == 1731
    for name in ["bounce", "helix", "lfo_flower", movimo_tools.entries()[-1].name]:
        single = motion_limits(name, 97.0, scale=[540.0, 270.0, 90.0])
        assert tempos[name] == pytest.approx(single.fastest_bpm(400.0, 8000.0))


def test_all_builtins_in_one_call_agree_with_single_calls():
    listed = movimo_tools.all_motion_limits(128.0, scale=2.0)
    assert [m.name for m in listed] == [e.name for e in movimo_tools.entries()]
    for m in listed[::97]:
        assert m == motion_limits(m.name, 128.0, scale=2.0)
    for m, e in zip(listed, movimo_tools.entries()):
        moving = np.asarray(m.peak_speed) > 0
        assert moving[e.dimensions:].sum() == 0, m.name


@pytest.mark.parametrize("call, message", [
    (lambda: motion_limits("bounce", -1.0), "bpm"),
    (lambda: motion_limits("bounce", 120.0, scale=-1.0), "scale"),
    (lambda: motion_limits("bounce", 120.0, scale=[1.0, 2.0]), "scale"),
    (lambda: motion_limits("bounce", 120.0, scale=math.nan), "scale"),
    (lambda: motion_limits("nope", 120.0), "Unknown movimo: nope"),
    (lambda: motion_limits("bounce", 120.0).fastest_bpm(0.0), "above 0"),
    (lambda: motion_limits("bounce", 120.0).fastest_bpm(math.nan), "NaN"),
    (lambda: motion_limits("bounce", 120.0).fastest_bpm(100.0, -5.0), "above 0"),
])
def test_bad_requests_are_refused(call, message):
    with pytest.raises(ValueError, match=message):
        call()

"""Phase spread: per-target offsets and one frame for all targets."""

import importlib

import numpy as np
import pytest

import movimo_tools
from movimo_tools import (even_offsets, group_offsets, position_offsets, spread,
                          wing_offsets)


@pytest.mark.parametrize("count", [1, 2, 3, 7, 24, 512, 1000])
@pytest.mark.parametrize("period", [64, 448, 1024])
def test_offset_layouts(count, period):
    even = even_offsets(count, period)
    assert even[0] == 0 and (np.diff(even) >= 0).all() and even[-1] < period
    assert (np.abs(even - np.arange(count) * period / count) < 1).all()

    wings = wing_offsets(count, period)
    assert (wings == wings[::-1]).all()
    assert wings.min() == 0 and wings.max() < period
    middle = count // 2
    assert (np.diff(wings[middle:]) >= 0).all()

    groups = min(4, count)
    blocks = group_offsets(count, groups, period)
    assert len(np.unique(blocks)) == groups
    assert (np.diff(blocks) >= 0).all()
    sizes = np.unique(blocks, return_counts=True)[1]
    assert sizes.max() - sizes.min() <= 1


def test_position_offsets_follow_the_direction_of_travel():
    rig = np.array([[0.0, 0.0], [1.0, 2.0], [2.0, 4.0], [3.0, 0.0]])
    assert position_offsets(rig, 96).tolist() == [0, 32, 64, 96]
    assert position_offsets(rig, 96, direction=[0, -1]).tolist() == [96, 48, 0, 96]
    assert position_offsets([5.0, 5.0, 5.0], 64).tolist() == [0, 0, 0]


@pytest.mark.parametrize("call, message", [
    (lambda: even_offsets(0, 64), "target count"),
    (lambda: even_offsets(70000, 64), "target count"),
    (lambda: wing_offsets(4, 0), "period_pips"),
    (lambda: group_offsets(4, 5, 64), "groups"),
    (lambda: position_offsets([], 64), "target count"),
    (lambda: position_offsets([0.0, np.nan], 64), "finite"),
    (lambda: position_offsets([0.0, 1.0], -1), "span_pips"),
    (lambda: position_offsets([[0.0, 1.0]], 8, direction=[0, 0]), "direction"),
    (lambda: position_offsets([[0.0, 1.0]], 8, direction=[1, 0, 0]), "direction"),
    (lambda: spread("bounce", 0, []), "target count"),
    (lambda: spread("bounce", 0, [[0, 1]]), "one number per target"),
    (lambda: spread("bounce", np.nan, [0, 1]), "finite"),
])
def test_bad_layouts_are_refused(call, message):
    with pytest.raises(ValueError, match=message):
        call()


@pytest.mark.parametrize("positions, direction", [
    ([0.0, 1e308, -1e308], None),
    ([[1e308, 0.0], [0.0, 1e308]], [1.0, -1.0]),
    ([[1e200, 0.0], [0.0, 0.0]], [1e200, 0.0]),
])
def test_positions_whose_extent_overflows_are_refused(positions, direction):
    with pytest.raises(ValueError, match="finite extent"):
        position_offsets(positions, 64, direction)


@pytest.mark.parametrize("call", [
    lambda: even_offsets(2.5, 64),
    lambda: even_offsets(4.0, 64),
    lambda: wing_offsets(4, 64.5),
    lambda: group_offsets(6, 2.5, 64),
    lambda: group_offsets(6.5, 2, 64),
])
def test_fractional_counts_are_refused(call):
    with pytest.raises(TypeError, match="whole number"):
        call()


def test_integer_types_of_numpy_count_as_whole():
    assert even_offsets(np.int64(4), np.uint16(64)).tolist() == [0, 16, 32, 48]


@pytest.mark.parametrize("name", ["helix", "lfo_flower", "rhythm_group_223"])
def test_spread_frame_is_each_target_at_its_delayed_pip(name):
    period = movimo_tools.entry(name).period_pips
    offsets = wing_offsets(24, period)
    for pip in (0, 37, -5000, 2**31 - 1):
        frame = spread(name, pip, offsets)
        assert frame.shape == (24, 3)
        assert frame.tobytes() == movimo_tools.evaluate(name, pip - offsets).tobytes()


def test_spread_between_pips_interpolates_every_target():
    offsets = even_offsets(8, 64)
    frame = spread("bounce", 10.5, offsets, interpolation="smooth")
    assert np.allclose(frame, movimo_tools.evaluate_at("bounce", 10.5 - offsets, "smooth"))


def test_loading_the_spread_module_leaves_the_package_its_function():
    module = importlib.import_module("movimo_tools.spread")
    importlib.import_module("movimo_tools.rig")
    assert movimo_tools.spread is module.spread and callable(movimo_tools.spread)

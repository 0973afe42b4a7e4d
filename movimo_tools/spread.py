"""One pattern across many targets, each delayed by its own pip offset.

The offset functions give one integer offset per target; `spread` then
evaluates the pattern for every target at once: target i shows the pattern
at `pip - offsets[i]`, so a larger offset lags behind.
"""

from __future__ import annotations

import operator
from typing import Any

import numpy as np
from numpy.typing import ArrayLike

import movimo
from movimo_tools._native import native
from movimo_tools.batch import loop_rows, real_array
from movimo_tools.timing import evaluate_at

# Most targets one spread handles: far beyond any rig.
MAX_TARGETS = 1 << 16


def _whole(value: Any, what: str) -> int:
    """`value` as an int; a fractional count would silently become another.

    >>> _whole(2.5, "groups")
    Traceback (most recent call last):
    ...
    TypeError: groups must be a whole number, not float
    """
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{what} must be a whole number, not {type(value).__name__}") from None


def _check_count(count: int) -> None:
    if not 1 <= _whole(count, "target count") <= MAX_TARGETS:
        raise ValueError(f"target count must be 1 to {MAX_TARGETS}")


def _check_period(period_pips: int) -> None:
    if not 1 <= _whole(period_pips, "period_pips") <= 65535:
        raise ValueError("period_pips must be 1 to 65535")


def even_offsets(count: int, period_pips: int) -> np.ndarray:
    """Offsets spread evenly over one period: target i lags i / count of a loop.

    >>> even_offsets(4, 256)
    array([  0,  64, 128, 192])
    """
    _check_count(count)
    _check_period(period_pips)
    return np.arange(count, dtype=np.int64) * period_pips // count


def wing_offsets(count: int, period_pips: int) -> np.ndarray:
    """Mirrored wings: the middle targets lead and the two halves mirror each
    other, lagging evenly towards both ends.

    >>> wing_offsets(6, 192)
    array([128,  64,   0,   0,  64, 128])
    >>> wing_offsets(5, 192)
    array([128,  64,   0,  64, 128])
    """
    _check_count(count)
    _check_period(period_pips)
    rank = np.abs(2 * np.arange(count, dtype=np.int64) - (count - 1)) // 2
    return rank * period_pips // ((count + 1) // 2)


def group_offsets(count: int, groups: int, period_pips: int) -> np.ndarray:
    """Blocks: the targets split in order into `groups` near-equal blocks, and
    each block lags one more share of the period than the block before it.

    >>> group_offsets(6, 3, 192)
    array([  0,   0,  64,  64, 128, 128])
    """
    _check_count(count)
    _check_period(period_pips)
    if not 1 <= _whole(groups, "groups") <= count:
        raise ValueError("groups must be 1 to the target count")
    block = np.arange(count, dtype=np.int64) * groups // count
    return block * period_pips // groups


def position_offsets(positions: ArrayLike, span_pips: int, direction: ArrayLike | None = None,
                     ) -> np.ndarray:
    """Offsets from target positions: a wave crossing the rig along `direction`.

    `positions` holds one coordinate per target, or one row of coordinates
    per target (then `direction` gives the axis of travel, by default the
    first coordinate). The first target the wave reaches gets 0, the last
    `span_pips`, the others in proportion, rounded to whole pips.

    >>> position_offsets([0.0, 1.0, 3.0, 4.0], 128)
    array([  0,  32,  96, 128])
    >>> position_offsets([[0, 5], [2, 0], [1, 1]], 64, direction=[0, 1])
    array([64,  0, 13])
    """
    points = real_array(positions, "positions").astype(np.float64, copy=False)
    if points.ndim == 1:
        points = points[:, np.newaxis]
    if points.ndim != 2:
        raise ValueError("positions must be one number or one row of numbers per target")
    _check_count(len(points))
    if not np.isfinite(points).all():
        raise ValueError("positions must be finite numbers")
    if not (np.isfinite(span_pips) and 0 <= span_pips <= 65535):
        raise ValueError("span_pips must be 0 to 65535")
    axis = (np.eye(points.shape[1])[0] if direction is None
            else real_array(direction, "direction").astype(np.float64, copy=False))
    if axis.shape != (points.shape[1],) or not np.isfinite(axis).all() or not axis.any():
        raise ValueError("direction must be a non-zero vector with one number per coordinate")
    with np.errstate(over="ignore", invalid="ignore"):  # an overflow is refused below
        along = points @ axis
        extent = along.max() - along.min()
    if not np.isfinite(extent):
        raise ValueError("positions must lie within a finite extent along the direction")
    if extent == 0:
        return np.zeros(len(points), dtype=np.int64)
    return np.asarray(np.rint((along - along.min()) / extent * span_pips).astype(np.int64))


def spread(name: str, pip: float, offsets: ArrayLike, interpolation: str = "linear",
           library: movimo.PatternLibrary | None = None) -> np.ndarray:
    """One frame for all targets: an (N, 3) array, row i at `pip - offsets[i]`.

    `pip` may be fractional (see `evaluate_at` for the interpolation); with
    whole pips and offsets every row is exactly `movimo.sample`'s value.

    >>> spread("bounce", 32, even_offsets(4, 64))
    array([[ 1.,  0.,  0.],
           [ 0.,  0.,  0.],
           [-1.,  0.,  0.],
           [ 0.,  0.,  0.]])
    """
    lags = real_array(offsets, "offsets")
    if lags.ndim != 1:
        raise ValueError("offsets must be one number per target")
    _check_count(len(lags))
    if library is not None:
        return evaluate_at(name, pip - lags.astype(np.float64), interpolation, library)
    # One native pass: each target's pip, checked, then interpolated.
    return native.spread(loop_rows(name), pip, lags, interpolation)

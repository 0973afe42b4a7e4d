"""Pattern values for many pips at once, as (N, 3) float64 arrays.

Rows are computed natively from the same samplers as `movimo.sample`, so
every value is bit-identical to it; columns are x, y and z.
"""

from __future__ import annotations

import functools

import numpy as np
from numpy.typing import ArrayLike

import movimo
from movimo_tools._native import native
from movimo_tools.catalogue import check_library, library_entries

# Largest number of pips (rows) one call evaluates: 16 Mi rows, 384 MiB.
MAX_ROWS = 1 << 24
PIP_MIN = -(1 << 31)
PIP_MAX = (1 << 31) - 1


def check_row_count(count: int) -> None:
    """Refuses an empty or oversized request before anything is allocated.

    >>> check_row_count(0)
    Traceback (most recent call last):
    ...
    ValueError: no pips given
    """
    if count == 0:
        raise ValueError("no pips given")
    if count > MAX_ROWS:
        raise ValueError(f"too many pips: at most {MAX_ROWS} in one call")


def check_pip_range(low: float, high: float) -> None:
    """Refuses pips outside the signed 32-bit pip timebase.

    >>> check_pip_range(0, 2**31)
    Traceback (most recent call last):
    ...
    ValueError: pips must lie within the signed 32-bit pip range
    """
    if low < PIP_MIN or high > PIP_MAX:
        raise ValueError("pips must lie within the signed 32-bit pip range")


def plain_array(values: ArrayLike, what: str) -> np.ndarray:
    """`values` as an array. A masked array is refused: the conversion would
    drop its mask, and the values under the mask would count."""
    if isinstance(values, np.ma.MaskedArray):
        raise TypeError(
            f"{what} must be plain numbers, not a masked array: its mask would be ignored")
    return np.asarray(values)


def real_array(values: ArrayLike, what: str) -> np.ndarray:
    """`values` as an array of integers or floats. What NumPy would otherwise
    turn into numbers quietly is refused: bools, complex numbers, dates and
    durations, text, other objects.

    >>> real_array([1, 2.5], "pips")
    array([1. , 2.5])
    >>> real_array(["1.5"], "pips")
    Traceback (most recent call last):
    ...
    TypeError: pips must be real numbers (ints or floats), not str
    """
    array = plain_array(values, what)
    if array.dtype.kind not in "iuf":
        # NumPy names text by its width in bits ("str96"); its kind is the point.
        given = {"U": "str", "S": "bytes"}.get(array.dtype.kind, array.dtype.name)
        raise TypeError(f"{what} must be real numbers (ints or floats), not {given}")
    return array


def as_pips(pips: ArrayLike) -> np.ndarray:
    """Integer pips as a C-contiguous int32 array of the same shape.

    Accepts an int, a range, a sequence or an integer array.

    >>> as_pips(range(-2, 2))
    array([-2, -1,  0,  1], dtype=int32)
    >>> as_pips([0.5])
    Traceback (most recent call last):
    ...
    TypeError: pips must be integers (evaluate_at takes fractional pips)
    """
    if isinstance(pips, range):
        check_row_count(len(pips))
        check_pip_range(min(pips[0], pips[-1]), max(pips[0], pips[-1]))
        return np.arange(pips.start, pips.stop, pips.step, dtype=np.int32)
    array = plain_array(pips, "pips")
    check_row_count(array.size)
    if array.dtype.kind not in "iu":
        raise TypeError("pips must be integers (evaluate_at takes fractional pips)")
    check_pip_range(array.min(), array.max())
    return np.asarray(array, dtype=np.int32, order="C")


def _check_request(name: object, library: object) -> None:
    if not isinstance(name, str):
        raise TypeError("a pattern name must be a str")
    check_library(library)


@functools.lru_cache(maxsize=64)
def _builtin_table(name: str) -> np.ndarray:
    """The cached table: an array over immutable bytes, so that neither it
    nor any view of it can be made writeable and change the table for
    everyone else."""
    return np.frombuffer(native.table(name).tobytes(), dtype=np.float64).reshape(-1, 3)


def loop_rows(name: str, library: movimo.PatternLibrary | None = None) -> np.ndarray:
    """One period of a pattern, read-only: `table` without the copy.

    Built-in tables are kept for the 64 patterns used last, so code that
    evaluates the same patterns frame after frame reads them from memory.

    >>> loop_rows("bounce").flags.writeable
    False
    """
    _check_request(name, library)
    if library is None:
        # A view of its own, so that a caller who reshapes it changes only that.
        return _builtin_table(name).view()
    return native.library_table(library, name)


def period_pips(name: str, library: movimo.PatternLibrary | None = None) -> int:
    """The loop length in pips of a built-in pattern or of one `library` answers for.

    >>> period_pips("rhythm_group_223")
    448
    """
    _check_request(name, library)
    if library is None:
        return native.period_pips(name)
    return native.library_period_pips(library, name)


def table(name: str, library: movimo.PatternLibrary | None = None) -> np.ndarray:
    """One period of a pattern as a new array: row k is its value at phase k.

    `name` is a built-in pattern or, when `library` is given, any pattern
    that library answers for.

    >>> table("bounce")[[0, 16, 32]]
    array([[-1.,  0.,  0.],
           [ 0.,  0.,  0.],
           [ 1.,  0.,  0.]])
    >>> table("lfo_breathe").shape
    (256, 3)
    """
    _check_request(name, library)
    if library is None:
        return _builtin_table(name).copy()  # straight from the cache: no view first
    return native.library_table(library, name)


def evaluate(name: str, pips: ArrayLike,
             library: movimo.PatternLibrary | None = None) -> np.ndarray:
    """The pattern at integer pips; the result has the shape of `pips` plus (3,).

    Negative pips wrap as everywhere in movimo.

    >>> evaluate("bounce", [-32, 32, 96])
    array([[1., 0., 0.],
           [1., 0., 0.],
           [1., 0., 0.]])
    >>> bool((evaluate("helix", range(256)) == table("helix")).all())
    True
    """
    _check_request(name, library)
    pips = as_pips(pips)
    flat = pips.reshape(-1)
    if library is None:
        rows = native.sample(name, flat)
    else:
        rows = native.library_sample(library, name, flat)
    return rows.reshape(pips.shape + (3,))


def library_tables(library: movimo.PatternLibrary) -> dict[str, np.ndarray]:
    """The table of every pattern a library holds itself, by name, in its order.

    >>> pattern = movimo.SampledPattern("nod", "", [[0.0, 0.0, 0.0], [0.0, 0.5, 0.0]])
    >>> library_tables(movimo.PatternLibrary([pattern]))
    {'nod': array([[0. , 0. , 0. ],
           [0. , 0.5, 0. ]])}
    """
    return {e.name: native.library_table(library, e.name)
            for e in library_entries(library)}

"""The NumPy interpolation movimo_tools ran before it moved to the native
part: the reference the native code must match bit for bit (the tests), and
the plain-NumPy equivalent it is measured against (the performance report).
"""

import numpy as np


def evaluate_at(rows: np.ndarray, pips, interpolation: str = "linear") -> np.ndarray:
    """A pattern's loop `rows` (one row per phase) at fractional pips."""
    pips = np.asarray(pips, dtype=np.float64)
    period = len(rows)
    whole = np.floor(pips)
    phase = whole.astype(np.int64) % period
    here = rows[phase]
    if interpolation == "step":
        return here
    fraction = (pips - whole)[..., np.newaxis]
    after = rows[(phase + 1) % period]
    if interpolation == "linear":
        between = here + (after - here) * fraction
    else:
        before = rows[(phase - 1) % period]
        later = rows[(phase + 2) % period]
        between = np.clip(_catmull_rom(before, here, after, later, fraction), -1.0, 1.0)
    return np.where(fraction == 0.0, here, between)


def spread(rows: np.ndarray, pip, offsets, interpolation: str = "linear") -> np.ndarray:
    """One frame for all targets, row i at `pip - offsets[i]`."""
    return evaluate_at(rows, pip - np.asarray(offsets).astype(np.float64), interpolation)


def _catmull_rom(p0, p1, p2, p3, t):
    cubic = 3.0 * (p1 - p2) + p3 - p0
    quadratic = 2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3
    return p1 + 0.5 * t * ((p2 - p0) + t * (quadratic + t * cubic))

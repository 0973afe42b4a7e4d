"""Tools over the movimo patterns: batch evaluation into NumPy arrays,
musical time, phase spread over many targets, motion limits, and the
`movimo` command.

Every array of pattern values has x, y and z as its last axis.

>>> import movimo_tools
>>> movimo_tools.evaluate("bounce", range(0, 64, 16))[:, 0]
array([-1.,  0.,  1.,  0.])
"""

from movimo_tools._native import native
from movimo_tools.batch import evaluate, library_tables, period_pips, table
from movimo_tools.catalogue import PatternEntry, entries, entry, library_entries
from movimo_tools.limits import MotionLimits, all_motion_limits, fastest_tempos, motion_limits
from movimo_tools.spread import (even_offsets, group_offsets, position_offsets, spread,
                                 wing_offsets)
from movimo_tools.timing import (INTERPOLATIONS, Tempo, evaluate_at, evaluate_beats,
                                 evaluate_seconds, frame_pips)

# The library's version, from its version header.
__version__: str = native.__version__

__all__ = [
    "INTERPOLATIONS", "MotionLimits", "PatternEntry", "Tempo", "all_motion_limits", "entries",
    "entry", "evaluate", "evaluate_at", "evaluate_beats", "evaluate_seconds", "even_offsets",
    "fastest_tempos", "frame_pips", "group_offsets", "library_entries", "library_tables",
    "motion_limits", "period_pips", "position_offsets", "spread", "table", "wing_offsets",
]

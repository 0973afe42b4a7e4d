"""Tools over the movimo patterns: one pattern at the prompt, patterns
found by the words of the trade, batch evaluation into NumPy arrays,
musical time, phase spread over many targets, motion limits, and the
`movimo` command.

Every array of pattern values has x, y and z as its last axis.

>>> import movimo_tools
>>> movimo_tools.pattern("bounce").at(32)
Offset(x=1.0, y=0.0, z=0.0)
>>> movimo_tools.evaluate("bounce", range(0, 64, 16))[:, 0]
array([-1.,  0.,  1.,  0.])

The names below load their modules (and NumPy and movimo) on first use, so
that the `movimo` command can start, and be interrupted while it starts,
before any of them loads.
"""

import sys
import types

# Type checkers take this branch; at run time it costs not even `typing`.
TYPE_CHECKING = False
if TYPE_CHECKING:
    # `name as name` exports each name to a type checker (the names are lazy).
    __version__: str
    from movimo_tools.batch import (evaluate as evaluate, library_tables as library_tables,
                                    period_pips as period_pips, table as table)
    from movimo_tools.catalogue import (PatternEntry as PatternEntry, entries as entries,
                                        entry as entry, library_entries as library_entries)
    from movimo_tools.pattern import (Offset as Offset, Pattern as Pattern, pattern as pattern,
                                      patterns as patterns)
    from movimo_tools.limits import (MotionLimits as MotionLimits,
                                     all_motion_limits as all_motion_limits,
                                     fastest_tempos as fastest_tempos,
                                     motion_limits as motion_limits)
    from movimo_tools.spread import (even_offsets as even_offsets, group_offsets as group_offsets,
                                     position_offsets as position_offsets, spread as spread,
                                     wing_offsets as wing_offsets)
    from movimo_tools.timing import (INTERPOLATIONS as INTERPOLATIONS, Tempo as Tempo,
                                     evaluate_at as evaluate_at, evaluate_beats as evaluate_beats,
                                     evaluate_seconds as evaluate_seconds,
                                     frame_pips as frame_pips)

# Each public name and the module that defines it.
_HOMES = {
    "batch": ("evaluate", "library_tables", "period_pips", "table"),
    "catalogue": ("PatternEntry", "entries", "entry", "library_entries"),
    "limits": ("MotionLimits", "all_motion_limits", "fastest_tempos", "motion_limits"),
    "pattern": ("Offset", "Pattern", "pattern", "patterns"),
    "spread": ("even_offsets", "group_offsets", "position_offsets", "spread", "wing_offsets"),
    "timing": ("INTERPOLATIONS", "Tempo", "evaluate_at", "evaluate_beats", "evaluate_seconds",
               "frame_pips"),
}
_HOME_OF = {name: module for module, names in _HOMES.items() for name in names}

__all__ = sorted(_HOME_OF)


def __getattr__(name: str) -> object:
    if name == "__version__":  # the library's, from its version header
        from movimo_tools._native import native
        return native.__version__
    if name not in _HOME_OF:
        raise AttributeError(f"module 'movimo_tools' has no attribute '{name}'")
    home = _HOME_OF[name]
    value = getattr(__import__(f"movimo_tools.{home}", fromlist=[name]), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(__all__))


class _Package(types.ModuleType):
    """Importing the submodules `spread` and `pattern` would bind each module
    to the name of the function it defines; the function keeps the name."""

    def __setattr__(self, name: str, value: object) -> None:
        if not (name in _HOME_OF and isinstance(value, types.ModuleType)):
            super().__setattr__(name, value)


sys.modules[__name__].__class__ = _Package

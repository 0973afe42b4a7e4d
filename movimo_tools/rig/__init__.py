"""The rig model: a patch file read into arrays (`patch`), and the speed
report and per-fixture lines of frames played on it (`frames`). The public
names of both are importable from here, as `movimo_tools.rig.load_patch`.
"""

from movimo_tools.rig.frames import SpeedCheck, fixture_lines, speed_checks
from movimo_tools.rig.patch import (AXES, MAX_DIRECTION, MAX_FIXTURES, MAX_PATCH_BYTES,
                                    MAX_POSITION, MAX_RANGE, MAX_SPAN_BEATS, MAX_SPEED,
                                    MAX_UNIVERSE, MIN_SPEED, SLOTS, SPREADS, Axis, Group,
                                    PatchError, Rig, dmx_frame, load_patch, parse_patch)

__all__ = ["AXES", "MAX_DIRECTION", "MAX_FIXTURES", "MAX_PATCH_BYTES", "MAX_POSITION", "MAX_RANGE",
           "MAX_SPAN_BEATS", "MAX_SPEED", "MAX_UNIVERSE", "MIN_SPEED", "SLOTS", "SPREADS", "Axis",
           "Group", "PatchError", "Rig", "SpeedCheck", "dmx_frame", "fixture_lines", "load_patch",
           "parse_patch", "speed_checks"]

"""The rig model: a patch file read into arrays (`patch`) and the frames of
patterns played on it (`frames`). The public names of both are importable
from here, as `movimo_tools.rig.load_patch` and `movimo_tools.rig.Player`.
"""

from movimo_tools.rig.frames import (Motion, Player, SpeedCheck, fixture_lines, motion,
                                     speed_checks, target_degrees)
from movimo_tools.rig.patch import (AXES, MAX_DIRECTION, MAX_FIXTURES, MAX_PATCH_BYTES,
                                    MAX_POSITION, MAX_RANGE, MAX_SPAN_BEATS, MAX_SPEED,
                                    MAX_UNIVERSE, MIN_SPEED, SLOTS, SPREADS, Axis, Group,
                                    PatchError, Rig, dmx_frame, load_patch, parse_patch)

__all__ = ["AXES", "MAX_DIRECTION", "MAX_FIXTURES", "MAX_PATCH_BYTES", "MAX_POSITION", "MAX_RANGE",
           "MAX_SPAN_BEATS", "MAX_SPEED", "MAX_UNIVERSE", "MIN_SPEED", "SLOTS", "SPREADS", "Axis",
           "Group", "Motion", "PatchError", "Player", "Rig", "SpeedCheck", "dmx_frame",
           "fixture_lines", "load_patch", "motion", "parse_patch", "speed_checks",
           "target_degrees"]

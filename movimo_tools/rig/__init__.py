"""The rig model: a patch file read into arrays (`patch`), with fixture
types from GDTF files (`gdtf`) or a whole rig from an MVR file (`mvr`), both
read with the bounds of `files`; and the speed report and per-fixture lines
of frames played on it (`frames`). The public names of `patch` and `frames`
are importable from here, as `movimo_tools.rig.load_patch`.
"""

from movimo_tools.rig.files import PatchError
from movimo_tools.rig.frames import SpeedCheck, fixture_lines, speed_checks
from movimo_tools.rig.patch import (AXES, MAX_DIRECTION, MAX_FIXTURES, MAX_PATCH_BYTES,
                                    MAX_POSITION, MAX_RANGE, MAX_SPAN_BEATS, MAX_SPEED,
                                    MAX_UNIVERSE, MIN_SPEED, PROTOCOLS, SLOTS, SPREADS, Axis,
                                    Group, PatchOutput, Rig, dmx_frame, load_patch, parse_patch)

__all__ = ["AXES", "MAX_DIRECTION", "MAX_FIXTURES", "MAX_PATCH_BYTES", "MAX_POSITION", "MAX_RANGE",
           "MAX_SPAN_BEATS", "MAX_SPEED", "MAX_UNIVERSE", "MIN_SPEED", "PROTOCOLS", "SLOTS",
           "SPREADS", "Axis", "Group", "PatchError", "PatchOutput", "Rig", "SpeedCheck", "dmx_frame", "fixture_lines", "load_patch",
           "parse_patch", "speed_checks"]

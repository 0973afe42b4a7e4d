import pathlib
import sys

# Developer scripts under tools/ are importable from the tests.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))

# The module and its native companion are ours: a suite without them fails
# here, whatever a test module does on import.
import movimo  # noqa: E402,F401
import movimo_tools  # noqa: E402,F401

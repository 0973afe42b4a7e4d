import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]

# The tests use the installed package, whose native part sits inside it.
# `python -m pytest` puts the repository first on the path, where
# movimo_tools is only its Python sources, so that entry goes; the Pythons
# the tests start (`python -m movimo_tools ...`) leave it off too.
sys.path[:] = [entry for entry in sys.path if pathlib.Path(entry or ".").resolve() != ROOT]
os.environ["PYTHONSAFEPATH"] = "1"

# Developer scripts under tools/ are importable from the tests.
sys.path.insert(0, str(ROOT / "tools"))

# The module and its native companion are ours: a suite without them fails
# here, whatever a test module does on import.
import movimo  # noqa: E402,F401
import movimo_tools  # noqa: E402,F401

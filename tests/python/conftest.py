import pathlib
import sys

# Developer scripts under tools/ are importable from the tests.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))

"""The native half of movimo_tools, checked against the imported movimo.

`movimo_tools._movimo_tools` calls into the movimo module file one folder up.
If `import movimo` found a different file (another build tree earlier on the
path), the two would disagree about the patterns, so importing fails here
instead.

>>> native.groups()[0]
('procedural', 'procedural')
"""

import os

import movimo

try:
    from movimo_tools import _movimo_tools as native
except ImportError as error:
    raise ImportError(
        f"movimo_tools has no native part in {os.path.dirname(__file__)}: use the installed "
        f"package (pip install .), not the source folder") from error

if not os.path.samefile(os.path.dirname(os.path.dirname(native.__file__)),
                        os.path.dirname(movimo.__file__)):
    raise ImportError(
        f"movimo_tools needs the movimo module one folder above its native part: "
        f"{native.__file__} does not sit below {movimo.__file__}")

__all__ = ["native"]

"""The native half of movimo_tools, checked against the imported movimo.

`_movimo_tools` calls into the movimo module file in its own directory. If
`import movimo` found a different file (another build tree earlier on the
path), the two would disagree about the patterns, so importing fails here
instead.

>>> native.direct_sampler_count()
1731
"""

import os

import _movimo_tools as native
import movimo

if not os.path.samefile(os.path.dirname(native.__file__), os.path.dirname(movimo.__file__)):
    raise ImportError(
        f"movimo_tools needs its native part next to the movimo module in use: "
        f"{native.__file__} does not sit beside {movimo.__file__}")

__all__ = ["native"]

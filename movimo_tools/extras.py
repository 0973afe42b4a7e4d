"""What to install when an optional part of movimo is missing.

An extra such as `movimo[plot]` can only be named to pip from a source tree
or an index that holds movimo; anyone else needs the extra's requirements
themselves. The installed distribution lists them, so the hint names
exactly those, with their lower bounds.
"""

from __future__ import annotations

import importlib.metadata
import re
import shlex
from collections.abc import Sequence

DISTRIBUTION = "movimo"


def extra_requirements(extra: str) -> list[str]:
    """The requirements the installed movimo lists for `extra`, without their
    markers; empty when movimo's metadata is not installed or names no such extra.

    >>> extra_requirements("plot")
    ['matplotlib>=3.8']
    >>> extra_requirements("no_such_extra")
    []
    """
    try:
        listed = importlib.metadata.requires(DISTRIBUTION) or []
    except importlib.metadata.PackageNotFoundError:
        return []
    marker = re.compile(rf"""\bextra\s*==\s*["']{re.escape(extra)}["']""")
    return [requirement.partition(";")[0].strip() for requirement in listed
            if marker.search(requirement.partition(";")[2])]


def missing_extra(extra: str, modules: Sequence[str]) -> str:
    """The end of a one-line message for a missing extra: what is needed and
    the pip command that installs it, quoted for a shell. `modules` names
    the missing packages; they are installed as they are named when movimo's
    metadata does not list the extra.

    >>> "drawing " + missing_extra("plot", ["matplotlib"])
    "drawing needs matplotlib: pip install 'matplotlib>=3.8'"
    >>> missing_extra("no_such_extra", ["starlette", "uvicorn", "websockets"])
    'needs starlette, uvicorn and websockets: pip install starlette uvicorn websockets'
    """
    requirements = extra_requirements(extra) or list(modules)
    named = " and ".join(filter(None, [", ".join(modules[:-1]), modules[-1]]))
    return f"needs {named}: {shlex.join(['pip', 'install', *requirements])}"

"""Control surfaces: where the operator's commands come from, beside the
show, and where its reports go. Each runs beside the show until closed.
"""

from typing import Protocol


class Surface(Protocol):
    """A control surface that runs beside the show until closed."""

    def close(self) -> None: ...

"""The operator's console of a running command: lines out that never stop
the show when their reader goes away, and command lines in that survive
bytes that are not text and lines of any length.
"""

from __future__ import annotations

import os
from collections.abc import Callable, Iterator
from typing import IO, TextIO, cast

# Longest command line read; anything longer is no command and is skipped.
MAX_COMMAND_BYTES = 256


class LineWriter:
    """Writes lines to `stream` until it fails (its reader closed the pipe,
    its terminal hung up, its disk filled), and from then on drops them:
    losing the console must not stop the show.

    >>> import io
    >>> say = LineWriter(io.StringIO())
    >>> say("tempo 120 bpm"), say.lost
    (None, False)
    """

    def __init__(self, stream: TextIO) -> None:
        self._stream = stream
        self.lost = False

    def __call__(self, line: str) -> None:
        if self.lost:
            return
        try:
            self._stream.write(line + "\n")
            self._stream.flush()
        except (OSError, ValueError):  # ValueError: the stream was closed
            self.lost = True
            self._discard()

    def _discard(self) -> None:
        """Points the stream's file at nothing, so that the interpreter's last
        flush of what could not be written cannot fail again at exit."""
        try:
            os.dup2(os.open(os.devnull, os.O_WRONLY), self._stream.fileno())
        except (OSError, ValueError):
            pass  # no file behind it: nothing will flush it


def command_lines(stream: IO[str] | IO[bytes], note: Callable[[str], object]) -> Iterator[str]:
    """The lines of `stream` as text, each at most MAX_COMMAND_BYTES long.

    A text stream is read through its bytes (its `buffer`), so that a byte
    that is not UTF-8 costs its line only: `note(text)` hears of each line
    skipped, undecodable or too long, and reading goes on.

    >>> import io
    >>> notes = []
    >>> list(command_lines(io.BytesIO(b"bpm 90\\n\\xff\\n" + b"x" * 999 + b"\\ntap\\n"),
    ...                    notes.append))
    ['bpm 90\\n', 'tap\\n']
    >>> notes
    ['skipped a line that is not UTF-8 text', 'skipped a line of more than 256 bytes']
    """
    binary = cast(IO[bytes], getattr(stream, "buffer", stream))
    while line := binary.readline(MAX_COMMAND_BYTES + 1):
        if isinstance(line, str):  # a text stream without bytes beneath
            line = line.encode()
        if len(line) > MAX_COMMAND_BYTES and not line.endswith(b"\n"):
            while line and not line.endswith(b"\n"):
                line = binary.readline(MAX_COMMAND_BYTES + 1)
            note(f"skipped a line of more than {MAX_COMMAND_BYTES} bytes")
            continue
        try:
            yield line.decode("utf-8")
        except UnicodeDecodeError:
            note("skipped a line that is not UTF-8 text")

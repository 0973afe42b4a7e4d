"""The operator's console of a running command: lines out that never stop
the show when their reader goes away, and command lines in, read from
standard input by a thread of their own, that survive bytes that are not
text and lines of any length.
"""

from __future__ import annotations

import os
import sys
import threading
import time
from collections.abc import Callable, Iterable, Iterator
from typing import IO, Any, TextIO, cast

# Longest command line read; anything longer is no command and is skipped.
MAX_COMMAND_BYTES = 256


class LineWriter:
    """Writes lines to `stream` until it fails (its reader closed the pipe,
    its terminal hung up, its disk filled), and from then on drops them:
    losing the console must not stop the show. A stream of None (the command
    was started with that file closed) is lost from the start.

    >>> import io
    >>> say = LineWriter(io.StringIO())
    >>> say("tempo 120 bpm"), say.lost
    (None, False)
    >>> LineWriter(None).lost
    True
    """

    def __init__(self, stream: TextIO | None) -> None:
        self._stream = stream
        self.lost = stream is None

    def __call__(self, line: str) -> None:
        if self.lost or self._stream is None:
            return
        try:
            self._stream.write(line + "\n")
            self._stream.flush()
        except (OSError, ValueError):  # ValueError: the stream was closed
            self.lost = True
            self._discard()

    def _discard(self) -> None:
        if self._stream is not None:
            discard(self._stream)


def discard(stream: IO[Any]) -> None:
    """Points a stream's file at nothing, so that the interpreter's last flush
    of what could not be written cannot fail again at exit."""
    try:
        os.dup2(os.open(os.devnull, os.O_WRONLY), stream.fileno())
    except (OSError, ValueError):
        pass  # no file behind it: nothing will flush it


def hold_standard_files() -> None:
    """Opens the null device on each of the standard files 0, 1 and 2 that
    the command was started without (as a service manager may start it), so
    that no socket or file opened later takes its number and receives what
    a library prints to standard output or error."""
    for number in (0, 1, 2):
        try:
            os.fstat(number)
        except OSError:
            opened = os.open(os.devnull, os.O_RDWR)
            if opened != number:
                os.dup2(opened, number)
                os.close(opened)


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


def read_commands(lines: Iterable[str], submit: Callable[[str, float], object],
                  now: Callable[[], float] = time.perf_counter) -> None:
    """Hands each line to `submit(line, arrived)` with the time it arrived
    (for a tap, the time is what counts); meant to run in a thread over
    standard input. `submit` says what it makes of a line itself."""
    try:
        for line in lines:
            if line.strip():
                submit(line, now())
    except (OSError, ValueError):
        pass  # standard input is gone (a hung-up terminal): no more commands


def read_stdin(submit: Callable[[str, float], object],
               note: Callable[[str], object] = lambda text: None) -> None:
    """Reads the lines of standard input in a background thread (see
    read_commands); `note(text)` hears of lines skipped as no command."""
    if sys.stdin is not None:  # None when the command was started with stdin closed
        threading.Thread(target=read_commands, args=(command_lines(sys.stdin, note), submit),
                         daemon=True).start()

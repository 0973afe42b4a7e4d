"""Sending that rides out failures of the network, shared by every output."""

from __future__ import annotations

from typing import Any, Callable


class SendFailures:
    """`send` that rides out failures of the network: a route that goes away
    for a moment or a pulled cable fails a burst of sends (of frames, of
    packets), and the frames go on, on tempo. Failed sends are counted, and `warn(line)`
    hears of each burst once, when it starts and when it ends.

    >>> def unreachable(*message):
    ...     raise OSError(101, "Network is unreachable")
    >>> send = SendFailures(unreachable, "10.0.0.1:9000", print)
    >>> send("/a", ()); send("/b", ())
    cannot send to 10.0.0.1:9000: Network is unreachable; the stream runs on
    >>> send.failed
    2
    """

    def __init__(self, send: Callable[..., object], where: str,
                 warn: Callable[[str], object]) -> None:
        self._send = send
        self._where = where
        self._warn = warn
        self._burst = 0
        self.failed = 0

    def __call__(self, *message: Any) -> None:
        try:
            self._send(*message)
        except OSError as error:
            if not self._burst:
                self._warn(f"cannot send to {self._where}: {error.strerror or error}; "
                           f"the stream runs on")
            self._burst += 1
            self.failed += 1
        else:
            if self._burst:
                self._warn(f"sending to {self._where} again after {self._burst} failed sends")
                self._burst = 0

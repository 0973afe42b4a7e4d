"""Network addresses as the commands take them: an OSC HOST:PORT, a DMX
destination whose port may be left out, and the interface to send from;
and a UDP port that the OSC inputs listen on, read by a thread of its own.
"""

from __future__ import annotations

import ipaddress
import socket
import threading
from collections.abc import Callable
from typing import Any

# A listening thread looks up from its socket this often, so that closing
# returns promptly whatever the peers send.
LISTEN_POLL_SECONDS = 0.05
MAX_DATAGRAM_BYTES = 65535


def parse_endpoint(text: str, what: str = "the OSC destination") -> tuple[str, int]:
    """HOST:PORT, with an IPv6 host in brackets; `what` names the address in
    the error.

    >>> parse_endpoint("127.0.0.1:9000"), parse_endpoint("[::1]:57120")
    (('127.0.0.1', 9000), ('::1', 57120))
    >>> parse_endpoint("localhost")
    Traceback (most recent call last):
    ...
    ValueError: the OSC destination must be HOST:PORT with a port of 1 to 65535
    """
    host, _, port = text.rpartition(":")
    host = host[1:-1] if host.startswith("[") and host.endswith("]") else host
    if not host or not port.isdigit() or not 1 <= int(port) <= 65535:
        raise ValueError(f"{what} must be HOST:PORT with a port of 1 to 65535")
    return host, int(port)


def parse_destination(text: str, default_port: int) -> tuple[str, int]:
    """HOST or HOST:PORT (an IPv6 host in brackets).

    >>> parse_destination("10.0.0.5", 6454), parse_destination("[::1]:5568", 1)
    (('10.0.0.5', 6454), ('::1', 5568))
    """
    host, port = text, str(default_port)
    if text.startswith("["):
        host, _, rest = text[1:].partition("]")
        if rest:
            port = rest.removeprefix(":")
    elif text.count(":") == 1:
        host, port = text.split(":")
    if not host or not port.isdigit() or not 1 <= int(port) <= 65535:
        raise ValueError(f"the destination must be HOST or HOST:PORT, not {text!r}")
    return host, int(port)


class DatagramListener:
    """A UDP port listened on by a thread of its own, which hands each
    datagram and its sender's address to `handle(data, sender)`. Port 0
    takes a free one (see `address`). A port that cannot be had is a
    one-line ValueError naming `what` listens there."""

    def __init__(self, host: str, port: int, what: str,
                 handle: Callable[[bytes, Any], object]) -> None:
        self._socket: socket.socket | None = None
        try:
            family, _, _, _, address = socket.getaddrinfo(host, port, type=socket.SOCK_DGRAM)[0]
            self._socket = socket.socket(family, socket.SOCK_DGRAM)
            self._socket.bind(address)
        except (OSError, UnicodeError) as error:
            if self._socket is not None:
                self._socket.close()
            raise ValueError(f"cannot listen for {what} on {host}:{port}: "
                             f"{getattr(error, 'strerror', None) or error}") from None
        self.family = family
        self._socket.settimeout(LISTEN_POLL_SECONDS)
        self._listening = threading.Event()
        self._listening.set()
        self._thread = threading.Thread(target=self._listen, args=(self._socket, handle),
                                        daemon=True)
        self._thread.start()

    def _listen(self, listener: socket.socket, handle: Callable[[bytes, Any], object]) -> None:
        while self._listening.is_set():
            try:
                data, sender = listener.recvfrom(MAX_DATAGRAM_BYTES)
            except TimeoutError:
                continue
            except OSError:
                return  # closed under the thread
            handle(data, sender)

    @property
    def address(self) -> tuple[str, int]:
        """The host and port listened on."""
        assert self._socket is not None, "the listener is closed"
        host, port = self._socket.getsockname()[:2]
        return str(host), int(port)

    def close(self) -> None:
        """Stops listening; returns within about LISTEN_POLL_SECONDS."""
        if self._socket is not None:
            self._listening.clear()
            self._thread.join(timeout=2 * LISTEN_POLL_SECONDS + 1.0)
            self._socket.close()
            self._socket = None


def check_interface(text: str) -> str:
    """An --interface: the IPv4 address of this machine to send from or
    listen on (whether it is one shows when a socket binds to it).

    >>> check_interface("eth0")
    Traceback (most recent call last):
    ...
    ValueError: --interface must be an IPv4 address of this machine, not 'eth0'
    """
    try:
        return str(ipaddress.IPv4Address(text))
    except ValueError:
        raise ValueError(f"--interface must be an IPv4 address of this machine, not "
                         f"{text!r}") from None

"""Patterns as OSC messages: the frames of `movimo stream` and the sender
that puts them on UDP.

Each frame sends, in this order:

- `PREFIX/clock` with the frame number (int), the beat and the tempo in bpm;
- `PREFIX/relocate` with the beats it jumped from and to, only in a frame
  where an outside clock relocated (its music looped or jumped): the one
  time the beat may run backwards, told apart from a fault;
- `PREFIX/NAME` with x, y and z for every pattern, or, spread over N
  targets, `PREFIX/NAME/I` for I = 0 .. N-1, target I lagging I/N of a loop.

A frame goes out as one OSC bundle timetagged with its due time, so that a
receiver can apply it at once and schedule it; only a frame too big for one
unfragmented UDP datagram is split over several bundles with the same
timetag. Receivers that do not read bundles get one datagram per message.

Values are 32-bit OSC floats, which every receiver reads, or 64-bit doubles
when asked (those carry `movimo.sample`'s values bit for bit).
"""

from __future__ import annotations

import dataclasses
import re
import socket
import time
from collections.abc import Callable, Iterable, Sequence
from typing import Any

from pythonosc.osc_bundle import OscBundle
from pythonosc.osc_bundle_builder import OscBundleBuilder
from pythonosc.osc_message import OscMessage
from pythonosc.osc_message_builder import OscMessageBuilder

from movimo_tools.catalogue import entry

# Most pattern messages a frame may carry: patterns times spread targets
# (sending 1024 takes about 8 ms, half a frame at 60 Hz).
MAX_MESSAGES_PER_FRAME = 1024
# Largest bundle sent: what a 1500-byte Ethernet frame carries over UDP on
# IPv6 (1500 - 40 - 8) and so on IPv4, without fragmenting.
MAX_BUNDLE_BYTES = 1452
# A bundle's "#bundle" tag and timetag, and the size before each element.
_BUNDLE_HEADER_BYTES, _ELEMENT_SIZE_BYTES = 16, 4
_ADDRESS_PREFIX = re.compile(r"(/[A-Za-z0-9_.\-]+)+")


@dataclasses.dataclass(frozen=True)
class Target:
    """One streamed pattern and the OSC address of each of its targets."""

    name: str
    addresses: tuple[str, ...]


def check_prefix(prefix: str) -> str:
    """An OSC address prefix: one or more /parts of letters, digits, _ . -

    >>> check_prefix("/rig/moving heads")
    Traceback (most recent call last):
    ...
    ValueError: the OSC prefix must be /parts of letters, digits, '_', '.' or '-'
    """
    if not _ADDRESS_PREFIX.fullmatch(prefix):
        raise ValueError("the OSC prefix must be /parts of letters, digits, '_', '.' or '-'")
    return prefix


def make_targets(names: Sequence[str], spread_count: int = 1,
                 prefix: str = "/movimo") -> list[Target]:
    """The streamed patterns; with a spread above 1, each gets numbered addresses.

    >>> [t.addresses for t in make_targets(["bounce", "sway"], 2, "/rig")]
    [('/rig/bounce/0', '/rig/bounce/1'), ('/rig/sway/0', '/rig/sway/1')]
    """
    check_prefix(prefix)
    if not 1 <= len(names) * spread_count <= MAX_MESSAGES_PER_FRAME:
        raise ValueError(f"patterns times spread targets must be 1 to {MAX_MESSAGES_PER_FRAME}")
    targets = []
    for name in names:
        entry(name)  # an unknown pattern fails here, before anything is sent
        addresses: tuple[str, ...]
        if spread_count == 1:
            addresses = (f"{prefix}/{name}",)
        else:
            addresses = tuple(f"{prefix}/{name}/{i}" for i in range(spread_count))
        targets.append(Target(name, addresses))
    return targets


def encode_message(address: str, arguments: Iterable[float], double: bool = False) -> OscMessage:
    """One OSC message: ints as 32-bit ints, other numbers as 32-bit floats,
    or 64-bit doubles when asked.

    >>> encode_message("/movimo/clock", (3, 0.5, 120.0)).dgram[:24]
    b'/movimo/clock\\x00\\x00\\x00,iff\\x00\\x00\\x00\\x00'
    """
    float_type = OscMessageBuilder.ARG_TYPE_DOUBLE if double else OscMessageBuilder.ARG_TYPE_FLOAT
    builder = OscMessageBuilder(address)
    for value in arguments:
        builder.add_arg(value, OscMessageBuilder.ARG_TYPE_INT if isinstance(value, int)
                        else float_type)
    return builder.build()


def frame_bundles(messages: list[OscMessage], timetag: float,
                  max_bytes: int = MAX_BUNDLE_BYTES) -> list[OscBundle]:
    """The messages of one frame in order, packed into as few bundles of at
    most `max_bytes` as they fit, each timetagged `timetag` (seconds since
    1970, as `time.time()`). A message too big for any bundle gets its own.

    >>> messages = [encode_message(f"/m/{i}", (0.0, 0.0, 0.0)) for i in range(3)]
    >>> [len(bundle.dgram) for bundle in frame_bundles(messages, 0.0, max_bytes=80)]
    [80, 48]
    """
    groups: list[list[OscMessage]] = [[]]
    size = _BUNDLE_HEADER_BYTES
    for message in messages:
        element = _ELEMENT_SIZE_BYTES + message.size
        if groups[-1] and size + element > max_bytes:
            groups.append([])
            size = _BUNDLE_HEADER_BYTES
        groups[-1].append(message)
        size += element
    bundles = []
    for group in groups:
        builder = OscBundleBuilder(timetag)  # type: ignore[arg-type]  # seconds, as documented
        for message in group:
            builder.add_content(message)
        bundles.append(builder.build())
    return bundles


class OscSender:
    """Sends each frame over UDP to one address, looked up once at the
    start, as timetagged bundles or, with `bundles=False`, one datagram per
    message. Broadcast addresses work."""

    def __init__(self, host: str, port: int, double: bool = False, bundles: bool = True,
                 now: Callable[[], float] = time.perf_counter) -> None:
        family, _, _, _, address = socket.getaddrinfo(host, port, type=socket.SOCK_DGRAM)[0]
        self._address: Any = address
        self._socket = socket.socket(family, socket.SOCK_DGRAM)
        if family == socket.AF_INET:
            self._socket.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        self._double = double
        self._bundles = bundles
        # Due times run on `now`; timetags are wall-clock time.
        self._wall_offset = time.time() - now()

    def send_frame(self, messages: list[tuple[str, tuple[Any, ...]]], due: float) -> None:
        """Sends one frame's (address, arguments) messages, due at `due` on
        the stream's clock."""
        encoded = [encode_message(address, arguments, self._double)
                   for address, arguments in messages]
        packets: list[OscMessage] | list[OscBundle] = (
            frame_bundles(encoded, due + self._wall_offset) if self._bundles else encoded)
        for packet in packets:
            self._socket.sendto(packet.dgram, self._address)

    def close(self) -> None:
        self._socket.close()


class OscOutput:
    """A show's output to OSC: each frame's (address, arguments) messages
    through `send_frame(messages, due)`, an OscSender's or another."""

    def __init__(self, send_frame: Callable[[list[tuple[str, tuple[Any, ...]]], float], object],
                 ) -> None:
        self._send_frame = send_frame

    def send(self, messages: list[tuple[str, tuple[Any, ...]]], due: float) -> int:
        self._send_frame(messages, due)
        return len(messages)

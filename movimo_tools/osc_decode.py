"""Decoding OSC datagrams from peers that may be careless or hostile.

Every datagram an input receives passes here: a message, or a bundle of
messages and bundles. Decoding is strict and bounded: each length is checked
against what is left of the datagram, bundles nest at most MAX_BUNDLE_DEPTH
deep, text must be UTF-8, and anything else raises `OscDecodeError` (a
ValueError) for the caller to count. A bundle's timetag is read past, not
obeyed: an input takes a datagram's messages when it arrives.

python-osc's own parser is not used for input because a bundle element of
negative size sends it into an endless loop, and it logs a warning line per
undecodable element; its builders still encode what movimo sends.

>>> from pythonosc.osc_message_builder import build_msg
>>> decode_packet(build_msg("/beat", [3, 1.5]).dgram)
[('/beat', (3, 1.5))]
>>> decode_packet(b"#bundle\\x00" + bytes(8) + b"\\xff\\xff\\xff\\xfc")
Traceback (most recent call last):
...
movimo_tools.osc_decode.OscDecodeError: a bundle element of -4 bytes
"""

from __future__ import annotations

import struct
from typing import Any

BUNDLE_TAG = b"#bundle\x00"
MAX_BUNDLE_DEPTH = 8
# Type tags and the fixed sizes of their data; 's' and 'b' have their own.
_FIXED = {"i": struct.Struct(">i"), "f": struct.Struct(">f"), "d": struct.Struct(">d"),
          "h": struct.Struct(">q"), "t": struct.Struct(">Q"), "c": struct.Struct(">I"),
          "r": struct.Struct(">I"), "m": struct.Struct(">4s")}
_CONSTANT = {"T": True, "F": False, "N": None, "I": float("inf")}
_SIZE = struct.Struct(">i")

Message = tuple[str, tuple[Any, ...]]


class OscDecodeError(ValueError):
    """A datagram that is not well-formed OSC."""


def decode_packet(data: bytes) -> list[Message]:
    """The (address, arguments) of every message in a datagram, in order."""
    messages: list[Message] = []
    _decode(bytes(data), 0, len(data), messages, 0)
    return messages


def _decode(data: bytes, start: int, end: int, messages: list[Message], depth: int) -> None:
    if data.startswith(BUNDLE_TAG, start, end):
        if depth >= MAX_BUNDLE_DEPTH:
            raise OscDecodeError(f"bundles nested more than {MAX_BUNDLE_DEPTH} deep")
        index = start + len(BUNDLE_TAG) + 8  # past the timetag
        if index > end:
            raise OscDecodeError("a bundle without its timetag")
        while index < end:
            size, index = _int(data, index, end)
            if size <= 0 or size % 4 or index + size > end:
                raise OscDecodeError(f"a bundle element of {size} bytes")
            _decode(data, index, index + size, messages, depth + 1)
            index += size
    elif data.startswith(b"/", start, end):
        messages.append(_message(data, start, end))
    else:
        raise OscDecodeError("neither an OSC message nor a bundle")


def _message(data: bytes, start: int, end: int) -> Message:
    address, index = _string(data, start, end)
    if index == end:
        return address, ()  # no type tag string: an old-style message without arguments
    tags, index = _string(data, index, end)
    if not tags.startswith(","):
        raise OscDecodeError("a type tag string must start with ','")
    arguments: list[Any] = []
    for tag in tags[1:]:
        if tag in _CONSTANT:
            arguments.append(_CONSTANT[tag])
        elif tag in _FIXED:
            layout = _FIXED[tag]
            if index + layout.size > end:
                raise OscDecodeError(f"'{tag}' argument cut short")
            arguments.append(layout.unpack_from(data, index)[0])
            index += layout.size
        elif tag in "sS":
            text, index = _string(data, index, end)
            arguments.append(text)
        elif tag == "b":
            size, index = _int(data, index, end)
            if size < 0 or index + size > end:
                raise OscDecodeError(f"a blob of {size} bytes")
            arguments.append(data[index:index + size])
            index += size + -size % 4
        else:
            raise OscDecodeError(f"unknown type tag {tag!r}")
    if index != end:
        raise OscDecodeError("bytes left after the last argument")
    return address, tuple(arguments)


def _int(data: bytes, index: int, end: int) -> tuple[int, int]:
    if index + 4 > end:
        raise OscDecodeError("a size cut short")
    return _SIZE.unpack_from(data, index)[0], index + 4


def _string(data: bytes, index: int, end: int) -> tuple[str, int]:
    """A null-terminated string padded to four bytes, and the index after it."""
    null = data.find(b"\x00", index, end)
    if null < 0:
        raise OscDecodeError("a string without its terminating null")
    try:
        text = data[index:null].decode("utf-8")
    except UnicodeDecodeError:
        raise OscDecodeError("text that is not UTF-8") from None
    length = null - index + 1
    return text, min(end, index + length + -length % 4)

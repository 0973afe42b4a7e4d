"""DMX512 over the network: the ArtDmx and E1.31 packets of a rig's frames,
and the sender that puts every universe of a frame on UDP to one address.

Packets follow the published layouts of ArtDmx (Art-Net 4) and of the E1.31
data packet; each is a pure function of its universe, sequence and slots.
They are built here rather than by a sender library because the Python ones
send from threads or event loops of their own, at their own rate (and sACN
ones announce universes by multicast), where every packet here must leave on
its frame of the tempo clock, to the one address given.
"""

from __future__ import annotations

import ipaddress
import socket
import struct
import uuid
from collections.abc import Callable, Iterable
from typing import Any

import numpy as np

from movimo_tools.rig.patch import MAX_UNIVERSE, SLOTS

ARTNET_PORT = 6454
SACN_PORT = 5568
PORTS = {"artnet": ARTNET_PORT, "sacn": SACN_PORT}
# id, opcode, version (high, low), sequence, physical, port-address; the
# opcode and port-address go low byte first, the slot count after them high first.
_ARTDMX_HEAD = struct.Struct("<8sHBBBBH")
_ARTNET_ID = b"Art-Net\x00"
_OP_DMX = 0x5000
_ARTNET_VERSION = 14


def artdmx_packet(port_address: int, sequence: int, slots: bytes) -> bytes:
    """An ArtDmx packet: 18 header bytes, then the slots (an even count, 2 to 512).

    The 15-bit port-address carries net (bits 8-14), sub-net (4-7) and
    universe (0-3) and goes low byte first; sequence 0 means none, so a
    sender counts 1 to 255.

    >>> artdmx_packet(0x0102, 7, bytes([9, 8]))[:20].hex(" ")
    '41 72 74 2d 4e 65 74 00 00 50 00 0e 07 00 02 01 00 02 09 08'
    """
    if not 0 <= port_address < 1 << 15:
        raise ValueError("an Art-Net port-address is 0 to 32767")
    if not 2 <= len(slots) <= SLOTS or len(slots) % 2:
        raise ValueError("ArtDmx carries an even number of slots, 2 to 512")
    head = _ARTDMX_HEAD.pack(_ARTNET_ID, _OP_DMX, 0, _ARTNET_VERSION, sequence, 0, port_address)
    return head + len(slots).to_bytes(2, "big") + bytes(slots)


_ACN_ID = b"ASC-E1.17\x00\x00\x00"
_ROOT_VECTOR_DATA = 0x00000004
_FRAMING_VECTOR_DATA = 0x00000002
_DMP_SET_PROPERTY = 0x02
_E131_HEAD = struct.Struct(">HH12sHI16s" "HI64sBHBBH" "HBBHHH" "B")


def e131_packet(universe: int, sequence: int, slots: bytes, cid: bytes, source_name: str,
                priority: int = 100) -> bytes:
    """An E1.31 data packet: root, framing and DMP layers (126 bytes) and
    the slots after the null start code. Each layer starts with 0x7 in its
    top flag bits and its length from there to the end of the packet.

    >>> packet = e131_packet(1, 0, bytes(512), bytes(16), "movimo")
    >>> len(packet), packet[16:18].hex(), packet[38:40].hex(), packet[115:117].hex()
    (638, '726e', '7258', '720b')
    """
    if not 1 <= universe <= MAX_UNIVERSE:
        raise ValueError(f"an sACN universe is 1 to {MAX_UNIVERSE}")
    _check_priority(priority)
    if len(cid) != 16:
        raise ValueError("a CID is 16 bytes")
    if not 1 <= len(slots) <= SLOTS:
        raise ValueError("an sACN packet carries 1 to 512 slots")
    # At most 63 bytes and a null, cut between characters.
    name = source_name.encode()[:63].decode(errors="ignore").encode()
    total = 126 + len(slots)
    flags = 0x7000
    head = _E131_HEAD.pack(0x0010, 0x0000, _ACN_ID, flags | (total - 16), _ROOT_VECTOR_DATA, cid,
                           flags | (total - 38), _FRAMING_VECTOR_DATA, name, priority, 0,
                           sequence, 0, universe,
                           flags | (total - 115), _DMP_SET_PROPERTY, 0xA1, 0x0000, 0x0001,
                           len(slots) + 1,
                           0x00)
    return head + bytes(slots)


def _check_priority(priority: int) -> None:
    if not 0 <= priority <= 200:
        raise ValueError("an sACN priority is 0 to 200")


def default_cid() -> bytes:
    """A component identifier that stays the same on one machine, as receivers
    expect of a source across restarts."""
    return uuid.uuid5(uuid.NAMESPACE_DNS, f"movimo.{socket.gethostname()}").bytes


class DmxSender:
    """Sends every universe of a frame as one packet to one unicast address."""

    def __init__(self, protocol: str, host: str, port: int, universes: Iterable[int], *,
                 cid: bytes | None = None, source_name: str = "movimo",
                 priority: int = 100) -> None:
        self.protocol = protocol
        self.universes = [int(u) for u in universes]
        self.cid = default_cid() if cid is None else cid
        self.source_name, self.priority = source_name, priority
        if protocol == "artnet" and max(self.universes) >= 1 << 15:
            raise ValueError("Art-Net reaches universes 0 to 32767 only")
        if protocol == "sacn" and min(self.universes) < 1:
            raise ValueError(f"sACN reaches universes 1 to {MAX_UNIVERSE} only")
        _check_priority(priority)
        self.address = resolve_unicast(host, port)
        self._socket = socket.socket(self.address[0], socket.SOCK_DGRAM)
        self.sequence = 0

    def packets(self, frame: np.ndarray) -> list[bytes]:
        """The packets of one (universes, 512) frame; advances the sequence."""
        self.sequence += 1
        if self.protocol == "artnet":
            number = (self.sequence - 1) % 255 + 1
            return [artdmx_packet(u, number, row.tobytes())
                    for u, row in zip(self.universes, frame, strict=True)]
        return [e131_packet(u, self.sequence % 256, row.tobytes(), self.cid, self.source_name,
                            self.priority) for u, row in zip(self.universes, frame, strict=True)]

    def send_packet(self, packet: bytes) -> None:
        self._socket.sendto(packet, self.address[1])

    def send(self, frame: np.ndarray,
             send_packet: Callable[[bytes], object] | None = None) -> int:
        """Sends the packets of a frame, each through `send_packet(packet)`
        (this sender's own unless given); returns how many."""
        packets = self.packets(frame)
        for packet in packets:
            (send_packet or self.send_packet)(packet)
        return len(packets)

    def close(self) -> None:
        self._socket.close()


def resolve_unicast(host: str, port: int) -> tuple[int, tuple[Any, ...]]:
    """The address family and socket address of a unicast host."""
    try:
        family, _, _, _, address = socket.getaddrinfo(host, port, type=socket.SOCK_DGRAM)[0]
    except (socket.gaierror, UnicodeError) as error:
        raise ValueError(f"cannot resolve {host}: {getattr(error, 'strerror', error)}") from None
    ip = ipaddress.ip_address(address[0])
    if ip.is_multicast or ip.is_unspecified or str(ip) == "255.255.255.255":
        raise ValueError(f"{host} is not a unicast address: movimo sends to one receiver")
    return family, address


class DmxOutput:
    """A show's output to DMX: every universe of each frame as one packet,
    sent through `send_packet` (which rides out network failures)."""

    def __init__(self, sender: DmxSender, send_packet: Callable[[bytes], object]) -> None:
        self._sender, self._send_packet = sender, send_packet

    def send(self, slots: np.ndarray, due: float) -> int:
        return self._sender.send(slots, self._send_packet)

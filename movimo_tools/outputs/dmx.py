"""DMX512 over the network: the ArtDmx and E1.31 packets of a rig's frames,
with the sync packets that release a frame's universes together and the
packets that end an sACN stream, and the sender that puts every universe
of a frame on UDP to one output's destination: a node, a broadcast address,
or each universe's sACN multicast group.

Packets follow the published layouts of Art-Net 4 and of E1.31; each is a
pure function of its universe, sequence and slots. They are built here
rather than by a sender library because the Python ones send from threads
or event loops of their own, at their own rate, where every packet here
must leave on its frame of the tempo clock.
"""

from __future__ import annotations

import ipaddress
import socket
import struct
import uuid
from collections.abc import Callable, Iterable
from typing import Any

import numpy as np

from movimo_tools.rig.patch import (DEFAULT_PORTS, DEFAULT_SYNC_UNIVERSE, MAX_ARTNET_UNIVERSE,
                                    MAX_UNIVERSE, SLOTS)

PORTS = DEFAULT_PORTS
ARTNET_PORT = PORTS["artnet"]
SACN_PORT = PORTS["sacn"]
# id, opcode, version (high, low), sequence, physical, port-address; the
# opcode and port-address go low byte first, the slot count after them high first.
_ARTDMX_HEAD = struct.Struct("<8sHBBBBH")
_ARTNET_ID = b"Art-Net\x00"
_OP_DMX = 0x5000
_OP_SYNC = 0x5200
ARTNET_VERSION = 14
_ARTDMX_SEQUENCE_AT = 12
# An sACN stream's end is said three times, so that one lost packet does not hide it.
TERMINATION_REPEATS = 3
SendPacket = Callable[[bytes, Any], object]


def artnet_header(opcode: int) -> bytes:
    """The 10 bytes every Art-Net packet starts with: id, opcode (low byte
    first) and protocol version (high byte first)."""
    return _ARTNET_ID + opcode.to_bytes(2, "little") + ARTNET_VERSION.to_bytes(2, "big")


def artdmx_packet(port_address: int, sequence: int, slots: bytes) -> bytes:
    """An ArtDmx packet: 18 header bytes, then the slots (an even count, 2 to 512).

    The 15-bit port-address carries net (bits 8-14), sub-net (4-7) and
    universe (0-3) and goes low byte first; sequence 0 means none, so a
    sender counts 1 to 255.

    >>> artdmx_packet(0x0102, 7, bytes([9, 8]))[:20].hex(" ")
    '41 72 74 2d 4e 65 74 00 00 50 00 0e 07 00 02 01 00 02 09 08'
    """
    if not 0 <= port_address <= MAX_ARTNET_UNIVERSE:
        raise ValueError("an Art-Net port-address is 0 to 32767")
    if not 2 <= len(slots) <= SLOTS or len(slots) % 2:
        raise ValueError("ArtDmx carries an even number of slots, 2 to 512")
    head = _ARTDMX_HEAD.pack(_ARTNET_ID, _OP_DMX, 0, ARTNET_VERSION, sequence, 0, port_address)
    return head + len(slots).to_bytes(2, "big") + bytes(slots)


def artsync_packet() -> bytes:
    """An ArtSync: nodes put out the ArtDmx they hold, all universes at once.

    >>> artsync_packet().hex(" ")
    '41 72 74 2d 4e 65 74 00 00 52 00 0e 00 00'
    """
    return artnet_header(_OP_SYNC) + bytes(2)


_ACN_ID = b"ASC-E1.17\x00\x00\x00"
ROOT_VECTOR_DATA = 0x00000004
ROOT_VECTOR_EXTENDED = 0x00000008      # sync and universe discovery
_FRAMING_VECTOR_DATA = 0x00000002
_FRAMING_VECTOR_SYNC = 0x00000001
_DMP_SET_PROPERTY = 0x02
_STREAM_TERMINATED = 0x40
_E131_ROOT = struct.Struct(">HH12sHI16s")
_E131_DATA_LAYERS = struct.Struct(">HI64sBHBBH" "HBBHHH" "B")
_E131_SEQUENCE_AT = 111
_FLAGS = 0x7000


def e131_root(total: int, vector: int, cid: bytes) -> bytes:
    """The root layer (38 bytes) of an E1.31 packet of `total` bytes. Each
    layer starts with 0x7 in its top flag bits and its length from there to
    the end of the packet."""
    if len(cid) != 16:
        raise ValueError("a CID is 16 bytes")
    return _E131_ROOT.pack(0x0010, 0x0000, _ACN_ID, _FLAGS | (total - 16), vector, cid)


def source_name_field(source_name: str) -> bytes:
    """At most 63 bytes of UTF-8 and a null, cut between characters."""
    return source_name.encode()[:63].decode(errors="ignore").encode().ljust(64, b"\x00")


def e131_packet(universe: int, sequence: int, slots: bytes, cid: bytes, source_name: str,
                priority: int = 100, sync_universe: int = 0, terminated: bool = False) -> bytes:
    """An E1.31 data packet: root, framing and DMP layers (126 bytes) and
    the slots after the null start code. A nonzero `sync_universe` asks
    receivers to hold the slots until a sync packet on that universe;
    `terminated` says the stream ends here.

    >>> packet = e131_packet(1, 0, bytes(512), bytes(16), "movimo")
    >>> len(packet), packet[16:18].hex(), packet[38:40].hex(), packet[115:117].hex()
    (638, '726e', '7258', '720b')
    """
    if not 1 <= universe <= MAX_UNIVERSE:
        raise ValueError(f"an sACN universe is 1 to {MAX_UNIVERSE}")
    _check_priority(priority)
    if not 1 <= len(slots) <= SLOTS:
        raise ValueError("an sACN packet carries 1 to 512 slots")
    total = 126 + len(slots)
    layers = _E131_DATA_LAYERS.pack(
        _FLAGS | (total - 38), _FRAMING_VECTOR_DATA, source_name_field(source_name), priority,
        sync_universe, sequence, _STREAM_TERMINATED if terminated else 0, universe,
        _FLAGS | (total - 115), _DMP_SET_PROPERTY, 0xA1, 0x0000, 0x0001, len(slots) + 1,
        0x00)
    return e131_root(total, ROOT_VECTOR_DATA, cid) + layers + bytes(slots)


def e131_sync_packet(sync_universe: int, sequence: int, cid: bytes) -> bytes:
    """An E1.31 synchronization packet (49 bytes): receivers put out every
    universe they hold for `sync_universe`.

    >>> packet = e131_sync_packet(63999, 5, bytes(16))
    >>> len(packet), packet[18:22].hex(), packet[38:45].hex(), packet[45:].hex()
    (49, '00000008', '700b0000000105', 'f9ff0000')
    """
    return (e131_root(49, ROOT_VECTOR_EXTENDED, cid)
            + struct.pack(">HIBHH", _FLAGS | 11, _FRAMING_VECTOR_SYNC, sequence, sync_universe, 0))


def _check_priority(priority: int) -> None:
    if not 0 <= priority <= 200:
        raise ValueError("an sACN priority is 0 to 200")


def multicast_group(universe: int) -> str:
    """The IPv4 multicast group of an sACN universe: 239.255.hi.lo.

    >>> multicast_group(1), multicast_group(63999)
    ('239.255.0.1', '239.255.249.255')
    """
    return f"239.255.{universe >> 8}.{universe & 0xFF}"


def default_cid() -> bytes:
    """A component identifier that stays the same on one machine, as receivers
    expect of a source across restarts."""
    return uuid.uuid5(uuid.NAMESPACE_DNS, f"movimo.{socket.gethostname()}").bytes


def open_socket(protocol: str, family: int = socket.AF_INET, interface: str | None = None,
                ttl: int = 1) -> socket.socket:
    """A UDP socket for one protocol's packets: broadcast allowed, multicast
    kept within `ttl` hops, and both sent from `interface` when given.

    Art-Net goes from port 6454, where nodes answer, when no other program
    holds it; the port is shared once taken, so that a poller started later
    (movimo nodes, a visualiser) can listen beside it. Binding to a port
    another program listens on would take the packets sent to it away from
    that program, so a taken port means an ephemeral one instead.
    """
    sock = socket.socket(family, socket.SOCK_DGRAM)
    try:
        if family == socket.AF_INET:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
            sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, ttl)
            if interface is not None:
                sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                                socket.inet_aton(interface))
        elif interface is not None:
            raise ValueError(f"the interface {interface} is IPv4: it cannot reach an IPv6 address")
        host = interface or ("::" if family == socket.AF_INET6 else "")
        if protocol == "artnet":
            try:
                sock.bind((host, ARTNET_PORT))
            except OSError:
                sock.bind((host, 0))
            else:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        elif interface is not None:
            sock.bind((interface, 0))
    except BaseException:
        sock.close()
        raise
    return sock


SocketFactory = Callable[[str, int, "str | None", int], socket.socket]


class DmxSender:
    """Sends every universe of a frame as one packet to one output's
    destination: `host` (a node, or for Art-Net a broadcast address), or
    for sACN without a host each universe's multicast group. With `sync`,
    `send_sync` follows a frame with ArtSync or an sACN sync packet, and
    sACN data packets name the sync universe.

    The socket comes from `socket_for(protocol, family, interface, ttl)`,
    which may share it with other senders; without one the sender opens its
    own and closes it with itself.
    """

    def __init__(self, protocol: str, host: str | None, port: int, universes: Iterable[int], *,
                 cid: bytes | None = None, source_name: str = "movimo", priority: int = 100,
                 sync: bool = False, sync_universe: int = DEFAULT_SYNC_UNIVERSE,
                 interface: str | None = None, ttl: int = 1,
                 socket_for: SocketFactory | None = None) -> None:
        self.protocol = protocol
        self.universes = [int(u) for u in universes]
        self.cid = default_cid() if cid is None else cid
        self.source_name, self.priority = source_name, priority
        self.sync, self.sync_universe = sync, sync_universe
        if protocol == "artnet" and max(self.universes) > MAX_ARTNET_UNIVERSE:
            raise ValueError("Art-Net reaches universes 0 to 32767 only")
        if protocol == "sacn" and min(self.universes) < 1:
            raise ValueError(f"sACN reaches universes 1 to {MAX_UNIVERSE} only")
        _check_priority(priority)
        self.multicast = host is None
        if host is None:
            if protocol != "sacn":
                raise ValueError("Art-Net needs the address of a node or a broadcast address")
            family: int = socket.AF_INET
            self.destinations = [(multicast_group(u), port) for u in self.universes]
            self.sync_destination: Any = (multicast_group(sync_universe), port)
            last = f"…{self.destinations[-1][0]}" if len(self.universes) > 1 else ""
            self.where = f"{self.destinations[0][0]}{last}:{port}"
        else:
            family, address = resolve_destination(host, port, protocol)
            self.destinations = [address] * len(self.universes)
            self.sync_destination = address
            self.where = f"{host}:{port}"
        self._own_socket = socket_for is None
        self.socket = (socket_for or open_socket)(protocol, family, interface, ttl)
        self.sequence = 0
        self._sync_sequence = 0
        # Each universe's header, built once by the packet builders: a frame
        # changes only its sequence byte and its slots.
        if protocol == "artnet":
            heads = [artdmx_packet(u, 0, bytes(SLOTS))[:18] for u in self.universes]
            at = _ARTDMX_SEQUENCE_AT
        else:
            heads = [e131_packet(u, 0, bytes(SLOTS), self.cid, source_name, priority,
                                 sync_universe if sync else 0)[:126] for u in self.universes]
            at = _E131_SEQUENCE_AT
        self._heads = [(head[:at], head[at + 1:]) for head in heads]

    def packets(self, frame: np.ndarray) -> list[bytes]:
        """The packets of one (universes, 512) frame; advances the sequence."""
        if frame.shape != (len(self.universes), SLOTS):
            raise ValueError(f"a frame of this sender is ({len(self.universes)}, {SLOTS}) slots")
        self.sequence += 1
        # Art-Net counts 1 to 255 (0 means no sequence); E1.31 wraps through 0.
        number = ((self.sequence - 1) % 255 + 1 if self.protocol == "artnet"
                  else self.sequence % 256).to_bytes(1, "big")
        return [b"".join((before, number, after, row.tobytes()))
                for (before, after), row in zip(self._heads, frame, strict=True)]

    def send_packet(self, packet: bytes, destination: Any) -> None:
        self.socket.sendto(packet, destination)

    def send(self, frame: np.ndarray, send_packet: SendPacket | None = None) -> int:
        """Sends the packets of a frame, each through `send_packet(packet,
        destination)` (this sender's own unless given); returns how many."""
        packets = self.packets(frame)
        for packet, destination in zip(packets, self.destinations):
            (send_packet or self.send_packet)(packet, destination)
        return len(packets)

    def send_sync(self, send_packet: SendPacket | None = None) -> int:
        """With sync, the packet that releases the frame just sent: ArtSync
        where the ArtDmx went, or an sACN sync packet on the sync universe."""
        if not self.sync:
            return 0
        if self.protocol == "artnet":
            packet = artsync_packet()
        else:
            self._sync_sequence = (self._sync_sequence + 1) % 256
            packet = e131_sync_packet(self.sync_universe, self._sync_sequence, self.cid)
        (send_packet or self.send_packet)(packet, self.sync_destination)
        return 1

    def terminate(self, frame: np.ndarray, send_packet: SendPacket | None = None) -> int:
        """sACN's end of stream: three rounds of Stream_Terminated packets
        of every universe, carrying `frame`, so that receivers let go at
        once instead of holding the last frame for their timeout. Art-Net
        has no such packet."""
        if self.protocol != "sacn":
            return 0
        sent = 0
        for _ in range(TERMINATION_REPEATS):
            self.sequence += 1
            for universe, row, destination in zip(self.universes, frame, self.destinations,
                                                  strict=True):
                packet = e131_packet(universe, self.sequence % 256, row.tobytes(), self.cid,
                                     self.source_name, self.priority, terminated=True)
                (send_packet or self.send_packet)(packet, destination)
                sent += 1
        return sent

    @property
    def local_port(self) -> int:
        return int(self.socket.getsockname()[1])

    def close(self) -> None:
        if self._own_socket:
            self.socket.close()


def resolve_destination(host: str, port: int, protocol: str) -> tuple[int, tuple[Any, ...]]:
    """The address family and socket address of an output's host: a node,
    or for Art-Net a broadcast address too."""
    try:
        family, _, _, _, address = socket.getaddrinfo(host, port, type=socket.SOCK_DGRAM)[0]
    except (socket.gaierror, UnicodeError) as error:
        raise ValueError(f"cannot resolve {host}: {getattr(error, 'strerror', error)}") from None
    ip = ipaddress.ip_address(address[0])
    if ip.is_multicast and protocol == "sacn":
        raise ValueError(f"{host} is a multicast address: give no address, and each sACN "
                         f"universe goes to its own group")
    if ip.is_multicast or ip.is_unspecified or (
            protocol == "sacn" and str(ip) == "255.255.255.255"):
        raise ValueError(f"{host} is not a unicast address"
                         f"{' or a broadcast address' if protocol == 'artnet' else ''}")
    return family, address

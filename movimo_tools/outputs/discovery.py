"""How Art-Net and sACN devices find each other: ArtPoll and its
ArtPollReply, and E1.31 universe discovery; and the responder that answers
ArtPolls while a rig runs.

Builders are pure functions. Readers take any datagram and return what it
says or raise ValueError; they read fixed fields of a datagram already
received, so hostile input costs no more than its own bytes.
"""

from __future__ import annotations

import dataclasses
import selectors
import socket
import struct
import threading
import time
from collections.abc import Sequence

from movimo_tools.outputs.dmx import (ARTNET_PORT, ROOT_VECTOR_EXTENDED, artnet_header,
                                      e131_root, source_name_field)
from movimo_tools.rig.patch import MAX_ARTNET_UNIVERSE

OP_POLL = 0x2000
OP_POLL_REPLY = 0x2100
# The group of universe 64214, where every sACN source announces its universes.
SACN_DISCOVERY_GROUP = "239.255.250.214"
SACN_DISCOVERY_SECONDS = 10.0
# Every datagram is read into a buffer this size: the longest of these
# protocols' packets (a full discovery page) is 1144 bytes.
MAX_DATAGRAM = 2048
# No ESTA manufacturer code; the Art-Net OEM code for an unregistered product.
_ESTA_CODE, _OEM_CODE = 0x0000, 0x00FF
_STYLE_CONTROLLER = 0x01
_STATUS1 = 0xD0                 # indicators normal; port-addresses set here, not over the network
_STATUS2_15_BIT = 0x08          # port-addresses of 15 bits
_PORT_INPUT = 0x40              # a port that puts DMX onto the network: what a controller sends
_PORT_OUTPUT = 0x80             # a port that takes DMX from the network: what a node puts out
_GOOD_INPUT_DATA = 0x80
_TARGETED = 0x20                # ArtPoll flag: answer only for port-addresses in its range
_POLL_REPLY = struct.Struct("<8sH4sH8BH18s64s64s2B4s4s4s4s4s3B3xB6s4s2B4sB6s4B11x")
_MIN_POLL_REPLY = 198           # older replies end early; what they leave out reads as zero
_FRAMING_VECTOR_DISCOVERY = 0x00000002
_DISCOVERY_VECTOR_LIST = 0x00000001
_UNIVERSES_PER_PAGE = 512
_FLAGS = 0x7000


def artnet_opcode(datagram: bytes) -> int | None:
    """The opcode of an Art-Net packet; None for anything else."""
    if len(datagram) < 10 or datagram[:8] != artnet_header(0)[:8]:
        return None
    return int.from_bytes(datagram[8:10], "little")


def artpoll_packet() -> bytes:
    """An ArtPoll asking every node to reply (22 bytes, no targeted range).

    >>> artpoll_packet()[:14].hex(" ")
    '41 72 74 2d 4e 65 74 00 00 20 00 0e 00 00'
    """
    return artnet_header(OP_POLL) + struct.pack(">BBHHHH", 0, 0, 0, 0, _ESTA_CODE, _OEM_CODE)


def read_poll(datagram: bytes) -> tuple[int, int]:
    """The port-addresses an ArtPoll asks about, lowest and highest (all of
    them unless it is targeted); ValueError for anything else."""
    if len(datagram) < 12 or artnet_opcode(datagram) != OP_POLL:
        raise ValueError("not an ArtPoll")
    if len(datagram) >= 18 and datagram[12] & _TARGETED:
        top, bottom = struct.unpack_from(">HH", datagram, 14)
        return bottom, top
    return 0, MAX_ARTNET_UNIVERSE


def _name_field(text: str, size: int) -> bytes:
    return text.encode()[:size - 1].decode(errors="ignore").encode().ljust(size, b"\x00")


def artpollreply_packets(ip: str, port_addresses: Sequence[int], short_name: str,
                         long_name: str, report: str) -> list[bytes]:
    """The ArtPollReplies of a controller that sends `port_addresses`: one
    reply (bind index 1, 2, ...) per four of them that share a net and
    sub-net, each port an input to the network with its universe nibble.

    >>> reply = artpollreply_packets("10.0.0.5", [3, 4], "movimo", "movimo rig", "#0001 ok")[0]
    >>> len(reply), reply[10:14].hex("."), reply[174:178].hex(" "), reply[186:190].hex(" ")
    (239, '0a.00.00.05', '40 40 00 00', '03 04 00 00')
    """
    pages: list[list[int]] = []
    for address in sorted(set(port_addresses)):
        if pages and pages[-1][0] >> 4 == address >> 4 and len(pages[-1]) < 4:
            pages[-1].append(address)
        else:
            pages.append([address])
    packed_ip = socket.inet_aton(ip)
    replies = []
    for index, page in enumerate(pages, start=1):
        count = len(page)
        ports = [a & 0x0F for a in page] + [0] * (4 - count)
        replies.append(_POLL_REPLY.pack(
            b"Art-Net\x00", OP_POLL_REPLY, packed_ip, ARTNET_PORT,
            0, 0, page[0] >> 8, (page[0] >> 4) & 0x0F, _OEM_CODE >> 8, _OEM_CODE & 0xFF, 0,
            _STATUS1, _ESTA_CODE, _name_field(short_name, 18), _name_field(long_name, 64),
            _name_field(report, 64), 0, count, bytes([_PORT_INPUT] * count).ljust(4, b"\0"),
            bytes([_GOOD_INPUT_DATA] * count).ljust(4, b"\0"), bytes(4), bytes(ports), bytes(4),
            0, 0, 0, _STYLE_CONTROLLER, bytes(6), packed_ip, index, _STATUS2_15_BIT, bytes(4), 0,
            bytes(6), 0, 0, 0, 0))
    return replies


@dataclasses.dataclass(frozen=True)
class PollReply:
    """What one ArtPollReply says of a node."""

    ip: str
    short_name: str
    long_name: str
    bind_index: int
    sends: tuple[int, ...]      # port-addresses it puts onto the network
    receives: tuple[int, ...]   # port-addresses it takes from the network


def _text(field: bytes) -> str:
    return field.split(b"\x00", 1)[0].decode("utf-8", errors="replace")


def read_poll_reply(datagram: bytes) -> PollReply:
    """An ArtPollReply read; ValueError when it is none or cut short."""
    if artnet_opcode(datagram) != OP_POLL_REPLY:
        raise ValueError("not an ArtPollReply")
    if len(datagram) < _MIN_POLL_REPLY:
        raise ValueError(f"an ArtPollReply of {len(datagram)} bytes is cut short")
    fields = _POLL_REPLY.unpack(datagram[:_POLL_REPLY.size].ljust(_POLL_REPLY.size, b"\x00"))
    ip, net, sub, short, long_ = fields[2], fields[6], fields[7], fields[13], fields[14]
    types, swin, swout, bind_index = fields[18], fields[21], fields[22], fields[29]
    base = (net & 0x7F) << 8 | (sub & 0x0F) << 4
    sends = tuple(base | swin[i] & 0x0F for i in range(4) if types[i] & _PORT_INPUT)
    receives = tuple(base | swout[i] & 0x0F for i in range(4) if types[i] & _PORT_OUTPUT)
    return PollReply(socket.inet_ntoa(ip), _text(short), _text(long_), bind_index, sends,
                     receives)


def e131_discovery_packets(universes: Sequence[int], cid: bytes, source_name: str,
                           ) -> list[bytes]:
    """The E1.31 universe discovery pages of a source sending `universes`:
    up to 512 universes a page, in ascending order.

    >>> page, = e131_discovery_packets([2, 1], bytes(16), "movimo")
    >>> len(page), page[18:22].hex(), page[40:44].hex(), page[114:].hex(" ")
    (124, '00000008', '00000002', '00 00 00 01 00 00 00 01 00 02')
    """
    ordered = sorted(set(universes))
    chunks = [ordered[i:i + _UNIVERSES_PER_PAGE]
              for i in range(0, len(ordered), _UNIVERSES_PER_PAGE)] or [[]]
    pages = []
    for number, chunk in enumerate(chunks):
        total = 120 + 2 * len(chunk)
        pages.append(e131_root(total, ROOT_VECTOR_EXTENDED, cid)
                     + struct.pack(">HI64s4x", _FLAGS | (total - 38), _FRAMING_VECTOR_DISCOVERY,
                                   source_name_field(source_name))
                     + struct.pack(">HIBB", _FLAGS | (total - 112), _DISCOVERY_VECTOR_LIST,
                                   number, len(chunks) - 1)
                     + b"".join(u.to_bytes(2, "big") for u in chunk))
    return pages


@dataclasses.dataclass(frozen=True)
class Announcement:
    """One page of an sACN source's universe discovery."""

    cid: bytes
    source_name: str
    page: int
    last_page: int
    universes: tuple[int, ...]


def is_e131_discovery(datagram: bytes) -> bool:
    """Whether a datagram claims to be E1.31 universe discovery (it may
    still be malformed), rather than data or sync."""
    return (datagram[18:22] == ROOT_VECTOR_EXTENDED.to_bytes(4, "big")
            and datagram[40:44] == _FRAMING_VECTOR_DISCOVERY.to_bytes(4, "big"))


def read_e131_discovery(datagram: bytes) -> Announcement:
    """A universe discovery page read; ValueError for anything else, or
    for one whose lengths or pages do not add up."""
    size = len(datagram)
    if not 120 <= size <= 120 + 2 * _UNIVERSES_PER_PAGE or size % 2:
        raise ValueError(f"a universe discovery packet of {size} bytes")
    if datagram[:16] != e131_root(38, 0, bytes(16))[:16] or not is_e131_discovery(datagram):
        raise ValueError("not an E1.31 universe discovery packet")
    lengths = [struct.unpack_from(">H", datagram, at)[0] for at in (16, 38, 112)]
    vector, page, last_page = struct.unpack_from(">IBB", datagram, 114)
    if ([length & 0x0FFF for length in lengths] != [size - 16, size - 38, size - 112]
            or vector != _DISCOVERY_VECTOR_LIST or page > last_page):
        raise ValueError("a universe discovery packet whose lengths or pages do not add up")
    universes = struct.unpack_from(f">{(size - 120) // 2}H", datagram, 120)
    return Announcement(bytes(datagram[22:38]), _text(datagram[44:108]), page, last_page,
                        universes)


def universe_ranges(universes: Sequence[int]) -> str:
    """Universe numbers as runs: '1-4, 7'.

    >>> universe_ranges([7, 1, 2, 3, 4])
    '1-4, 7'
    """
    runs: list[list[int]] = []
    for universe in sorted(set(universes)):
        if runs and universe == runs[-1][1] + 1:
            runs[-1][1] = universe
        else:
            runs.append([universe, universe])
    return ", ".join(f"{low}" if low == high else f"{low}-{high}" for low, high in runs)


def listening_socket(port: int, group: str | None = None,
                     interface: str | None = None) -> socket.socket | None:
    """A UDP socket on `port` of every address, shared with other programs
    that listen there, joined to the multicast `group` on `interface` (or
    as routed) when given; None where the port or group cannot be had."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind(("", port))
        if group is not None:
            sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                            socket.inet_aton(group) + socket.inet_aton(interface or "0.0.0.0"))
    except OSError:
        sock.close()
        return None
    return sock


def local_address(sock: socket.socket, peer: str) -> str:
    """The address of this machine that `peer` reaches through `sock`: its
    own, or where it listens on every address, the one routed to the peer
    (found without sending anything)."""
    bound = sock.getsockname()[0]
    if bound not in ("0.0.0.0", ""):
        return str(bound)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.connect((peer, ARTNET_PORT))
        return str(probe.getsockname()[0])


class ArtPollResponder:
    """Answers ArtPolls that reach `sockets` (Art-Net sockets on port 6454)
    with the ArtPollReplies of a controller sending `port_addresses`, from
    a thread of its own, so the frame loop never waits for it. Replies go
    to the address and port the poll came from. A flood of polls is
    answered at most MAX_ANSWERS_PER_SECOND times a second."""

    MAX_ANSWERS_PER_SECOND = 20
    STOP_POLL_SECONDS = 0.1

    def __init__(self, sockets: Sequence[socket.socket], port_addresses: Sequence[int],
                 short_name: str, long_name: str) -> None:
        self._sockets = list(sockets)
        self._port_addresses = sorted(set(port_addresses))
        self._names = short_name, long_name
        self.answered = 0
        self._window = (0.0, 0)     # start of the current second, answers in it
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, name="movimo ArtPoll responder",
                                        daemon=True)
        self._thread.start()

    def _run(self) -> None:
        with selectors.DefaultSelector() as selector:
            for sock in self._sockets:
                selector.register(sock, selectors.EVENT_READ)
            while not self._stop.is_set():
                for key, _ in selector.select(self.STOP_POLL_SECONDS):
                    self._answer(key.fileobj)  # type: ignore[arg-type]

    def _answer(self, sock: socket.socket) -> None:
        try:
            datagram, poller = sock.recvfrom(MAX_DATAGRAM)
            bottom, top = read_poll(datagram)
        except (OSError, ValueError):
            return      # not a poll: the ArtDmx of a broadcast, say
        if not any(bottom <= address <= top for address in self._port_addresses):
            return
        now = time.monotonic()
        start, count = self._window
        if now - start >= 1.0:
            start, count = now, 0
        if count >= self.MAX_ANSWERS_PER_SECOND:
            return
        self._window = start, count + 1
        self.answered += 1
        try:
            report = (f"#0001 [{self.answered % 10000:04d}] sending "
                      f"{len(self._port_addresses)} universes")
            for reply in artpollreply_packets(local_address(sock, poller[0]),
                                              self._port_addresses, *self._names, report):
                sock.sendto(reply, poller)
        except OSError:
            pass        # the poller is gone or unreachable: the next poll tries again

    def close(self) -> None:
        self._stop.set()
        self._thread.join()

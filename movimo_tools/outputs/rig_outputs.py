"""A rig's outputs as it is wired: every node's sender, run as the one
output of a show.

Each frame goes to every output, and only then come the frames' sync
packets, so that a receiver holding universes for a sync releases them all
together. While sACN goes out, its universes are announced every 10 s by
E1.31 universe discovery: to the discovery group from multicast outputs, to
the receiver itself from unicast ones, so that nothing reaches a network
an output was not pointed at. ArtPolls are answered from a thread of their
own. `close()` ends every sACN stream with three Stream_Terminated packets
(Art-Net has none), stops the responder and closes every socket.
"""

from __future__ import annotations

import socket
from collections.abc import Callable, Iterable, Sequence
from typing import Any

import numpy as np

from movimo_tools.outputs.discovery import (SACN_DISCOVERY_GROUP, SACN_DISCOVERY_SECONDS,
                                            ArtPollResponder, e131_discovery_packets,
                                            listening_socket, universe_ranges)
from movimo_tools.outputs.dmx import (ARTNET_PORT, DmxSender, default_cid, multicast_group,
                                      open_socket)
from movimo_tools.outputs.sending import SendFailures
from movimo_tools.rig.patch import PatchOutput


def output_line(output: PatchOutput) -> str:
    """One output in a line: protocol, universes, destination, priority, sync.

    >>> output_line(PatchOutput("sacn", (1, 2), None, 5568, sync=True))
    'sacn universes 1-2 to multicast 239.255.0.1…239.255.0.2:5568 (ttl 1), priority 100, sync on universe 63999'
    """
    count = len(output.universes)
    where = f"{output.address}:{output.port}"
    if output.address is None:
        groups = [multicast_group(output.universes[0])]
        if count > 1:
            groups.append(multicast_group(output.universes[-1]))
        where = f"multicast {'…'.join(groups)}:{output.port} (ttl {output.ttl})"
    line = f"{output.protocol} universe{'s' * (count > 1)} {universe_ranges(output.universes)} " \
           f"to {where}"
    if output.interface is not None:
        line += f" from {output.interface}"
    if output.protocol == "sacn":
        line += f", priority {output.priority}"
    if output.sync:
        line += (", sync by ArtSync" if output.protocol == "artnet"
                 else f", sync on universe {output.sync_universe}")
    return line


def discovery_line(outputs: Sequence[PatchOutput]) -> str:
    """What the outputs do to be found: answer ArtPoll, announce sACN universes."""
    parts = []
    if any(output.protocol == "artnet" for output in outputs):
        parts.append(f"answers ArtPoll on UDP port {ARTNET_PORT}")
    sacn = [output for output in outputs if output.protocol == "sacn"]
    if sacn:
        to = [SACN_DISCOVERY_GROUP] * any(output.address is None for output in sacn) + [
            "each unicast receiver"] * any(output.address is not None for output in sacn)
        parts.append(f"announces its sACN universes every {SACN_DISCOVERY_SECONDS:g} s to "
                     f"{' and '.join(to)}")
    return "discovery: " + "; ".join(parts)


def settings_lines(outputs: Sequence[PatchOutput]) -> list[str]:
    """What a dry run and a preview say of the outputs: one line each, then
    discovery; nothing where there are none."""
    if not outputs:
        return []
    return [f"output {i}: {output_line(output)}" for i, output in enumerate(outputs, 1)] + [
        discovery_line(outputs)]


class RigOutputs:
    """Every output of a rig, as one output of its show: `send(frame, due)`
    takes the rig's (universes, 512) frame. Sends ride out failures of the
    network, each output's said on `warn` as it starts and ends."""

    def __init__(self, universes: Iterable[int], outputs: Sequence[PatchOutput],
                 warn: Callable[[str], object], *, source_name: str = "movimo",
                 cid: bytes | None = None) -> None:
        cid = default_cid() if cid is None else cid
        universe_list = [int(u) for u in universes]
        self._sockets: dict[tuple[Any, ...], socket.socket] = {}
        self.senders: list[DmxSender] = []
        self._rows: list[np.ndarray] = []
        self._failures: list[SendFailures] = []
        self._responder: ArtPollResponder | None = None
        self.outputs = tuple(outputs)
        self.artnet_ports: list[int] = []
        self._last_frame: np.ndarray | None = None
        self._next_announcement = -float("inf")
        self.last_sent = self.last_failed = 0      # packets of the last frame
        try:
            for output in outputs:
                sender = self._open(output, cid, source_name)
                self.senders.append(sender)
                self._rows.append(np.searchsorted(universe_list, sender.universes))
                self._failures.append(SendFailures(sender.send_packet, sender.where, warn))
            self._announcements = self._discovery(cid, source_name)
            self._answer_polls(source_name)
        except BaseException:
            self.close()
            raise

    def _open(self, output: PatchOutput, cid: bytes, source_name: str) -> DmxSender:
        def shared(protocol: str, family: int, interface: str | None,
                   ttl: int) -> socket.socket:
            key = (protocol, family, interface, ttl if protocol == "sacn" else None)
            if key not in self._sockets:
                self._sockets[key] = open_socket(protocol, family, interface, ttl)
            return self._sockets[key]

        try:
            return DmxSender(output.protocol, output.address, output.port, output.universes,
                             cid=cid, source_name=source_name, priority=output.priority,
                             sync=output.sync, sync_universe=output.sync_universe,
                             interface=output.interface, ttl=output.ttl, socket_for=shared)
        except OSError as error:
            source = f" from {output.interface}" if output.interface else ""
            raise ValueError(f"cannot send {output.protocol} to {output.address or 'multicast'}"
                             f"{source}: {error.strerror or error}") from None

    def _answer_polls(self, source_name: str) -> None:
        """Starts answering ArtPolls where Art-Net goes from port 6454. A
        socket bound to one address hears no broadcast poll, so where every
        Art-Net output sends from an interface, one more socket listens on
        every address."""
        artnet = [sender for sender in self.senders if sender.protocol == "artnet"]
        self.artnet_ports = sorted({sender.local_port for sender in artnet})
        bound = [sock for key, sock in self._sockets.items() if key[0] == "artnet"
                 and sock.family == socket.AF_INET and sock.getsockname()[1] == ARTNET_PORT]
        if bound and all(sock.getsockname()[0] != "0.0.0.0" for sock in bound):
            listener = listening_socket(ARTNET_PORT)
            if listener is not None:
                self._sockets[("artnet listener",)] = listener
                bound.append(listener)
        if bound:
            self._responder = ArtPollResponder(
                bound, [u for sender in artnet for u in sender.universes], source_name,
                f"{source_name}: movimo, moving heads in time with the music")

    def _discovery(self, cid: bytes, source_name: str,
                   ) -> list[tuple[SendFailures, bytes, Any]]:
        """(send, page, destination) of every sACN discovery page, once per
        socket and destination."""
        sacn = [(sender, send) for sender, send in zip(self.senders, self._failures)
                if sender.protocol == "sacn"]
        if not sacn:
            return []
        pages = e131_discovery_packets([u for s, _ in sacn for u in s.universes], cid,
                                       source_name)
        routes: dict[tuple[int, Any], SendFailures] = {}
        for sender, send in sacn:
            destination = ((SACN_DISCOVERY_GROUP, sender.destinations[0][1]) if sender.multicast
                           else sender.destinations[0])
            routes.setdefault((id(sender.socket), destination), send)
        return [(send, page, destination) for (_, destination), send in routes.items()
                for page in pages]

    @property
    def failed(self) -> int:
        """Packets that could not be sent, over every output."""
        return sum(failures.failed for failures in self._failures)

    def send(self, frame: np.ndarray, due: float) -> int:
        """Every output's packets of a frame, then the sync packets, and the
        sACN universes' announcement when it is due; returns how many."""
        failed = self.failed
        sent = 0
        for sender, rows, send in zip(self.senders, self._rows, self._failures):
            sent += sender.send(frame[rows], send)
        for sender, send in zip(self.senders, self._failures):
            sent += sender.send_sync(send)
        self.last_sent, self.last_failed = sent, self.failed - failed
        self._last_frame = frame
        if due >= self._next_announcement and self._announcements:
            self._next_announcement = due + SACN_DISCOVERY_SECONDS
            for send, page, destination in self._announcements:
                send(page, destination)
            sent += len(self._announcements)
        return sent

    def parking(self, packets: int) -> str:
        """How parking went, `packets` having been sent for it: judged by
        the last frame sent, the home frame held at the end, none of whose
        packets leaving parks nothing."""
        if not self.last_failed:
            verdict = "parked at home"
        elif self.last_failed == self.last_sent:
            verdict = "NOT parked: no packet of the last home frame could be sent"
        else:
            verdict = (f"parked in part: {self.last_failed} of the last home frame's "
                       f"{self.last_sent} packets could not be sent")
        return f"{verdict} ({packets} packets)"

    def lines(self) -> list[str]:
        """What a running show says of its outputs: each, discovery, and the
        port Art-Net goes from."""
        lines = settings_lines(self.outputs)
        taken = [port for port in self.artnet_ports if port != ARTNET_PORT]
        if taken:
            lines.append(f"Art-Net goes from UDP port {taken[0]}: another program holds port "
                         f"{ARTNET_PORT}{'' if self._responder else ', so ArtPolls go unanswered'}")
        elif self.artnet_ports:
            lines.append(f"Art-Net goes from UDP port {ARTNET_PORT}")
        return lines

    def close(self) -> None:
        """Ends every sACN stream with the last frame sent, stops answering
        ArtPolls and closes every socket; a second call does nothing."""
        if self._responder is not None:
            self._responder.close()
            self._responder = None
        try:
            if self._last_frame is not None:
                for sender, rows, send in zip(self.senders, self._rows, self._failures):
                    sender.terminate(self._last_frame[rows], send)
                self._last_frame = None
        finally:
            for sender in self.senders:
                sender.close()
            for sock in self._sockets.values():
                sock.close()
            self._sockets.clear()

"""`movimo nodes`: the Art-Net nodes and sACN sources on the network, as a
technician asks first at a venue. It sends an ArtPoll, listens for the
ArtPollReplies and for E1.31 universe discovery for a few seconds, and
lists what answered, one line each: protocol, address, name, universes.
"""

from __future__ import annotations

import argparse
import dataclasses
import ipaddress
import selectors
import socket
import sys
import time
from collections.abc import Callable
from typing import TextIO

from movimo_tools.commands.options import positive
from movimo_tools.endpoints import check_interface
from movimo_tools.outputs.discovery import (MAX_DATAGRAM, OP_POLL_REPLY, SACN_DISCOVERY_GROUP,
                                            SACN_DISCOVERY_SECONDS, artnet_opcode,
                                            artpoll_packet, is_e131_discovery,
                                            listening_socket, read_e131_discovery,
                                            read_poll_reply, universe_ranges)
from movimo_tools.outputs.dmx import ARTNET_PORT, SACN_PORT
from movimo_tools.surfaces.console import LineWriter

DEFAULT_SECONDS = 3.0
MAX_SECONDS = 600.0
# Art-Net controllers poll every 2.5 to 3 s; nodes may miss one.
POLL_EVERY_SECONDS = 2.5
# Nodes listed at most: a flood of forged sources is counted, not kept.
MAX_NODES = 1000


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers `movimo nodes` with the command's subparsers."""
    parser = commands.add_parser(
        "nodes", help="list the Art-Net nodes and sACN sources on the network",
        description="Send an ArtPoll to the limited broadcast address (out of --interface's "
                    "network when given) and list what answers, and the sACN sources that "
                    "announce their universes, one line each: protocol, address, name, "
                    f"universes. sACN sources announce every {SACN_DISCOVERY_SECONDS:g} s: "
                    f"listen {SACN_DISCOVERY_SECONDS + 1:g} s to hear them all.")
    parser.add_argument("--interface", metavar="ADDR",
                        help="this machine's IPv4 address on the lighting network (default: "
                             "as routed)")
    parser.add_argument("--seconds", type=positive(float), default=DEFAULT_SECONDS,
                        help=f"how long to listen (default {DEFAULT_SECONDS:g})")
    parser.set_defaults(run=_run)


@dataclasses.dataclass
class Node:
    """An Art-Net node or an sACN source, as heard so far."""

    protocol: str
    address: str
    name: str
    sends: set[int] = dataclasses.field(default_factory=set)
    receives: set[int] = dataclasses.field(default_factory=set)

    def line(self) -> str:
        name = "".join(c if c.isprintable() else c.encode("unicode_escape").decode()
                       for c in self.name)
        universes = [f"{verb} {universe_ranges(sorted(which))}" for verb, which in
                     (("sends", self.sends), ("receives", self.receives)) if which]
        return (f"{self.protocol:<7} {self.address:<15}  {name:<18}  "
                f"{'; '.join(universes) or 'no universes'}")


class Census:
    """What answered: nodes by protocol and address (Art-Net) or component
    id (sACN), and how many datagrams were not well-formed replies."""

    def __init__(self) -> None:
        self.nodes: dict[tuple[str, object], Node] = {}
        self.ignored = 0

    def _node(self, key: tuple[str, object], address: str, name: str) -> Node | None:
        if key not in self.nodes:
            if len(self.nodes) >= MAX_NODES:
                self.ignored += 1
                return None
            self.nodes[key] = Node(key[0], address, name)
        return self.nodes[key]

    def hear_artnet(self, datagram: bytes, sender: str) -> None:
        if artnet_opcode(datagram) not in (None, OP_POLL_REPLY):
            return      # ArtPoll, ArtDmx and the rest of Art-Net's traffic
        try:
            reply = read_poll_reply(datagram)
        except ValueError:
            self.ignored += 1
            return
        node = self._node(("artnet", sender), sender, reply.short_name or reply.long_name)
        if node is not None:
            node.sends.update(reply.sends)
            node.receives.update(reply.receives)

    def hear_sacn(self, datagram: bytes, sender: str) -> None:
        if not is_e131_discovery(datagram):
            return      # sACN data or sync that reached the port
        try:
            page = read_e131_discovery(datagram)
        except ValueError:
            self.ignored += 1
            return
        node = self._node(("sacn", page.cid), sender, page.source_name)
        if node is not None:
            node.sends.update(page.universes)

    def lines(self, seconds: float) -> list[str]:
        if not self.nodes:
            lines = [f"no Art-Net or sACN nodes answered in {seconds:g} s"]
        else:
            lines = [node.line() for node in sorted(
                self.nodes.values(),
                key=lambda n: (ipaddress.ip_address(n.address), n.protocol, n.name))]
        if self.ignored:
            lines.append(f"ignored {self.ignored} datagrams that were not well-formed replies")
        return lines


def _run(args: argparse.Namespace, out: TextIO) -> None:
    if args.seconds > MAX_SECONDS:
        raise ValueError(f"--seconds must be at most {MAX_SECONDS:g}")
    interface = None if args.interface is None else check_interface(args.interface)
    census = listen(interface, args.seconds, LineWriter(sys.stderr))
    out.write("".join(f"{line}\n" for line in census.lines(args.seconds)))


def listen(interface: str | None, seconds: float, warn: Callable[[str], object]) -> Census:
    """Polls for `seconds` and hears what answers. The poll goes from a port
    of its own, which hears nodes that answer to where a poll came from;
    others answer to port 6454, where a second socket listens."""
    poller = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listeners: dict[socket.socket, str] = {poller: "artnet"}
    try:
        poller.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        try:
            poller.bind((interface or "", 0))
        except OSError as error:
            raise ValueError(f"cannot listen on {interface}: {error.strerror}") from None
        for port, group, protocol, unheard in (
                (ARTNET_PORT, None, "artnet", "Art-Net nodes that answer there"),
                (SACN_PORT, SACN_DISCOVERY_GROUP, "sacn", "sACN sources' announcements")):
            sock = listening_socket(port, group, interface)
            if sock is None:
                warn(f"cannot listen on UDP port {port}: {unheard} go unheard")
            else:
                listeners[sock] = protocol
        return _hear(poller, listeners, seconds, warn)
    finally:
        for sock in listeners:
            sock.close()


def _hear(poller: socket.socket, listeners: dict[socket.socket, str], seconds: float,
          warn: Callable[[str], object]) -> Census:
    census = Census()
    hear = {"artnet": census.hear_artnet, "sacn": census.hear_sacn}
    start = time.monotonic()
    next_poll = start
    said = False
    with selectors.DefaultSelector() as selector:
        for sock in listeners:
            selector.register(sock, selectors.EVENT_READ)
        while (now := time.monotonic()) < start + seconds:
            if now >= next_poll:
                next_poll += POLL_EVERY_SECONDS
                try:
                    poller.sendto(artpoll_packet(), ("255.255.255.255", ARTNET_PORT))
                except OSError as error:
                    if not said:
                        warn(f"cannot send an ArtPoll: {error.strerror or error} (give "
                             f"--interface ADDR); listening for sACN only")
                        said = True
            for key, _ in selector.select(min(next_poll, start + seconds) - now):
                ready = key.fileobj
                assert isinstance(ready, socket.socket)
                try:
                    datagram, (sender, _) = ready.recvfrom(MAX_DATAGRAM)
                except OSError:
                    continue
                hear[listeners[ready]](datagram, sender)
    return census

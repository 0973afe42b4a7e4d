"""Playing a show from an OSC control surface: a tablet (TouchOSC, Open
Stage Control) or any program that sends OSC over UDP.

`OscControl(show, host, port)` listens on HOST:PORT and turns each message
into a command for the show. The addresses (WHEN is `now`, `beat`, `bar` or
`phrase`; FADE is in beats; `f` takes an int as well as a float)::

    /movimo/group/NAME/pattern s PATTERN [s WHEN [f FADE]]   play PATTERN (next bar, no fade)
    /movimo/group/NAME/size    f PERCENT                     0 to 200, at once
    /movimo/group/NAME/speed   f X [s WHEN [f FADE]]         0.25, 0.5, 1, 2 or 4 (next bar)
    /movimo/group/NAME/phase   f BEATS [s WHEN [f FADE]]     run BEATS ahead (next beat)
    /movimo/group/NAME/centre  f PAN f TILT                  move the centre (also /center)
    /movimo/group/NAME/spread  s KIND [s WHEN [f FADE]]      none, even, wing, group, position
    /movimo/cue/N              [s WHEN [f FADE]]             recall the Nth cue (from 1)
    /movimo/cue                s NAME [s WHEN [f FADE]]      recall a cue by name
    /movimo/store              s NAME                        store every group's look as a cue
    /movimo/tempo              f BPM                         1 to 1000
    /movimo/nudge              f BEATS                       shift the beat, at most 1/2 either way
    /movimo/tap                                              tap along on the beat
    /movimo/halve, /movimo/double                            halve or double the tempo
    /movimo/stop, /movimo/resume                             glide home, move again
    /movimo/next                                             the set list's next pattern
    /movimo/subscribe          [i PORT]                      be told of changes (see below)
    /movimo/unsubscribe        [i PORT]                      no longer

NAME is a group of the show: a pattern a stream plays, or a patch group.
A button may send the addresses that take no value (and `/movimo/cue/N`)
with one number, as TouchOSC and Open Stage Control buttons do: a press
(any value but 0) acts, a release (0) does nothing, so that a tap is one
tap. There is no quit: a tablet cannot end the show.

Echo: `/movimo/subscribe` adds the sender (answered on PORT when given, else
on the port it sent from) to at most MAX_SUBSCRIBERS subscribers, the
oldest dropped. Each is sent everything once, then what changes, at the
same addresses that change it, so that a fader bound to one follows what
every other surface does: `/movimo/group/NAME/pattern s`, `.../size f`,
`.../speed f`, `.../phase f`, `.../spread s` and `.../centre f f` of the
look each group plays, `/movimo/tempo f`, and `/movimo/beat f` at most
1 / BEAT_ECHO_SECONDS times a second. Each is a message of its own (no
bundles), at most MAX_ECHO_DATAGRAMS_PER_FRAME datagrams a frame in all;
what does not fit goes with the next frames.

A datagram that does not decode, a message at an unknown address or with
the wrong arguments, one the show refuses, and one beyond its sender's
share (MESSAGES_PER_SECOND, in bursts of MESSAGE_BURST, per sending host)
are counted in `ignored`, never printed, and the surface runs on.
"""

from __future__ import annotations

import dataclasses
import socket
import time
from collections import OrderedDict
from collections.abc import Callable, Mapping
from typing import Any

import numpy as np
from pythonosc.osc_message_builder import build_msg

import movimo
from movimo_tools.endpoints import DatagramListener
from movimo_tools.osc_decode import OscDecodeError, decode_packet
from movimo_tools.show.commands import (Command, CommandError, Double, GroupChange, Halve,
                                        NextPattern, Nudge, RecallCue, ResumeMotion, SetCentre,
                                        SetPattern, SetPhase, SetSize, SetSpeed, SetSpread,
                                        SetTempo, StopMotion, StoreCue, Tap)
from movimo_tools.show.engine import Show

PREFIX = "/movimo"
MAX_SUBSCRIBERS = 16
# Each sending host's share: a tablet's busiest page (an XY pad and a few
# faders moved at once) sends some tens of messages a second.
MESSAGES_PER_SECOND = 200.0
MESSAGE_BURST = 200.0
# Sending hosts whose share is kept; beyond it the longest silent is forgotten.
MAX_SENDERS = 256
MAX_ECHO_DATAGRAMS_PER_FRAME = 64
BEAT_ECHO_SECONDS = 0.25

_GROUP_CHANGES: dict[str, type[GroupChange]] = {
    "pattern": SetPattern, "size": SetSize, "speed": SetSpeed, "phase": SetPhase,
    "centre": SetCentre, "center": SetCentre, "spread": SetSpread}
_BUTTONS: dict[str, type[Command]] = {
    "tap": Tap, "halve": Halve, "double": Double, "stop": StopMotion, "resume": ResumeMotion,
    "next": NextPattern}
_VALUED: dict[str, type[Command]] = {
    "tempo": SetTempo, "nudge": Nudge, "cue": RecallCue, "store": StoreCue}


def osc_command(address: str, arguments: tuple[Any, ...]) -> Command | None:
    """The command of one control message; None for a button's release.
    Raises CommandError for an unknown address or wrong arguments.

    >>> osc_command("/movimo/group/front/pattern", ("helix", "beat"))
    SetPattern(group='front', pattern='helix', when='beat', fade=0.0)
    >>> osc_command("/movimo/tap", (1.0,)), osc_command("/movimo/tap", (0.0,))
    (Tap(), None)
    >>> osc_command("/movimo/group/front/size", ("big",))
    Traceback (most recent call last):
    ...
    movimo_tools.show.commands.CommandError: size must be a number
    """
    parts = address.split("/")
    if "/".join(parts[:2]) == PREFIX:
        match parts[2:]:
            case ["group", group, change] if change in _GROUP_CHANGES:
                return _made(_GROUP_CHANGES[change], address, group, *arguments)
            case ["cue", number] if number.isascii() and number.isdigit() and number.strip("0"):
                if arguments and isinstance(arguments[0], str):
                    return _made(RecallCue, address, number, *arguments)
                return _pressed(RecallCue, address, arguments, number)
            case [word] if word in _BUTTONS:
                return _pressed(_BUTTONS[word], address, arguments)
            case [word] if word in _VALUED:
                return _made(_VALUED[word], address, *arguments)
    raise CommandError(f"unknown address {_cut(address)}")


def _made(kind: type[Command], address: str, *values: Any) -> Command:
    try:
        return kind(*values)
    except TypeError:  # too many values, or too few
        raise CommandError(f"wrong arguments for {_cut(address)}") from None


def _pressed(kind: type[Command], address: str, arguments: tuple[Any, ...],
             *values: Any) -> Command | None:
    """A button's command: sent bare, or with the value of a press (not 0);
    None for a release (0)."""
    match arguments:
        case ():
            return _made(kind, address, *values)
        case (bool() | int() | float() as value,):
            return _made(kind, address, *values) if value else None
    raise CommandError(f"wrong arguments for {_cut(address)}")


def _cut(text: str) -> str:
    return repr(text if len(text) <= 60 else text[:57] + "...")


def echo_messages(state: Mapping[str, Any]) -> dict[str, tuple[Any, ...]]:
    """The echo of each group's look in a state of the show, by address.

    >>> state = {"groups": [{"name": "front", "look": {
    ...     "pattern": "helix", "speed": 1.0, "phase": 0.0, "spread": "none",
    ...     "percent": 150.0, "centre": [0.0, 5.0]}}]}
    >>> echo_messages(state)["/movimo/group/front/size"]
    (150.0,)
    """
    messages: dict[str, tuple[Any, ...]] = {}
    for group in state["groups"]:
        base, look = f"{PREFIX}/group/{group['name']}", group["look"]
        messages.update({f"{base}/pattern": (look["pattern"],),
                         f"{base}/size": (float(look["percent"]),),
                         f"{base}/speed": (float(look["speed"]),),
                         f"{base}/phase": (float(look["phase"]),),
                         f"{base}/spread": (look["spread"],),
                         f"{base}/centre": tuple(float(value) for value in look["centre"])})
    return messages


@dataclasses.dataclass
class _Share:
    tokens: float
    at: float


class OscCommands:
    """What an OSC control surface makes of its datagrams, without sockets:
    commands handed to the show, subscriptions kept, the rest counted in
    `ignored`. `datagrams` counts the datagrams received, `taken` the
    commands the show queued."""

    def __init__(self, show: Show, now: Callable[[], float] = time.monotonic) -> None:
        self.show = show
        self.datagrams = 0
        self.ignored = 0
        self.taken = 0
        # Replaced, never changed in place: the frame thread reads it as it is.
        self.subscribers: tuple[Any, ...] = ()
        self._resend = False
        self._now = now
        self._shares: OrderedDict[str, _Share] = OrderedDict()

    def receive_datagram(self, data: bytes, sender: Any) -> None:
        """Takes one datagram from `sender` (a socket address): an OSC message
        or a bundle of them, each taken at once whatever its timetag."""
        try:
            messages = decode_packet(data)
        except OscDecodeError:
            messages = []
            self.ignored += 1
        for address, arguments in messages:
            if self._within_share(str(sender[0])):
                self.receive(address, arguments, sender)
            else:
                self.ignored += 1
        self.datagrams += 1  # last, so that a count seen means its messages are handled

    def receive(self, address: str, arguments: tuple[Any, ...], sender: Any) -> None:
        try:
            if address in (f"{PREFIX}/subscribe", f"{PREFIX}/unsubscribe"):
                self._subscribe(address == f"{PREFIX}/subscribe", arguments, sender)
                return
            command = osc_command(address, arguments)
            if command is not None:
                self.show.submit(command)
                self.taken += 1
        except CommandError:
            self.ignored += 1

    def _within_share(self, host: str) -> bool:
        """Whether the host may send one more message now (a token bucket)."""
        now = self._now()
        share = self._shares.pop(host, None) or _Share(MESSAGE_BURST, now)
        share.tokens = min(MESSAGE_BURST, share.tokens + (now - share.at) * MESSAGES_PER_SECOND)
        share.at = now
        self._shares[host] = share
        if len(self._shares) > MAX_SENDERS:
            self._shares.popitem(last=False)
        if share.tokens < 1.0:
            return False
        share.tokens -= 1.0
        return True

    def _subscribe(self, subscribe: bool, arguments: tuple[Any, ...], sender: Any) -> None:
        match arguments:
            case ():
                port = int(sender[1])
            case (int() | float() as number,) if (not isinstance(number, bool)
                                                   and 1 <= number <= 65535
                                                   and number == int(number)):
                port = int(number)
            case _:
                raise CommandError("subscribe takes a port of 1 to 65535, or nothing")
        address = (sender[0], port, *sender[2:])
        kept = [subscriber for subscriber in self.subscribers if subscriber != address]
        if subscribe:
            kept = [*kept, address][-MAX_SUBSCRIBERS:]
            self._resend = True
        self.subscribers = tuple(kept)


class OscControl(OscCommands):
    """An OSC control surface listening on HOST:PORT (port 0 takes a free
    one, see `address`), until closed. A port that cannot be had is a
    one-line ValueError before anything runs."""

    def __init__(self, show: Show, host: str, port: int) -> None:
        super().__init__(show)
        self._listener = DatagramListener(host, port, "OSC control", self.receive_datagram)
        # Echoes go from a socket that never waits: a full send buffer drops them.
        self._sender = socket.socket(self._listener.family, socket.SOCK_DGRAM)
        self._sender.setblocking(False)
        self._closed = False
        self._state = show.state()
        self._echoed: dict[str, tuple[Any, ...]] = {}
        self._outbox: dict[str, tuple[Any, ...]] = {}
        self._next_beat_echo = 0.0
        show.add_listener(self._after_frame)

    @property
    def address(self) -> tuple[str, int]:
        return self._listener.address

    def _after_frame(self, state: dict[str, Any] | None, view: np.ndarray) -> None:
        """Queues the changes for the subscribers and sends a bounded share
        of them; called from the frame loop, so it never waits."""
        if self._closed:
            return
        if state is not None:
            self._state = state
        subscribers = self.subscribers
        if not subscribers:
            return
        changes: dict[str, tuple[Any, ...]] = {}
        if self._resend:
            self._resend = False
            self._echoed.clear()
            changes = echo_messages(self._state)
        elif state is not None:
            changes = echo_messages(state)
        now = time.monotonic()
        if now >= self._next_beat_echo:
            self._next_beat_echo = now + BEAT_ECHO_SECONDS
            changes[f"{PREFIX}/beat"] = (round(self.show.last_pip / movimo.PIPS_PER_BEAT, 3),)
            changes[f"{PREFIX}/tempo"] = (round(self.show.bpm, 2),)
        for address, arguments in changes.items():
            if self._echoed.get(address) != arguments:
                self._echoed[address] = self._outbox[address] = arguments
        for address in list(self._outbox)[:max(1, MAX_ECHO_DATAGRAMS_PER_FRAME
                                                  // len(subscribers))]:
            datagram = build_msg(address, self._outbox.pop(address)).dgram
            for subscriber in subscribers:
                try:
                    self._sender.sendto(datagram, subscriber)
                except OSError:
                    # A full buffer or a vanished route: this echo is lost; the
                    # subscriber has the next change, or all on subscribing again.
                    pass

    def close(self) -> None:
        """Stops listening and echoing; returns within a fraction of a second."""
        self._closed = True
        self._listener.close()
        self._sender.close()

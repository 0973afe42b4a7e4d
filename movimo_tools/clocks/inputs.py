"""Clock inputs: the events of an outside clock on their way to the
follower of `movimo_tools.clocks.follow`.

Sources put their events, stamped with the time they arrived, on a
`ClockInput`: a MIDI input port read through mido (24 pulses a beat, start,
stop, continue, song position) or an OSC server on a UDP port (`/tempo BPM`,
`/beat [N]`, `/tick`, `/start`, `/stop`, `/continue`). A malformed message
is ignored and counted.
"""

from __future__ import annotations

import contextlib
import math
import os
import socket
import tempfile
import threading
import time
from typing import Any, Callable, Iterator

from movimo_tools.clocks.clock_input import ClockInput as ClockInput
from movimo_tools.clocks.follow import (MAX_BEAT_NUMBER, Beat, Bpm, ClockEvent, Continue,
                                        SongPosition, Start, Stop, Tick)
from movimo_tools.clocks.tempo import check_tempo
from movimo_tools.endpoints import parse_endpoint
from movimo_tools.osc_decode import OscDecodeError, decode_packet

# The OSC clock's listening thread looks up from its socket this often, so
# that closing the input returns promptly whatever the peer sends.
LISTEN_POLL_SECONDS = 0.05
MAX_DATAGRAM_BYTES = 65535


def midi_event(message: Any) -> ClockEvent | None:
    """The clock event of a mido message, or None for any other message.

    >>> import mido
    >>> midi_event(mido.Message("songpos", pos=32)), midi_event(mido.Message("note_on"))
    (SongPosition(sixteenths=32), None)
    """
    match message.type:
        case "clock":
            return Tick()
        case "start":
            return Start()
        case "stop":
            return Stop()
        case "continue":
            return Continue()
        case "songpos":
            return SongPosition(message.pos)
    return None


class MidiClockInput(ClockInput):
    """MIDI clock read from an input port through mido and python-rtmidi."""

    def __init__(self, name: str = "midi", now: Callable[[], float] = time.perf_counter) -> None:
        super().__init__(name, now)
        self._port: Any = None

    def receive(self, message: Any, seconds: float | None = None) -> None:
        """Takes one message: a mido message or its raw bytes."""
        if isinstance(message, (bytes, bytearray, list, tuple)):
            import mido  # type: ignore[import-untyped]
            try:
                message = mido.Message.from_bytes(message)
            except Exception:  # noqa: BLE001  mido's decoder raises IndexError and more on short data
                self.malformed += 1
                return
        event = midi_event(message)
        if event is not None:
            self.put(event, seconds)

    def open(self, port: str) -> MidiClockInput:
        """Starts reading the input port named `port`."""
        try:
            import mido
        except ImportError:
            raise ValueError("MIDI clock input needs mido and python-rtmidi: "
                             "pip install 'movimo[midi]'") from None
        try:
            with _c_library_messages_hidden():
                backend = mido.Backend("mido.backends.rtmidi")
                self._port = backend.open_input(port, callback=self.receive)
        except (OSError, ImportError) as error:
            raise ValueError(f"cannot open MIDI input '{port}': {_first_line(error)}") from None
        return self

    def close(self) -> None:
        if self._port is not None:
            self._port.close()
            self._port = None


def _first_line(error: BaseException) -> str:
    return (str(error).strip().splitlines() or [type(error).__name__])[0]


@contextlib.contextmanager
def _c_library_messages_hidden() -> Iterator[None]:
    """Keeps what native libraries print on the standard error (ALSA names
    its failures there) from adding to the one-line error."""
    with tempfile.TemporaryFile() as sink:
        saved = os.dup(2)
        os.dup2(sink.fileno(), 2)
        try:
            yield
        finally:
            os.dup2(saved, 2)
            os.close(saved)


def osc_event(address: str, arguments: tuple[Any, ...]) -> ClockEvent | None:
    """The clock event of an OSC message, None for another address; raises
    ValueError for a clock message with the wrong arguments.

    >>> osc_event("/beat", (17,)), osc_event("/tempo", (128.0,)), osc_event("/volume", (3,))
    (Beat(number=17.0), Bpm(value=128.0), None)
    """
    numbers = [float(value) for value in arguments
               if isinstance(value, (int, float)) and not isinstance(value, bool)]
    if len(numbers) != len(arguments) or not all(map(math.isfinite, numbers)):
        raise ValueError(f"{address} takes finite numbers only")
    match address, numbers:
        case "/tick", []:
            return Tick()
        case "/beat", []:
            return Beat()
        case "/beat", [number] if abs(number) <= MAX_BEAT_NUMBER:
            return Beat(number)
        case "/tempo", [bpm]:
            return Bpm(check_tempo(bpm).bpm)
        case "/start", []:
            return Start()
        case "/stop", []:
            return Stop()
        case "/continue", []:
            return Continue()
        case ("/tick" | "/beat" | "/tempo" | "/start" | "/stop" | "/continue"), _:
            raise ValueError(f"wrong arguments for {address}: {arguments!r}")
    return None


class OscClockInput(ClockInput):
    """An OSC clock: datagrams read from a UDP port by a thread of its own.

    Every message of a datagram is taken the moment the datagram arrives,
    whatever a bundle's timetag says: a peer must never hold the clock back,
    let alone freeze it with a timetag a year ahead. A datagram that does not
    decode (not OSC, not UTF-8, truncated, nested too deep) is counted as
    malformed, never printed.
    """

    _socket: socket.socket | None = None

    def receive(self, address: str, arguments: tuple[Any, ...],
                seconds: float | None = None) -> None:
        try:
            event = osc_event(address, arguments)
        except ValueError:
            self.malformed += 1
            return
        if event is not None:
            self.put(event, seconds)

    def receive_datagram(self, data: bytes, seconds: float | None = None) -> None:
        """Takes one datagram: an OSC message or a bundle of them."""
        try:
            messages = decode_packet(data)
        except OscDecodeError:
            self.malformed += 1
            return
        for address, arguments in messages:
            self.receive(address, arguments, seconds)

    def open(self, host: str, port: int) -> OscClockInput:
        """Starts listening on HOST:PORT; port 0 takes a free one (see `address`)."""
        try:
            family, _, _, _, address = socket.getaddrinfo(host, port, type=socket.SOCK_DGRAM)[0]
            self._socket = socket.socket(family, socket.SOCK_DGRAM)
            self._socket.bind(address)
        except (OSError, UnicodeError) as error:
            if self._socket is not None:
                self._socket.close()
                self._socket = None
            raise ValueError(f"cannot listen for the OSC clock on {host}:{port}: "
                             f"{getattr(error, 'strerror', None) or error}") from None
        self._socket.settimeout(LISTEN_POLL_SECONDS)
        self._listening = threading.Event()
        self._listening.set()
        self._thread = threading.Thread(target=self._listen, args=(self._socket,), daemon=True)
        self._thread.start()
        return self

    def _listen(self, listener: socket.socket) -> None:
        while self._listening.is_set():
            try:
                data = listener.recv(MAX_DATAGRAM_BYTES)
            except TimeoutError:
                continue
            except OSError:
                return  # closed under the thread
            self.receive_datagram(data)

    @property
    def address(self) -> tuple[str, int]:
        assert self._socket is not None, "the input is not open"
        host, port = self._socket.getsockname()[:2]
        return str(host), int(port)

    def close(self) -> None:
        """Stops listening; returns within about LISTEN_POLL_SECONDS."""
        if self._socket is not None:
            self._listening.clear()
            self._thread.join(timeout=2 * LISTEN_POLL_SECONDS + 1.0)
            self._socket.close()
            self._socket = None


def open_clock(source: str, now: Callable[[], float] = time.perf_counter,
               bpm_range: tuple[float, float] | None = None) -> ClockInput | None:
    """Opens the clock input `source` names: midi:PORT, osc:HOST:PORT,
    audio[:DEVICE|:FILE.wav] (heard within `bpm_range`, see
    `movimo_tools.clocks.beats`), or internal (None: the stream keeps its
    own tempo).

    >>> open_clock("internal") is None
    True
    >>> open_clock("ableton")
    Traceback (most recent call last):
    ...
    ValueError: the clock must be midi:PORT, osc:HOST:PORT, audio[:DEVICE] or internal
    """
    kind, _, where = source.partition(":")
    if source == "internal":
        return None
    if kind == "midi" and where:
        return MidiClockInput(source, now).open(where)
    if kind == "osc" and where:
        return OscClockInput(source, now).open(
            *parse_endpoint(where, "the OSC clock's listening address"))
    if kind == "audio":
        from movimo_tools.clocks.audio import AudioClockInput
        return AudioClockInput(source, now, bpm_range).open(where)
    raise ValueError("the clock must be midi:PORT, osc:HOST:PORT, audio[:DEVICE] or internal")

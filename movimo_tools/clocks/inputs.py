"""Clock inputs: the events of an outside clock on their way to the
follower of `movimo_tools.clocks.follow`.

Sources put their events, stamped with the time they arrived, on a
`ClockInput`: a MIDI input port read through mido (24 pulses a beat, start,
stop, continue, song position) or an OSC server on a UDP port (`/tempo BPM`,
`/beat [N]`, `/tick`, `/start`, `/stop`, `/continue`). A malformed message
is ignored and counted. A Link session (`movimo_tools.clocks.link`) is an
input too, but one that leads a clock of its own rather than the follower.
"""

from __future__ import annotations

import contextlib
import math
import os
import tempfile
import time
from typing import Any, Callable, Iterator

from movimo_tools.clocks.clock_input import ClockInput as ClockInput
from movimo_tools.clocks.follow import (MAX_BEAT_NUMBER, Beat, Bpm, ClockEvent, Continue,
                                        ExternalClock, SongPosition, Start, Stop, Tick)
from movimo_tools.clocks.tempo import Clock, check_tempo
from movimo_tools.endpoints import DatagramListener
from movimo_tools.extras import missing_extra
from movimo_tools.osc_decode import OscDecodeError, decode_packet




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
        message = decoded_midi(message)
        if message is None:
            self.malformed += 1
            return
        event = midi_event(message)
        if event is not None:
            self.put(event, seconds)

    def open(self, port: str) -> MidiClockInput:
        """Starts reading the input port named `port`."""
        self._port = open_midi_port(port, "MIDI clock input", callback=self.receive)
        return self

    def close(self) -> None:
        if self._port is not None:
            self._port.close()
            self._port = None


def decoded_midi(message: Any) -> Any | None:
    """A mido message as it is, or one decoded from its raw bytes; None for
    bytes that are no MIDI message (short, an unknown status, a data byte
    above 127).

    >>> decoded_midi(b"\\x90\\x24\\x40"), decoded_midi(b"\\x90")
    (Message('note_on', channel=0, note=36, velocity=64, time=0), None)
    """
    if isinstance(message, (bytes, bytearray, list, tuple)):
        import mido  # type: ignore[import-untyped]
        try:
            return mido.Message.from_bytes(message)
        except Exception:  # noqa: BLE001  mido's decoder raises IndexError and more on short data
            return None
    return message


def open_midi_port(port: str, what: str, *, callback: Callable[[Any], object] | None = None,
                   output: bool = False) -> Any:
    """Opens the MIDI input (or output) port named `port` through mido and
    python-rtmidi; `what` names the use in the error if they are missing.
    Every failure is a one-line ValueError."""
    try:
        import mido
    except ImportError:
        raise ValueError(f"{what} {missing_extra('midi', ['mido', 'python-rtmidi'])}") from None
    try:
        with _c_library_messages_hidden():
            backend = mido.Backend("mido.backends.rtmidi")
            if output:
                return backend.open_output(port)
            return backend.open_input(port, callback=callback)
    except (OSError, ImportError) as error:
        raise ValueError(f"cannot open MIDI {'output' if output else 'input'} '{port}': "
                         f"{_first_line(error)}") from None


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

    _listener: DatagramListener | None = None

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
        self._listener = DatagramListener(host, port, "the OSC clock",
                                          lambda data, sender: self.receive_datagram(data))
        return self

    @property
    def address(self) -> tuple[str, int]:
        assert self._listener is not None, "the input is not open"
        return self._listener.address

    def close(self) -> None:
        """Stops listening; returns within about LISTEN_POLL_SECONDS."""
        if self._listener is not None:
            self._listener.close()
            self._listener = None

"""Live audio as a clock: the beats of an input device, read through
PortAudio (sounddevice), or of a WAV file played at its own pace, found by
the tracker of `movimo_tools.clocks.beats` and put on the follower's queue
as timed beats.

The device's callback only copies its samples, mixed to mono, into a ring
buffer allocated up front, and notes when they arrived; a thread of the
input's own reads the ring, analyses it and puts the beats, so that the
audio thread never waits on the analysis. Each beat is stamped with the
time its sample was heard: the sample's place in the stream, from the
earliest-arriving of the recent callbacks (the least delayed by
scheduling), less the device's input latency.

The lock lines carry the input's confidence (low, fair or high: how many
of the last beats of its grid an onset supported). A device that goes
away, or stops delivering, shows as "input lost" once; the follower holds
the tempo from then on.
"""

from __future__ import annotations

import atexit
import collections
import math
import threading
import time
from typing import Any, Callable

import numpy as np

from movimo_tools.clocks.beats import BeatTracker, read_wav
from movimo_tools.clocks.clock_input import ClockInput
from movimo_tools.clocks.follow import Beat
from movimo_tools.extras import missing_extra

# The ring buffer between the callback and the analysis holds this long.
RING_SECONDS = 4.0
# Frames per callback asked of the device (about 5 ms at 48 kHz).
BLOCK_FRAMES = 256
# The most callbacks the ring of arrival times holds.
MAX_STAMPS = 4096
# The stream-to-clock mapping takes the earliest arrival of this long: long
# enough for a callback that was not delayed, short enough that a slip of
# the stream (blocks dropped under load) moves the beats for no longer.
ORIGIN_SECONDS = 0.5
# A running device that has delivered nothing for this long is lost.
SILENT_DEVICE_SECONDS = 1.0
# Closing a device waits this long for PortAudio.
CLOSE_SECONDS = 1.0
# Confidence at or above HIGH reads high, at or below LOW low; it leaves
# high or low only on reaching the middle, so that it does not flicker.
HIGH_CONFIDENCE, LOW_CONFIDENCE, MIDDLE_CONFIDENCE = 0.75, 0.25, 0.5


def _sounddevice() -> Any:
    try:
        import sounddevice  # type: ignore[import-untyped]
    except ImportError:
        raise ValueError(f"live audio {missing_extra('audio', ['sounddevice'])}") from None
    except OSError:  # the module loads, and fails without the PortAudio library
        raise ValueError("live audio needs the PortAudio library "
                         "(Debian: apt install libportaudio2)") from None
    return sounddevice


def confidence_level(confidence: float, level: str) -> str:
    """The confidence in words, `level` being the last one said.

    >>> confidence_level(0.6, "high"), confidence_level(0.5, "high"), confidence_level(0.9, "low")
    ('high', 'fair', 'high')
    """
    if confidence >= HIGH_CONFIDENCE:
        return "high"
    if confidence <= LOW_CONFIDENCE:
        return "low"
    if level == "fair" or abs(confidence - MIDDLE_CONFIDENCE) < 1e-9:
        return "fair"
    return level


class AudioClockInput(ClockInput):
    """Beats heard in an audio input device or a WAV file (`open`)."""

    def __init__(self, name: str = "audio", now: Callable[[], float] = time.perf_counter,
                 bpm_range: tuple[float, float] | None = None) -> None:
        super().__init__(name, now)
        self.bpm_range = bpm_range
        self._level = "low"
        self._ended = ""  # why no more sound comes, once none does
        self._stopping = threading.Event()
        self._thread: threading.Thread | None = None
        self._stream: Any = None

    @property
    def status(self) -> str:
        return self._ended or f"confidence {self._level}"

    def open(self, where: str) -> AudioClockInput:
        """Starts listening to `where`: a WAV file (a name ending in .wav), an
        input device by name or number, or the default input if empty."""
        if where.lower().endswith(".wav"):
            return self.open_file(where)
        return self.open_device(where or None)

    def open_file(self, path: str) -> AudioClockInput:
        """Plays the WAV file at `path` to the analysis at its own pace, from now."""
        try:
            rate, samples = read_wav(path)
        except OSError as error:
            raise ValueError(f"cannot read {path}: {error.strerror or error}") from None
        tracker = BeatTracker(rate, self.bpm_range)
        self._start(self._play, tracker, samples)
        return self

    def open_device(self, device: str | None) -> AudioClockInput:
        """Starts listening to an input device: a number, (part of) a name
        as `movimo devices` lists them, or None for the default input."""
        sounddevice = _sounddevice()
        chosen: int | str | None = int(device) if device and device.isdigit() else device
        try:
            info = sounddevice.query_devices(chosen, "input")
            rate = int(info["default_samplerate"])
            channels = min(2, int(info["max_input_channels"]))
            tracker = BeatTracker(rate, self.bpm_range)
            self._ring = np.zeros(round(RING_SECONDS * rate), np.float32)
            self._written = 0
            self._stamps = np.zeros((MAX_STAMPS, 2))  # (frames written, arrival) per callback
            self._callbacks = 0
            self._overflows = 0
            self._stream = sounddevice.InputStream(
                device=chosen, channels=channels, samplerate=rate, blocksize=BLOCK_FRAMES,
                dtype="float32", latency="low", callback=self._receive)
            self._stream.start()
        except (ValueError, sounddevice.PortAudioError) as error:
            if self._stream is not None:
                self._stream.close()
                self._stream = None
            what = "the default audio input" if chosen is None else f"audio input '{device}'"
            raise ValueError(f"cannot open {what}: {' '.join(str(error).split())}") from None
        self._start(self._listen, tracker, rate)
        return self

    def _start(self, run: Callable[..., None], *arguments: Any) -> None:
        self._thread = threading.Thread(target=run, args=arguments, daemon=True)
        self._thread.start()

    def _receive(self, block: np.ndarray, frames: int, timing: Any, status: Any) -> None:
        """The device's callback: copies the block, mixed to mono, into the
        ring and notes when it arrived; nothing else, so that it never waits."""
        arrived = self._now()
        start = self._written % len(self._ring)
        first = min(frames, len(self._ring) - start)
        np.mean(block[:first], axis=1, out=self._ring[start:start + first])
        np.mean(block[first:], axis=1, out=self._ring[:frames - first])
        self._stamps[self._callbacks % MAX_STAMPS] = (self._written + frames, arrived)
        # Counted before the frames: the analysis reads the frames first, so
        # that every frame it reads has its arrival noted.
        self._callbacks += 1
        self._written += frames
        if status.input_overflow:
            self._overflows += 1

    def _listen(self, tracker: BeatTracker, rate: int) -> None:
        """The analysis thread of a device: reads what the callback wrote
        every analysis step, and notices a device that went away."""
        read = stamps_read = 0
        earliest: collections.deque[tuple[float, float]] = collections.deque()
        latency = float(self._stream.latency)
        poll = tracker.hop / rate
        last_delivery = self._now()
        while not self._stopping.wait(poll):
            written, callbacks = self._written, self._callbacks
            # The stream's sample 0 on the clock: the earliest-arriving
            # callback of the last ORIGIN_SECONDS, kept as a running minimum.
            for index in range(max(stamps_read, callbacks - MAX_STAMPS), callbacks):
                frames, arrived = self._stamps[index % MAX_STAMPS]
                origin = arrived - frames / rate - latency
                while earliest and earliest[-1][1] >= origin:
                    earliest.pop()
                earliest.append((arrived, origin))
                last_delivery = arrived
            stamps_read = callbacks
            if written > read:
                while earliest[0][0] < last_delivery - ORIGIN_SECONDS:
                    earliest.popleft()
                samples = self._unread(read, written)
                self._heard(tracker, samples, earliest[0][1])
                read = written
            elif not self._ended and (not self._stream.active
                                      or self._now() - last_delivery > SILENT_DEVICE_SECONDS):
                self._ended = "input lost: the device stopped delivering sound"

    def _unread(self, read: int, written: int) -> np.ndarray:
        """The samples from `read` to `written`; those the callback has
        already written over (the analysis fell behind) come back as silence,
        so that the stream's time stays true."""
        size = len(self._ring)
        lost = max(0, written - read - size)
        kept = np.take(self._ring, np.arange(read + lost, written) % size)
        return np.concatenate([np.zeros(lost, np.float32), kept]) if lost else kept

    def _play(self, tracker: BeatTracker, samples: np.ndarray) -> None:
        """The thread of a file: feeds it block by block as it would play."""
        start = self._now()
        for first in range(0, len(samples), BLOCK_FRAMES):
            end = min(first + BLOCK_FRAMES, len(samples))
            if self._stopping.wait(max(0.0, start + end / tracker.rate - self._now())):
                return
            self._heard(tracker, samples[first:end], start)
        self._ended = "the file ended"

    def _heard(self, tracker: BeatTracker, samples: np.ndarray, origin: float) -> None:
        for beat in tracker.feed(samples):
            self.put(Beat(), origin + beat)
        self._level = confidence_level(tracker.confidence, self._level)

    def close(self) -> None:
        """Stops listening and the analysis; returns within a second or two."""
        self._stopping.set()
        if self._thread is not None:
            self._thread.join(timeout=2.0)
        if self._stream is not None:
            # PortAudio can wait for ever to close a stream whose server went
            # away (JACK's does): it is left to a thread of its own.
            closing = threading.Thread(target=self._stream.close, args=(True,), daemon=True)
            closing.start()
            closing.join(timeout=CLOSE_SECONDS)
            self._stream = None
            if closing.is_alive() or self._ended:
                # Nor can PortAudio end itself at exit then: JACK's host
                # aborts the process. Its exit handler is left out.
                atexit.unregister(getattr(_sounddevice(), "_exit_handler", lambda: None))


def list_inputs() -> list[str]:
    """The audio input devices, one line each: number, name, host API,
    channels, rate, and whether it is the default."""
    sounddevice = _sounddevice()
    default = sounddevice.default.device[0]
    lines = []
    for device in sounddevice.query_devices():
        if device["max_input_channels"] > 0:
            api = sounddevice.query_hostapis(device["hostapi"])["name"]
            lines.append(f"{device['index']:>3}  {device['name']} ({api}), "
                         f"{device['max_input_channels']} channels, "
                         f"{device['default_samplerate']:g} Hz"
                         + ("  [default]" if device["index"] == default else ""))
    return lines

"""Beats in sound: the tempo and the beat times of live or recorded audio,
found hop by hop as the samples arrive, for the audio clock
(`movimo_tools.clocks.audio`) and `movimo beats`.

aubio's real-time beat tracker proposes beats and a tempo. On its own it
may settle on the off-beat (the hats between the kicks), at half or double
the tempo, and it takes bars to find its feet after a breakdown. The
tracker here keeps a beat grid of its own on top of it:

- The tempo is folded by octaves into a preferred range (80 to 160 bpm
  unless told otherwise); where two octaves fit, the one nearer the
  current tempo stays, so aubio switching between half and double tempo
  changes nothing.
- The grid's phase is the one, among aubio's beat and its half-beat
  shifts, on which the low band (kick, snare body, bass) strikes hardest
  over the last beats.
- A grid point is supported when a low-band onset stands out there above
  the recent background. Beats are given out only while the grid is
  supported; while it is not (a breakdown, a silence) the grid is held,
  not moved, so that when the drums come back on it two supported beats
  are enough to go on.
- Another grid takes over only once it has been supported for two bars
  while the held one was not: at another tempo at any time, at the held
  tempo only in the grid's first bars (its first phase may have been
  wrong), or once sixteen bars have passed without support.
"""

from __future__ import annotations

import math
import wave
from typing import Any

import numpy as np

from movimo_tools.clocks.tempo import MAX_BPM, MIN_BPM
from movimo_tools.extras import missing_extra

# The tempi the tracker prefers unless told otherwise: one octave, so that
# every tempo folds into it exactly once.
DEFAULT_BPM_RANGE = (80.0, 160.0)
# The analysis steps by about this long (256 samples at 48 kHz), over
# windows of four steps.
HOP_SECONDS = 256 / 48000
WINDOW_HOPS = 4
# The low band, where kicks, snare bodies and bass strike.
LOW_BAND_HZ = 400.0
# Spectra are compressed as log(1 + gain * magnitude), so that loud and
# quiet recordings give onsets of similar strength.
LOG_GAIN = 100.0
# A window shows an onset's flux this long before to this long after it.
ONSET_BEFORE_SECONDS, ONSET_AFTER_SECONDS = 0.005, 0.025
# Flux kept for scoring, and the stretch whose median is the background.
HISTORY_SECONDS = 16.0
BACKGROUND_SECONDS = 4.0
# An onset supports a grid point when it is this many times the
# background, and at least the floor (digital silence has no background).
SUPPORT_RATIO = 4.0
SUPPORT_FLOOR = 0.5
# Phases are scored over this many beats. Beats are first given out once
# this many of the last RECENT_BEATS are supported, the latest among them,
# and again after a hold once fewer are; two unsupported beats in a row
# end them.
SCORE_BEATS = 8
RECENT_BEATS = 4
ACQUIRE_BEATS = 3
RESUME_BEATS = 2
# Another grid replaces the held one when it is supported on at least
# REPLACING_SUPPORT of the last SCORE_BEATS beats (a groove may leave a beat
# of the bar without a low onset) and the held one on at most
# REPLACED_SUPPORT; at the held
# tempo only while the held grid has had fewer supported beats than
# ESTABLISHED_BEATS. A tempo this much off the held one is another grid's.
REPLACING_SUPPORT = 6
REPLACED_SUPPORT = 2
ESTABLISHED_BEATS = 16
TEMPO_TOLERANCE = 0.04
# After this many unsupported beats in a row (sixteen bars) the grid is
# chosen afresh, as at the start.
FORGET_BEATS = 64


def parse_bpm_range(text: str) -> tuple[float, float]:
    """LO:HI, the tempi the tracker prefers.

    >>> parse_bpm_range("90:180")
    (90.0, 180.0)
    >>> parse_bpm_range("180:90")
    Traceback (most recent call last):
    ...
    ValueError: the tempo range must be LO:HI with 1 <= LO < HI <= 1000, not '180:90'
    """
    low, _, high = text.partition(":")
    try:
        bounds = (float(low), float(high))
    except ValueError:
        bounds = (math.nan, math.nan)
    if not MIN_BPM <= bounds[0] < bounds[1] <= MAX_BPM:
        raise ValueError(f"the tempo range must be LO:HI with {MIN_BPM:g} <= LO < HI <= "
                         f"{MAX_BPM:g}, not {text!r}")
    return bounds


def fold_tempo(bpm: float, bpm_range: tuple[float, float],
               current: float | None = None) -> float:
    """`bpm` doubled or halved into `bpm_range`, or as near to it as an
    octave gets; where two octaves fit, the one nearer `current` (or the
    middle of the range).

    >>> fold_tempo(64.0, (80.0, 160.0)), fold_tempo(256.0, (80.0, 160.0))
    (128.0, 128.0)
    >>> fold_tempo(150.0, (60.0, 200.0), current=80.0)
    75.0
    """
    low, high = bpm_range
    octaves = [bpm * 2.0**shift for shift in range(-8, 9)]
    outside = [max(math.log(low / octave), math.log(octave / high), 0.0) for octave in octaves]
    nearest = min(outside)
    reference = current if current is not None else math.sqrt(low * high)
    return min((octave for octave, off in zip(octaves, outside) if off <= nearest + 1e-12),
               key=lambda octave: abs(math.log(octave / reference)))


def _aubio() -> Any:
    try:
        import aubio  # type: ignore[import-untyped]
    except ImportError:
        raise ValueError(f"beat tracking {missing_extra('audio', ['aubio-ledfx'])}") from None
    return aubio


class BeatTracker:
    """The beats of a stream of mono samples at `rate` Hz, in seconds from
    its first sample, given out as the samples that show them arrive; the
    tempo is folded into `bpm_range` (80 to 160 bpm if None).

    Samples that are not finite count as silence and samples beyond ±1 are
    clipped, so that a broken input cannot upset the analysis.
    """

    def __init__(self, rate: int, bpm_range: tuple[float, float] | None = None) -> None:
        aubio = _aubio()
        self.rate = rate
        self.bpm_range = bpm_range or DEFAULT_BPM_RANGE
        self.hop = max(16, 2 ** round(math.log2(rate * HOP_SECONDS)))
        window = WINDOW_HOPS * self.hop
        self._proposals = aubio.tempo("default", window, self.hop, rate)
        self._spectrum = aubio.pvoc(window, self.hop)
        self._low_band = slice(1, max(2, round(LOW_BAND_HZ * window / rate)) + 1)
        self._previous = np.zeros(self._low_band.stop - 1)
        self._flux = np.zeros(math.ceil(HISTORY_SECONDS * rate / self.hop))
        self._hops = 0
        self._pending = np.zeros(0, np.float32)
        # The grid: beats at anchor + k * period, held while unsupported.
        self.period: float | None = None
        self._anchor = 0.0
        self._giving = False       # whether beats are given out
        self._given_before = False
        self._checked = -math.inf  # the last grid point whose support was scored
        self._support: list[bool] = []  # at the last grid points, latest first
        self._established = 0      # supported grid points since the grid started
        self._unsupported = 0      # unsupported grid points in a row
        self._last_beat: float | None = None
        self.confidence = 0.0
        self.non_finite = 0

    @property
    def bpm(self) -> float | None:
        """The grid's tempo, once there is a grid."""
        return None if self.period is None else 60.0 / self.period

    @property
    def giving(self) -> bool:
        """Whether the grid is supported, so that beats are given out."""
        return self._giving

    def feed(self, samples: np.ndarray) -> list[float]:
        """Takes the next samples; returns the beats they completed, in
        seconds from the first sample, in order."""
        samples = np.asarray(samples, dtype=np.float32)
        finite = np.isfinite(samples)
        if not finite.all():
            self.non_finite += int(samples.size - np.count_nonzero(finite))
            samples = np.where(finite, samples, np.float32(0.0))
        samples = np.concatenate([self._pending, np.clip(samples, -1.0, 1.0)])
        beats: list[float] = []
        whole = len(samples) - len(samples) % self.hop
        for start in range(0, whole, self.hop):
            self._analyse(samples[start:start + self.hop], beats)
        self._pending = samples[whole:]
        return beats

    def _analyse(self, hop: np.ndarray, beats: list[float]) -> None:
        spectrum = np.log1p(LOG_GAIN * self._spectrum(hop).norm[self._low_band])
        self._flux[self._hops % len(self._flux)] = np.maximum(spectrum - self._previous, 0).sum()
        self._previous = spectrum
        self._hops += 1
        now = self._hops * self.hop / self.rate
        if self._proposals(hop)[0] and self._proposals.get_bpm() > 0:
            self._propose(self._proposals.get_last_s(), 60.0 / self._proposals.get_bpm())
        if self.period is None:
            return
        scored = self._anchor + math.floor(
            (now - ONSET_AFTER_SECONDS - self._anchor) / self.period) * self.period
        if scored > self._checked + self.period / 2:
            self._checked = scored
            self._score_grid()
        latest = self._anchor + math.floor((now - self._anchor) / self.period) * self.period
        last = self._last_beat
        if self._giving and (last is None or latest - last > self.period / 2):
            if last is not None and round((latest - last) / self.period) == 2:
                beats.append(latest - self.period)  # one beat without an onset: keep the count
            beats.append(latest)
            self._last_beat = latest

    def _strength(self, seconds: float) -> float | None:
        """The strongest low-band flux of the windows that show an onset at
        `seconds`, or None where they are not all in the history."""
        per_hop = self.rate / self.hop
        first = math.ceil((seconds - ONSET_BEFORE_SECONDS) * per_hop) - 1
        last = math.floor((seconds + ONSET_AFTER_SECONDS) * per_hop) - 1
        if first < max(0, self._hops - len(self._flux)) or last >= self._hops:
            return None
        indices = np.arange(first, last + 1) % len(self._flux)
        return float(self._flux[indices].max())

    def _threshold(self) -> float:
        count = min(self._hops, round(BACKGROUND_SECONDS * self.rate / self.hop))
        recent = (self._hops - 1 - np.arange(count)) % len(self._flux)
        return max(SUPPORT_FLOOR, SUPPORT_RATIO * float(np.median(self._flux[recent])))

    def _strengths(self, anchor: float, period: float) -> list[float]:
        """The onset strengths at the last SCORE_BEATS grid points, latest first."""
        now = self._hops * self.hop / self.rate
        point = anchor + math.floor((now - ONSET_AFTER_SECONDS - anchor) / period) * period
        found: list[float] = []
        while len(found) < SCORE_BEATS and (strength := self._strength(point)) is not None:
            found.append(strength)
            point -= period
        return found

    def _propose(self, beat: float, beat_period: float) -> None:
        """Takes a beat of aubio's at time `beat`, `beat_period` apart: the
        grid moves onto the phase it shows, or stays held."""
        period = 60.0 / fold_tempo(60.0 / beat_period, self.bpm_range, self.bpm)
        step = min(beat_period, period) / 2
        threshold = self._threshold()
        candidates = []
        for shift in range(max(1, round(period / step))):
            anchor = beat + shift * step
            strengths = self._strengths(anchor, period)
            candidates.append((sum(strengths), [s >= threshold for s in strengths], anchor))
        best = max(candidates)
        if self.period is None or not self._given_before:
            self._move(period, best[2])
            return
        held_period, held_anchor = self.period, self._anchor

        def off_held(anchor: float) -> float:
            return abs((anchor - held_anchor + held_period / 2) % held_period - held_period / 2)

        same_tempo = abs(period / held_period - 1.0) <= TEMPO_TOLERANCE
        near = min(candidates, key=lambda candidate: off_held(candidate[2]))
        if same_tempo and off_held(near[2]) < step / 2:
            if sum(near[1][:RECENT_BEATS]) >= RESUME_BEATS:
                self.period, self._anchor = period, near[2]
                return
            if best is near:
                return
        # Another grid takes over only when it has been supported for two bars
        # while the held one was not: a new tempo, or a first phase that was
        # wrong; an established phase is kept through any breakdown.
        if (len(best[1]) == SCORE_BEATS and sum(best[1]) >= REPLACING_SUPPORT
                and sum(self._support) <= REPLACED_SUPPORT
                and (not same_tempo or self._established < ESTABLISHED_BEATS)):
            self._move(period, best[2])

    def _move(self, period: float, anchor: float) -> None:
        """Starts a grid that does not continue the held one."""
        self.period, self._anchor = period, anchor
        self._established = 0

    def _score_grid(self) -> None:
        """Scores the grid's latest point: the confidence, and whether beats
        are given out."""
        assert self.period is not None
        threshold = self._threshold()
        self._support = [strength >= threshold
                         for strength in self._strengths(self._anchor, self.period)]
        self.confidence = sum(self._support) / SCORE_BEATS
        supported = bool(self._support) and self._support[0]
        self._established += supported
        self._unsupported = 0 if supported else self._unsupported + 1
        if self._unsupported >= FORGET_BEATS:
            self._given_before = False  # the music has changed: choose afresh
        if self._giving:
            self._giving = any(self._support[:2])
        else:
            needed = RESUME_BEATS if self._given_before else ACQUIRE_BEATS
            self._giving = supported and sum(self._support[:RECENT_BEATS]) >= needed
            self._given_before = self._given_before or self._giving


def analyse(samples: np.ndarray, rate: int, bpm_range: tuple[float, float] | None = None,
            ) -> tuple[float | None, list[float]]:
    """The tempo (the grid's median over the beats) and the beat times of
    a recording, fed to the tracker as if it played, within `bpm_range`
    (80 to 160 bpm if None); no tempo without beats."""
    tracker = BeatTracker(rate, bpm_range)
    beats: list[float] = []
    tempi: list[float] = []
    for start in range(0, len(samples), tracker.hop * 16):
        found = tracker.feed(samples[start:start + tracker.hop * 16])
        beats += found
        tempi += [tracker.bpm or 0.0] * len(found)
    return (float(np.median(tempi)) if tempi else None), beats


def read_wav(path: str) -> tuple[int, np.ndarray]:
    """The sample rate and the mono mix, as floats in [-1, 1], of a WAV file
    of 8-, 16-, 24- or 32-bit integer samples."""
    try:
        with wave.open(path, "rb") as recording:
            rate, width = recording.getframerate(), recording.getsampwidth()
            channels = recording.getnchannels()
            data = recording.readframes(recording.getnframes())
    except (wave.Error, EOFError) as error:
        raise ValueError(f"{path}: not a WAV file of integer samples ({error})") from None
    return rate, mono_samples(data, width, channels)


def mono_samples(data: bytes, width: int, channels: int) -> np.ndarray:
    """Little-endian integer frames as one channel of floats in [-1, 1].

    >>> mono_samples(bytes([0, 0x40, 0, 0xc0, 0xff, 0x7f, 0xff, 0x7f]), 2, 2).tolist()
    [0.0, 0.999969482421875]
    """
    raw = np.frombuffer(data[:len(data) - len(data) % (width * channels)], np.uint8)
    if width == 1:  # 8-bit WAV samples are unsigned
        values = raw.astype(np.int32) - 128
    else:
        # Each sample's bytes go to the top of an int32, which signs them.
        padded = np.zeros((len(raw) // width, 4), np.uint8)
        padded[:, 4 - width:] = raw.reshape(-1, width)
        values = padded.view("<i4").ravel() >> (8 * (4 - width))
    scale = float(2 ** (8 * width - 1))
    return (values.reshape(-1, channels).mean(axis=1) / scale).astype(np.float32)

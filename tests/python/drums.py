"""Synthesised drum tracks for the audio clock's tests and benchmark: kick,
snare, hats and bass played from step grids (sixteen steps to the bar) at
a tempo that may change from bar to bar, with swing, bars without drums,
a quiet pad throughout and noise."""

import wave

import numpy as np

RATE = 48000
VELOCITIES = {"X": 1.0, "x": 0.75, "o": 0.5, "g": 0.25}
GROOVES = {
    # Four on the floor, offbeat hats and an offbeat bass: the hats and the
    # bass pull towards the off-beat.
    "house": {"kick": "X...x...X...x...", "snare": "....X.......X...",
              "hat": "..X...X...X...X.", "bass": "..x...x...x...x."},
    # A broken beat: no low onset on beat three.
    "break": {"kick": "X.X.......Xo....", "snare": "....X..g.g..X..g",
              "hat": "x.x.x.x.x.x.x.x.", "bass": "X.........x....."},
    # Two-step garage: the kick skips beats, the hats shuffle.
    "two_step": {"kick": "X.........X.....", "snare": "....X.......X...",
                 "hat": "..x.gx.x..x.gx.x", "bass": "X.....x...X..x.."},
}


def _voices(rng):
    t = np.arange(int(0.4 * RATE)) / RATE
    sweep = 2 * np.pi * np.cumsum(50 + 100 * np.exp(-30 * t)) / RATE
    return {"kick": np.sin(sweep) * np.exp(-8 * t),
            "snare": (0.6 * rng.standard_normal(len(t)) + 0.4 * np.sin(2 * np.pi * 190 * t))
            * np.exp(-25 * t),
            "hat": 0.3 * np.diff(rng.standard_normal(len(t) + 1)) * np.exp(-90 * t),
            "bass": 0.25 * np.sign(np.sin(2 * np.pi * 55 * t)) * np.exp(-6 * t)}


def render(groove, bars, bpm, swing=0.0, breakdown=range(0), noise=0.02, seed=0):
    """The track and the times of its beats (seconds). `bpm` is a number or
    a function of the bar; `swing` delays every second sixteenth by that
    share of a sixteenth; the bars of `breakdown` keep only the bass and the
    pad."""
    rng = np.random.default_rng(seed)
    voices = _voices(rng)
    tempo = bpm if callable(bpm) else (lambda bar: bpm)
    start, beats, hits = 0.5, [], []
    for bar in range(bars):
        sixteenth = 60.0 / tempo(bar) / 4
        beats += [start + step * sixteenth for step in range(0, 16, 4)]
        for voice, steps in GROOVES[groove].items():
            for step, mark in enumerate(steps):
                if mark != "." and (voice == "bass" or bar not in breakdown):
                    delay = swing if step % 2 else 0.0
                    hits.append((start + (step + delay) * sixteenth, voice, VELOCITIES[mark]))
        start += 16 * sixteenth
    track = np.zeros(int((start + 1.0) * RATE))
    for seconds, voice, velocity in hits:
        first = round(seconds * RATE)
        sound = voices[voice][:len(track) - first]
        track[first:first + len(sound)] += velocity * sound
    t = np.arange(len(track)) / RATE
    track += 0.05 * (np.sin(2 * np.pi * 220 * t) + np.sin(2 * np.pi * 277 * t))
    track += noise * rng.standard_normal(len(track))
    return (0.5 * track / np.abs(track).max()).astype(np.float32), np.array(beats)


def write_wav(path, samples, rate=RATE, channels=2):
    """16-bit PCM, the mono track on every channel."""
    pcm = np.round(np.clip(samples, -1, 1) * 32767).astype("<i2")
    with wave.open(str(path), "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(np.repeat(pcm, channels).tobytes())

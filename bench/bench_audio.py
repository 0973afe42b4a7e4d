"""Cost and latency of the audio clock's analysis at 48 kHz, on a
synthesised drum track (tests/python/drums.py):

- CPU: the share of one core the analysis takes, fed 256-sample blocks
  (what a device delivers about every 5 ms) of a track as long as `seconds`;
- latency: for each beat given out, how long after its true onset the
  analysis had taken the samples that gave it out. A live input adds its
  block and the analysis thread's wait for it (each about 5 ms at most).
  The first beat after a lock or a hold comes once its onset has been
  scored, about 25 ms late: that is the maximum.

Run with: .venv/bin/python bench/bench_audio.py
"""

import json
import pathlib
import sys
import time

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "python"))
from drums import RATE, render  # noqa: E402

from movimo_tools.clocks.beats import BeatTracker  # noqa: E402

BLOCK = 256


def measure(seconds: float = 60.0) -> dict:
    bars = round(seconds / (4 * 60 / 124))
    samples, truth = render("house", bars, 124.0, noise=0.03)
    tracker = BeatTracker(RATE)
    latencies = []
    started = time.process_time()
    for first in range(0, len(samples), BLOCK):
        heard = (first + BLOCK) / RATE
        for beat in tracker.feed(samples[first:first + BLOCK]):
            onset = truth[np.argmin(np.abs(truth - beat))]
            if abs(beat - onset) < 0.015:  # not the two beats given after the track ends
                latencies.append(heard - onset)
    cpu = time.process_time() - started
    latency_ms = np.array(latencies) * 1e3
    return {"audio_seconds": round(len(samples) / RATE, 1),
            "cpu_share_of_one_core_percent": round(100 * cpu / (len(samples) / RATE), 2),
            "beats": len(latencies),
            "onset_to_beat_ms_median": round(float(np.median(latency_ms)), 2),
            "onset_to_beat_ms_95th_percentile": round(float(np.percentile(latency_ms, 95)), 2),
            "onset_to_beat_ms_max": round(float(latency_ms.max()), 2),
            "with_a_live_block_and_wait_ms_max": round(float(latency_ms.max())
                                                       + 2e3 * BLOCK / RATE, 2)}


if __name__ == "__main__":
    print(json.dumps(measure(), indent=2))

"""Timing of `movimo stream` on loopback: how late each frame's clock message
arrives against the frame's due time (start + i / rate).

Run with: .venv/bin/python bench/bench_stream.py
"""

import json
import socket
import threading
import time

import numpy as np
from pythonosc.osc_packet import OscPacket

from movimo_tools.commands.stream import run_stream
from movimo_tools.outputs.osc import OscSender, make_targets


def measure(names=("helix", "beat_house_jack_orbit"), rate=120.0, frames=1200) -> dict:
    """Streams `frames` frames at `rate` Hz and 120 bpm to a UDP socket read
    by a thread; returns the message count and phase-error statistics (ms)."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as receiver:
        receiver.bind(("127.0.0.1", 0))
        receiver.settimeout(2.0)
        arrivals: list[tuple[float, bytes]] = []

        def receive():
            try:
                while True:
                    datagram = receiver.recv(65536)
                    arrivals.append((time.perf_counter(), datagram))
            except (TimeoutError, OSError):
                pass  # the stream has ended

        thread = threading.Thread(target=receive)
        thread.start()
        sender = OscSender("127.0.0.1", receiver.getsockname()[1])
        report = run_stream(make_targets(list(names), 1), 120.0, sender.send_frame, rate=rate,
                            frames=frames)
        thread.join()
    clock_arrivals, received = {}, 0
    for arrived, datagram in arrivals:
        for timed in OscPacket(datagram).messages:
            received += 1
            if timed.message.address == "/movimo/clock":
                clock_arrivals[timed.message.params[0]] = arrived
    lateness = np.array([clock_arrivals[i] - (report.start + i / rate)
                         for i in sorted(clock_arrivals)]) * 1e3
    return {"frames": frames, "rate_hz": rate, "messages_sent": report.sent,
            "messages_received": received,
            "mean_phase_error_ms": float(lateness.mean()),
            "median_phase_error_ms": float(np.median(lateness)),
            "max_phase_error_ms": float(lateness.max()),
            "jitter_std_ms": float(lateness.std())}


if __name__ == "__main__":
    print(json.dumps(measure(), indent=2))

"""A show of 2,048 moving heads at 44 frames a second with its browser
console and four WebSocket clients reading every state and frame, for ten
seconds: how late the frames leave, and how much of one core the show's
process takes (the clients run in processes of their own).

Run with: .venv/bin/python bench/bench_serve.py
"""

import json
import subprocess
import sys
import time

import numpy as np

from bench_rig import large_rig
from movimo_tools.clocks.tempo import tempo_clock
from movimo_tools.show.loop import run_frames
from movimo_tools.show.stages import RigPlayer
from movimo_tools.surfaces.web import WebConsole

FIXTURES, UNIVERSES = 2048, 16
RATE, SECONDS, CLIENTS = 44.0, 10.0, 4
# A client: reads everything until the console closes, then says how many
# frames and states it got.
CLIENT = """
import json, sys, websockets.sync.client as client
frames = states = 0
try:
    with client.connect(sys.argv[1]) as socket:
        print("ready", flush=True)
        for message in socket:
            if isinstance(message, bytes):
                frames += 1
            else:
                states += 1
except Exception:
    pass
print(json.dumps({"frames": frames, "states": states}))
"""


def measure() -> dict:
    show = RigPlayer(large_rig(FIXTURES, UNIVERSES), ["helix", "circle"], RATE).show
    console = WebConsole(show, port=0)
    url = console.url.replace("http", "ws") + "socket"
    clients = [subprocess.Popen([sys.executable, "-c", CLIENT, url], stdout=subprocess.PIPE,
                                text=True) for _ in range(CLIENTS)]
    for client in clients:
        assert client.stdout.readline() == "ready\n"
    lateness = []

    def send_frame(frame: int, pip: float, bpm: float, due: float) -> int:
        lateness.append(time.perf_counter() - due)
        if frame % 88 == 44:   # a change every two seconds, as an operator might
            show.submit({"type": "size", "group": "u1", "percent": 50 + frame % 100})
        return show.send_frame(frame, pip, bpm, due)

    cpu, wall = time.process_time(), time.perf_counter()
    report = run_frames(send_frame, tempo_clock(128.0), rate=RATE, frames=int(RATE * SECONDS),
                        before_frame=show.before_frame)
    cpu, wall = time.process_time() - cpu, time.perf_counter() - wall
    console.close()
    received = [json.loads(client.communicate(timeout=10)[0].splitlines()[-1])
                for client in clients]
    late_ms = np.array(lateness) * 1e3
    return {"fixtures": FIXTURES, "rate_hz": RATE, "clients": CLIENTS, "frames": report.frames,
            "skipped": report.skipped, "lateness_p50_ms": float(np.percentile(late_ms, 50)),
            "lateness_p99_ms": float(np.percentile(late_ms, 99)),
            "lateness_max_ms": float(late_ms.max()), "cpu_share_of_a_core": cpu / wall,
            "frames_per_client": [r["frames"] for r in received],
            "states_per_client": [r["states"] for r in received]}


if __name__ == "__main__":
    print(json.dumps(measure(), indent=2))

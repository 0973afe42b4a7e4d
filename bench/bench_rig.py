"""Frame building for a large rig: 10,000 moving heads over 64 universes,
each a 16-bit pan and an 8-bit tilt, in groups with every kind of spread,
held to their speeds; the packets of one frame in either protocol; and a
rig as it is wired, 2,048 heads of 16 channels over 64 universes sent to
four nodes (two Art-Net, two sACN, on 127.0.0.1) with sync, frame and
sending together: in eight groups (two trusses a node), and in one group a
universe as the large rig above.

Run with: .venv/bin/python bench/bench_rig.py
"""

import json
import socket
import time
import timeit

import numpy as np

from movimo_tools import rig
from movimo_tools.show.stages import RigPlayer
from movimo_tools.outputs import dmx
from movimo_tools.outputs.rig_outputs import RigOutputs

FIXTURES, UNIVERSES = 10_000, 64
WIRED_HEADS, NODES, WIRED_GROUPS = 2048, 4, 8
SPREADS = [{"spread": "even"}, {"spread": "wing"}, {"spread": "group", "blocks": 4},
           {"spread": "position", "span": 2.0, "direction": [1.0, 1.0]}]


def large_rig(count: int = FIXTURES, universes: int = UNIVERSES) -> rig.Rig:
    """`count` fixtures filling `universes` universes, one group per universe."""
    per_universe = np.diff(np.linspace(0, count, universes + 1).round().astype(int))
    fixtures = [{"name": f"u{u}", "type": "head", "universe": u, "address": 1, "count": int(n),
                 "position": [0.0, float(u)]} for u, n in enumerate(per_universe, start=1)]
    groups = [{"name": f"u{u}", "fixtures": [f"u{u}"], **SPREADS[u % len(SPREADS)]}
              for u in range(1, universes + 1)]
    document = {"types": {"head": {"channels": ["pan", "pan_fine", "tilt"], "pan_range": 540,
                                   "tilt_range": 270, "pan_speed": 250, "tilt_speed": 150,
                                   "amplitude": [90, 45]}},
                "fixtures": fixtures, "groups": groups}
    return rig.parse_patch(document, "bench")


def wired_rig(ports: list[int], groups: int) -> rig.Rig:
    """WIRED_HEADS heads of 16 channels filling UNIVERSES universes, which
    go in equal shares to nodes on 127.0.0.1 at `ports`, every one with
    sync; the universes fall into `groups` groups of every kind of spread."""
    per_universe = WIRED_HEADS // UNIVERSES
    channels = ["pan", "pan_fine", "tilt", "tilt_fine", "dimmer"] + [f"c{i}" for i in range(11)]
    share = UNIVERSES // len(ports)
    outputs = [{"protocol": "artnet" if node % 2 else "sacn", "sync": True,
                "address": "127.0.0.1", "port": port,
                "universes": list(range(node * share + 1, (node + 1) * share + 1))}
               for node, port in enumerate(ports)]
    document = {"types": {"head": {"channels": channels, "pan_range": 540, "tilt_range": 270,
                                   "pan_speed": 250, "tilt_speed": 150, "amplitude": [90, 45],
                                   "values": {"dimmer": 255}}},
                "fixtures": [{"name": f"u{u}", "type": "head", "universe": u, "address": 1,
                              "count": per_universe} for u in range(1, UNIVERSES + 1)],
                "groups": [{"name": f"g{g}", "fixtures": [f"u{u}" for u in range(
                               g * UNIVERSES // groups + 1, (g + 1) * UNIVERSES // groups + 1)],
                            **SPREADS[g % len(SPREADS)]} for g in range(groups)],
                "outputs": outputs}
    return rig.parse_patch(document, "bench")


def best_seconds(call, budget=0.3, timer=time.perf_counter) -> float:
    number = max(1, int(budget / timeit.timeit(call, number=1)))
    return min(timeit.repeat(call, number=number, repeat=7, timer=timer)) / number


def wired_frame_seconds(ports: list[int], groups: int, pips) -> float:
    """CPU seconds of one frame of the wired rig, made and sent with sync."""
    wired = wired_rig(ports, groups)
    outputs = RigOutputs(wired.universes, wired.outputs, warn=print)
    try:
        player = RigPlayer(wired, ["helix"], rate=44.0, outputs=[outputs])
        dues = iter(range(1 << 30))
        return best_seconds(lambda: player.show.send_frame(0, next(pips), 120.0,
                                                           float(next(dues))),
                            timer=time.process_time)
    finally:
        outputs.close()


def measure() -> dict:
    loaded = large_rig()
    player = RigPlayer(loaded, ["helix"], rate=44.0)
    pips = iter(range(0, 1 << 30, 3))
    frame_seconds = best_seconds(lambda: player.frame(next(pips)))
    frame_cpu_seconds = best_seconds(lambda: player.frame(next(pips)), timer=time.process_time)
    frame, _ = player.frame(0)
    sender = dmx.DmxSender("sacn", "127.0.0.1", 9, loaded.universes)
    sacn_seconds = best_seconds(lambda: sender.packets(frame))
    sender.protocol = "artnet"
    artnet_seconds = best_seconds(lambda: sender.packets(frame))
    sender.close()
    # The nodes listen, as real ones do: a port nobody listens on costs an
    # ICMP answer per packet.
    nodes = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(NODES)]
    for node in nodes:
        node.bind(("127.0.0.1", 0))
    try:
        wired_cpu_seconds = [wired_frame_seconds([node.getsockname()[1] for node in nodes],
                                                 groups, pips)
                             for groups in (WIRED_GROUPS, UNIVERSES)]
    finally:
        for node in nodes:
            node.close()
    return {"fixtures": len(loaded), "universes": len(loaded.universes),
            "frame_ms": frame_seconds * 1e3, "frame_cpu_ms": frame_cpu_seconds * 1e3,
            "sacn_packets_ms": sacn_seconds * 1e3,
            "artnet_packets_ms": artnet_seconds * 1e3,
            "wired_heads": WIRED_HEADS, "wired_nodes": NODES,
            "wired_groups": WIRED_GROUPS, "wired_frame_cpu_ms": wired_cpu_seconds[0] * 1e3,
            "wired_frame_universe_groups_cpu_ms": wired_cpu_seconds[1] * 1e3}


if __name__ == "__main__":
    print(json.dumps(measure(), indent=2))

"""Sync, stream ends and discovery, read by decoders that are not movimo's:
the `sacn` package's receiver and packet readers for E1.31, and tshark's
Art-Net dissector for ArtPoll, ArtPollReply and ArtSync, in a network
namespace the test makes (loopback only, multicast routed through it)."""

import json
import shutil
import subprocess
import sys

import pytest

from movimo_tools import rig
from movimo_tools.outputs import discovery
from test_tools_rig import TWO_SPOTS
from test_tools_rig_receiver import namespace_or_skip, package_env

PATCH = TWO_SPOTS + """
[[fixtures]]
name = "floor"
type = "spot"
universe = 2
address = 1

[[fixtures]]
name = "truss"
type = "spot"
universe = 3
address = 1

[[outputs]]
protocol = "sacn"
universes = [1, 2]
interface = "127.0.0.1"
sync = true

[[outputs]]
protocol = "artnet"
address = "127.255.255.255"
sync = true
"""

# Runs in the namespace: tshark records Art-Net, a socket joined to every
# group records sACN and the sacn package's receiver watches the universes,
# while movimo dmx runs and movimo nodes polls; a desk of the test's own
# announces two universes, and a cut-short ArtPollReply arrives.
SCENE = """
import json, socket, subprocess, sys, threading, time
import sacn
from sacn.messages.universe_discovery import UniverseDiscoveryPacket

patch, pcap = sys.argv[1:]
for command in ("ip link set lo up", "ip route add 224.0.0.0/4 dev lo"):
    subprocess.run(command.split(), check=True)
tshark = subprocess.Popen(["tshark", "-i", "lo", "-f", "udp port 6454", "-w", pcap],
                          stderr=subprocess.PIPE, text=True)
while "Capturing on" not in tshark.stderr.readline():
    pass

capture = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
capture.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
capture.bind(("", 5568))
for group in ("239.255.0.1", "239.255.0.2", "239.255.249.255", "239.255.250.214"):
    capture.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                       socket.inet_aton(group) + socket.inet_aton("127.0.0.1"))
sacn_packets = []
threading.Thread(target=lambda: [sacn_packets.append(capture.recv(2048).hex())
                                 for _ in iter(int, 1)], daemon=True).start()
availability = []
receiver = sacn.sACNreceiver("127.0.0.1")
receiver.register_listener("availability", lambda universe, changed: availability.append(
    (universe, changed, time.monotonic())))
for universe in (1, 2):
    receiver.join_multicast(universe)
receiver.start()

movimo = [sys.executable, "-m", "movimo_tools"]
dmx = subprocess.Popen([*movimo, "dmx", "helix", "--patch", patch, "--bpm", "120", "--rate",
                        "20", "--frames", "40"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
time.sleep(0.5)
nodes = subprocess.Popen([*movimo, "nodes", "--interface", "127.0.0.1", "--seconds", "1.5"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
desk = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
desk.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
desk.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
announcement = bytes(UniverseDiscoveryPacket(tuple(range(16)), "other desk", (8, 7)).getBytes())
while nodes.poll() is None:    # from before nodes listens until it is done
    desk.sendto(announcement, ("239.255.250.214", 5568))
    desk.sendto(b"Art-Net\\x00\\x00\\x21\\x00\\x0e", ("127.255.255.255", 6454))
    time.sleep(0.2)
nodes_out, nodes_err = nodes.communicate(timeout=30)
dmx_out, dmx_err = dmx.communicate(timeout=30)
ended = time.monotonic()
time.sleep(1.5)    # the receiver's own timeout would take 2.5 s
receiver.stop()
tshark.send_signal(2)
tshark.wait(timeout=30)
print(json.dumps({"nodes": [nodes.returncode, nodes_out, nodes_err],
                  "dmx": [dmx.returncode, dmx_out, dmx_err], "sacn": sacn_packets,
                  "ended": [(u, c, t - ended) for u, c, t in availability if c == "timeout"]}))
"""


def art_net_log(pcap):
    """(opcode, short name, universe of input port 1, port type 1) of every
    Art-Net packet, as tshark dissects them."""
    fields = ["artnet.header.opcode", "artnet.poll_reply.short_name",
              "artnet.poll_reply.swin_1_universe", "artnet.poll_reply.port_types_1"]
    done = subprocess.run(["tshark", "-r", str(pcap), "-Y", "artnet", "-T", "fields",
                           *[arg for field in fields for arg in ("-e", field)]],
                          capture_output=True, text=True, timeout=60, check=True)
    return [line.split("\t") for line in done.stdout.splitlines()]


def test_sync_stream_ends_and_discovery_as_independent_decoders_read_them(tmp_path):
    namespace_or_skip()
    assert shutil.which("tshark"), "tshark missing: run tools/bootstrap.sh"
    sacn = pytest.importorskip("sacn")
    from sacn.messages.data_packet import DataPacket
    from sacn.messages.sync_packet import SyncPacket
    from sacn.messages.universe_discovery import UniverseDiscoveryPacket

    patch, pcap = tmp_path / "rig.toml", tmp_path / "artnet.pcapng"
    patch.write_text(PATCH)
    run = subprocess.run(["unshare", "-n", sys.executable, "-c", SCENE, str(patch), str(pcap)],
                         capture_output=True, text=True, timeout=120, env=package_env())
    assert run.returncode == 0, run.stderr
    seen = json.loads(run.stdout)
    status, out, err = seen["dmx"]
    assert status == 0 and err == "" and "; parked at home (" in out, out + err
    assert "Art-Net goes from UDP port 6454" in out

    # movimo nodes: movimo's ArtPollReply, the desk's announcement, the cut-short reply.
    status, out, err = seen["nodes"]
    assert status == 0 and err == ""
    *found, ignored = out.splitlines()
    assert [line.split() for line in found] == [
        ["artnet", "127.0.0.1", "movimo", "sends", "3"],
        ["sacn", "127.0.0.1", "other", "desk", "sends", "7-8"]]
    assert ignored.startswith("ignored ") and ignored.endswith(" datagrams that were not "
                                                               "well-formed replies")

    # E1.31: every frame's two universes carry the sync universe and are
    # followed by its sync packet; the stream ends with three rounds of
    # Stream_Terminated packets that carry the home frame.
    packets = [bytes.fromhex(p) for p in seen["sacn"]]
    kinds = []
    for packet in packets:
        if packet[21] == 4:
            data = DataPacket.make_data_packet(packet)
            assert data.syncAddr == (0 if data.option_StreamTerminated else 63999)
            kinds.append(("terminated" if data.option_StreamTerminated else "data",
                          data.universe, bytes(data.dmxData)))
        elif packet[43] == 1:
            assert SyncPacket.make_sync_packet(packet).syncAddr == 63999
            kinds.append(("sync",))
        else:
            announced = UniverseDiscoveryPacket.make_universe_discovery_packet(packet)
            kinds.append(("discovery", announced.sourceName, announced.universes))
    assert ("discovery", "movimo", (1, 2)) in kinds
    frames = [kind for kind in kinds if kind[0] != "discovery"]
    home = rig.load_patch(patch).home_frame()
    moving, end = [frames[i:i + 3] for i in range(0, len(frames) - 6, 3)], frames[-6:]
    assert len(moving) >= 40
    assert all([k[:2] for k in frame] == [("data", 1), ("data", 2), ("sync",)]
               for frame in moving)
    assert [k[:2] for k in end] == [("terminated", 1), ("terminated", 2)] * 3
    assert [k[2] for k in end + moving[-1][:2]] == [row.tobytes() for row in home[:2]] * 4
    # The receiver let go of both universes at once, well before its timeout.
    assert {u for u, _, after in seen["ended"] if after < 1.0} == {1, 2}

    # Art-Net: nodes' ArtPoll, movimo's reply, and an ArtSync after every ArtDmx.
    log = art_net_log(pcap)
    replies = [entry for entry in log if entry[0] == "0x2100"]
    assert ["0x2000"] in [entry[:1] for entry in log]
    assert [r[1:] for r in replies if r[1]] == [["movimo", "3", "0x40"]]
    opcodes = [entry[0] for entry in log if entry[0] in ("0x5000", "0x5200")]
    assert len(opcodes) >= 2 * 40 and opcodes == ["0x5000", "0x5200"] * (len(opcodes) // 2)


@pytest.mark.parametrize("datagram, reader", [
    (b"Art-Net\x00\x00\x21\x00\x0e" + bytes(100), discovery.read_poll_reply),   # cut short
    (b"Art-Net\x00\x00\x50\x00\x0e" + bytes(300), discovery.read_poll_reply),   # an ArtDmx
    (b"", discovery.read_poll),
    # A discovery page whose lengths claim more universes than it holds,
    # an odd size, and a page beyond the last.
    (discovery.e131_discovery_packets([1, 2], bytes(16), "x")[0][:-2], discovery.read_e131_discovery),
    (discovery.e131_discovery_packets([1], bytes(16), "x")[0] + b"\x00", discovery.read_e131_discovery),
    (bytes(discovery.e131_discovery_packets([1], bytes(16), "x")[0][:118]) + b"\x02\x01\x00\x01",
     discovery.read_e131_discovery),
])
def test_malformed_discovery_is_refused_not_misread(datagram, reader):
    with pytest.raises(ValueError):
        reader(datagram)

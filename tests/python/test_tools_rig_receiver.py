"""DMX checked by an independent receiver: the Open Lighting Architecture
daemon, in a network namespace the test makes (see olad_namespace.sh), hears
movimo's E1.31 and ArtDmx packets; every slot it records must equal the frame
movimo computed."""

import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

import numpy as np
import pytest

import movimo_tools
from movimo_tools import rig
from movimo_tools.show.stages import RigPlayer

HERE = pathlib.Path(__file__).resolve().parent
TOOLS = ("unshare", "ip", "setpriv", "olad", "ola_dev_info", "ola_patch", "ola_recorder")
# sACN universes 1 and 2 and Art-Net port-addresses 3 and 4 reach olad.
UNIVERSES = {"sacn": (1, 2), "artnet": (3, 4)}
PATCH = """\
[types.spot]
channels = ["pan", "pan_fine", "tilt", "tilt_fine", "dimmer"]
pan_range = 540
tilt_range = 270
pan_speed = {speed}
tilt_speed = {speed}
values = {{ dimmer = 255 }}
amplitude = [90, 45]

[[fixtures]]
name = "wall"
type = "spot"
universe = {first}
address = 1
count = 100

[[fixtures]]
name = "truss"
type = "spot"
universe = {second}
address = 11
count = 8
invert = ["tilt"]
z = "dimmer"

[[groups]]
name = "wall"
fixtures = ["wall"]
spread = "wing"

[[groups]]
name = "truss"
fixtures = ["truss"]
spread = "even"
pattern = "lfo_flower"
"""


def namespace_or_skip():
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    assert not missing, f"{', '.join(missing)} missing: run tools/bootstrap.sh"
    if os.geteuid() != 0:
        pytest.skip("a network namespace with a veth pair needs root")
    trial = subprocess.run(["unshare", "-n", "true"], capture_output=True, text=True)
    if trial.returncode != 0:
        pytest.skip(f"cannot make a network namespace here: {trial.stderr.strip()}")


def read_show(path: pathlib.Path) -> dict[int, list[np.ndarray]]:
    """Frames per OLA universe from an ola_recorder show file: after the
    'OLA Show' line, 'UNIVERSE v,v,...' lines alternate with delays in ms."""
    lines = path.read_text().splitlines()
    assert lines[0] == "OLA Show"
    frames: dict[int, list[np.ndarray]] = {}
    for line in lines[1:]:
        universe, _, values = line.partition(" ")
        if values:
            frames.setdefault(int(universe), []).append(
                np.array(values.split(","), dtype=np.uint8))
    return frames


def package_env() -> dict[str, str]:
    """The environment for commands that run this copy of movimo_tools."""
    package_root = str(pathlib.Path(movimo_tools.__file__).parents[1])
    return dict(os.environ, PYTHONPATH=os.pathsep.join(
        filter(None, [package_root, os.environ.get("PYTHONPATH")])))


def received(command) -> dict[int, list[np.ndarray]]:
    """Runs `command` in a new network namespace beside olad; its frames."""
    namespace_or_skip()
    # olad runs unprivileged and pytest's own temporary root is private to
    # its user, so olad's directory lies outside it.
    olad_dir = pathlib.Path(tempfile.mkdtemp(prefix="movimo-olad-"))
    try:
        return _received_in(olad_dir, command)
    finally:
        shutil.rmtree(olad_dir, ignore_errors=True)


def _received_in(directory: pathlib.Path, command) -> dict[int, list[np.ndarray]]:
    directory.chmod(0o777)
    run = subprocess.run(["unshare", "-n", "bash", str(HERE / "olad_namespace.sh"),
                          str(directory), "--", *command],
                         capture_output=True, text=True, env=package_env(), timeout=120)
    if run.returncode == 77:
        pytest.skip(run.stderr.strip())
    assert run.returncode == 0, run.stderr + (directory / "olad.log").read_text()
    return read_show(directory / "show.txt")


def write_patch(tmp_path, protocol, speed="1e9") -> pathlib.Path:
    first, second = UNIVERSES[protocol]
    path = tmp_path / "rig.toml"
    path.write_text(PATCH.format(first=first, second=second, speed=speed))
    return path


SEND = """\
import sys, time
from movimo_tools import rig
from movimo_tools.outputs import dmx
from movimo_tools.show.stages import RigPlayer
patch, protocol, pips = sys.argv[1], sys.argv[2], [int(p) for p in sys.argv[3:]]
player = RigPlayer(rig.load_patch(patch), ["helix"], rate=44.0)
sender = dmx.DmxSender(protocol, "10.77.0.1", dmx.SACN_PORT if protocol == "sacn"
                       else dmx.ARTNET_PORT, player.rig.universes)
for pip in pips:
    sender.send(player.frame(pip)[0])
    time.sleep(0.05)
"""


@pytest.mark.parametrize("protocol", ["sacn", "artnet"])
def test_every_slot_olad_receives_equals_the_computed_frame(tmp_path, protocol):
    patch = write_patch(tmp_path, protocol, speed="400")
    pips = [37 * k for k in range(24)]
    frames = received([sys.executable, "-c", SEND, str(patch), protocol,
                                 *map(str, pips)])
    player = RigPlayer(rig.load_patch(patch), ["helix"], rate=44.0)
    expected = [player.frame(pip)[0] for pip in pips]
    assert player.limited_frames > 0     # the speed limit is part of what is checked
    for row, universe in enumerate(UNIVERSES[protocol]):
        got = frames[universe]
        assert len(got) == len(pips)
        for index, (slots, frame) in enumerate(zip(got, expected)):
            np.testing.assert_array_equal(slots, frame[row], err_msg=f"frame {index}")


def is_subsequence(frames, expected) -> bool:
    remaining = iter(expected)
    return all(any(np.array_equal(frame, candidate) for candidate in remaining)
               for frame in frames)


def check_played_then_parked(got, expected, home, count):
    """The frames a universe received: some of `expected` in order, then
    the home frame, held for at least three frames (fixtures this fast
    reach home within one)."""
    parked = next(i for i in range(len(got), 0, -1) if not np.array_equal(got[i - 1], home))
    assert len(got) - parked >= 3
    assert len(got[:parked]) >= count // 2
    assert is_subsequence(got[:parked], expected)


@pytest.mark.parametrize("protocol", ["sacn", "artnet"])
def test_movimo_dmx_streams_the_pattern_then_parks_at_home(tmp_path, protocol):
    # Fixtures fast enough to follow helix exactly, so each frame depends
    # on its pip alone, whichever frames a loaded machine has to skip.
    patch = write_patch(tmp_path, protocol)
    rate, count = 20.0, 30
    frames = received([sys.executable, "-m", "movimo_tools", "dmx", "helix",
                                 "--patch", str(patch), "--bpm", "120", f"--{protocol}",
                                 "10.77.0.1", "--rate", str(rate), "--frames", str(count)])
    player = RigPlayer(rig.load_patch(patch), ["helix"], rate=rate)
    expected = [player.frame(i / rate * 2.0 * 64)[0] for i in range(count)]
    home = player.rig.home_frame()
    for row, universe in enumerate(UNIVERSES[protocol]):
        check_played_then_parked(frames[universe], [frame[row] for frame in expected],
                                 home[row], count)


RIG_OF_NODES = PATCH.format(first=1, second=2, speed="1e9") + "".join(f"""
[[fixtures]]
name = "u{u}"
type = "spot"
universe = {u}
address = 1
count = 4
""" for u in range(3, 6)) + """
[[outputs]]          # olad, by multicast
protocol = "sacn"
universes = [1, 2]
interface = "10.77.0.1"

[[outputs]]          # olad, by broadcast
protocol = "artnet"
universes = [3, 4]
address = "10.77.0.255"

[[outputs]]          # a second node, at an address of its own
protocol = "artnet"
address = "10.77.0.2"
"""

# A second node beside olad: a socket at 10.77.0.2 that keeps the port-address
# and slots of every ArtDmx it hears, while movimo dmx runs.
SECOND_NODE = """
import json, pathlib, socket, subprocess, sys, threading
heard, command = sys.argv[1], sys.argv[2:]
subprocess.run("ip addr add 10.77.0.2/24 dev v0".split(), check=True)
node = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
node.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
node.bind(("10.77.0.2", 6454))
packets = []
threading.Thread(target=lambda: [packets.append(node.recv(1024)) for _ in iter(int, 1)],
                 daemon=True).start()
status = subprocess.run(command).returncode
frames = [(int.from_bytes(p[14:16], "little"), p[18:].hex()) for p in packets
          if p[:10] == b"Art-Net\\x00\\x00\\x50"]
pathlib.Path(heard).write_text(json.dumps(frames))
sys.exit(status)
"""


def test_one_process_drives_every_node_by_multicast_broadcast_and_unicast(tmp_path):
    patch, heard = tmp_path / "rig.toml", tmp_path / "second_node.json"
    patch.write_text(RIG_OF_NODES)
    rate, count = 20.0, 30
    frames = received([sys.executable, "-c", SECOND_NODE, str(heard), sys.executable, "-m",
                       "movimo_tools", "dmx", "helix", "--patch", str(patch), "--bpm", "120",
                       "--rate", str(rate), "--frames", str(count)])
    frames[5] = [np.frombuffer(bytes.fromhex(slots), np.uint8)
                 for universe, slots in json.loads(heard.read_text()) if universe == 5]
    player = RigPlayer(rig.load_patch(patch), ["helix"], rate=rate)
    expected = [player.frame(i / rate * 2.0 * 64)[0] for i in range(count)]
    home = player.rig.home_frame()
    for row, universe in enumerate(range(1, 6)):
        check_played_then_parked(frames[universe], [frame[row] for frame in expected],
                                 home[row], count)


def test_an_unreachable_address_is_said_once_and_the_show_runs_on(tmp_path):
    # A fresh namespace has no route anywhere, so nothing can leave it.
    namespace_or_skip()
    patch = write_patch(tmp_path, "artnet")
    run = subprocess.run(["unshare", "-n", sys.executable, "-m", "movimo_tools", "dmx", "helix",
                          "--patch", str(patch), "--bpm", "120", "--artnet", "10.77.0.9",
                          "--frames", "3"], capture_output=True, text=True, timeout=60,
                         env=package_env())
    assert run.returncode == 0
    assert run.stderr == ("cannot send to 10.77.0.9:6454: Network is unreachable; "
                          "the stream runs on\n")
    universes = len(UNIVERSES["artnet"])
    # Every packet failed: three frames' and the parking rig's.
    parked = int(run.stdout.rsplit("(", 1)[1].split()[0])   # "parked at home (N packets)"
    assert parked >= 3 * universes
    assert f"sent 3 frames, {3 * universes} packets ({3 * universes + parked} failed)" in run.stdout
    # A park none of whose packets left is no park.
    assert "NOT parked: no packet of the last home frame could be sent" in run.stdout

"""A running show against hostile peers, impatient operators and lost
consoles: every ending parks the rig, no datagram stops or freezes the show,
and a closed standard file costs only what was written to it. Each command
runs in its own process with a time limit."""

import os
import pathlib
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

import pytest
from pythonosc.osc_bundle_builder import OscBundleBuilder
from pythonosc.osc_message_builder import OscMessageBuilder, build_msg

import movimo_tools
from movimo_tools import rig
from movimo_tools.cli import main
from movimo_tools.show.stages import RigStage
from movimo_tools.clocks import follow, inputs
from movimo_tools.clocks.follow import Beat, Tick
from movimo_tools.commands.stream import run_stream
from movimo_tools.outputs.osc import make_targets
from test_tools_rig import TWO_SPOTS
from test_tools_stream import FakeTime


def double_message(address, value):
    builder = OscMessageBuilder(address)
    builder.add_arg(value, OscMessageBuilder.ARG_TYPE_DOUBLE)
    return builder.build().dgram


def bundle(*contents, timetag=0.0):
    header = b"#bundle\x00" + struct.pack(">Q", int(timetag * 2**32))
    return header + b"".join(struct.pack(">i", len(c)) + c for c in contents)


def nested(depth):
    inner = build_msg("/tick", []).dgram
    for _ in range(depth):
        inner = bundle(inner)
    return inner


HOSTILE = {
    "a year ahead": (OscBundleBuilder(time.time() + 365 * 86400), [Tick()]),
    "beat 1e17": (double_message("/beat", 1e17), []),
    "beat 1.7e308": (double_message("/beat", 1.7e308), []),
    "tempo 1e300": (double_message("/tempo", 1e300), []),
    "address not UTF-8": (b"/t\xffck\x00\x00\x00\x00,\x00\x00\x00", []),
    "element of -4 bytes": (bundle() + b"\xff\xff\xff\xfc", []),
    "3000 bundles deep": (nested(3000), []),
    "cut short": (build_msg("/beat", [3]).dgram[:-2], []),
}


def datagram(name):
    data, _ = HOSTILE[name]
    if isinstance(data, OscBundleBuilder):
        data.add_content(build_msg("/tick", []))
        data = data.build().dgram
    return data


@pytest.mark.parametrize("name", HOSTILE)
def test_a_hostile_datagram_is_taken_at_once_or_counted(name):
    source = inputs.OscClockInput("osc")
    started = time.monotonic()
    source.receive_datagram(datagram(name), 1.0)
    assert time.monotonic() - started < 1.0
    taken = HOSTILE[name][1]
    assert [event for _, event in source.drain()] == taken
    assert source.malformed == (0 if taken else 1)


def movimo_process(*argv, **options):
    package_root = str(pathlib.Path(movimo_tools.__file__).parents[1])
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        filter(None, [package_root, os.environ.get("PYTHONPATH")])))
    options.setdefault("stdin", subprocess.DEVNULL)
    options.setdefault("stdout", subprocess.PIPE)
    options.setdefault("stderr", subprocess.PIPE)
    return subprocess.Popen([sys.executable, "-m", "movimo_tools", *map(str, argv)],
                            text=True, env=env, **options)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Listener:
    """A UDP socket on 127.0.0.1 keeping every datagram, read by a thread."""

    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:  # room for a 512-universe frame arriving at once (SO_RCVBUFFORCE, as root)
            self.socket.setsockopt(socket.SOL_SOCKET, 33, 1 << 25)
        except OSError:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 25)
        self.socket.bind(("127.0.0.1", 0))
        self.socket.settimeout(0.2)
        self.port = self.socket.getsockname()[1]
        self.datagrams = []
        self._running = True
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        """Reads until closed and quiet: what the thread fell behind on stays
        in the socket's buffer until read."""
        while True:
            try:
                self.datagrams.append(self.socket.recv(2048))
            except TimeoutError:
                if not self._running:
                    return

    def wait_for(self, count, timeout=20.0):
        deadline = time.monotonic() + timeout
        while len(self.datagrams) < count and time.monotonic() < deadline:
            time.sleep(0.01)
        assert len(self.datagrams) >= count, "the command sent nothing"

    def close(self):
        self._running = False
        self._thread.join()
        self.socket.close()
        return self.datagrams


@pytest.fixture
def two_spots(tmp_path):
    path = tmp_path / "rig.toml"
    path.write_text(TWO_SPOTS)
    return path


def output(command, listener, two_spots):
    if command == "stream":
        return ["stream", "bounce", "--osc", f"127.0.0.1:{listener.port}"]
    return ["dmx", "helix", "--patch", two_spots, "--artnet", f"127.0.0.1:{listener.port}"]


@pytest.mark.parametrize("command", ["stream", "dmx"])
def test_hostile_clock_datagrams_neither_stop_nor_freeze_the_show(command, two_spots):
    listener, clock_port = Listener(), free_port()
    process = movimo_process(*output(command, listener, two_spots), "--bpm", 120, "--rate", 50,
                             "--frames", 100, "--clock", f"osc:127.0.0.1:{clock_port}")
    try:
        listener.wait_for(1)  # running: the clock port is open
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as peer:
            for name in HOSTILE:
                peer.sendto(datagram(name), ("127.0.0.1", clock_port))
        _, err = process.communicate(timeout=30)
    finally:
        process.kill()
        datagrams = listener.close()
    assert process.returncode == 0, err
    assert "Traceback" not in err and "ignored 7 malformed messages" in err, err
    if command == "dmx":
        assert datagrams[-1][18:] == rig.load_patch(two_spots).home_frame()[0].tobytes()


def test_an_error_in_a_frame_still_parks_the_rig(two_spots, monkeypatch, capsys):
    listener = Listener()
    played = RigStage.frame

    def fails_at_frame_5(stage, frame, *rest):
        if frame == 5:
            raise OverflowError("a frame that cannot be computed")
        return played(stage, frame, *rest)

    monkeypatch.setattr(RigStage, "frame", fails_at_frame_5)
    status = main(["dmx", "helix", "--patch", str(two_spots), "--bpm", "120", "--rate", "50",
                   "--frames", "20", "--artnet", f"127.0.0.1:{listener.port}"])
    datagrams = listener.close()
    assert status == 1 and "a frame that cannot be computed" in capsys.readouterr().err
    home = rig.load_patch(two_spots).home_frame()[0].tobytes()
    # Five frames, the glide home, then the home frame held for three frames.
    assert [packet[12] for packet in datagrams] == list(range(1, len(datagrams) + 1))
    assert all(packet[18:] != home for packet in datagrams[:5])
    assert all(packet[18:] == home for packet in datagrams[-3:])


def test_impatient_signals_cannot_cut_parking_short(tmp_path):
    """512 universes; SIGINT inherited as ignored (a background job of a
    script), then SIGINT and SIGTERM every half millisecond."""
    lines = ['[types.head]\nchannels = ["pan", "tilt"]\npan_range = 540\ntilt_range = 270\n'
             'pan_speed = 300\ntilt_speed = 200\namplitude = [60, 30]\n']
    lines += [f'[[fixtures]]\nname = "u{u}"\ntype = "head"\nuniverse = {u}\naddress = 1\n'
              for u in range(512)]
    path = tmp_path / "big.toml"
    path.write_text("\n".join(lines))
    listener = Listener()
    process = movimo_process("dmx", "helix", "--patch", path, "--bpm", 120, "--rate", 10,
                             "--artnet", f"127.0.0.1:{listener.port}",
                             preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_IGN))
    try:
        listener.wait_for(1024)
        deadline = time.monotonic() + 20
        while process.poll() is None and time.monotonic() < deadline:
            for number in (signal.SIGINT, signal.SIGTERM):
                process.send_signal(number)
                time.sleep(0.0005)
        out, err = process.communicate(timeout=10)
    finally:
        process.kill()
        datagrams = listener.close()
    assert process.returncode == 0 and "parked at home" in out, err
    home = rig.load_patch(path).home_frame()
    last = {struct.unpack_from("<H", packet, 14)[0]: packet[18:] for packet in datagrams}
    assert len(last) == 512
    assert all(last[u] == home[u].tobytes() for u in range(512))


@pytest.mark.parametrize("argv, closed, status", [
    (["list"], 1, 1),
    (["render", "bounce", "--beats", "1", "--bpm", "120", "--fps", "4"], 1, 1),
    (["stream"], 1, 0),
    (["dmx"], 1, 0),
    (["stream", "--clock", "osc"], 2, 0),
    (["dmx", "--clock", "osc"], 2, 0),
])
def test_a_closed_standard_file_is_a_lost_console(argv, closed, status, two_spots):
    listener = Listener()
    if argv[0] in ("stream", "dmx"):
        clock = ["--clock", f"osc:127.0.0.1:{free_port()}"] if "--clock" in argv else []
        argv = [*output(argv[0], listener, two_spots), "--bpm", 120, "--rate", 100,
                "--frames", 20, *clock]
    process = movimo_process(*argv, preexec_fn=lambda: os.close(closed))
    try:
        out, err = process.communicate(timeout=60)
    finally:
        process.kill()
        datagrams = listener.close()
    assert process.returncode == status, err
    if status:
        assert err == "movimo: error: standard output: closed when movimo started\n"
    else:
        assert "Traceback" not in (err or "") and len(datagrams) >= 20


def test_a_relocation_of_the_outside_clock_is_announced():
    """Beats 0 to 15 at 120 bpm, then the music loops back to beat 0."""
    source, lines = inputs.ClockInput("osc"), []
    for number in range(16):
        source.put(Beat(number), 0.5 * number)
    for number in range(8):
        source.put(Beat(number), 8.0 + 0.5 * number)
    fake = FakeTime()
    fake.now = 0.0
    sent = []
    run_stream(make_targets(["bounce"]), 120.0, lambda messages, due: sent.extend(messages),
               rate=8.0, frames=90, now=fake.clock, sleep=fake.sleep,
               make_clock=lambda start: follow.ExternalClock(source, 120.0, start,
                                                             report_state=lines.append))
    relocations = [arguments for address, arguments in sent if address == "/movimo/relocate"]
    assert len(relocations) == 1
    before, after = relocations[0]
    assert 15.5 < before < 16.5 and 0.0 <= after < 0.5
    assert [line for line in lines if "relocated" in line] == [
        f"clock osc: relocated from beat {before:.3f} to beat {after:.3f}"]

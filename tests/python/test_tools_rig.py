"""The rig: patch checking, frames (against a per-fixture reference built
from movimo.sample), speed limits, and the ArtDmx and E1.31 encoders."""

import copy
import math
import os
import pathlib
import re
import resource
import signal
import socket
import struct
import subprocess
import sys

import numpy as np
import pytest

import movimo
import movimo_tools
from movimo_tools import rig
from movimo_tools.commands.dmx import output_leads
from movimo_tools.show.stages import RigPlayer
from movimo_tools.cli import main
from movimo_tools.outputs import dmx
from movimo_tools.preview import _aim_points, rig_aims
from movimo_tools.spread import even_offsets, position_offsets, wing_offsets
from namespaces import in_network_namespace

SPOT = {"channels": ["pan", "pan_fine", "tilt", "tilt_fine", "dimmer", "shutter"],
        "pan_range": 540, "tilt_range": 270, "pan_speed": 1e9, "tilt_speed": 1e9,
        "values": {"dimmer": 255, "shutter": 200}, "amplitude": [60, 30]}
SCANNER = {"channels": ["tilt", "pan", "zoom"], "pan_range": 170, "tilt_range": 110,
           "pan_speed": 1e9, "tilt_speed": 1e9, "amplitude": [40, 20], "z": "zoom"}


def patch(**changes):
    """A small rig: four spots on universe 1 in two groups, two scanners on 3."""
    document = {
        "types": {"spot": copy.deepcopy(SPOT), "scanner": copy.deepcopy(SCANNER)},
        "fixtures": [
            {"name": "left", "type": "spot", "universe": 1, "address": 1, "position": [0, 0]},
            {"name": "right", "type": "spot", "universe": 1, "address": 7, "position": [4, 0],
             "invert": ["pan"]},
            {"name": "back", "type": "spot", "universe": 1, "address": 13, "count": 2,
             "position": [0, 3], "home": [100, 50]},
            {"name": "scan", "type": "scanner", "universe": 3, "address": 500, "count": 2,
             "swap": True},
        ],
        "groups": [
            {"name": "front", "fixtures": ["left", "right"], "spread": "position", "span": 0.5},
            {"name": "rear", "fixtures": ["back"], "spread": "wing"},
            {"name": "scanners", "fixtures": ["scan-1", "scan-2"], "pattern": "lfo_breathe"},
        ],
    }
    for path, value in changes.items():
        *parents, key = path.split(".")
        table = document
        for part in parents:
            table = table[int(part)] if part.isdigit() else table[part]
        if value is None:
            del table[key]
        else:
            table[key] = value
    return document


def test_a_patch_reads_into_slots_and_groups():
    loaded = rig.parse_patch(patch(), "rig.toml")
    assert loaded.names == ("left", "right", "back-1", "back-2", "scan-1", "scan-2")
    assert loaded.universes.tolist() == [1, 3]
    assert loaded.address.tolist() == [1, 7, 13, 19, 500, 503]
    # Flat slot = universe index * 512 + address - 1 + channel position.
    assert loaded.pan.coarse.tolist() == [0, 6, 12, 18, 512 + 500, 512 + 503]
    assert loaded.pan.fine.tolist() == [1, 7, 13, 19, -1, -1]
    assert loaded.tilt.coarse.tolist() == [2, 8, 14, 20, 512 + 499, 512 + 502]
    assert loaded.z_slot.tolist() == [-1, -1, -1, -1, 512 + 501, 512 + 504]
    assert loaded.pan.amplitude.tolist() == [60, -60, 60, 60, 40, 40]
    assert loaded.pan.source.tolist() == [0, 0, 0, 0, 1, 1]      # swapped scanners
    assert loaded.home_degrees()[2].tolist() == [100, 50]
    assert loaded.home_degrees()[0].tolist() == [270, 135]     # mid-range by default
    assert loaded.positions[3].tolist() == [1, 3]              # a count steps along x
    assert loaded.resting[0, [4, 5, 10, 11]].tolist() == [255, 200, 255, 200]
    assert [g.name for g in loaded.groups] == ["front", "rear", "scanners"]


@pytest.mark.parametrize("changes, where, message", [
    ({"fixtures.1.address": 5}, "fixture 'right': address",
     "channels 5-10 of universe 1 overlap fixture 'left' (1-6)"),
    ({"fixtures.3.address": 508}, "fixture 'scan': address", "run from 508 to 513, past 512"),
    ({"types.spot.pan_range": 0}, "fixture 'left': pan_range", "must be above 0"),
    ({"types.spot.tilt_speed": -10}, "fixture 'left': tilt_speed", "must be above 0"),
    ({"fixtures.0.tilt_range": math.inf}, "fixture 'left': tilt_range", "finite"),
    ({"groups.2.pattern": "helixx"}, "group 'scanners': pattern", "unknown pattern 'helixx'"),
    ({"fixtures.0.adress": 3}, "fixture 'left': adress", "unknown key (did you mean address?)"),
    ({"types.spot.chanels": []}, "type 'spot': chanels", "unknown key (did you mean channels?)"),
    ({"fixtures.0.type": "wash"}, "fixture 'left': type", "no type 'wash'"),
    ({"fixtures.0.home": [600, 0]}, "fixture 'left': home", "pan 600 is outside 0 to 540"),
    ({"types.spot.values": {"dimmer": 256}}, "fixture 'left': values.dimmer", "0 to 255"),
    ({"types.spot.values": {"pan": 3}}, "fixture 'left': values", "not one of its static"),
    ({"types.spot.channels": ["pan", "dimmer"]}, "fixture 'left': channels", "needs a tilt"),
    ({"types.spot.channels": ["pan", "pan_fine", "tilt", "tilt_fien", "dimmer", "shutter"]},
     "fixture 'left': channels", "'tilt_fien' drives nothing: did you mean tilt_fine?"),
    ({"fixtures.0.universe": 64000}, "fixture 'left': universe", "0 to 63999"),
    ({"fixtures.0.amplitude": [10, -1]}, "fixture 'left': amplitude", "not be negative"),
    ({"groups.1.fixtures": ["back", "left"]}, "group 'rear': fixtures", "one group only"),
    ({"groups.1.fixtures": ["nobody"]}, "group 'rear': fixtures", "no fixture named"),
    ({"groups.1.spread": "random"}, "group 'rear': spread", "must be one of"),
    ({"fixtures.1.name": "left"}, "fixture 'left': name", "'left' is taken"),
    ({"fixtures.0.name": "back-2"}, "fixture 'back': name", "'back-2' is taken"),
    # Values of the wrong shape are refused before they are hashed or compared.
    ({"fixtures.0.type": ["spot"]}, "fixture 'left': type", "no type ['spot']"),
    ({"fixtures.1.invert": [["pan"]]}, "fixture 'right': invert", "list of 'pan' and 'tilt'"),
    ({"groups.1.fixtures": [["back"]]}, "group 'rear': fixtures", "no fixture named ['back']"),
    # Numbers beyond their bounds, before anything converts or multiplies them.
    ({"types.spot.pan_range": 10**400}, "fixture 'left': pan_range", "0 to 3600, not 1000"),
    ({"fixtures.0.amplitude": [1.7e308, 0]}, "fixture 'left': amplitude", "not 1.7e+308"),
    ({"fixtures.0.amplitude": [541, 0]}, "fixture 'left': amplitude", "541 is more than its"),
    ({"types.spot.pan_speed": 5e-324}, "fixture 'left': pan_speed", "0.01 to 1e+09"),
    ({"fixtures.0.position": [1e308, 0]}, "fixture 'left': position", "-10000 to 10000"),
    # Names a console shows hold no control characters; other text is escaped.
    ({"fixtures.0.name": "le\nft"}, "fixture 1: name", r"'le\nft' holds control character"),
    ({"types.sp\x1bot": copy.deepcopy(SPOT)}, "top level: types", "U+001B; names are shown"),
    ({"fixtures.0.x\x1b]0;t\x07": 1}, r"fixture 'left': 'x\x1b]0;t\x07'", "unknown key"),
    ({"types.spot.values": {"dim\u2028": 1}}, "fixture 'left': values", r"'dim\u2028' is not"),
    ({"groups.2.pattern": "he\x9blix"}, "group 'scanners': pattern", r"pattern 'he\x9blix'"),
    # Outputs: every universe goes somewhere, each to a place its protocol can reach.
    ({"outputs": [{"protocol": "dmx"}]}, "output 1: protocol", "must be artnet or sacn"),
    ({"outputs": [{"protocol": "sacn", "latency": 5000}]}, "output 1: latency", "0 to 1000"),
    ({"outputs": [{"protocol": "sacn", "universes": [1]}]}, "top level: outputs",
     "no output carries universe 3: list it"),
    ({"outputs": [{"protocol": "sacn"}, {"protocol": "sacn", "port": 5569}]},
     "output 2: universes", "only one output may leave its universes out"),
    ({"outputs": [{"protocol": "sacn", "universes": [1, 2]}]}, "output 1: universes",
     "no fixture is on universe 2"),
    ({"outputs": [{"protocol": "artnet"}]}, "output 1: address", "needs the address of its node"),
    ({"outputs": [{"protocol": "sacn", "address": "239.255.0.1"}]}, "output 1: address",
     "leave it out for sACN multicast"),
    ({"outputs": [{"protocol": "artnet", "address": "2.255.255.255", "priority": 50}]},
     "output 1: priority", "for sACN outputs only"),
    ({"outputs": [{"protocol": "sacn", "interface": "eth0"}]}, "output 1: interface",
     "must be an IPv4 address of this machine"),
    ({"outputs": [{"protocol": "sacn", "sync": True, "sync_universe": 3}]},
     "output 1: sync_universe", "universe 3 carries fixtures"),
    ({"fixtures.0.universe": 0, "outputs": [{"protocol": "sacn"}]}, "output 1: universes",
     "sacn carries universes 1 to 63999"),
])
def test_mistakes_are_refused_in_one_line_naming_file_item_and_field(changes, where, message):
    with pytest.raises(rig.PatchError) as raised:
        rig.parse_patch(patch(**changes), "rig.toml")
    text = str(raised.value)
    assert text.startswith(f"rig.toml: {where}: ") and message in text and text.isprintable()


@pytest.mark.parametrize("content, message", [
    (b"[[fixtures]\n", "not valid TOML"),
    (b"a = " + b"[" * 3000 + b"]" * 3000, "cannot read: arrays or tables nested too deeply"),
    (b"a = " + b"9" * 5000, "cannot read: a number of thousands of digits"),
    (b"[types.spot]\n\n# \xff\n", "not UTF-8 text: byte 0xff on line 3"),
    (b"#" * (rig.MAX_PATCH_BYTES + 1), "cannot read: more than the 4 MiB a patch may hold"),
])
def test_a_file_that_cannot_be_read_is_one_line(tmp_path, content, message):
    path = tmp_path / "rig.toml"
    path.write_bytes(content)
    with pytest.raises(rig.PatchError) as raised:
        rig.load_patch(path)
    text = str(raised.value)
    assert text.startswith(f"{path}: {message}") and text.isprintable()


@pytest.mark.parametrize("changes", [
    # Every fixture moving next to nothing from 0: tiny speed ratios (1e-305)
    # and a tiny reach of the aims the preview draws (5e-324).
    *[{"types.spot.amplitude": [tiny] * 2, "types.scanner.amplitude": [tiny] * 2,
       "types.spot.home": [0, 0], "types.scanner.home": [0, 0], "fixtures.2.home": None}
      for tiny in (1e-305, 5e-324)],
    {"types.spot.pan_range": 3600, "types.spot.amplitude": [3600, 30],
     "types.spot.pan_speed": 0.01, "fixtures.0.position": [-10000, -10000],
     "fixtures.1.position": [10000, 10000], "groups.0.direction": [1000, 5e-324],
     "groups.0.span": 1023},
])
def test_a_patch_at_its_bounds_plays_without_overflow(changes):
    loaded = rig.parse_patch(patch(**changes), "rig.toml")
    with np.errstate(all="raise", under="ignore"):
        for bpm in (1.0, 1000.0):
            rig.speed_checks(loaded, ["helix", "bounce"], bpm)
        player = RigPlayer(loaded, ["helix"], rate=1.0)
        for pip in (0.5, 2.0**31):
            player.frame(pip)
        _aim_points(loaded, rig_aims(loaded, "helix", 120.0, frames=8)[0])


@pytest.mark.parametrize("level", [0, 1, 255, 256, 257, 32767, 32768, 65280, 65534, 65535])
def test_coarse_and_fine_bytes_are_exact_to_the_last_step(level):
    loaded = rig.parse_patch(patch(), "rig.toml")
    degrees = loaded.home_degrees()
    degrees[0] = [level * 540 / 65535, level * 270 / 65535]     # 16-bit spot
    degrees[4] = [min(level, 255) * 170 / 255, 0.0]             # 8-bit scanner
    frame = rig.dmx_frame(loaded, degrees, None)
    assert frame[0, 0:4].tolist() == [level >> 8, level & 0xFF] * 2
    assert frame[1, 500] == min(level, 255) and frame[1, 499] == 0


def reference_slots(loaded, pip, patterns):
    """One fixture at a time, from movimo.sample and the patch's own numbers."""
    frame = np.zeros((2, 512), dtype=np.uint8)
    frame[0, [4, 5, 10, 11, 16, 17, 22, 23]] = [255, 200] * 4
    spans = {"front": position_offsets([[0, 0], [4, 0]], 32),
             "rear": wing_offsets(2, movimo_tools.entry(patterns[1]).period_pips),
             "scanners": even_offsets(2, 256)}
    lags = np.concatenate(list(spans.values()))
    names = [patterns[0]] * 2 + [patterns[1]] * 2 + ["lfo_breathe"] * 2
    for i, (name, lag) in enumerate(zip(names, lags)):
        period = movimo_tools.entry(name).period_pips
        x, y, z = movimo.sample(name, (pip - int(lag)) % period).as_tuple()
        if i < 4:   # spots: x to pan, y to tilt, 16-bit
            pan_home, tilt_home = ((100, 50) if i >= 2 else (270, 135))
            pan = min(max(pan_home + (-60 if i == 1 else 60) * x, 0), 540)
            tilt = min(max(tilt_home + 30 * y, 0), 270)
            base = 6 * i
            for slot, degrees, span in ((base, pan, 540), (base + 2, tilt, 270)):
                level = round(degrees / span * 65535)
                frame[0, slot:slot + 2] = [level >> 8, level & 0xFF]
        else:       # scanners: swapped, 8-bit, z to zoom
            base = 499 + 3 * (i - 4)
            pan = min(max(85 + 40 * y, 0), 170)
            tilt = min(max(55 + 20 * x, 0), 110)
            frame[1, base:base + 3] = [round(tilt / 110 * 255), round(pan / 170 * 255),
                                       round((z + 1) * 127.5)]
    return frame


@pytest.mark.parametrize("patterns", [("helix", "circle"), ("beat_house_jack_orbit", "sway")])
@pytest.mark.parametrize("pip", [0, 17, 100, 1000, -77, 2**31 + 5])
def test_frames_equal_the_per_fixture_reference(patterns, pip):
    loaded = rig.parse_patch(patch(**{"groups.1.pattern": patterns[1]}), "rig.toml")
    player = RigPlayer(loaded, [patterns[0]], rate=44.0)
    frame, limited = player.frame(pip + 0.75)   # frames take the pip in progress
    assert not limited
    np.testing.assert_array_equal(frame, reference_slots(loaded, pip, patterns))


def test_an_output_with_latency_plays_its_fixtures_ahead():
    outputs = [{"protocol": "artnet", "address": "127.0.0.1", "universes": [1]},
               {"protocol": "artnet", "address": "127.0.0.1", "universes": [3],
                "latency": 250}]
    loaded = rig.parse_patch(patch(**{"groups.1.pattern": "circle", "outputs": outputs}),
                             "rig.toml")
    late = RigPlayer(loaded, ["helix"], rate=44.0, leads=output_leads(loaded, loaded.outputs))
    frame, _ = late.frame(100.75, bpm=120.0)   # 250 ms at 120 bpm is 32 pips ahead
    np.testing.assert_array_equal(frame[0], reference_slots(loaded, 100, ("helix", "circle"))[0])
    np.testing.assert_array_equal(frame[1], reference_slots(loaded, 132, ("helix", "circle"))[1])


def test_steps_never_exceed_the_patch_speed_through_tempo_and_pattern_changes():
    slow = patch(**{"types.spot.pan_speed": 90, "types.spot.tilt_speed": 45})
    loaded = rig.parse_patch(slow, "rig.toml")
    player = RigPlayer(loaded, ["helix", "bounce"], rate=40.0)
    previous, limited = loaded.home_degrees(), []
    pip = 0.0
    for frame in range(400):
        if frame == 200:
            player.next_pattern()
        pip += 3.0 if frame < 100 else 9.0          # a tempo change at frame 100
        _, held = player.frame(pip)
        step = np.abs(player.degrees - previous)
        assert (step[:4, 0] <= 90 / 40 + 1e-9).all() and (step[:4, 1] <= 45 / 40 + 1e-9).all()
        previous = player.degrees
        limited.append(held)
    assert any(limited) and player.limited_frames == sum(map(bool, limited))


def test_speed_checks_name_the_fixtures_and_the_fastest_safe_tempo():
    # bounce moves x by 2 units in 16 pips: 8 units/s at 120 bpm, 480 deg/s at 60 deg.
    limits = patch(**{"types.spot.pan_speed": 240, "fixtures.1.pan_speed": 1000,
                      "groups": []})
    loaded = rig.parse_patch(limits, "rig.toml")
    bounce, breathe = rig.speed_checks(loaded, ["bounce", "lfo_breathe"], 120.0)
    assert bounce.pattern == "bounce" and bounce.fastest_bpm == pytest.approx(60.0)
    assert [loaded.names[i] for i in bounce.too_fast] == ["left", "back-1", "back-2"]
    assert "too fast at 120 bpm for 3 of 6 fixtures (left, back-1, back-2)" in bounce.line(
        loaded.names)
    assert not len(breathe.too_fast) and breathe.fastest_bpm > 120


def test_artdmx_layout_byte_for_byte():
    slots = bytes(range(256)) * 2
    packet = dmx.artdmx_packet(0x7ABC & 0x7FFF, 200, slots)
    assert packet[:8] == b"Art-Net\x00"
    assert packet[8:10] == b"\x00\x50"             # OpDmx, low byte first
    assert packet[10:12] == b"\x00\x0e"            # protocol 14, high byte first
    assert packet[12] == 200 and packet[13] == 0   # sequence, physical
    assert packet[14:16] == b"\xbc\x7a"            # SubUni, then Net
    assert packet[16:18] == b"\x02\x00"            # 512 slots, high byte first
    assert packet[18:] == slots and len(packet) == 530


def test_e131_layout_field_by_field():
    cid = bytes(range(16))
    packet = dmx.e131_packet(0x1234, 99, bytes([7]) * 512, cid, "movimo rig", priority=150)
    fields = struct.unpack_from(">HH12sHI16sHI64sBHBBHHBBHHHB", packet)
    assert fields == (0x0010, 0, b"ASC-E1.17\x00\x00\x00", 0x7000 | 622, 4, cid,
                      0x7000 | 600, 2, b"movimo rig".ljust(64, b"\x00"), 150, 0, 99, 0, 0x1234,
                      0x7000 | 523, 2, 0xA1, 0, 1, 513, 0)
    assert packet[126:] == bytes([7]) * 512


@pytest.mark.parametrize("protocol, sequences", [
    ("artnet", [1, 2, 255, 1, 2]),     # 0 would mean 'no sequence'
    ("sacn", [1, 2, 255, 0, 1]),
])
def test_sequences_wrap_as_each_protocol_expects(protocol, sequences):
    sender = dmx.DmxSender(protocol, "127.0.0.1", 9, [1, 2])
    offset = 12 if protocol == "artnet" else 111
    seen = []
    for frame in range(258):
        packets = sender.packets(np.zeros((2, 512), dtype=np.uint8))
        assert packets[0][offset] == packets[1][offset]
        seen.append(packets[0][offset])
    sender.close()
    assert seen[:2] + seen[254:257] == sequences


def test_a_sender_delivers_one_packet_per_universe_to_its_address():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as receiver:
        receiver.bind(("127.0.0.1", 0))
        receiver.settimeout(2.0)
        sender = dmx.DmxSender("sacn", "127.0.0.1", receiver.getsockname()[1], [5, 9])
        frame = np.arange(1024).reshape(2, 512).astype(np.uint8)
        assert sender.send(frame) == 2
        sender.close()
        received = [receiver.recv(1024) for _ in range(2)]
    assert [struct.unpack_from(">H", p, 113)[0] for p in received] == [5, 9]
    assert [p[126:] for p in received] == [frame[0].tobytes(), frame[1].tobytes()]


@pytest.mark.parametrize("protocol, host, message", [
    ("artnet", "239.255.0.1", "not a unicast address or a broadcast address"),
    ("sacn", "255.255.255.255", "not a unicast address"),
    ("sacn", "239.255.0.1", "a multicast address: give no address"),
    ("artnet", "no-such-host.invalid", "cannot resolve"),
])
def test_an_address_nothing_can_be_sent_to_is_refused(protocol, host, message):
    with pytest.raises(ValueError, match=message):
        dmx.DmxSender(protocol, host, 6454, [1])


# ---------------------------------------------------------------- movimo dmx
TWO_SPOTS = """\
[types.spot]
channels = ["pan", "pan_fine", "tilt", "tilt_fine", "dimmer"]
pan_range = 540
tilt_range = 270
pan_speed = 300
tilt_speed = 200
values = { dimmer = 255 }
amplitude = [60, 30]
home = [180, 90]

[[fixtures]]
name = "left"
type = "spot"
universe = 1
address = 1

[[fixtures]]
name = "right"
type = "spot"
universe = 1
address = 6
"""


@pytest.fixture
def two_spots(tmp_path):
    path = tmp_path / "rig.toml"
    path.write_text(TWO_SPOTS)
    return path


def test_dry_run_shows_the_motion_once_the_heads_follow_it(capsys, two_spots):
    assert main(["dmx", "helix", "--patch", str(two_spots), "--bpm", "60", "--dry-run",
                 "--frames", "3"]) == 0
    out = capsys.readouterr().out.splitlines()
    assert out[0].startswith("helix: within every fixture's speed at 60 bpm")
    assert out[1] == ("universe 1: Art-Net port-address 1 (net 0, sub-net 0, universe 1); "
                      "sACN universe 1")
    assert re.fullmatch(r"the first \d+ frames \(0\.\d\d s\) glide from home; then the first "
                        r"frame of each beat:", out[2])
    beats = [float(line.split("beat ")[1].split(",")[0]) for line in out if line.startswith("frame")]
    assert [math.floor(beat) for beat in beats] == [1, 2, 3] and all(b % 1 < 0.05 for b in beats)
    assert len(out) == 3 + 3 * 3 + 1 and out[-1] == "dry run: nothing sent"
    assert "held" not in "".join(out[3:])


TWO_NODES = """
[[outputs]]
protocol = "artnet"
universes = [1]
address = "2.255.255.255"
sync = true

[[outputs]]
protocol = "sacn"
interface = "10.0.0.5"
priority = 150
"""


@pytest.mark.parametrize("options, said", [
    ([], ["output 1: artnet universe 1 to 2.255.255.255:6454, sync by ArtSync",
          "output 2: sacn universe 2 to multicast 239.255.0.2:5568 (ttl 1) from 10.0.0.5, "
          "priority 150",
          "discovery: answers ArtPoll on UDP port 6454; announces its sACN universes every "
          "10 s to 239.255.250.214"]),
    # The option wins over the patch's outputs, and says so.
    (["--sacn", "--sync"], ["--sacn replaces the 2 [[outputs]] of {patch}: every universe goes "
                            "to one place",
                            "output 1: sacn universes 1-2 to multicast 239.255.0.1…239.255.0.2:"
                            "5568 (ttl 1), priority 100, sync on universe 63999",
                            "discovery: announces its sACN universes every 10 s to "
                            "239.255.250.214"]),
    (["--artnet", "10.0.0.9:7000"], ["--artnet replaces the 2 [[outputs]] of {patch}: every "
                                     "universe goes to one place",
                                     "output 1: artnet universes 1-2 to 10.0.0.9:7000",
                                     "discovery: answers ArtPoll on UDP port 6454"]),
])
def test_a_dry_run_says_where_every_universe_goes(capsys, tmp_path, options, said):
    path = tmp_path / "rig.toml"
    path.write_text(TWO_SPOTS.replace("universe = 1\naddress = 6", "universe = 2\naddress = 6")
                    + TWO_NODES)
    assert main(["dmx", "helix", "--patch", str(path), "--bpm", "60", "--dry-run",
                 "--frames", "1", *options]) == 0
    out = capsys.readouterr().out.splitlines()
    assert out[:len(said)] == [line.format(patch=path) for line in said]


@pytest.mark.parametrize("argv, message", [
    (["nope", "--dry-run"], "unknown pattern 'nope'"),
    (["helix", "--artnet", "239.1.2.3"], "not a unicast address"),
    (["helix", "--sacn", "127.0.0.1:99999"], "HOST or HOST:PORT"),
    (["helix", "--sacn", "127.0.0.1", "--priority", "201"], "priority is 0 to 200"),
    (["helix", "--dry-run", "--bpm", "2000"], "1 to 1000 bpm"),
    (["helix", "--dry-run", "--rate", "5000"], "frame rate"),
    (["helix", "--dry-run", "--clock", "midi:no such port"], "cannot open MIDI input"),
    (["helix"], "say where the universes go: --artnet HOST, --sacn [HOST], or [[outputs]]"),
])
def test_bad_arguments_fail_in_one_line(capsys, two_spots, argv, message):
    bpm = [] if "--bpm" in argv else ["--bpm", "120"]
    assert main(["dmx", *argv, *bpm, "--patch", str(two_spots), "--frames", "1"]) == 1
    err = capsys.readouterr().err
    assert message in err and err.count("\n") == 1


def test_a_patch_saved_with_a_byte_order_mark_reads(tmp_path):
    path = tmp_path / "rig.toml"
    path.write_text(TWO_SPOTS, encoding="utf-8-sig")
    assert rig.load_patch(path).names == ("left", "right")


def test_a_broken_patch_fails_in_one_line_naming_it(capsys, tmp_path):
    path = tmp_path / "rig.toml"
    path.write_text(TWO_SPOTS.replace("address = 6", "address = 5"))
    assert main(["dmx", "helix", "--patch", str(path), "--bpm", "120", "--dry-run"]) == 1
    err = capsys.readouterr().err
    assert err == (f"movimo: error: {path}: fixture 'right': address: channels 5-9 of "
                   f"universe 1 overlap fixture 'left' (1-5)\n")


def installed_env():
    """The environment in which `python -m movimo_tools` runs the installed package."""
    package_root = str(pathlib.Path(movimo_tools.__file__).parents[1])
    return dict(os.environ, PYTHONPATH=os.pathsep.join(
        filter(None, [package_root, os.environ.get("PYTHONPATH")])))


def limit_memory():
    resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))


@pytest.mark.parametrize("kind, message", [
    ("/dev/zero", "cannot read: not a regular file"),
    ("fifo", "cannot read: not a regular file"),
    ("name", r"fixture 2: name: 'ri\x1b[2Jght' holds control character U+001B"),
])
def test_a_patch_that_is_no_file_or_unsafe_to_show_fails_in_one_line(tmp_path, kind, message):
    path = tmp_path / "rig.toml"
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "name":
        path.write_text(TWO_SPOTS.replace('"right"', '"ri\\u001b[2Jght"'))
    else:
        path = pathlib.Path(kind)
    # A reader that waits on the FIFO or reads /dev/zero whole is stopped
    # by the time limit, or by the memory limit first.
    done = subprocess.run([sys.executable, "-m", "movimo_tools", "dmx", "helix", "--patch",
                           str(path), "--bpm", "120", "--dry-run"], capture_output=True,
                          text=True, env=installed_env(), preexec_fn=limit_memory, timeout=60,
                          check=False)
    assert done.returncode == 1 and done.stdout == ""
    assert done.stderr.startswith(f"movimo: error: {path}: {message}")
    assert done.stderr.endswith("\n") and done.stderr[:-1].isprintable()


def run_command(two_spots, port, *extra, stdin=subprocess.PIPE):
    """`movimo dmx` as a process, sending ArtDmx to a port on 127.0.0.1."""
    return subprocess.Popen([sys.executable, "-m", "movimo_tools", "dmx", "helix", "--patch",
                             str(two_spots), "--bpm", "120", "--artnet", f"127.0.0.1:{port}",
                             *extra], stdin=stdin, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=installed_env())


def packets_until_quiet(receiver):
    packets = []
    try:
        while True:
            packets.append(receiver.recv(1024))
    except TimeoutError:
        return packets


@pytest.mark.parametrize("stop", ["quit", signal.SIGTERM, signal.SIGINT])
def test_stopping_parks_every_fixture_at_home_and_exits_0(two_spots, stop):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as receiver:
        receiver.bind(("127.0.0.1", 0))
        receiver.settimeout(10.0)
        process = run_command(two_spots, receiver.getsockname()[1])
        try:
            packets = [receiver.recv(1024) for _ in range(5)]
            if stop == "quit":
                process.stdin.write("quit\n")
                process.stdin.flush()
            else:
                process.send_signal(stop)
            out, err = process.communicate(timeout=10)
            receiver.settimeout(0.5)
            packets += packets_until_quiet(receiver)
        finally:
            process.kill()
    assert process.returncode == 0, err
    assert "parked at home" in out
    home = rig.load_patch(two_spots).home_frame()[0]
    assert packets[-1][18:] == home.tobytes()
    assert all(p[18:] != home.tobytes() for p in packets[:5])
    assert [p[12] for p in packets] == list(range(1, len(packets) + 1))


def test_losing_the_terminal_does_not_stop_the_show(two_spots):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as receiver:
        receiver.bind(("127.0.0.1", 0))
        receiver.settimeout(10.0)
        process = run_command(two_spots, receiver.getsockname()[1], "--rate", "100",
                              "--frames", "150", stdin=subprocess.DEVNULL)
        try:
            process.stdout.readline()
            process.stdout.close()  # the reader goes away
            packets = [receiver.recv(1024) for _ in range(20)]
            process.send_signal(signal.SIGHUP)  # and the terminal hangs up
            _, err = process.communicate(timeout=20)
            receiver.settimeout(0.5)
            packets += packets_until_quiet(receiver)
        finally:
            process.kill()
    assert process.returncode == 0 and err == ""
    # 150 frames, then the glide home and three home frames.
    assert [p[12] for p in packets] == [n % 255 + 1 for n in range(len(packets))]
    assert len(packets) >= 153


def test_a_route_that_goes_away_costs_only_its_packets(two_spots):
    # The route to the node is pulled after 20 packets and plugged back half
    # a second later, while `movimo dmx` sends 100 frames at 50 a second.
    printed = in_network_namespace("""
        import socket, subprocess, sys, threading, time

        def ip(command):
            subprocess.run(["ip", *command.split()], check=True)

        for command in ("addr add 10.78.0.1/24 dev v0", "link set v1 up", "link set v0 up",
                        "link set lo up"):
            ip(command)
        receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        receiver.bind(("", 6454))
        received = []
        threading.Thread(target=lambda: [received.append(receiver.recv(1024))
                                         for _ in iter(int, 1)], daemon=True).start()
        process = subprocess.Popen(
            [sys.executable, "-m", "movimo_tools", "dmx", "helix", "--patch", "%s",
             "--bpm", "120", "--artnet", "10.78.0.1", "--rate", "50", "--frames", "100"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        while len(received) < 20:
            time.sleep(0.01)
        ip("addr del 10.78.0.1/24 dev v0")
        time.sleep(0.5)
        ip("addr add 10.78.0.1/24 dev v0")
        out, err = process.communicate(timeout=20)
        time.sleep(0.2)
        print(process.returncode, len(received))
        print(out.splitlines()[-1])
        print(err, end="")
    """ % two_spots)
    counts, last, *warned = printed.splitlines()
    status, received = map(int, counts.split())
    parked = int(last.rsplit("(", 1)[1].split()[0])   # "parked at home (N packets)"
    failed = 100 + parked - received  # 100 frames and the parking, one universe each
    assert status == 0 and failed >= 2 and parked >= 3
    assert f"sent 100 frames, 100 packets ({failed} failed); 0 frames skipped;" in last
    assert warned == ["cannot send to 10.78.0.1:6454: Network is unreachable; the stream runs on",
                      f"sending to 10.78.0.1:6454 again after {failed} failed sends"]

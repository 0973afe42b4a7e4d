"""Control surfaces: OSC messages from a real UDP client become the show's
commands and land where they should, hostile datagrams are counted and
ignored, subscribers hear the changes; MIDI message streams become commands,
a MIDI map's mistakes are one line each, and pad lights follow the state."""

import contextlib
import math
import socket
import struct
import time
import tomllib

import mido
import pytest
from pythonosc.osc_message_builder import OscMessageBuilder, build_msg

import movimo
import movimo_tools
from movimo_tools.clocks.tempo import TempoClock
from movimo_tools.commands.stream import stream_show
from movimo_tools.outputs.osc import OscOutput, make_targets
from movimo_tools.show.commands import SetPattern, SetPhase, SetSize, SetSpeed, SetTempo, Tap
from movimo_tools.surfaces.controls import open_control
from movimo_tools.surfaces.midi_control import (MidiCommands, load_midi_map, pad_lights,
                                                parse_midi_map)
from movimo_tools.surfaces.osc_control import MESSAGE_BURST, OscCommands, OscControl
from test_tools_follow import alsa_sequencer
from test_tools_stream import Receiver

RATE = 50.0
START = 0.003  # frames never fall on a bar line exactly


class Played:
    """A stream's show with an OSC control on loopback, a client that sends
    to it, and frames run on a tempo clock."""

    def __init__(self, tmp_path):
        self.said, self.frames = [], []
        self.show, _ = stream_show(make_targets(["helix", "bounce"]),
                                   [OscOutput(lambda messages, due: self.frames.append(messages))],
                                   prefix="/movimo", interpolation="step",
                                   show_file=str(tmp_path / "show.json"),
                                   report_line=self.said.append)
        self.control = OscControl(self.show, "127.0.0.1", 0)
        self.client = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.clock = TempoClock(120.0, start=START)
        self.frame = 0

    def send(self, *messages):
        """Sends each datagram or (address, arguments) message and waits until
        the control has them."""
        arrived = self.control.datagrams + len(messages)
        for message in messages:
            datagram = message if isinstance(message, bytes) else build_msg(*message).dgram
            self.client.sendto(datagram, self.control.address)
        deadline = time.monotonic() + 5
        while self.control.datagrams < arrived and time.monotonic() < deadline:
            time.sleep(0.005)

    def run(self, beats):
        for _ in range(round(beats * 60 / self.clock.bpm * RATE)):
            due, last = self.frame / RATE, (self.frame - 1) / RATE
            self.show.before_frame(self.clock, last, due)
            self.show.send_frame(self.frame, self.clock.pip_at(due), self.clock.bpm, due)
            self.frame += 1

    def close(self):
        self.control.close()
        self.client.close()


@pytest.fixture
def played(tmp_path):
    surface = Played(tmp_path)
    yield surface
    surface.close()


def field(state, path):
    for key in path.split("."):
        state = state[int(key) if key.isdigit() else key]
    return state


GROUP = "/movimo/group/helix"
ADDRESSES = {
    "pattern now": ([(f"{GROUP}/pattern", ["bounce", "now"])], "groups.0.look.pattern", "bounce"),
    "pattern at the bar with a fade": ([(f"{GROUP}/pattern", ["bounce", "bar", 2])],
                                       "groups.0.look.pattern", "bounce"),
    "size from an int": ([(f"{GROUP}/size", [150])], "groups.0.look.percent", 150.0),
    "speed": ([(f"{GROUP}/speed", [0.25])], "groups.0.look.speed", 0.25),
    "phase": ([(f"{GROUP}/phase", [0.5, "now", 0])], "groups.0.look.phase", 0.5),
    "centre": ([(f"{GROUP}/centre", [0.25, -0.5])], "groups.0.look.centre", [0.25, -0.5]),
    "spread": ([(f"{GROUP}/spread", ["wing"])], "groups.0.look.spread", "wing"),
    "tempo": ([("/movimo/tempo", [90])], "tempo.bpm", 90.0),
    "a press and a release halve once": ([("/movimo/halve", [1.0]), ("/movimo/halve", [0.0])],
                                         "tempo.bpm", 60.0),
    "stop": ([("/movimo/stop", [True])], "stopped", True),
    "resume": ([("/movimo/stop", []), ("/movimo/resume", [])], "stopped", False),
    "store, then recall by number": (
        [("/movimo/store", ["verse"]), (f"{GROUP}/pattern", ["bounce", "now"]),
         ("/movimo/cue/1", [1])], "groups.0.look.pattern", "helix"),
    "recall by name": ([("/movimo/store", ["verse"]), (f"{GROUP}/pattern", ["bounce", "now"]),
                        ("/movimo/cue", ["verse", "now"])], "groups.0.look.pattern", "helix"),
    "tap": ([("/movimo/tap", [1])], "said", "tap: tap again on each beat to set the tempo"),
    "nudge": ([("/movimo/nudge", [0.25])], "said", "nudged ahead by 0.25 beat"),
    "next": ([("/movimo/next", [])], "said", "playing bounce"),
}


@pytest.mark.parametrize("messages, path, expected", ADDRESSES.values(), ids=ADDRESSES)
def test_each_address_becomes_its_command(played, messages, path, expected):
    played.send(*messages)
    played.run(beats=8)
    if path == "said":
        assert expected in played.said
    else:
        assert field(played.show.state(), path) == expected
    assert (played.control.ignored, played.show.state()["ignored"]) == (0, 0)


def test_a_change_at_the_bar_is_the_new_pattern_from_the_first_frame_on_the_bar(played):
    played.run(beats=0.5)
    played.send((f"{GROUP}/pattern", ["bounce", "bar", 0]))
    played.run(beats=5)
    pips = [played.clock.pip_at(frame / RATE) for frame in range(len(played.frames))]
    first = next(frame for frame, pip in enumerate(pips) if pip >= 4 * movimo.PIPS_PER_BEAT)
    for frame, name in ((first - 1, "helix"), (first, "bounce"), (first + 1, "bounce")):
        pip = math.floor(pips[frame]) % movimo_tools.entry(name).period_pips
        assert dict(played.frames[frame])["/movimo/helix"] == movimo.sample(name, pip).as_tuple()


def double(address, value):
    builder = OscMessageBuilder(address)
    builder.add_arg(value, OscMessageBuilder.ARG_TYPE_DOUBLE)
    return builder.build().dgram


HOSTILE = {
    "not OSC": b"\x00\x01garbage",
    "cut short": build_msg(f"{GROUP}/size", [150.0]).dgram[:-2],
    "a bundle element of -4 bytes": b"#bundle\x00" + bytes(8) + struct.pack(">i", -4),
    "unknown address": build_msg("/movimo/quit", []).dgram,
    "a word for a number": build_msg(f"{GROUP}/size", ["big"]).dgram,
    "NaN": double(f"{GROUP}/size", math.nan),
    "too many arguments": build_msg(f"{GROUP}/size", [1.0, 2.0]).dgram,
    "no such group": build_msg("/movimo/group/nobody/size", [50.0]).dgram,
    "cue 0": build_msg("/movimo/cue/0", []).dgram,
    "a cue of 5000 digits": build_msg("/movimo/cue/" + "1" * 5000, []).dgram,
    "a button with a word": build_msg("/movimo/tap", ["yes"]).dgram,
    "subscribe on port 0": build_msg("/movimo/subscribe", [0]).dgram,
}


@pytest.mark.parametrize("datagram", HOSTILE.values(), ids=HOSTILE)
def test_a_hostile_datagram_is_counted_and_ignored(played, datagram):
    played.send(datagram, (f"{GROUP}/size", [50]))
    played.run(beats=1)
    assert played.control.ignored == 1 and played.control.subscribers == ()
    look = played.show.state()["groups"][0]["look"]
    assert (look["pattern"], look["percent"]) == ("helix", 50.0)


def test_a_flood_from_one_host_gets_its_share_and_other_hosts_still_get_in():
    show, _ = stream_show(make_targets(["helix"]), [], prefix="/movimo", interpolation="step")
    now = [0.0]
    commands = OscCommands(show, now=lambda: now[0])
    size = build_msg(f"{GROUP}/size", [50.0]).dgram
    for _ in range(1000):
        commands.receive_datagram(size, ("10.0.0.1", 9000))
    commands.receive_datagram(size, ("10.0.0.2", 9000))
    assert (commands.taken, commands.ignored) == (MESSAGE_BURST + 1, 1000 - MESSAGE_BURST)
    now[0] = 0.5
    commands.receive_datagram(size, ("10.0.0.1", 9000))
    assert commands.taken == MESSAGE_BURST + 2


def test_a_subscriber_hears_everything_once_then_each_change_until_it_leaves(played):
    receiver = Receiver()
    try:
        played.send(("/movimo/subscribe", [receiver.port]))
        played.run(beats=1)
        first = {address: args for _, address, args in receiver.wait_for(14)}
        played.send((f"{GROUP}/size", [120]), ("/movimo/group/bounce/speed", [2]))
        played.run(beats=8)
        played.send(("/movimo/unsubscribe", [receiver.port]), (f"{GROUP}/size", [80]))
        played.run(beats=1)
        time.sleep(0.2)
    finally:
        receiver.close()
    assert first[f"{GROUP}/pattern"] == ("helix",) and first["/movimo/tempo"] == (120.0,)
    assert first[f"{GROUP}/centre"] == (0.0, 0.0) and "/movimo/beat" in first
    changes = [(address, args) for _, address, args in receiver.messages[len(first):]
               if address != "/movimo/beat"]
    assert changes == [(f"{GROUP}/size", (120.0,)), ("/movimo/group/bounce/speed", (2.0,))]


MAP = """\
pads = [{note = 36, group = "front", pattern = "helix", fade = 2, channel = 1},
        {note = 37, command = "tap"},
        {note = 38, cue = "chorus"},
        {note = 38, group = "back", pattern = "bounce"},
        {note = 39, command = "stop"},
        {note = 40, group = "front", pattern = "bounce"}]
faders = [{cc = 1, group = "front", control = "size"},
          {cc = 2, group = "back", control = "speed"},
          {cc = 3, group = "front", control = "phase", when = "now"},
          {cc = 4, control = "tempo"}]
lights = {output = "pads", on = 5, pending = 9}
"""


class Recorder:
    def __init__(self):
        self.commands = []

    def submit(self, command):
        self.commands.append(command)


def note(number, velocity=100, channel=0):
    return mido.Message("note_on", note=number, velocity=velocity, channel=channel)


def cc(number, value):
    return mido.Message("control_change", control=number, value=value)


STREAMS = {
    "a pad on its channel": ([note(36)], [SetPattern("front", "helix", "bar", 2.0)]),
    "a pad on another channel": ([note(36, channel=5)], []),
    "releases": ([note(36, velocity=0), mido.Message("note_off", note=36)], []),
    "a command pad": ([note(37), note(37)], [Tap(), Tap()]),
    "size 0, 64, 127": ([cc(1, 0), cc(1, 32), cc(1, 64), cc(1, 127)],
                        [SetSize("front", v) for v in (0.0, 50.0, 100.0, 200.0)]),
    "speed bands": ([cc(2, v) for v in (0, 25, 26, 64, 102, 103, 127)],
                    [SetSpeed("back", s) for s in (0.25, 0.25, 0.5, 1.0, 2.0, 4.0, 4.0)]),
    "phase": ([cc(3, 0), cc(3, 64), cc(3, 127)],
              [SetPhase("front", b, "now") for b in (-1.0, 0.0, 1.0)]),
    "tempo": ([cc(4, 0), cc(4, 68), cc(4, 127)], [SetTempo(b) for b in (60.0, 128.0, 187.0)]),
    "raw bytes": ([b"\x90\x24\x40", b"\xb4\x04\x00"], [SetPattern("front", "helix", "bar", 2.0),
                                                       SetTempo(60.0)]),
    "clock, sensing, an unmapped note": ([b"\xf8", b"\xfe", note(99), cc(99, 1)], []),
}
NO_MIDI = [b"", b"\x90", b"\x90\x24", b"\xf4", b"\x24\x40", b"\x90\xff\x40", b"\xf0\x01"]


@pytest.mark.parametrize("stream, expected", [*STREAMS.values(), (NO_MIDI, [])],
                         ids=[*STREAMS, "bytes that are no MIDI message"])
def test_midi_messages_become_commands_and_the_rest_is_counted(stream, expected):
    show = Recorder()
    commands = MidiCommands(show, parse_midi_map(tomllib.loads(MAP), "map", ["front", "back"]))
    for message in stream:
        commands.receive(message)
    assert show.commands == expected
    assert commands.ignored == (len(NO_MIDI) if stream is NO_MIDI else 0)


MAP_MISTAKES = {
    "an unknown key": ('[[pads]]\nnote = 1\ncommand = "tap"\nchanel = 2\n',
                       "pad 1: chanel: unknown key (did you mean channel?)"),
    "a missing note": ('[[pads]]\ncommand = "tap"\n', "pad 1: note: missing"),
    "note 128": ('[[pads]]\nnote = 128\ncommand = "tap"\n', "pad 1: note: must be a whole"),
    "an unknown group": ('[[pads]]\nnote = 1\ngroup = "rear"\npattern = "helix"\n',
                         "pad 1: group: no group 'rear': the groups are front"),
    "an unknown pattern": ('[[pads]]\nnote = 1\ngroup = "front"\npattern = "helx"\n',
                           "pad 1: pattern: unknown pattern 'helx'"),
    "two actions": ('[[pads]]\nnote = 1\ncue = "a"\ncommand = "tap"\n',
                    "pad 1: cue/command: give only one of pattern, cue and command"),
    "quit from a pad": ('[[pads]]\nnote = 1\ncommand = "quit"\n',
                        "pad 1: command: must be one of tap, stop, resume, next, halve, double"),
    "a group on a cue pad": ('[[pads]]\nnote = 1\ncue = "a"\ngroup = "front"\n',
                             "pad 1: group: not used by a cue pad"),
    "a size fader with a WHEN": ('[[faders]]\ncc = 1\ncontrol = "size"\ngroup = "front"\n'
                                 'when = "bar"\n', "fader 1: when: not used by a size fader"),
    "lights without an output": ("[lights]\non = 5\n", "lights: output: must name the MIDI"),
    "pads as a table": ("[pads]\nnote = 1\n", "top level: pads: must be tables: [[pads]]"),
    "not TOML": ("[[pads]\n", "not valid TOML"),
    "too big": ("#" * (64 << 10) + "\n", "more than the 64 KiB a MIDI map may hold"),
}


@pytest.mark.parametrize("text, message", MAP_MISTAKES.values(), ids=MAP_MISTAKES)
def test_a_map_mistake_is_one_line_naming_file_entry_and_field(tmp_path, text, message):
    path = tmp_path / "map.toml"
    path.write_text(text)
    with pytest.raises(ValueError) as error:
        load_midi_map(path, ["front"])
    assert str(error.value).startswith(f"{path}: ") and message in str(error.value)
    assert "\n" not in str(error.value)


def test_pad_lights_follow_what_plays_and_what_waits():
    midi_map = parse_midi_map(tomllib.loads(MAP), "map", ["front", "back"])
    look = {"pattern": "helix", "speed": 1.0, "phase": 0.0, "spread": "none", "percent": 100.0,
            "centre": [0.0, 0.0]}
    bounce = {**look, "pattern": "bounce"}
    state = {"stopped": False, "groups": [{"name": "front", "look": look, "next": bounce},
                                          {"name": "back", "look": look, "next": None}]}
    cues = [("chorus", {"front": look, "back": {**look, "percent": 50.0}})]
    lit = {(0, 36): 5, (0, 37): 0, (0, 38): 5, (0, 39): 0, (0, 40): 9}
    assert pad_lights(midi_map, state, cues) == lit
    # Front plays bounce and heads back to helix, the cue's; the motion stops.
    state["groups"][0].update(look=bounce, next=look)
    state["stopped"] = True
    assert pad_lights(midi_map, state, cues) == {(0, 36): 9, (0, 37): 0, (0, 38): 9, (0, 39): 5,
                                                 (0, 40): 5}


def test_a_control_that_cannot_be_opened_is_one_line(tmp_path):
    show, _ = stream_show(make_targets(["helix"]), [], prefix="/movimo", interpolation="step")
    path = tmp_path / "map.toml"
    path.write_text('[[pads]]\nnote = 36\ncommand = "tap"\n')
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
        taken.bind(("127.0.0.1", 0))
        port = taken.getsockname()[1]
        cases = {f"osc:127.0.0.1:{port}": f"cannot listen for OSC control on 127.0.0.1:{port}: "
                                          f"Address already in use",
                 "osc:nowhere": "the OSC control's listening address must be HOST:PORT",
                 "serial:/dev/ttyS0": "a control must be osc:HOST:PORT or midi:PORT",
                 "midi:pads": "--control midi:pads needs a MIDI map: give --midi-map FILE"}
        for control, message in cases.items():
            with pytest.raises(ValueError, match=f"^{message}"):
                open_control(control, show, None)
    with pytest.raises(ValueError, match="^cannot open MIDI input 'no such port': [^\n]*$"):
        open_control("midi:no such port", show, str(path))


@contextlib.contextmanager
def controller():
    """How to press the controller's pads, and the lights it was sent so far,
    through virtual ALSA ports."""
    backend = mido.Backend("mido.backends.rtmidi")
    with backend.open_output("movimo controller", virtual=True) as pads, \
            backend.open_input("movimo lights", virtual=True) as lights:
        yield pads.send, lambda: list(lights.iter_pending())


@pytest.mark.skipif(not alsa_sequencer(),
                    reason="no ALSA sequencer (/dev/snd/seq) on this machine: MIDI ports "
                           "cannot be opened here")
def test_a_midi_controller_plays_the_show_and_its_pads_light(tmp_path):
    show, _ = stream_show(make_targets(["helix", "bounce"]), [], prefix="/movimo",
                          interpolation="step")
    path = tmp_path / "map.toml"
    path.write_text('[[pads]]\nnote = 36\ngroup = "helix"\npattern = "bounce"\nwhen = "now"\n'
                    '[lights]\noutput = "movimo lights"\non = 5\npending = 9\n')
    with controller() as (press, lit):
        control = open_control("midi:movimo controller", show, str(path))
        try:
            time.sleep(0.1)  # the lights as the show starts
            press(note(36))
            deadline = time.monotonic() + 5
            while control.taken == 0 and time.monotonic() < deadline:
                time.sleep(0.01)
            show.before_frame(TempoClock(120.0, start=0.0), 0.0, 0.0)
            show.send_frame(0, 0.0, 120.0, 0.0)
            time.sleep(0.1)
        finally:
            control.close()
        velocities = [message.velocity for message in lit()]
    assert show.state()["groups"][0]["look"]["pattern"] == "bounce"
    assert velocities == [0, 5, 0]  # off as the show starts, on once it plays, off at the end

"""Fuzzes what the control surfaces make of their input: datagrams as the
OSC control receives them and bytes as the MIDI control receives them, the
commands they make then applied by a show over a few frames, its state
echoed and its pad lights worked out. Any exception that escapes is a
crash: a peer's bytes must only ever become commands or be counted.

Run by tools/harden.sh: python fuzz_control_messages.py -max_total_time=S CORPUS...
The first byte picks the surface (even: OSC, odd: MIDI); the rest is the payload.
"""

import sys
import tomllib

import atheris

with atheris.instrument_imports():
    from movimo_tools.clocks.tempo import TempoClock
    from movimo_tools.commands.stream import stream_show
    from movimo_tools.outputs.osc import make_targets
    from movimo_tools.surfaces import midi_control, osc_control

GROUPS = ["helix", "bounce"]
MIDI_MAP = midi_control.parse_midi_map(tomllib.loads("""
[[pads]]
note = 36
group = "helix"
pattern = "bounce"
when = "now"
[[pads]]
note = 37
cue = 1
[[pads]]
note = 38
command = "tap"
[[pads]]
note = 39
command = "stop"
channel = 2
[[faders]]
cc = 1
group = "helix"
control = "size"
[[faders]]
cc = 2
group = "bounce"
control = "speed"
[[faders]]
cc = 3
group = "helix"
control = "phase"
[[faders]]
cc = 4
control = "tempo"
[lights]
output = "pads"
"""), "map", GROUPS)
SENDER = ("127.0.0.1", 9000)


def one_input(data: bytes) -> None:
    if not data:
        return
    show, _ = stream_show(make_targets(GROUPS), [], prefix="/movimo", interpolation="step")
    payload = data[1:]
    if data[0] % 2 == 0:
        osc_control.OscCommands(show).receive_datagram(payload, SENDER)
    else:
        surface = midi_control.MidiCommands(show, MIDI_MAP)
        for index in range(0, len(payload), 3):
            surface.receive(payload[index:index + 3])
    clock = TempoClock(120.0, start=0.0)
    for frame in range(4):
        due = frame * 0.25
        assert show.before_frame(clock, due - 0.25, due)  # no surface can quit
        show.send_frame(frame, clock.pip_at(due), clock.bpm, due)
    state = show.state()
    osc_control.echo_messages(state)
    midi_control.pad_lights(MIDI_MAP, state)


if __name__ == "__main__":
    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()

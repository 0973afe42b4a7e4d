"""Fuzzes the clock inputs' decoding: datagrams as the OSC clock receives
them and bytes as the MIDI clock receives them, each decoded event then
followed by the tempo follower. Any exception that escapes is a crash: a
peer's bytes must only ever be taken, or counted as malformed.

Run by tools/harden.sh: python fuzz_clock_messages.py -max_total_time=S CORPUS...
The first byte picks the input (even: OSC, odd: MIDI); the rest is the payload.
"""

import sys

import atheris

with atheris.instrument_imports():
    from movimo_tools.clocks import follow, inputs


def one_input(data: bytes) -> None:
    if not data:
        return
    payload = data[1:]
    if data[0] % 2 == 0:
        source: inputs.ClockInput = inputs.OscClockInput("osc")
        for seconds in (0.5, 1.0):
            source.receive_datagram(payload, seconds)
    else:
        source = inputs.MidiClockInput("midi")
        for index in range(0, len(payload), 3):
            source.receive(payload[index:index + 3], 0.5 + index / 1000)
    clock = follow.ExternalClock(source, 120.0, start=0.0)
    pips = [clock.pip_at(seconds) for seconds in (0.25, 2.0, 4.0)]
    assert all(pip == pip for pip in pips), pips  # never NaN


if __name__ == "__main__":
    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()

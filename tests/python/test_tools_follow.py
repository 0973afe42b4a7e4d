"""Following an outside clock: the tempo follower fed generated timed event
streams (convergence, slewing, outliers, dropouts, transport, announced
tempi), MIDI and OSC clock input, and the stream and the rig led by them."""

import os
import pathlib
import socket
import subprocess
import sys
import time

import numpy as np
import pytest
from pythonosc import osc_message_builder, udp_client

from movimo_tools.clocks import follow, inputs
from movimo_tools.clocks.follow import (MAX_TEMPO_CHANGE_PER_BEAT, Beat, Bpm, Continue,
                                       SongPosition, Start, Stop, TempoFollower, Tick)

QUERY_STEP = 0.001  # the clock is read every millisecond, as a fast frame loop would


class Source:
    """A clock source playing tempo segments: its true pip against time, and
    its events with uniform jitter, some dropped or delayed."""

    def __init__(self, segments, *, per_beat=24, jitter=0.002, start=0.5, seed=1,
                 gaps=(), late=()):
        times, pips = [start], [0.0]
        for beats, bpm in segments:
            for _ in range(round(beats * per_beat)):
                times.append(times[-1] + 60.0 / bpm / per_beat)
                pips.append(pips[-1] + 64.0 / per_beat)
        self.times, self.pips = np.array(times), np.array(pips)
        self.per_beat = per_beat
        rng = np.random.default_rng(seed)
        stamps = self.times + rng.uniform(-jitter, jitter, len(times))
        stamps[list(late)] += 0.012
        keep = np.ones(len(times), bool)
        for begin, end in gaps:
            keep &= ~((self.times >= begin) & (self.times < end))
        event = Tick() if per_beat == 24 else Beat()
        self.events = [(t, event) for t in stamps[keep]]

    def beat_time(self, beat):
        return float(np.interp(beat * 64.0, self.pips, self.times))


def run_follower(events, end, bpm=120.0):
    """Reads the follower every millisecond; returns query times, pips, bpm and states."""
    follower = TempoFollower(bpm, start=0.0)
    queries = np.arange(0.0, end, QUERY_STEP)
    pips, tempi, states, pending = [], [], [], iter(sorted(events, key=lambda e: e[0]))
    upcoming = next(pending, None)
    for query in queries:
        while upcoming is not None and upcoming[0] <= query:
            follower.observe(*upcoming)
            upcoming = next(pending, None)
        pips.append(follower.pip_at(query))
        tempi.append(follower.bpm)
        states.append(follower.state_at(query))
    return queries, np.array(pips), np.array(tempi), np.array(states), follower


def phase_error_ms(source, queries, pips):
    """Local minus true pip, within a beat (a source of bare ticks does not
    say which beat is which), in milliseconds at the source's tempo there."""
    true = np.interp(queries, source.times, source.pips)
    error = (pips - true + 32.0) % 64.0 - 32.0
    pip_seconds = np.interp(queries, source.times[1:], np.diff(source.times)) * source.per_beat / 64
    return error * pip_seconds * 1e3


def assert_slews(queries, pips, beat_seconds):
    """The pip never runs back, and the local tempo changes by at most the
    bounded share over any beat."""
    rate = np.diff(pips) / QUERY_STEP
    assert rate.min() >= 0.0
    window = round(beat_seconds / QUERY_STEP)
    running = np.lib.stride_tricks.sliding_window_view(rate[rate > 0], window)
    change = (running.max(axis=1) - running.min(axis=1)) / running.max(axis=1)
    assert change.max() <= MAX_TEMPO_CHANGE_PER_BEAT * 1.05


def between(queries, start, end):
    return (queries >= start) & (queries < end)


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_a_steady_source_is_locked_within_eight_beats(seed):
    source = Source([(40, 128.0)], seed=seed)
    queries, pips, tempi, states, follower = run_follower(source.events, source.times[-1])
    settled = queries >= source.beat_time(8)
    assert np.median(np.abs(phase_error_ms(source, queries, pips)[settled])) <= 1.0
    assert np.median(np.abs(tempi[settled] - 128.0)) <= 0.05
    assert set(states[settled]) == {"locked"} and follower.outliers == 0
    assert_slews(queries[settled], pips[settled], 60 / 128)


def test_a_tempo_step_is_followed_within_eight_beats_without_a_jump():
    source = Source([(16, 120.0), (24, 128.0)])
    queries, pips, tempi, _, _ = run_follower(source.events, source.times[-1])
    step = source.beat_time(16)
    after = queries >= source.beat_time(24)
    assert np.median(np.abs(phase_error_ms(source, queries, pips)[after])) <= 1.0
    assert np.median(np.abs(tempi[after] - 128.0)) <= 0.05
    assert_slews(queries[queries >= step - 2.0], pips[queries >= step - 2.0], 60 / 128)


def test_a_ramp_is_followed_closely_and_then_exactly():
    ramp = [(1, 120.0 + beat) for beat in range(1, 17)]
    source = Source([(8, 120.0), *ramp, (16, 136.0)])
    queries, pips, _, _, _ = run_follower(source.events, source.times[-1])
    error = np.abs(phase_error_ms(source, queries, pips))
    assert error[between(queries, source.beat_time(8), source.beat_time(24))].max() <= 20.0
    assert np.median(error[queries >= source.beat_time(32)]) <= 1.0
    assert_slews(queries[queries > source.beat_time(8)], pips[queries > source.beat_time(8)],
                 60 / 136)


def test_a_dropout_holds_the_tempo_and_relocks_within_four_beats():
    silence = (0.5 + 12 * 60 / 128, 0.5 + 12 * 60 / 128 + 2.0)
    source = Source([(40, 128.0)], gaps=[silence])
    queries, pips, tempi, states, _ = run_follower(source.events, source.times[-1])
    gap = between(queries, silence[0] + 0.3, silence[1])
    assert set(states[gap]) == {"holding"}
    assert np.abs(tempi[gap] - 128.0).max() <= 0.1
    back = between(queries, silence[1] + 4 * 60 / 128, silence[1] + 8 * 60 / 128)
    assert np.median(np.abs(phase_error_ms(source, queries, pips)[back])) <= 1.0
    assert set(states[back]) == {"locked"}


def test_outliers_are_left_out_and_counted():
    late = range(200, 900, 97)
    source = Source([(40, 128.0)], late=late)
    queries, pips, _, _, follower = run_follower(source.events, source.times[-1])
    assert follower.outliers == len(late)
    settled = queries >= source.beat_time(8)
    assert np.abs(phase_error_ms(source, queries, pips)[settled]).max() <= 3.0


def test_a_source_of_whole_beats_is_locked():
    source = Source([(32, 128.0)], per_beat=1)
    queries, pips, tempi, _, _ = run_follower(source.events, source.times[-1])
    settled = queries >= source.beat_time(12)
    assert np.median(np.abs(phase_error_ms(source, queries, pips)[settled])) <= 1.0
    assert np.median(np.abs(tempi[settled] - 128.0)) <= 0.2


def ticks(start, count, bpm=120.0):
    return [(start + i * 60 / bpm / 24, Tick()) for i in range(count)]


def test_transport_start_stop_and_continue_at_a_song_position():
    follower = TempoFollower(120.0, start=0.0)
    for event in ticks(0.0, 48):  # running clock, no transport yet
        follower.observe(*event)
    follower.observe(1.0, Start())
    assert follower.pip_at(1.0) == 0.0
    for event in ticks(1.01, 48):
        follower.observe(*event)
    assert follower.pip_at(2.01) == pytest.approx(128.0, abs=0.01)
    follower.observe(2.02, Stop())
    held = follower.pip_at(2.02)
    for event in ticks(2.03, 24):  # the clock runs on while stopped
        follower.observe(*event)
    assert follower.pip_at(2.6) == held and follower.state_at(2.6) == "stopped"
    follower.observe(2.6, SongPosition(32))  # bar 3
    follower.observe(2.61, Continue())
    for event in ticks(2.62, 24):
        follower.observe(*event)
    assert follower.pip_at(3.12) == pytest.approx(512.0 + 64.0, abs=0.01)


def test_numbered_beats_place_the_clock():
    follower = TempoFollower(120.0, start=0.0)
    for beat in range(10, 20):
        follower.observe(beat * 0.5, Beat(beat))
    assert follower.pip_at(10.0) == pytest.approx(20 * 64.0)
    follower.observe(10.0, Beat(100))  # a cue jump is followed at once
    assert follower.pip_at(10.0) == pytest.approx(100 * 64.0)


def test_an_announced_tempo_alone_changes_the_tempo_keeping_the_phase():
    follower = TempoFollower(120.0, start=0.0)
    follower.observe(1.0, Bpm(60.0))
    assert follower.bpm == 60.0
    assert follower.pip_at(1.0) == 128.0 and follower.pip_at(2.0) == 192.0


@pytest.mark.parametrize("event", [Bpm(0.0), Bpm(float("nan")), Beat(float("inf")),
                                   SongPosition(-1)])
def test_impossible_events_are_refused(event):
    follower = TempoFollower(120.0, start=0.0)
    with pytest.raises(ValueError):
        follower.observe(1.0, event)


# Sources: MIDI clock bytes, OSC clock messages, and the stream led by them.

MIDI_CLOCK, MIDI_START, MIDI_STOP = [0xF8], [0xFA], [0xFC]


def midi_stream(bpm, beats, start=1.0):
    """Start, then MIDI clock bytes at `bpm`, with malformed and unrelated
    messages among them."""
    pulse = 60.0 / bpm / 24
    messages = [(start - 0.01, MIDI_START)]
    messages += [(start + i * pulse, MIDI_CLOCK) for i in range(beats * 24)]
    messages += [(start + 0.1, [0xF2, 0x80, 0x00]),   # song position, data byte out of range
                 (start + 0.2, [0x90, 60]),           # note on, one byte short
                 (start + 0.3, [0xF9]),               # undefined status
                 (start + 0.4, [0x90, 60, 100])]      # a valid note: not clock, not counted
    return sorted(messages, key=lambda message: message[0])


def test_midi_clock_messages_lead_the_clock_and_malformed_ones_are_counted():
    states = []
    source = inputs.MidiClockInput()
    external = follow.ExternalClock(source, 120.0, start=0.0, report_state=states.append)
    for seconds, data in midi_stream(100.0, 16):
        source.receive(data, seconds)
        external.pip_at(seconds)
    assert source.malformed == 3
    assert external.bpm == pytest.approx(100.0, abs=0.01)
    # Start put beat 0 on the first pulse at 1.0 s; at 100 bpm beat 15 is at 10 s.
    assert external.pip_at(10.0) == pytest.approx(15 * 64.0, abs=0.05)
    assert states[0].startswith("clock midi: locking") and "locked" in states[-1]


def alsa_sequencer():
    return os.path.exists("/dev/snd/seq")


@pytest.mark.skipif(not alsa_sequencer(),
                    reason="no ALSA sequencer (/dev/snd/seq) on this machine: MIDI ports "
                           "cannot be opened here")
def test_midi_clock_is_read_from_a_named_port():
    import mido
    backend = mido.Backend("mido.backends.rtmidi")
    with backend.open_output("movimo clock test", virtual=True) as output:
        source = inputs.MidiClockInput().open("movimo clock test")
        try:
            output.send(mido.Message("start"))
            output.send(mido.Message("clock"))
            deadline = time.monotonic() + 5
            events = []
            while len(events) < 2 and time.monotonic() < deadline:
                events += source.drain()
                time.sleep(0.01)
        finally:
            source.close()
    assert [event for _, event in events] == [Start(), Tick()]


def test_a_clock_port_that_cannot_be_opened_is_one_line_before_anything_is_sent(capsys):
    from movimo_tools.cli import main
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
        taken.bind(("127.0.0.1", 0))
        port = taken.getsockname()[1]
        for clock, message in [("midi:no such port", "cannot open MIDI input 'no such port'"),
                              (f"osc:127.0.0.1:{port}", "cannot listen for the OSC clock"),
                              ("osc:nowhere", "HOST:PORT"), ("link:0", "the Link quantum"),
                              ("ableton", "midi:PORT")]:
            argv = ["stream", "bounce", "--bpm", "120", "--osc", f"127.0.0.1:{port}",
                    "--frames", "1", "--clock", clock]
            assert main(argv) == 1
            out, err = capsys.readouterr()
            assert out == "" and message in err and err.count("\n") == 1, err


@pytest.mark.parametrize("datagram", [
    b"garbage",                                         # not OSC at all
    b"/tick\x00\x00\x00,i\x00\x00",                     # promises an int it does not carry
    osc_message_builder.build_msg("/tempo", ["fast"]).dgram,
    osc_message_builder.build_msg("/tempo", [0.0]).dgram,
    osc_message_builder.build_msg("/beat", [1, 2]).dgram,
    osc_message_builder.build_msg("/tick", [float("nan")]).dgram,
])
def test_malformed_osc_clock_messages_are_ignored_and_counted(datagram):
    source = inputs.OscClockInput("osc").open("127.0.0.1", 0)
    try:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
            sender.sendto(datagram, source.address)
            sender.sendto(osc_message_builder.build_msg("/tick", []).dgram, source.address)
            deadline = time.monotonic() + 5
            events = []
            while not events and time.monotonic() < deadline:
                events += source.drain()
                time.sleep(0.01)
    finally:
        source.close()
    assert [event for _, event in events] == [Tick()] and source.malformed == 1


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def test_the_stream_follows_an_osc_clock_live():
    from test_tools_stream import Receiver
    receiver, clock_port = Receiver(), free_udp_port()
    package_root = str(pathlib.Path(follow.__file__).parents[2])
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        filter(None, [package_root, os.environ.get("PYTHONPATH")])))
    command = [sys.executable, "-m", "movimo_tools", "stream", "bounce", "--bpm", "100",
               "--osc", f"127.0.0.1:{receiver.port}", "--rate", "100", "--duration", "7",
               "--clock", f"osc:127.0.0.1:{clock_port}"]
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, env=env)
    try:
        receiver.wait_for(20)  # the stream runs, so its clock port is open
        client = udp_client.SimpleUDPClient("127.0.0.1", clock_port)
        pulse, first = 60.0 / 128.0 / 24, time.perf_counter()
        for index in range(int(5.5 / pulse)):
            time.sleep(max(0.0, first + index * pulse - time.perf_counter()))
            client.send_message("/tick", [])
        out, err = process.communicate(timeout=15)
    finally:
        process.kill()
        receiver.close()
    assert process.returncode == 0, err
    assert "clock osc:" in err and "locked" in err
    frames = [(arrived, args) for arrived, address, args in receiver.messages
              if address == "/movimo/clock"]
    # Frame i is due at start + i / 100; the frame that arrived earliest
    # against that grid gives the start, and a frame delayed by a loaded
    # machine keeps its due time.
    start = min(arrived - number / 100.0 for arrived, (number, _, _) in frames)
    locked = [(start + number / 100.0, beat, bpm) for _, (number, beat, bpm) in frames
              if first + 3.0 <= start + number / 100.0 <= first + 5.0]
    assert locked and all(abs(bpm - 128.0) < 0.5 for _, _, bpm in locked)
    # The stream's beat runs with the ticks: at each frame's due time its
    # phase within the beat is the ticks' phase.
    phase = [(beat - (due - first) / 60.0 * 128.0 + 0.5) % 1.0 - 0.5
             for due, beat, _ in locked]
    assert np.median(np.abs(phase)) < 0.02 and np.ptp(phase) < 0.05


def test_events_after_a_frame_s_time_wait_for_the_next_frame():
    source = inputs.ClockInput("test")
    clock = follow.ExternalClock(source, 120.0, start=0.0)
    source.put(Bpm(60.0), seconds=2.0)
    assert (clock.pip_at(1.0), clock.bpm) == (128.0, 120.0)  # a late frame: not yet
    assert (clock.pip_at(3.0), clock.bpm) == (256.0 + 64.0, 60.0)


@pytest.mark.parametrize("numbered", [True, False])
def test_locking_on_never_runs_the_beat_backwards(numbered):
    """The source's beat 1 arrives when the free clock is already at beat 2:
    the clock moves ahead to the source's place in the bar (numbered beats)
    or to its next beat, never back."""
    follower, pips = TempoFollower(120.0, start=0.0), []
    for step in range(1000):
        seconds = step / 100
        if seconds >= 1.0 and step % 50 == 0:
            follower.observe(seconds, Beat(1 + (step - 100) // 50) if numbered else Beat())
        pips.append(follower.pip_at(seconds))
    assert (np.diff(pips) > 0).all() and follower.jumps == 0
    unit, source_beat = (4 if numbered else 1), 1 + (9.99 - 1.0) * 2
    lag = (pips[-1] / 64 - source_beat) % unit
    assert min(lag, unit - lag) < 0.01

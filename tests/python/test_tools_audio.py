"""The audio clock: beats found in synthesised drum tracks (steady, swung,
changing tempo, through a breakdown) and followed by the tempo follower;
broken samples; movimo beats; and the whole path live, through a JACK
server whose dummy driver stands in for a sound card."""

import json
import os
import shutil
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

from drums import RATE, render, write_wav
from movimo_tools.cli import main
from movimo_tools.clocks.beats import BeatTracker, analyse
from movimo_tools.clocks.follow import Beat, TempoFollower

SETTLE_SECONDS = 8.0


def followed(beats, truth, end):
    """Feeds the beats to a follower and reads it every 10 ms: the query
    times, the follower's tempo and its phase error (ms) against the true
    beats, within a beat (the beats are not numbered)."""
    follower = TempoFollower(100.0, start=0.0)
    queries = np.arange(0.0, end, 0.01)
    tempi, errors, pending = [], [], list(beats)
    true_beat = np.interp(queries, truth, np.arange(len(truth)))
    period = np.interp(queries, truth[1:], np.diff(truth))
    for query, beat_number, beat_seconds in zip(queries, true_beat, period):
        while pending and pending[0] <= query:
            follower.observe(pending.pop(0), Beat())
        local = follower.pip_at(query) / 64.0
        errors.append(((local - beat_number + 0.5) % 1.0 - 0.5) * beat_seconds * 1e3)
        tempi.append(follower.bpm)
    return queries, np.array(tempi), np.array(errors)


RENDERS = {
    "house 124, noisy": dict(groove="house", bars=16, bpm=124.0, noise=0.08),
    "two-step 138, swung": dict(groove="two_step", bars=16, bpm=138.0, swing=0.15),
    "break 92 to 132": dict(groove="break", bars=28, bpm=lambda bar: 92.0 if bar < 12 else 132.0),
    "house 100, breakdown": dict(groove="house", bars=28, bpm=100.0, breakdown=range(8, 16)),
    "break 120, breakdown": dict(groove="break", bars=28, bpm=120.0, breakdown=range(8, 16)),
}


@pytest.mark.parametrize("name", RENDERS)
def test_renders_are_followed_within_the_targets(name):
    settings = RENDERS[name]
    samples, truth = render(**settings)
    bpm, beats = analyse(samples, RATE)
    beats = np.array(beats)
    # Steady stretches: eight seconds after the start and after each change
    # (a new tempo, the drums' return), and no breakdown.
    tempo_of_bar = settings["bpm"] if callable(settings["bpm"]) else lambda bar: settings["bpm"]
    changes = [truth[0]] + [truth[4 * bar] for bar in range(1, settings["bars"])
                            if tempo_of_bar(bar) != tempo_of_bar(bar - 1)]
    breakdown = settings.get("breakdown", range(0))
    if breakdown:
        changes.append(truth[4 * breakdown.stop])
    queries, tempi, errors = followed(beats, truth, truth[-1])
    true_bpm = 60.0 / np.interp(queries, truth[1:], np.diff(truth))
    steady = np.ones(len(queries), bool)
    for change in changes:
        steady &= ~((queries >= change) & (queries < change + SETTLE_SECONDS))
    if breakdown:
        steady &= ~((queries >= truth[4 * breakdown.start])
                    & (queries < truth[4 * breakdown.stop]))
    assert np.median(np.abs(errors[steady])) <= 15.0
    assert np.median(np.abs(tempi[steady] - true_bpm[steady])) <= 0.5
    # No half or double tempo in the steady stretches: consecutive beats are
    # a beat apart, or whole beats apart across a hold.
    periods = np.interp(beats[1:], truth[1:], np.diff(truth))
    ratios = (np.diff(beats) / periods)[np.interp(beats[1:], queries, steady) == 1]
    assert np.all(np.abs(ratios - np.round(ratios)) < 0.1) and ratios.min() > 0.9
    if breakdown:
        back = truth[4 * breakdown.stop]
        held = beats[(beats > truth[4 * breakdown.start] + 3 * periods[0]) & (beats < back)]
        assert len(held) == 0, "beats given out in the breakdown"
        assert beats[beats >= back - 0.02][0] <= truth[4 * breakdown.stop + 3] + 0.02
        relocked = (queries >= truth[4 * breakdown.stop + 4]) & (queries < back + 8.0)
        assert np.median(np.abs(errors[relocked])) <= 15.0


def test_movimo_beats_prints_text_csv_and_json(tmp_path, capsys):
    samples, truth = render("house", 8, 128.0)
    write_wav(tmp_path / "set.wav", samples)
    outputs = {}
    for form in ("text", "csv", "json"):
        assert main(["beats", str(tmp_path / "set.wav"), "--format", form]) == 0
        outputs[form] = capsys.readouterr().out
    found = json.loads(outputs["json"])
    assert abs(found["bpm"] - 128.0) < 0.5 and len(found["beats"]) >= len(truth) - 6
    assert all(np.min(np.abs(truth - beat)) < 0.015 for beat in found["beats"]
               if beat < truth[-1] + 0.1)
    assert outputs["text"].splitlines()[0] == f"tempo {found['bpm']:.2f} bpm, " \
                                              f"{len(found['beats'])} beats"
    assert [float(line.split(",")[1]) for line in outputs["csv"].splitlines()[1:]] == \
        pytest.approx(found["beats"], abs=1e-6)
    # Folded into a range an octave lower: every other beat.
    assert main(["beats", str(tmp_path / "set.wav"), "--format", "json",
                 "--bpm-range", "40:80"]) == 0
    assert json.loads(capsys.readouterr().out)["bpm"] == pytest.approx(64.0, abs=0.25)


def broken(samples, kind):
    """The track with a stretch of 2 s in the middle broken as `kind` says."""
    samples = samples.copy()
    middle = slice(len(samples) // 2, len(samples) // 2 + 2 * RATE)
    match kind:
        case "nan":
            samples[middle] = np.nan
        case "inf":
            samples[middle][::7] = np.inf
            samples[middle][3::7] = -np.inf
        case "clipped":
            samples *= 4.0  # twelve decibels too hot
        case "silence":
            samples[middle] = 0.0
    return samples


@pytest.mark.parametrize("kind", ["nan", "inf", "clipped", "silence"])
def test_broken_samples_neither_crash_nor_move_the_beat(kind):
    samples, truth = render("house", 24, 126.0)
    damaged, tracker, beats = broken(samples, kind), BeatTracker(RATE), []
    for first in range(0, len(samples), 1000):
        beats += tracker.feed(damaged[first:first + 1000])
    beats = np.array([beat for beat in beats if beat < truth[-1] + 0.1])
    assert (tracker.non_finite > 0) == (kind in ("nan", "inf"))
    # Every beat given out, before and after the broken stretch, is a true one.
    assert np.max(np.min(np.abs(beats[:, None] - truth[None, :]), axis=1)) < 0.015
    after = beats[beats > (len(samples) // 2 + 2 * RATE) / RATE + 2.0]
    assert len(after) >= 10


def test_a_silent_input_gives_no_beats():
    tracker = BeatTracker(44100)
    assert tracker.feed(np.zeros(30 * 44100, np.float32)) == [] and tracker.bpm is None


def jack_available():
    return shutil.which("jackd") and shutil.which("jack_connect")


PLAYER = """
import sys, time, numpy as np, sounddevice
samples = np.load(sys.argv[1])
position, arrivals = 0, []
def play(out, frames, timing, status):
    global position
    arrivals.append((time.perf_counter(), position))
    chunk = samples[position:position + frames]
    out[:len(chunk), 0] = chunk
    out[len(chunk):, 0] = 0.0
    position += frames
with sounddevice.OutputStream(channels=1, samplerate=48000, blocksize=256, callback=play):
    print("playing", flush=True)
    while position < len(samples):
        time.sleep(0.05)
np.save(sys.argv[2], np.array(arrivals))
"""


@pytest.mark.skipif(not jack_available(), reason="no JACK server (Debian jackd2) here")
def test_the_stream_follows_audio_played_through_jack_and_holds_when_it_goes(tmp_path):
    """A JACK server with its dummy driver; movimo stream listens to its
    default input, which the test's player feeds. Then the server goes."""
    from test_tools_stream import Receiver
    pytest.importorskip("sounddevice")
    server = f"movimo-test-{os.getpid()}"
    env = dict(os.environ, JACK_DEFAULT_SERVER=server, JACK_NO_AUDIO_RESERVATION="1")
    jackd = subprocess.Popen(["jackd", "--no-realtime", "-n", server, "-d", "dummy", "-r",
                              str(RATE), "-p", "256"], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    receiver, stream, player = Receiver(), None, None
    try:
        time.sleep(2.0)
        samples, truth = render("break", 14, 126.0)
        np.save(tmp_path / "track.npy", samples)
        stream = subprocess.Popen(
            [sys.executable, "-P", "-m", "movimo_tools", "stream", "bounce", "--bpm", "100",
             "--osc", f"127.0.0.1:{receiver.port}", "--rate", "100", "--duration", "34",
             "--clock", "audio"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True)
        receiver.wait_for(20)
        ports = set(subprocess.run(["jack_lsp"], env=env, capture_output=True, text=True,
                                   check=True).stdout.split())
        player = subprocess.Popen([sys.executable, "-c", textwrap.dedent(PLAYER),
                                   str(tmp_path / "track.npy"), str(tmp_path / "arrivals.npy")],
                                  env=env, stdout=subprocess.PIPE, text=True)
        assert player.stdout.readline() == "playing\n"
        played = set(subprocess.run(["jack_lsp"], env=env, capture_output=True, text=True,
                                    check=True).stdout.split()) - ports
        inputs = [port for port in ports if ":in_" in port]
        for port in inputs:
            subprocess.run(["jack_connect", *played, port], env=env, check=True)
        player.wait(timeout=60)
        arrivals = np.load(tmp_path / "arrivals.npy")
        jackd.terminate()  # the device goes away mid-show
        jackd.wait(timeout=10)
        out, err = stream.communicate(timeout=40)
    finally:
        for process in (player, stream, jackd):
            if process is not None and process.poll() is None:
                process.kill()
        receiver.close()
    assert stream.returncode == 0, err
    lines = err.splitlines()
    lost = next(index for index, line in enumerate(lines) if "input lost" in line)
    assert any("locked" in line for line in lines[:lost]), err
    # Lost once: the lines after it are the follower's, holding.
    assert all(line.endswith("input lost: the device stopped delivering sound")
               for line in lines[lost:] if line.startswith("clock")), err
    # The truth on the clock: each beat's sample as its callback played it,
    # from the least delayed of the callbacks of the second before it (an
    # output glitch delays the rest of the track).
    origins = arrivals[:, 0] - arrivals[:, 1] / RATE
    window = round(RATE / 256)
    padded = np.concatenate([np.full(window - 1, np.inf), origins])
    earliest = np.lib.stride_tricks.sliding_window_view(padded, window).min(axis=1)
    played = earliest[np.searchsorted(arrivals[:, 1], truth * RATE, side="right") - 1] + truth
    clock = [(arrived, *values) for arrived, address, values in receiver.messages
             if address == "/movimo/clock"]
    frames = sorted((number, beat, bpm) for _, number, beat, bpm in clock)
    start = min(arrived - number / 100.0 for arrived, number, _, _ in clock)
    due = np.array([start + number / 100.0 for number, _, _ in frames])
    beat = np.array([beat for _, beat, _ in frames])
    bpm = np.array([bpm for _, _, bpm in frames])
    settled = (due > played[0] + SETTLE_SECONDS) & (due < played[-1])
    assert settled.sum() > 300
    assert np.median(np.abs(bpm[settled] - 126.0)) <= 0.5
    true_beat = np.interp(due[settled], played, np.arange(len(truth)))
    phase = ((beat[settled] - true_beat + 0.5) % 1.0 - 0.5) * 60.0 / 126.0 * 1e3
    assert np.median(np.abs(phase)) <= 15.0
    # After the server went, the tempo held to the end.
    held = bpm[due > played[-1] + 2.0]
    assert len(held) > 100 and np.ptp(held) == 0.0 and abs(held[0] - 126.0) < 0.5

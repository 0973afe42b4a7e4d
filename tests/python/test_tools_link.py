"""Following a Link session: `movimo stream --clock link` joins a session
with a real test peer in a network namespace of its own, and its streamed
beat is compared with the peer's through tempo changes, absurd tempi, a
forced beat, a start and a stop, and a tempo typed on the stream's input."""

import json
import math
import types

import numpy as np
import pytest

from movimo_tools.clocks import link
from namespaces import in_network_namespace

RATE = 100.0
QUANTUM = 4
# The test peer's script, from the moment movimo has joined: (seconds, action).
ACTIONS = [(2.5, "tempo 124"), (5.0, "tempo 5000"), (6.0, "tempo 0.1"), (7.0, "tempo 124 again"),
           (8.0, "force back"), (9.0, "start"), (12.0, "stop"), (12.5, "bpm 126"),
           (13.5, "end")]
# One beat at the slowest ordinary tempo here: what following "within a beat" allows.
SETTLE_SECONDS = 60.0 / 124.0

SESSION = """
    import asyncio, json, os, socket, subprocess, sys, threading, time
    import aalink
    from movimo_tools.osc_decode import decode_packet

    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["ip", "route", "add", "224.0.0.0/4", "dev", "lo"], check=True)
    loop = asyncio.new_event_loop()
    threading.Thread(target=loop.run_forever, daemon=True).start()

    async def make():
        return aalink.Link(128.0)

    peer = asyncio.run_coroutine_threadsafe(make(), loop).result(5)
    peer.quantum, peer.start_stop_sync_enabled, peer.enabled = %(quantum)d, True, True
    time.sleep(1.0)  # Link keeps the older session when two meet, if older by half a second
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.bind(("127.0.0.1", 0))
    frames = []

    def receive():
        while True:
            data = receiver.recv(65535)
            frames.append((time.perf_counter(), decode_packet(data)))

    threading.Thread(target=receive, daemon=True).start()
    stream = subprocess.Popen(
        [sys.executable, "-m", "movimo_tools", "stream", "bounce", "--double", "--rate",
         "%(rate)g", "--duration", "16", "--osc", "127.0.0.1:%%d" %% receiver.getsockname()[1],
         "--clock", "link"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE, text=True, env=dict(os.environ, PYTHONSAFEPATH="1"))
    deadline = time.perf_counter() + 10
    while peer.num_peers == 0 and time.perf_counter() < deadline:
        time.sleep(0.001)
    joined, samples, done = time.perf_counter(), [], {}
    actions = %(actions)r
    tempo_after_joining = peer.tempo
    while actions:
        before = time.perf_counter()
        beat = peer.beat
        after = time.perf_counter()
        samples.append(((before + after) / 2, beat, peer.tempo))
        if after - joined >= actions[0][0]:
            action = actions.pop(0)[1]
            done[action] = time.perf_counter()
            if action.startswith("tempo"):
                peer.tempo = float(action.split()[1])
            elif action == "force back":
                peer.force_beat(peer.beat - 1.5)
            elif action in ("start", "stop"):
                peer.playing = action == "start"
            elif action.startswith("bpm"):
                stream.stdin.write(action + "\\n")
                stream.stdin.flush()
        time.sleep(0.002)
    error = stream.communicate(timeout=20)[1]
    print(json.dumps({"returncode": stream.returncode, "stderr": error, "joined": joined,
                      "tempo_after_joining": tempo_after_joining, "done": done,
                      "samples": samples, "frames": frames}))
"""


@pytest.fixture(scope="module")
def session():
    """One run of the whole scenario, shared by the checks below."""
    script = SESSION % {"quantum": QUANTUM, "rate": RATE, "actions": ACTIONS}
    return measured(json.loads(in_network_namespace(script)))


def measured(result):
    """The run with each frame's due time, beat, tempo, and the peer's beat
    and tempo then; and the relocations, at their frames' due times."""
    assert result["returncode"] == 0, result["stderr"]
    frames = sorted(result["frames"], key=lambda frame: frame[1][0][1][0])
    result["done"]["joined"] = result["joined"]
    # Frame i is due at start + i / RATE; the earliest arrival against that
    # grid gives the start (a frame delayed by a loaded machine keeps its due time).
    start = min(arrived - messages[0][1][0] / RATE for arrived, messages in frames)
    result["due"] = np.array([start + messages[0][1][0] / RATE for _, messages in frames])
    result["arrived"] = np.array([arrived for arrived, _ in frames])
    result["beat"] = np.array([messages[0][1][1] for _, messages in frames])
    result["bpm"] = np.array([messages[0][1][2] for _, messages in frames])
    result["relocations"] = [(start + messages[0][1][0] / RATE, *arguments)
                             for _, messages in frames
                             for address, arguments in messages if address.endswith("relocate")]
    times, beats, tempi = np.array(result["samples"]).T
    result["peer_beat"] = np.interp(result["due"], times, beats)
    result["peer_bpm"] = np.interp(result["due"], times, tempi)
    return result


def between(session, start, end):
    """Frames due a beat after `start` that were sent before `end`: a frame a
    loaded machine made late reads the session when it is made."""
    done = session["done"]
    return (session["due"] >= done[start] + SETTLE_SECONDS) & (session["arrived"] < done[end])


def phase_error_ms(session, chosen):
    """Streamed minus peer's beat, within the quantum, in milliseconds."""
    error = (session["beat"] - session["peer_beat"] + QUANTUM / 2) % QUANTUM - QUANTUM / 2
    return (error * 60e3 / session["peer_bpm"])[chosen]


@pytest.mark.parametrize("start, end, bpm", [
    ("joined", "tempo 124", 128.0),
    ("tempo 124", "tempo 5000", 124.0),
    ("tempo 5000", "tempo 0.1", 999.0),  # Link keeps a session within 20 to 999 bpm
    ("tempo 0.1", "tempo 124 again", 20.0),
    ("force back", "start", 124.0),
    ("start", "stop", 124.0),
])
def test_the_stream_follows_the_session_s_tempo_and_phase(session, start, end, bpm):
    chosen = between(session, start, end)
    if start == "start":  # from the next quantum on, where the stream plays from the top
        chosen &= session["due"] >= session["relocations"][-1][0]
    error = np.abs(phase_error_ms(session, chosen))
    assert chosen.sum() > 20
    assert np.all(np.abs(session["bpm"][chosen] - bpm) < 0.01), session["bpm"][chosen]
    assert error.max() < 2.0, f"median {np.median(error):.3f} ms, max {error.max():.3f} ms"


def test_the_beat_runs_forwards_but_for_a_start_from_the_top_and_holds_when_stopped(session):
    done, due, beat = session["done"], session["due"], session["beat"]
    relocated_at = [at for at, _, _ in session["relocations"]]
    steps = np.diff(beat)
    backwards = due[1:][steps < 0]
    assert all(any(abs(at - when) < 1e-6 for when in relocated_at) for at in backwards)
    # Past joining, the forced step back of 1.5 beats is taken forwards, by
    # 2.5, and the start plays from beat 0 at the session's next quantum:
    # both announced, and nothing else (tempo changes are no jumps).
    forced, (top_at, before, after) = [relocation for relocation in session["relocations"]
                                       if relocation[0] > done["joined"] + 0.5]
    assert done["force back"] < forced[0] < done["start"]
    assert forced[2] - forced[1] == pytest.approx(2.5, abs=0.05)
    assert done["start"] < top_at < done["start"] + QUANTUM * 60 / 124 + 0.05
    assert 0.0 <= after < 0.05 and before > after
    waiting = (due > done["start"] + 0.05) & (due < top_at)
    assert np.ptp(beat[waiting]) == 0.0
    stopped = due > done["stop"] + 0.05
    assert stopped.sum() > 20 and np.ptp(beat[stopped]) == 0.0
    # Joining kept the session's tempo; the tempo typed is the session's.
    assert session["tempo_after_joining"] == 128.0
    times, _, tempi = np.array(session["samples"]).T
    assert np.all(np.abs(tempi[times > done["bpm 126"] + 0.1] - 126.0) < 0.01)
    stderr = session["stderr"]
    for line in ("clock link: alone", "clock link: linked, 1 peer, 128.00 bpm",
                 "clock link: linked, 1 peer, 124.00 bpm", "starting on the next quantum",
                 "clock link: linked, 1 peer, stopped, 124.00 bpm"):
        assert line in stderr, stderr


@pytest.mark.parametrize("bpm, beat, shown_bpm, clamped, malformed", [
    (5000.0, 2.0, 1000.0, 1, 0),
    (0.1, 2.0, 1.0, 1, 0),
    (math.inf, 2.0, 120.0, 0, 1),
    (120.0, math.nan, 120.0, 0, 1),
])
def test_absurd_session_values_are_clamped_or_left_out_and_counted(bpm, beat, shown_bpm,
                                                                    clamped, malformed):
    # A stand-in for a session, with values that Link itself would not pass on.
    readings = [link.LinkReading(0.0, 1.0, 120.0, False, 0)] * 2
    readings.append(link.LinkReading(0.5, beat, bpm, False, 1))
    session = types.SimpleNamespace(name="link", quantum=QUANTUM, malformed=0,
                                    read=iter(readings).__next__, close=lambda: None,
                                    propose_tempo=lambda bpm: bpm)
    lines = []
    clock = link.LinkClock(session, 120.0, report_state=lines.append)
    first = clock.pip_at(0.0)
    pip = clock.pip_at(0.5)
    assert math.isfinite(pip) and pip >= first and clock.bpm == shown_bpm
    assert (clock.clamped, clock.source.malformed) == (clamped, malformed)
    clock.close()
    assert ("clamped" in lines[-1], "ignored" in lines[-1]) == (bool(clamped), bool(malformed))

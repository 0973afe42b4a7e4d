"""The show engine on an injected clock: changes land on the exact pip of
their beat, bar or phrase, fades blend continuously, speeds stay on the
beat grid, cues survive in the show file, and bad commands are refused in
one line."""

import json

import numpy as np
import pytest

import movimo
from movimo_tools.catalogue import entry
from movimo_tools.clocks.tempo import TempoClock
from movimo_tools.commands.stream import stream_show
from movimo_tools.outputs.osc import make_targets
from movimo_tools.rig import parse_patch
from movimo_tools.show import commands
from movimo_tools.show.commands import CommandError, parse_line
from movimo_tools.show.stages import RigPlayer
from test_tools_rig import patch

# At 60 bpm a second is 64 pips, so a frame at time pip / 64 reads that pip.
BPM = 60.0


def play(show, pips, submit_at=None, lines=()):
    """Frames at the whole pips `pips`; `lines` are typed just after the
    frame at `submit_at`. Returns {pip: (x, y, z)} of the first target."""
    clock, seen, last = TempoClock(BPM, start=0.0), {}, 0.0
    for pip in pips:
        due = pip / 64.0
        show.before_frame(clock, last, due)
        messages = show.render(0, clock.pip_at(due), BPM)
        seen[pip] = messages[1][1]
        last = due
        if pip == submit_at:
            for line in lines:
                show.submit_line(line, due)
    return seen


def sample(name, pip):
    return movimo.sample(name, pip % entry(name).period_pips).as_tuple()


def osc_show(*names, show_file=None, said=None):
    show, _ = stream_show(make_targets(list(names)), [], prefix="/m", interpolation="step",
                          show_file=show_file,
                          report_line=(said.append if said is not None else lambda line: None))
    return show


@pytest.mark.parametrize("when, lands", [("now", 100), ("beat", 128), ("bar", 256),
                                         ("phrase", 1024)])
def test_a_change_lands_exactly_on_its_beat_bar_or_phrase(when, lands):
    seen = play(osc_show("helix"), range(0, 1100), submit_at=100,
                lines=[f"pattern helix lfo_flower {when}"])
    assert all(seen[pip] == sample("helix", pip) for pip in range(101, lands))
    assert all(seen[pip] == sample("lfo_flower", pip) for pip in range(max(101, lands), 1100))


def test_a_fade_blends_continuously_from_the_old_motion_to_the_new():
    seen = play(osc_show("helix"), range(0, 600), submit_at=10, lines=["pattern helix sway bar 4"])
    assert seen[256] == sample("helix", 256) and seen[512] == sample("sway", 512)
    for pip in range(257, 512):
        weight = (pip - 256) / 256
        old, new = np.array(sample("helix", pip)), np.array(sample("sway", pip))
        np.testing.assert_allclose(seen[pip], old + weight * (new - old), atol=1e-12)


@pytest.mark.parametrize("speed, factor", [("2", 2.0), ("1/2", 0.5), ("4", 4.0)])
def test_half_and_double_time_stay_aligned_to_beat_1(speed, factor):
    seen = play(osc_show("beat_house_jack_orbit"), range(0, 700), submit_at=300,
                lines=[f"speed beat_house_jack_orbit {speed} bar 0"])
    assert all(seen[pip] == sample("beat_house_jack_orbit", int(pip * factor))
               for pip in range(512, 700))


def test_size_and_centre_change_at_once():
    seen = play(osc_show("circle"), range(0, 40), submit_at=20,
                lines=["size circle 50", "centre circle 0.25 -0.25"])
    x, y, z = sample("circle", 30)
    assert seen[30] == pytest.approx((x * 0.5 + 0.25, y * 0.5 - 0.25, z * 0.5))


def test_cues_are_stored_in_the_show_file_and_recalled_on_the_bar(tmp_path):
    path = tmp_path / "show.json"
    show = osc_show("helix", show_file=path)
    play(show, range(0, 20), submit_at=10, lines=["pattern helix sway now", "speed helix 2 now",
                                                 "store verse", "pattern helix bounce now"])
    document = json.loads(path.read_text())
    assert document["cues"][0]["looks"]["helix"]["pattern"] == "sway"
    assert [p.name for p in tmp_path.iterdir()] == ["show.json"]   # nothing half written
    again = osc_show("helix", show_file=path)    # a new run reads the cue back
    seen = play(again, range(0, 600), submit_at=100, lines=["cue 1"])
    assert seen[255] == sample("helix", 255) and seen[256] == sample("sway", 512)


@pytest.mark.parametrize("text, message", [
    ('{"version": 2, "cues": []}', "not a movimo show file"),
    ('{"version": 1, "cues": [{"name": "a", "looks": {"helix": {"speed": 3}}}]}', "pattern"),
    ('{"version": 1, "cues": [{"name": "a", "looks": {"helix": {"pattern": "sway", '
     '"speed": 3}}}]}', "speed must be one of"),
    ("[" * 100000, "not a JSON show file"),
])
def test_a_broken_show_file_is_one_line(tmp_path, text, message):
    path = tmp_path / "show.json"
    path.write_text(text)
    with pytest.raises(ValueError) as raised:
        osc_show("helix", show_file=path)
    assert str(raised.value).startswith(f"{path}: ") and message in str(raised.value)


@pytest.mark.parametrize("line, message", [
    ("pattern", "use: pattern GROUP NAME"), ("speed front 3", "speed must be one of"),
    ("size front 201", "size must be 0 to 200"), ("pattern front helix soon", "when must be"),
    ("fade front 2", "unknown command"), ("nudge 9", "nudge must be"),
    ("bpm nan", "must be finite"), ("store 3", "must not be a number"),
    ("spread front diagonal", "spread must be one of"), ("centre front 1e9 0", "centre pan"),
])
def test_bad_lines_are_refused_in_one_line(line, message):
    with pytest.raises(CommandError) as raised:
        parse_line(line)
    assert message in str(raised.value) and "\n" not in str(raised.value)


@pytest.mark.parametrize("message, error", [
    ({"type": "size", "group": "helix", "percent": "50"}, "size must be a number"),
    ({"type": "size", "group": "helix", "percent": 50, "extra": 1}, "unknown field"),
    ({"type": "pattern", "group": "nobody", "pattern": "sway"}, "no group 'nobody'"),
    ({"type": "pattern", "group": "helix", "pattern": "swey"}, "sway"),
    ({"type": "spread", "group": "helix", "spread": "position"}, "needs a patch"),
    ({"type": "launch"}, "unknown command type"), ([1, 2], "must be an object"),
])
def test_a_show_refuses_and_counts_what_it_cannot_take(message, error):
    show = osc_show("helix")
    with pytest.raises(CommandError) as raised:
        show.submit(message)
    assert error in str(raised.value) and show.state()["ignored"] == 1


def test_stop_glides_a_rig_home_at_patch_speed_and_resume_brings_it_back():
    slow = patch(**{"types.spot.pan_speed": 90, "types.spot.tilt_speed": 45})
    player = RigPlayer(parse_patch(slow, "rig.toml"), ["helix"], rate=40.0)
    home, clock = player.rig.home_degrees(), TempoClock(BPM, start=0.0)
    previous, distances = home, []
    for frame in range(400):
        if frame in (100, 250):
            player.show.submit(commands.StopMotion() if frame == 100 else commands.ResumeMotion())
        player.show.before_frame(clock, frame / 40, frame / 40)
        player.frame(clock.pip_at(frame / 40))
        step = np.abs(player.degrees - previous)[:4]
        assert (step[:, 0] <= 90 / 40 + 1e-9).all() and (step[:, 1] <= 45 / 40 + 1e-9).all()
        previous = player.degrees
        distances.append(np.abs(player.degrees - home).max())
    assert distances[240] == 0.0 and distances[399] > 10.0

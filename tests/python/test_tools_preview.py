"""movimo preview: pictures of a pattern, and a clear refusal without matplotlib."""

import pathlib
import sys

import numpy as np
import pytest

import movimo_tools
from movimo_tools.cli import main

ROOT = pathlib.Path(__file__).resolve().parents[2]
ARTEFACTS = ROOT / "build" / "test-artefacts" / "previews"


@pytest.mark.parametrize("name", [
    "lfo_breathe",              # one axis: the wave alone
    "env_lift_hold_drop",       # two axes, but only y moves
    "figure_eight",             # a plane path
    "space_torus_2_5",          # depth as colour
    "meter_2_3",                # a loop of 2.5 beats: the seam falls between bar lines
])
def test_previews_are_written_as_png_and_svg(capsys, name):
    ARTEFACTS.mkdir(parents=True, exist_ok=True)
    png, svg = ARTEFACTS / f"{name}.png", ARTEFACTS / f"{name}.svg"
    assert main(["preview", name, "-o", str(png)]) == 0
    assert main(["preview", name, "-o", str(svg)]) == 0
    assert capsys.readouterr().out.splitlines() == [str(png), str(svg)]
    assert png.read_bytes().startswith(b"\x89PNG\r\n\x1a\n")
    text = svg.read_text()
    assert "<svg" in text and name in text and "seam" in text


def test_without_matplotlib_the_command_says_how_to_get_it(capsys, monkeypatch, tmp_path):
    # A None entry makes the import fail, as if matplotlib were not installed.
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.setitem(sys.modules, "matplotlib.figure", None)
    picture = tmp_path / "bounce.png"
    assert main(["preview", "bounce", "-o", str(picture)]) == 1
    err = capsys.readouterr().err
    assert err == "movimo: error: drawing needs matplotlib: pip install 'matplotlib>=3.8'\n"
    assert not picture.exists()


@pytest.mark.parametrize("argv, message", [
    (["bounce", "-o", "bounce.pdf"], "must end in .png or .svg"),
    (["no_such", "-o", "x.png"], "unknown pattern 'no_such'"),
])
def test_bad_preview_requests_fail_in_one_line(capsys, argv, message):
    assert main(["preview", *argv]) == 1
    err = capsys.readouterr().err
    assert message in err and err.count("\n") == 1


RIG = """\
[[fixtures]]
name = "spot"
channels = ["pan", "tilt"]
universe = 1
address = 1
count = 3
pan_range = 540
tilt_range = 270
pan_speed = 1e9
tilt_speed = 1e9
amplitude = [90, 45]

[[groups]]
name = "all"
fixtures = ["spot"]
"""


def test_a_rig_is_drawn_from_above_and_moves_in_a_gif(capsys, tmp_path):
    from PIL import Image

    patch = tmp_path / "rig.toml"
    patch.write_text(RIG)
    ARTEFACTS.mkdir(parents=True, exist_ok=True)
    png, gif = ARTEFACTS / "rig_helix.png", ARTEFACTS / "rig_helix.gif"
    for picture in (png, gif):
        assert main(["preview", "helix", "--patch", str(patch), "--bpm", "120",
                     "-o", str(picture)]) == 0
    assert capsys.readouterr().out.splitlines() == [str(png), str(gif)]
    assert png.read_bytes().startswith(b"\x89PNG\r\n\x1a\n")
    with Image.open(gif) as moving:
        # One frame per 48th of helix's 4 beats at 120 bpm: 2 s / 48, in
        # the GIF's hundredths of a second.
        assert moving.n_frames == 48 and moving.info["duration"] == 40


def test_rig_aims_follow_the_pattern_over_the_second_loop(tmp_path):
    from movimo_tools.preview import rig_aims
    from movimo_tools.rig import load_patch
    from movimo_tools.show.stages import RigPlayer

    slow, fast = tmp_path / "slow.toml", tmp_path / "fast.toml"
    slow.write_text(RIG.replace("1e9", "250"))
    fast.write_text(RIG)
    aims, loop_seconds = rig_aims(load_patch(slow), "lfo_breathe", 120.0, frames=16)
    assert loop_seconds == 2.0 and aims.shape == (16, 3, 2)
    free = RigPlayer(load_patch(fast), ["lfo_breathe"], rate=8.0)
    wanted = []
    for k in range(16):
        free.frame(16 * k)
        wanted.append(free.degrees)
    # Slow enough to follow at 250 degrees a second once the first loop
    # has brought the heads from home.
    np.testing.assert_array_equal(aims, wanted)


def test_depth_scale_is_whole_and_legends_stay_off_the_curves(monkeypatch, tmp_path):
    from matplotlib.figure import Figure

    figures = []
    save = Figure.savefig
    monkeypatch.setattr(Figure, "savefig",
                        lambda figure, *args, **kwargs: (figures.append(figure),
                                                         save(figure, *args, **kwargs)))
    movimo_tools.preview.write_preview("helix", tmp_path / "helix.png")
    (figure,) = figures
    path_view = figure.axes[0]
    assert path_view.collections[0].get_clim() == (-1.0, 1.0)  # far blue to near red
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    renderer = FigureCanvasAgg(figure).get_renderer()
    legends = [(axes, axes.get_legend()) for axes in figure.axes if axes.get_legend()]
    assert len(legends) == 2
    for axes, legend in legends:
        assert not legend.get_window_extent(renderer).overlaps(axes.get_window_extent(renderer))

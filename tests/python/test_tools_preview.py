"""movimo preview: pictures of a pattern, and a clear refusal without matplotlib."""

import pathlib
import sys

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
    assert err == "movimo: error: preview needs matplotlib: pip install 'movimo[plot]'\n"
    assert not picture.exists()


@pytest.mark.parametrize("argv, message", [
    (["bounce", "-o", "bounce.pdf"], "must end in .png or .svg"),
    (["no_such", "-o", "x.png"], "unknown pattern 'no_such'"),
])
def test_bad_preview_requests_fail_in_one_line(capsys, argv, message):
    assert main(["preview", *argv]) == 1
    err = capsys.readouterr().err
    assert message in err and err.count("\n") == 1

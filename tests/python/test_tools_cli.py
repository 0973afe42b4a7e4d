"""The movimo command: list, show, render and its one-line errors."""

import importlib.metadata
import io
import json
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys

import numpy as np
import pytest

import movimo_tools
import movimo_tools.cli
from movimo_tools.cli import main


def run(capsys, *argv):
    status = main(list(argv))
    captured = capsys.readouterr()
    return status, captured.out, captured.err


@pytest.mark.parametrize("filters, expected", [
    (["--pack", "initial"], 28),
    (["--family", "orbit"], 16),
    (["--pack", "procedural", "--axes", "1"], 2),
    (["--period", "160"], 3),
    (["--text", "PARADIDDLE"], None),
    (["--family", "beat", "--pack", "club"], 144),
])
def test_list_filters(capsys, filters, expected):
    status, out, _ = run(capsys, "list", *filters)
    lines = out.splitlines()
    assert status == 0
    names = [line.split()[0] for line in lines]
    if expected is not None:
        assert len(lines) == expected
    else:
        assert "single_paradiddle" in names and "rudiment_paradiddle_diddle" in names


@pytest.mark.parametrize("filters, found", [
    # Words of the trade find what they mean: a family or a motion among the hits.
    (["--text", "chase"], "seq"),
    (["--text", "ballyhoo"], "weave"),
    (["--text", "random"], "noise"),
    (["--text", "Tilt  Nod"], "env"),
    (["--text", "strobe"], "burst"),
    (["--text", "figure-8"], "figure_eight"),
    (["--text", "fan", "--pack", "procedural"], "sway"),
    (["--text", "ballyhoo house"], "beat_house_shuffle_figure8"),
    # Nothing found: said plainly on stderr, status 1, with the nearest terms.
    (["--text", "balyhoo"], "no pattern matches 'balyhoo'; did you mean ballyhoo?"),
    (["--text", "pan swya"], "no pattern matches 'pan swya'; did you mean pan sway?"),
    (["--text", "no pattern says this"], "no pattern matches 'no pattern says this'"),
    (["--text", "star", "--pack", "club"], "no pattern matches 'star' with these filters"),
    (["--pack", "club", "--axes", "1"], "no pattern matches these filters"),
])
def test_list_finds_words_of_the_trade_or_says_what_was_meant(capsys, filters, found):
    status, out, err = run(capsys, "list", *filters)
    if found.startswith("no pattern"):
        assert (status, out, err) == (1, "", f"movimo: error: {found}\n")
    else:
        assert status == 0 and err == ""
        names = [line.split()[0] for line in out.splitlines()]
        assert found in names or found in {movimo_tools.entry(name).family for name in names}


def test_show_describes_the_pattern(capsys):
    status, out, _ = run(capsys, "show", "helix", "--bpm", "90", "--scale", "270",
                         "--width", "32")
    assert status == 0
    lines = out.splitlines()
    assert lines[0] == "helix  (procedural pack, procedural family)"
    assert "period: 256 pips = 4 beats; axes: 3" in out
    speed = movimo_tools.motion_limits("helix", 90, 270).peak_speed[0]
    assert f"x {speed:.4g}/s" in out
    sparks = [line for line in lines if line[:2] in ("x ", "y ", "z ")]
    assert [len(s) for s in sparks] == [34, 34, 34]


@pytest.mark.parametrize("limits", [["--max-speed", "200"], ["--max-acceleration", "5000"],
                                    ["--max-speed", "200", "--max-acceleration", "5000"]])
def test_show_gives_the_fastest_tempo_for_fixture_limits(capsys, limits):
    status, out, _ = run(capsys, "show", "lfo_flower", "--scale", "270", *limits)
    assert status == 0
    given = dict(zip(limits[::2], map(float, limits[1::2])))
    fastest = movimo_tools.motion_limits("lfo_flower", 120.0, 270.0).fastest_bpm(
        given.get("--max-speed", float("inf")), given.get("--max-acceleration", float("inf")))
    assert f"fastest tempo within the fixture limits: {fastest:.4g} bpm\n" in out


@pytest.mark.parametrize("fmt", ["csv", "json", "npy"])
def test_render_formats_carry_the_same_frames(fmt):
    out = io.TextIOWrapper(io.BytesIO(), encoding="utf-8", newline="")
    status = main(["render", "lfo_flower", "--beats", "2", "--bpm", "128", "--fps", "60",
                   "--format", fmt, "--interpolation", "linear"], out=out)
    assert status == 0
    out.flush()
    raw = out.buffer.getvalue()
    tempo = movimo_tools.Tempo(128)
    expected = movimo_tools.evaluate_at("lfo_flower",
                                        movimo_tools.frame_pips(tempo, 60, 2), "linear")
    if fmt == "npy":
        values = np.load(io.BytesIO(raw))
    elif fmt == "json":
        document = json.loads(raw)
        assert document["pattern"] == "lfo_flower" and len(document["seconds"]) == 56
        values = np.array(document["values"])
    else:
        lines = raw.decode().splitlines()
        assert lines[0] == "seconds,pip,x,y,z"
        values = np.array([[float(v) for v in line.split(",")[2:]] for line in lines[1:]])
    assert values.shape == (56, 3)
    assert values.tobytes() == expected.tobytes()


@pytest.mark.parametrize("argv, status, message", [
    (["show", "bounse"], 1, "unknown pattern 'bounse' (did you mean bounce?)"),
    (["show", "xyzzy_plugh"], 1, "unknown pattern 'xyzzy_plugh'"),
    (["render", "bounce", "--beats", "1", "--bpm", "-120", "--fps", "60"], 1,
     "--bpm must be 1 to 1000, not -120"),
    (["render", "bounce", "--beats", "1", "--bpm", "nan", "--fps", "60"], 1, "--bpm must be"),
    (["render", "bounce", "--beats", "1", "--bpm", "1e-300", "--fps", "60"], 1,
     "--bpm must be 1 to 1000, not 1e-300"),
    (["render", "bounce", "--beats", "1", "--bpm", "1e308", "--fps", "60"], 1,
     "--bpm must be 1 to 1000, not 1e+308"),
    (["render", "bounce", "--beats", "1", "--bpm", "120", "--fps", "60", "--start-beat",
      "1e300"], 1, "--start-beat must be -33554432 to 33554431, not 1e+300"),
    (["render", "bounce", "--beats", "2", "--bpm", "120", "--fps", "60", "--start-beat",
      "33554431"], 1, "pips must lie within the signed 32-bit pip range"),
    (["show", "bounce", "--bpm", "1e308"], 1, "--bpm must be 1 to 1000, not 1e+308"),
    (["render", "bounce", "--beats", "0", "--bpm", "120", "--fps", "60"], 1, "beats must be"),
    (["render", "bounce", "--beats", "1e9", "--bpm", "120", "--fps", "240"], 1, "too many"),
    (["render", "bounce", "--beats", "1", "--bpm", "120", "--fps", "60", "--format", "xml"],
     2, "invalid choice"),
    (["render", "bounce", "--bpm", "120", "--fps", "60"], 2, "required"),
    (["show", "bounce", "--width", "0"], 2, "argument --width: must be at least 1"),
    (["show", "bounce", "--scale", "-3"], 1, "scale must be"),
    (["show", "bounce", "--max-speed", "0"], 1, "limits must be above 0"),
    (["frobnicate"], 2, "invalid choice"),
    (["list", "--family", "nosuch"], 1, "unknown family 'nosuch'; families: accent, akwf, "),
    (["list", "--pack", "clubb"], 1, "unknown pack 'clubb' (did you mean club?); packs: "),
    (["preview", "helixx", "-o", "never.png"], 1, "unknown pattern 'helixx' (did you mean helix"),
    (["render", "helixx", "--beats", "1", "--bpm", "120", "--fps", "4"], 1, "did you mean helix"),
    (["stream", "helix", "lfo_breath", "--bpm", "120", "--osc", "127.0.0.1:9"], 1,
     "unknown pattern 'lfo_breath' (did you mean lfo_breathe"),
])
def test_errors_are_one_line_with_a_failing_status(capsys, argv, status, message):
    got, out, err = run(capsys, *argv)
    assert got == status
    assert out == ""
    assert err.count("\n") == 1 and err.startswith("movimo: error: ")
    assert message in err


def test_no_arguments_print_the_usage(capsys):
    status, out, err = run(capsys)
    assert status == 2 and err == ""
    assert out.startswith("usage: movimo") and all(
        command in out for command in ("list", "show", "render", "preview", "gallery", "stream"))


@pytest.mark.parametrize("fmt", ["csv", "json", "npy"])
def test_render_written_in_blocks_is_the_whole_document(monkeypatch, fmt):
    argv = ["render", "lfo_flower", "--beats", "2", "--bpm", "128", "--fps", "60",
            "--start-beat", "-1.5", "--format", fmt]

    def rendered():
        out = io.TextIOWrapper(io.BytesIO(), encoding="utf-8", newline="")
        assert main(argv, out=out) == 0
        return out.buffer.getvalue()

    whole = rendered()
    monkeypatch.setattr(movimo_tools.cli, "RENDER_BLOCK", 7)  # 56 frames: 8 blocks
    assert rendered() == whole
    tempo = movimo_tools.Tempo(128)
    pips = movimo_tools.frame_pips(tempo, 60, 2, -1.5)
    values = movimo_tools.evaluate_at("lfo_flower", pips, "smooth")
    seconds = tempo.seconds(-96.0) + np.arange(56) / 60
    if fmt == "json":
        assert whole == (json.dumps({"pattern": "lfo_flower", "bpm": 128.0, "fps": 60.0,
                                     "interpolation": "smooth", "seconds": seconds.tolist(),
                                     "pips": pips.tolist(), "values": values.tolist()})
                         + "\n").encode()
    elif fmt == "npy":
        saved = io.BytesIO()
        np.save(saved, values)
        assert whole == saved.getvalue()


@pytest.mark.parametrize("fault, status, message", [
    (OSError(28, "No space left on device"), 1,
     "movimo: error: standard output: No space left on device\n"),
    (IsADirectoryError(21, "Is a directory", "out.png"), 1,
     "movimo: error: out.png: Is a directory\n"),
    (MemoryError(), 1, "movimo: error: out of memory\n"),
    (KeyboardInterrupt(), 130, ""),
])
def test_faults_become_one_line(monkeypatch, capsys, fault, status, message):
    def fail(*args):
        raise fault

    monkeypatch.setattr(movimo_tools.cli, "table", fail)
    assert run(capsys, "show", "bounce")[::2] == (status, message)


@pytest.mark.parametrize("hidden, argv, needs, packages", [
    ("mido", ["stream", "helix", "--clock", "midi:drums"], "MIDI clock input needs mido and "
     "python-rtmidi", ["mido", "python-rtmidi"]),
    ("aalink", ["stream", "helix", "--clock", "link"], "following Link needs aalink", ["aalink"]),
    ("movimo_tools.surfaces.web", ["serve", "helix", "--bpm", "120", "--port", "0"],
     "the console needs starlette, uvicorn and websockets", ["starlette", "uvicorn", "websockets"]),
])
def test_a_missing_optional_part_names_the_packages_to_install(monkeypatch, capsys, hidden, argv,
                                                                needs, packages):
    # A None entry makes the import fail, as if the package were not installed.
    monkeypatch.setitem(sys.modules, hidden, None)
    status, _, err = run(capsys, *argv, "--osc", "127.0.0.1:9", "--frames", "1")
    shown, _, command = err.rstrip("\n").partition(": pip install ")
    # By name, as anyone can install them: naming the extra works only from a clone.
    assert (status, shown) == (1, f"movimo: error: {needs}")
    assert [re.split("[<>=]", word)[0] for word in shlex.split(command)] == packages


@pytest.mark.parametrize("argv, message", [
    (["list"], "movimo: error: standard output: No space left on device\n"),
    (["preview", "helix", "-o", "taken.png"], "movimo: error: taken.png: Is a directory\n"),
    (["gallery", "-o", "/proc/movimo/gallery"],
     "movimo: error: /proc/movimo/gallery: No such file or directory\n"),
])
def test_operating_system_errors_are_one_line(tmp_path, argv, message):
    (tmp_path / "taken.png").mkdir()
    with open("/dev/full", "w") as full:
        done = subprocess.run([sys.executable, "-m", "movimo_tools", *argv], stdout=full,
                              stderr=subprocess.PIPE, text=True, cwd=tmp_path)
    assert done.returncode == 1
    assert done.stderr.startswith(message) and done.stderr.count("\n") == 1


@pytest.mark.parametrize("library", ["numpy", "movimo", "pythonosc"])
def test_ctrl_c_while_the_libraries_load_is_quiet(library):
    script = f"""
import sys

class CtrlC:
    def find_spec(self, name, path=None, target=None):
        if name == {library!r}:
            raise KeyboardInterrupt

sys.meta_path.insert(0, CtrlC())
from movimo_tools.__main__ import main
sys.exit(main())
"""
    root = pathlib.Path(movimo_tools.__file__).parents[1]
    done = subprocess.run([sys.executable, "-c", script, "show", "helix"], capture_output=True,
                          text=True, env=dict(os.environ, PYTHONPATH=str(root)), timeout=60)
    assert (done.returncode, done.stdout, done.stderr) == (130, "", "")


def test_render_times_count_from_beat_zero(capsys):
    status, out, _ = run(capsys, "render", "bounce", "--beats", "1", "--bpm", "120", "--fps", "4",
                         "--start-beat", "2", "--interpolation", "step")
    assert status == 0
    assert out.splitlines()[1:] == ["1.0,128.0,-1.0,0.0,0.0", "1.25,160.0,1.0,0.0,0.0"]


def test_binary_output_is_not_written_to_a_terminal(capsys):
    class Terminal(io.StringIO):
        def isatty(self):
            return True

    terminal = Terminal()
    argv = ["render", "bounce", "--beats", "1", "--bpm", "120", "--fps", "60"]
    assert main(argv + ["--format", "npy"], out=terminal) == 1
    assert terminal.getvalue() == ""
    assert capsys.readouterr().err == (
        "movimo: error: npy output is binary: redirect it to a file\n")


def test_console_script_runs_as_a_program():
    script = shutil.which("movimo", path=os.path.dirname(sys.executable))
    command = [script] if script else [sys.executable, "-m", "movimo_tools"]
    done = subprocess.run(command + ["list", "--pack", "expansion", "--axes", "3"],
                          capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr
    assert [line.split()[0] for line in done.stdout.splitlines()] == [
        "path_torus_knot", "path_woven_3d", "rhythm_three_four_five"]


def test_version_comes_from_the_version_header(capsys):
    header = (pathlib.Path(__file__).parents[2] / "include/movimo/version.h").read_text()
    parts = [re.search(rf"MOVIMO_VERSION_{part} (\d+)", header)[1]
             for part in ("MAJOR", "MINOR", "PATCH")]
    version = ".".join(parts)
    with pytest.raises(SystemExit) as done:
        main(["--version"])
    assert done.value.code == 0
    assert capsys.readouterr().out == f"movimo {version}\n"
    assert movimo_tools.__version__ == importlib.metadata.version("movimo") == version

import decimal
import importlib
import importlib.metadata
import math
import pathlib
import shutil
import subprocess
import sys

import pytest

import movimo

SHAPES = ["bounce", "sway", "circle", "figure_eight", "step_touch", "box_step", "helix",
          "clay_background"]
RUDIMENTS = ["single_stroke_roll", "double_stroke_roll", "multiple_bounce_roll",
             "single_paradiddle", "flam", "drag", "five_stroke_roll"]
FUNCTIONS = SHAPES + RUDIMENTS
PERIODS = dict(zip(FUNCTIONS, [64, 128, 64, 128, 128, 256, 256, 256, 64, 64, 64, 128, 64, 64, 128]))
MODULE_ORDER = ["PIPS_PER_BEAT", "SampledRecording", "Offset3", "SampledPattern",
                "PatternLibrary", "sample", "catalogue"] + FUNCTIONS


def test_docstring_and_constant():
    assert movimo.__doc__ == "Integer-pip rhythmic position functions"
    assert type(movimo.PIPS_PER_BEAT) is int and movimo.PIPS_PER_BEAT == 64


def test_attributes_are_defined_in_order():
    defined = [name for name in vars(movimo) if not name.startswith("__")]
    assert defined == [name for name in MODULE_ORDER if name in defined]
    assert set(FUNCTIONS) | {"PIPS_PER_BEAT", "Offset3"} <= set(defined)


def test_reimport_returns_the_same_module():
    first = sys.modules.pop("movimo")
    try:
        again = importlib.import_module("movimo")
        assert again is first
        assert again.Offset3 is first.Offset3
    finally:
        sys.modules["movimo"] = first


def test_installed_as_a_single_extension_module():
    files = [str(f) for f in importlib.metadata.files("movimo")]
    modules = [f for f in files if f.startswith("movimo.")]
    assert len(modules) == 1 and modules[0].endswith(".so")
    assert pathlib.Path(movimo.__file__).name == modules[0]
    assert not any(f.startswith("movimo/") for f in files)  # a module, not a package


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("name", FUNCTIONS)
def test_lenient_pips_accepted(name):
    fn = getattr(movimo, name)
    expected = fn(5).as_tuple()
    assert fn(True).as_tuple() == fn(1).as_tuple()
    assert fn(Index(5)).as_tuple() == expected
    assert fn(decimal.Decimal(5)).as_tuple() == expected
    assert fn(-2147483648).as_tuple() == fn(0).as_tuple()
    assert fn(2147483647).as_tuple() == fn(PERIODS[name] - 1).as_tuple()


@pytest.mark.parametrize("name", FUNCTIONS)
@pytest.mark.parametrize("call", [
    lambda fn: fn(2147483648),
    lambda fn: fn(-2147483649),
    lambda fn: fn(1.0),
    lambda fn: fn(),
    lambda fn: fn(1, 2),
    lambda fn: fn(pip=1),
    lambda fn: fn(arg0=1),
    lambda fn: fn("1"),
], ids=["above", "below", "float", "none", "two", "kw-pip", "kw-arg0", "str"])
def test_bad_pips_raise_type_error(name, call):
    with pytest.raises(TypeError):
        call(getattr(movimo, name))


@pytest.mark.parametrize("name", FUNCTIONS)
def test_signature_lines(name):
    assert getattr(movimo, name).__doc__.strip() == (
        f"{name}(arg0: typing.SupportsInt | typing.SupportsIndex) -> movimo.Offset3")


def test_offset3_is_a_read_only_result():
    o = movimo.circle(16)
    assert isinstance(o, movimo.Offset3)
    assert o.as_tuple() == (o.x, o.y, o.z) == (1.0, 0.0, 0.0)
    assert o.as_tuple() is not o.as_tuple()
    with pytest.raises(TypeError, match=r": No constructor defined!$"):
        movimo.Offset3()
    for field in ("x", "y", "z"):
        with pytest.raises(AttributeError):
            setattr(o, field, 1.0)
    with pytest.raises(AttributeError):
        o.w = 1.0
    assert movimo.bounce(3) is not movimo.bounce(3)
    assert movimo.bounce(3) != movimo.bounce(3)  # no value comparison of its own


def test_values_cross_the_boundary_unchanged():
    assert movimo.circle(0).as_tuple() == (6.123233995736766e-17, -1.0, 0.0)
    y = movimo.step_touch(0).y
    assert y == 0.0 and math.copysign(1.0, y) == -1.0
    assert movimo.five_stroke_roll(43).as_tuple() == (1.0, -0.72, 0.0)
    assert movimo.clay_background(100).as_tuple() == (-1.0, 0.8999999999999999, 0.0)


def _other_python():
    found = shutil.which("python3.13")
    if found is None:
        for candidate in sorted(pathlib.Path.home().glob(".pyenv/versions/3.13*/bin/python3.13")):
            found = str(candidate)
    return found


def test_other_interpreter_gets_the_version_message():
    python = _other_python()
    if python is None:
        pytest.skip("no Python 3.13 interpreter on this machine to load the module with")
    script = (
        "import importlib.machinery, importlib.util, sys\n"
        "path = sys.argv[1]\n"
        "loader = importlib.machinery.ExtensionFileLoader('movimo', path)\n"
        "found = importlib.util.spec_from_file_location('movimo', path, loader=loader)\n"
        "try:\n"
        "    importlib.util.module_from_spec(found)\n"
        "except ImportError as error:\n"
        "    print(type(error).__name__, error, sep=': ')\n"
        "print('version:', sys.version)\n"
    )
    result = subprocess.run([python, "-c", script, movimo.__file__], capture_output=True,
                            text=True, timeout=60, env={"PYENV_VERSION": "3.13"})
    lines = result.stdout.splitlines()
    version = lines[-1].removeprefix("version: ")
    assert lines[0] == (
        "ImportError: Python version mismatch: module was compiled for Python 3.12, "
        f"but the interpreter version is incompatible: {version}.")


def test_native_functions_are_visible_symbols_of_the_module():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm (binutils) is not installed")
    result = subprocess.run([nm, "-DC", "--defined-only", movimo.__file__], capture_output=True,
                            text=True, check=True)
    exported = {line.split(" ", 2)[2] for line in result.stdout.splitlines() if line.count(" ") >= 2}
    for name in FUNCTIONS:
        assert f"movimo::{name}(int)" in exported
    assert "movimo::wrap_pip(int, int)" in exported
    # Internals of the library stay hidden.
    assert not any("anonymous namespace" in symbol for symbol in exported)

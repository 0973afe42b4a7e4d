"""The shipped stubs let mypy check code that uses the whole module."""
import subprocess
import sys
import textwrap

USES_EVERYTHING = """
    from collections.abc import Callable

    import numpy

    import movimo

    beat: int = movimo.PIPS_PER_BEAT

    recording = movimo.SampledRecording("take", ["x", "y"], [[0.0, 0.5]], 120,
                                        beat_zero_seconds=0.5, start_pip=3)
    recording_name: str = recording.name
    axes: list[str] = recording.dimensions
    frames: int = recording.sample_count
    bpm: float = recording.bpm
    origin: float = recording.beat_zero_seconds
    start: int = recording.start_pip
    frame: list[float] = recording.sample(pip=3)

    pattern = movimo.SampledPattern("mine", "Mine", [(0.0, 0.5, 0.0), [1, 0, 0]])
    pattern_name: str = pattern.name
    description: str = pattern.description
    period: int = pattern.period_pips
    offset: movimo.Offset3 = pattern.sample(pip_count=1)
    x: float = offset.x
    y: float = offset.y
    z: float = offset.z
    xyz: tuple[float, float, float] = offset.as_tuple()

    library = movimo.PatternLibrary([pattern])
    empty = movimo.PatternLibrary(patterns=[])
    mine: movimo.Offset3 = library.sample("mine", pip_count=-1)
    listed: list[dict[str, object]] = library.catalogue() + empty.catalogue()

    builtin: movimo.Offset3 = movimo.sample("bounce", 32)
    from_numpy: movimo.Offset3 = movimo.circle(numpy.int64(3))
    everything: list[dict[str, object]] = movimo.catalogue()

    functions: list[Callable[[int], movimo.Offset3]] = [
        movimo.bounce, movimo.sway, movimo.circle, movimo.figure_eight, movimo.step_touch,
        movimo.box_step, movimo.helix, movimo.clay_background, movimo.single_stroke_roll,
        movimo.double_stroke_roll, movimo.multiple_bounce_roll, movimo.single_paradiddle,
        movimo.flam, movimo.drag, movimo.five_stroke_roll,
    ]
"""

# Every line is a mistake that the stubs must let mypy see.
MISTAKES = """
    import movimo
    movimo.bounce("1")
    movimo.circle(1.5)
    movimo.sample("bounce", 2.0)
    movimo.SampledRecording("r", ["x"], [[0.0]], 120, start_pip=0.5)
    movimo.SampledPattern("p", "", [[0.0, 0.0, 0.0]]).sample(1.5)
    text: str = movimo.sway(0).x
    movimo.PatternLibrary([1])
    movimo.PatternLibrary().sample("bounce")
    movimo.SampledRecording("r", ["x"], [[0.0]], bpm="120")
    frame: list[int] = movimo.SampledRecording("r", ["x"], [[0.0]], 120).sample(0)
    movimo.helix(0).x = 1.0
    movimo.SampledPattern("p", "", [[0.0, 0.0, 0.0]]).period_pips = 2
"""


def run_mypy(tmp_path, source):
    script = tmp_path / "script.py"
    script.write_text(textwrap.dedent(source))
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary",
         f"--cache-dir={tmp_path / 'cache'}", str(script)],
        capture_output=True, text=True, check=False)
    return result


def test_a_script_using_every_class_and_function_type_checks(tmp_path):
    result = run_mypy(tmp_path, USES_EVERYTHING)
    assert result.returncode == 0, result.stdout + result.stderr


def test_each_mistake_is_reported(tmp_path):
    result = run_mypy(tmp_path, MISTAKES)
    reported = {int(line.split(":")[1]) for line in result.stdout.splitlines() if ": error:" in line}
    mistakes = {number for number, line in enumerate(textwrap.dedent(MISTAKES).splitlines(), 1)
                if line.strip() and not line.startswith("import")}
    assert reported == mistakes, result.stdout + result.stderr


def test_a_script_using_the_public_names_of_movimo_tools_type_checks(tmp_path):
    import movimo_tools
    names = ", ".join(f"movimo_tools.{name}" for name in movimo_tools.__all__)
    result = run_mypy(tmp_path, f"""
        import movimo_tools
        everything: tuple[object, ...] = ({names},)
        version: str = movimo_tools.__version__
        rows = movimo_tools.evaluate("helix", [0, 16])
        beats: float = movimo_tools.Tempo(120.0).bpm
    """)
    assert result.returncode == 0, result.stdout + result.stderr


def test_movimo_tools_passes_mypy_strict(tmp_path):
    # The installed package, with the stubs of its native part, from a folder
    # where the source tree is not on the path.
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary",
         f"--cache-dir={tmp_path / 'cache'}", "-p", "movimo_tools"],
        capture_output=True, text=True, check=False, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr

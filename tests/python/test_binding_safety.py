"""Hostile use of the binding: objects whose initialiser never ran, rows that
change while they are read, and inputs far beyond the limits. Cases that once
crashed the interpreter run in one of their own, so that a crash fails the
test instead of ending the test run."""

import subprocess
import sys
import textwrap
import time

import pytest

import movimo

LIMIT = 2**23  # values a recording holds at most
NEVER_INITIALISED = "object was never initialised: its __init__ did not run"


def isolated(script: str) -> str:
    """What `script` prints in a fresh interpreter, which must survive it."""
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(script)],
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, (
        f"the interpreter ended with status {result.returncode}:\n{result.stderr[-3000:]}")
    return result.stdout


BOUND_CLASSES = [value for value in vars(movimo).values() if isinstance(value, type)]
# Arguments for the members that take some; every other member is called bare.
MEMBER_ARGUMENTS = {("PatternLibrary", "sample"): ("bounce", 0),
                    ("SampledPattern", "sample"): (0,),
                    ("SampledRecording", "sample"): (0,)}


@pytest.mark.parametrize("cls", BOUND_CLASSES, ids=lambda cls: cls.__name__)
def test_every_member_refuses_an_instance_whose_init_never_ran(cls):
    members = sorted(name for name in dir(cls) if not name.startswith("_"))
    printed = isolated(f"""
        import movimo
        cls = movimo.{cls.__name__}
        for name in {members!r}:
            try:
                member = getattr(cls.__new__(cls), name)
                if callable(member):
                    member(*{MEMBER_ARGUMENTS!r}.get((cls.__name__, name), ()))
                print(name, "answered")
            except TypeError as error:
                print(name, error)
    """)
    assert printed.splitlines() == [f"{name} movimo.{cls.__name__} {NEVER_INITIALISED}"
                                    for name in members]


@pytest.mark.parametrize("use", [
    "movimo.PatternLibrary([movimo.SampledPattern.__new__(movimo.SampledPattern)])",
    "movimo_tools.table('bounce', movimo.PatternLibrary.__new__(movimo.PatternLibrary))",
    "movimo_tools.period_pips('bounce', movimo.PatternLibrary.__new__(movimo.PatternLibrary))",
    "Mine.__new__(Mine).sample(0)",
    "failed.name",
])
def test_uninitialised_instances_are_refused_as_arguments_too(use):
    printed = isolated(f"""
        import movimo, movimo_tools

        class Mine(movimo.SampledPattern):
            pass

        failed = movimo.SampledPattern.__new__(movimo.SampledPattern)
        try:
            failed.__init__("Not a name", "", [[0.0, 0.0, 0.0]])
        except ValueError:
            pass
        try:
            {use}
        except TypeError as error:
            print(error)
    """)
    assert NEVER_INITIALISED in printed


def test_rows_that_change_while_read_are_refused():
    printed = isolated("""
        import collections.abc, movimo

        class Shifting(collections.abc.Sequence):
            '''Tells its length as 3, then 0, then 1; holds `count` items.'''
            def __init__(self, count):
                self.count, self.lengths = count, iter([3, 0, 1])
            def __len__(self):
                return next(self.lengths, 1)
            def __getitem__(self, index):
                if index >= self.count:
                    raise IndexError(index)
                return 0.5

        for count in (0, 1, 2, 4):
            try:
                movimo.SampledPattern("p", "", [[0.0, 0.0, 0.0], Shifting(count)])
                print(count, "accepted")
            except TypeError:
                print(count, "refused")
        print(movimo.SampledPattern("p", "", [Shifting(3)]).sample(0).as_tuple())
    """)
    assert printed.splitlines() == ["0 refused", "1 refused", "2 refused", "4 refused",
                                    "(0.5, 0.5, 0.5)"]


# Each input is cheap to build (shared rows, names made as they are read) but
# would take at least 800 MB to convert whole: it must be refused after
# converting only what the limit allows.
@pytest.mark.parametrize("build, message", [
    ("movimo.SampledRecording('take', [f'a{i}' for i in range(1000)], [[0.0] * 1000] * 10**5,"
     " bpm=120.0)", "Empty recording or recording resource limit exceeded"),
    ("movimo.SampledPattern('p', '', [[0.0, 0.0, 0.0]] * 4 * 10**7)",
     "A pattern requires 1..65535 samples (one per pip)"),
    ("movimo.PatternLibrary([movimo.SampledPattern('p', '', [[0.0, 0.0, 0.0]] * 65535)] * 1025)",
     "Too many patterns"),
    # The name and the tempo are still tested before the number of axes.
    *[(f"movimo.SampledRecording({name!r}, Names(), [[0.0]], bpm={bpm})", message)
      for name, bpm, message in [
          ("take", 120.0, "Empty recording or recording resource limit exceeded"),
          ("Bad", 120.0, "Invalid identifier"),
          ("take", 0.0, "A finite positive BPM and beat origin are required")]],
])
def test_oversized_inputs_are_refused_before_they_are_converted(build, message):
    printed = isolated(f"""
        import itertools, resource, movimo
        # A billion axis names that take no memory until they are converted.
        Names = type("Names", (list,), {{"__len__": lambda self: 10**9,
                                        "__iter__": lambda self: itertools.repeat("a", 10**9)}})
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        try:
            {build}
        except ValueError as error:
            print(error)
        grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
        print(grown // 1024)
    """)
    error, grown_megabytes = printed.splitlines()
    assert error == message
    assert int(grown_megabytes) < 400


# Lists too long by their length alone, one shared item repeated: refused from
# len() before any item is read, with the usual message and order of tests.
# Reading up to the limit first took 0.25 s (names) to 1.5 s (patterns).
@pytest.mark.parametrize("item, make, message", [
    ([0.5], lambda many: movimo.SampledRecording("take", ["a"], many, bpm=120.0),
     "Empty recording or recording resource limit exceeded"),
    ([0.5], lambda many: movimo.SampledRecording("Bad", ["a"], many, bpm=120.0),
     "Invalid identifier"),
    ([0.5], lambda many: movimo.SampledRecording("take", ["a"], many, bpm=0.0),
     "A finite positive BPM and beat origin are required"),
    ("a", lambda many: movimo.SampledRecording("take", many, [[0.5]], bpm=120.0),
     "Empty recording or recording resource limit exceeded"),
    (movimo.SampledPattern("p", "", [[0.0, 0.0, 0.0]]), movimo.PatternLibrary,
     "Too many patterns"),
])
def test_lists_too_long_by_their_length_are_refused_at_once(item, make, message):
    many = [item] * 30_000_000
    started = time.perf_counter()
    with pytest.raises(ValueError) as refused:
        make(many)
    assert time.perf_counter() - started < 0.1
    assert str(refused.value) == message


WIDE = [f"a{i}" for i in range(1024)]
WIDE_ROWS = [[0.0] * 1024] * (LIMIT // 1024 + 1)  # one frame more than 1024 axes allow
LONG_ROW = [0.0] * (LIMIT + 1)


@pytest.mark.parametrize("name, axes, rows, bpm, message", [
    ("Bad", WIDE, WIDE_ROWS, 120.0, "Invalid identifier"),
    ("take", WIDE, WIDE_ROWS, 0.0, "A finite positive BPM and beat origin are required"),
    ("take", WIDE[:-1] + ["a0"], WIDE_ROWS, 120.0,
     "Empty recording or recording resource limit exceeded"),
    # A frame that alone passes the limit is ragged, as it always was.
    ("take", ["a"], [[0.5], LONG_ROW], 120.0, "Ragged recording"),
    ("take", ["a"], [[2.0], [0.5, 0.5], LONG_ROW], 120.0, "Invalid sample"),
])
def test_recording_tests_keep_their_order_for_oversized_frames(name, axes, rows, bpm, message):
    with pytest.raises(ValueError, match=f"^{message}$"):
        movimo.SampledRecording(name, axes, rows, bpm=bpm)


def test_pattern_tests_keep_their_order_for_oversized_rows():
    with pytest.raises(ValueError, match="^Invalid pattern name$"):
        movimo.SampledPattern("Bad", "", [[0.0, 0.0, 0.0]] * 2**17)


@pytest.mark.parametrize("axes", [["a"], WIDE])  # the most frames, the most values
def test_a_recording_at_the_limit_is_accepted(axes):
    frames = LIMIT // len(axes)
    recording = movimo.SampledRecording("take", axes, [[0.5] * len(axes)] * frames, bpm=120.0)
    assert recording.sample_count == frames
    assert recording.sample(frames - 1) == [0.5] * len(axes)


def test_a_pattern_at_the_limit_is_accepted():
    assert movimo.SampledPattern("p", "", [[0.0, 0.0, 0.0]] * 65535).period_pips == 65535

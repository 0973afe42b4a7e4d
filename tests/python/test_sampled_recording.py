import decimal
import math

import pytest

import movimo

MIN_PIP = -2**31
MAX_PIP = 2**31 - 1
NEXT_ABOVE_ONE = math.nextafter(1.0, 2.0)
IDENTIFIER = "Invalid identifier"
TIMING = "A finite positive BPM and beat origin are required"
SIZE = "Empty recording or recording resource limit exceeded"
DUPLICATE = "Duplicate axis"
RAGGED = "Ragged recording"
VALUE = "Invalid sample"


class Index:
    def __index__(self):
        return 1

    def __float__(self):
        return 1.0


def recording(name="take", dimensions=("x",), samples=([0.5],), bpm=120.0, **timing):
    return movimo.SampledRecording(name, list(dimensions), list(samples), bpm, **timing)


def refuse(message, **arguments):
    with pytest.raises(ValueError) as error:
        recording(**arguments)
    assert str(error.value) == message


def test_defaults_and_properties():
    r = movimo.SampledRecording("r", ["x"], [[0.0]], 120)
    assert (r.name, r.dimensions, r.sample_count, r.bpm, r.beat_zero_seconds, r.start_pip) == (
        "r", ["x"], 1, 120.0, 0.0, 0)
    assert type(r.bpm) is float and type(r.beat_zero_seconds) is float
    assert r.sample(0) == [0.0]


def test_keywords_and_axis_order():
    r = movimo.SampledRecording(name=b"take_2", dimensions=("roll", "pitch", "a1"),
                                samples=((0.1, 0.2, 0.3), [-1, 1, 0]), bpm=decimal.Decimal(90),
                                beat_zero_seconds=-2.5, start_pip=decimal.Decimal(-3))
    assert r.name == "take_2" and r.dimensions == ["roll", "pitch", "a1"]
    assert (r.bpm, r.beat_zero_seconds, r.start_pip, r.sample_count) == (90.0, -2.5, -3, 2)
    assert r.sample(-3) == [0.1, 0.2, 0.3]
    assert r.sample(-2) == [-1.0, 1.0, 0.0]


@pytest.mark.parametrize("timing", [
    {"bpm": 0.0}, {"bpm": -0.0}, {"bpm": -120.0}, {"bpm": math.nan}, {"bpm": math.inf},
    {"bpm": -math.inf}, {"bpm": 5e-324}, {"bpm": 2.2250738585072014e-308},
    {"beat_zero_seconds": math.nan}, {"beat_zero_seconds": math.inf},
    {"beat_zero_seconds": -math.inf},
])
def test_bad_timing_is_refused(timing):
    refuse(TIMING, **timing)


@pytest.mark.parametrize("bpm", [1e-300, 0.001, 1e308, 1.7976931348623157e308])
def test_extreme_but_finite_tempos_are_accepted(bpm):
    assert recording(bpm=bpm).bpm == bpm


@pytest.mark.parametrize("arguments", [{"dimensions": ()}, {"samples": ()},
                                       {"start_pip": MAX_PIP},
                                       {"start_pip": MAX_PIP - 1, "samples": ([0.0], [0.0])}])
def test_empty_or_past_the_pip_range_is_refused(arguments):
    refuse(SIZE, **arguments)


@pytest.mark.parametrize("start_pip", [MAX_PIP - 1, MIN_PIP])
def test_start_pip_extremes_are_accepted(start_pip):
    r = recording(start_pip=start_pip)
    assert r.start_pip == start_pip and r.sample(start_pip) == [0.5]


@pytest.mark.parametrize("axes, rows", [(1, 8_388_608), (3, 2_796_202)])
def test_value_limit_is_inclusive(axes, rows):
    names = ["x", "y", "z"][:axes]
    r = movimo.SampledRecording("big", names, [[0.25] * axes] * rows, 60.0)
    assert r.sample_count == rows
    assert r.sample(rows - 1) == [0.25] * axes


@pytest.mark.parametrize("axes, rows", [(1, 8_388_609), (3, 2_796_203)])
def test_value_limit_plus_one_row_is_refused(axes, rows):
    refuse(SIZE, dimensions=["x", "y", "z"][:axes], samples=[[0.25] * axes] * rows)


@pytest.mark.parametrize("name", ["", "X", "1x", "_x", "x-y", "a" * 129, b"x\xff"])
def test_bad_identifiers_are_refused(name):
    refuse(IDENTIFIER, name=name)
    refuse(IDENTIFIER, dimensions=["x", name])


def test_longest_identifiers_are_accepted():
    r = recording(name="n" * 128, dimensions=["a" * 128])
    assert r.name == "n" * 128 and r.dimensions == ["a" * 128]


@pytest.mark.parametrize("arguments, message", [
    ({"name": "Bad", "bpm": math.nan, "dimensions": ()}, IDENTIFIER),
    ({"bpm": 0.0, "dimensions": ()}, TIMING),
    ({"samples": (), "dimensions": ("x", "x")}, SIZE),
    ({"dimensions": ("x", "x"), "samples": ([0.0, 0.0, 0.0],)}, DUPLICATE),
    ({"dimensions": ("x", "x", "9")}, DUPLICATE),
    ({"dimensions": ("9", "x", "x")}, IDENTIFIER),
    ({"samples": ([math.nan], [0.0, 0.0])}, VALUE),
    ({"samples": ([0.0, 0.0], [math.nan])}, RAGGED),
    ({"samples": ([0.0], [])}, RAGGED),
    ({"samples": ([0.0], [NEXT_ABOVE_ONE])}, VALUE),
    ({"samples": ([-NEXT_ABOVE_ONE],)}, VALUE),
    ({"samples": ([math.inf],)}, VALUE),
])
def test_first_failing_check_wins(arguments, message):
    refuse(message, **arguments)


def test_unit_bounds_are_accepted():
    assert recording(dimensions=["x", "y"], samples=[[1.0, -1.0]]).sample(0) == [1.0, -1.0]


@pytest.mark.parametrize("start_pip", [MIN_PIP, -5, 0, MAX_PIP - 3])
def test_sampling_covers_exactly_the_recorded_pips(start_pip):
    frames = [[0.1], [0.2], [0.3]]
    r = recording(samples=frames, start_pip=start_pip)
    assert [r.sample(start_pip + f) for f in range(3)] == frames
    outside = [pip for pip in (start_pip - 1, start_pip + 3, MIN_PIP, MAX_PIP)
               if MIN_PIP <= pip <= MAX_PIP and not start_pip <= pip < start_pip + 3]
    for pip in outside:
        with pytest.raises(IndexError, match="^Pip outside non-looping recording$"):
            r.sample(pip)


@pytest.mark.parametrize("pip", [0.0, decimal.Decimal(0), 2**31, None])
def test_sample_pip_is_strict(pip):
    with pytest.raises(TypeError):
        recording().sample(pip)


def test_sample_accepts_index_objects_and_returns_new_lists():
    r = recording(samples=[[0.5], [0.25]])
    assert r.sample(Index()) == [0.25]
    first = r.sample(0)
    first.append(1.0)
    assert r.sample(0) == [0.5] and r.dimensions is not r.dimensions


FRAMES = [[0.5, -0.5], [0.25, 1.0], [0.0, -1.0]]


@pytest.mark.parametrize("samples", [
    [tuple(frame) for frame in FRAMES],
    (frame for frame in FRAMES),
    [(value for value in frame) for frame in FRAMES],
    map(list, FRAMES),
    zip([0.5, 0.25, 0.0], [-0.5, 1.0, -1.0]),
    dict.fromkeys(map(tuple, FRAMES)).keys(),
    {i: frame for i, frame in enumerate(FRAMES)}.values(),
    [[0.5, -0.5], [0.25, True], [False, -1]],
    [[decimal.Decimal("0.5"), -0.5], [0.25, Index()], [0, -1]],
], ids=["tuples", "generator", "generator_frames", "map", "zip", "keys", "values", "bools",
        "decimal_and_index"])
def test_iterables_of_frames_are_accepted(samples):
    r = movimo.SampledRecording("r", ["x", "y"], samples, 120.0)
    assert [r.sample(f) for f in range(3)] == FRAMES


@pytest.mark.parametrize("samples", [
    [[0.0], [0.0, 0.0], ["x"]],
    [[0.0], "0"],
    [[0.0], b"0"],
    [[0.0], 0.0],
    [[0.0], [None]],
    [[0.5j]],
    "0",
])
def test_unconvertible_frames_are_type_errors_wherever_they_are(samples):
    with pytest.raises(TypeError):
        movimo.SampledRecording("r", ["x"], samples, 120.0)


@pytest.mark.parametrize("samples, message", [
    ([[0.0, 0.0]], RAGGED),
    ([[]], RAGGED),
    ([[0.0], [0.0, 0.0], [0.0]], RAGGED),
    ([[0.0], [0.0], [0.0, 0.0]], RAGGED),
    ([[0.0], [2.0], [0.0, 0.0]], VALUE),
    ([[0.0], [0.0, 0.0], [2.0]], RAGGED),
])
def test_frames_are_tested_in_order(samples, message):
    refuse(message, samples=samples)


@pytest.mark.parametrize("arguments", [
    ("r", "x", [[0.0]], 120.0),
    ("r", ["x"], [0.0], 120.0),
    ("r", ["x"], [["0"]], 120.0),
    ("r", ["x"], [[0.0]], "120"),
    ("r", ["x"], [[0.0]], 120.0, None),
    ("r", ["x"], [[0.0]], 120.0, 0.0, 0.5),
    ("r", ["x"], [[0.0]], 120.0, 0.0, 2**31),
])
def test_unconvertible_arguments_are_type_errors(arguments):
    with pytest.raises(TypeError):
        movimo.SampledRecording(*arguments)


@pytest.mark.parametrize("member", ["name", "dimensions", "sample_count", "bpm",
                                    "beat_zero_seconds", "start_pip"])
def test_properties_are_read_only(member):
    r = recording()
    with pytest.raises(AttributeError):
        setattr(r, member, getattr(r, member))


def test_members_are_in_order():
    members = [name for name in vars(movimo.SampledRecording) if not name.startswith("_")]
    assert members == ["name", "dimensions", "sample_count", "bpm", "beat_zero_seconds",
                       "start_pip", "sample"]

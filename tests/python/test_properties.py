"""Any input gives a valid object or one of the documented exceptions."""

import math
import struct
import threading

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import movimo

PIPS = st.integers(-2**31, 2**31 - 1)
EDGE_VALUES = st.sampled_from([math.nan, math.inf, -math.inf, 1.0, -1.0, 0.0, -0.0,
                               math.nextafter(1.0, 2.0), 5e-324])
VALUES = st.one_of(st.floats(-1.25, 1.25), EDGE_VALUES)
TEXT = st.text(st.characters(blacklist_categories=("Cs",)), max_size=20)
NAMES = st.one_of(st.from_regex(r"[a-z][a-z0-9_]{0,130}", fullmatch=True), TEXT,
                  st.binary(max_size=20))
ROWS = st.lists(st.tuples(VALUES, VALUES, VALUES), max_size=40)
FAST = settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])


def valid_value(v):
    return math.isfinite(v) and abs(v) <= 1.0


def assert_unknown_name(error, name):
    # The message carries the name's bytes; when they are not UTF-8 the
    # interpreter cannot decode it and raises UnicodeDecodeError, which is
    # still a ValueError.
    if isinstance(error, UnicodeDecodeError):
        assert isinstance(name, bytes)
        with pytest.raises(UnicodeDecodeError):
            name.decode()
        return
    assert str(error).startswith("Unknown movimo: ")
    if isinstance(name, str):
        # The native message is read back as a C string, so it ends at a NUL.
        assert str(error) == "Unknown movimo: " + name.split("\0")[0]


@FAST
@given(NAMES, st.text(max_size=10), ROWS, PIPS)
def test_sampled_pattern(name, description, rows, pip):
    try:
        pattern = movimo.SampledPattern(name, description, rows)
    except ValueError as error:
        assert str(error) in {"Invalid pattern name",
                              "A pattern requires 1..65535 samples (one per pip)",
                              "Pattern samples must be finite and within [-1, 1]"}
        return
    assert rows and all(valid_value(v) for row in rows for v in row)
    assert pattern.period_pips == len(rows)
    assert pattern.sample(pip).as_tuple() == tuple(rows[pip % len(rows)])


@FAST
@given(NAMES, st.lists(NAMES, max_size=4), st.lists(st.lists(VALUES, max_size=4), max_size=20),
       st.one_of(st.floats(allow_nan=True, allow_infinity=True), EDGE_VALUES),
       st.floats(allow_nan=True, allow_infinity=True), st.integers(-2**31, 2**31 - 1), PIPS)
def test_sampled_recording(name, axes, rows, bpm, beat_zero, start, pip):
    try:
        recording = movimo.SampledRecording(name, axes, rows, bpm, beat_zero, start)
    except ValueError as error:
        assert str(error) in {"Invalid identifier", "Duplicate axis", "Ragged recording",
                              "Invalid sample", "Empty recording or recording resource limit exceeded",
                              "A finite positive BPM and beat origin are required"}
        return
    assert recording.sample_count == len(rows)
    frame = pip - start
    if 0 <= frame < len(rows):
        assert recording.sample(pip) == [float(v) for v in rows[frame]]
    else:
        with pytest.raises(IndexError, match="^Pip outside non-looping recording$"):
            recording.sample(pip)


BUILT_INS = [entry["name"] for entry in movimo.catalogue()] if hasattr(movimo, "catalogue") else []


@FAST
@given(st.lists(st.tuples(st.one_of(NAMES, st.sampled_from(BUILT_INS or ["bounce"])), ROWS),
                max_size=6), NAMES, PIPS)
def test_pattern_library(drafts, name, pip):
    patterns = []
    for pattern_name, rows in drafts:
        try:
            patterns.append(movimo.SampledPattern(pattern_name, "", rows))
        except ValueError:
            pass
    try:
        library = movimo.PatternLibrary(patterns)
    except ValueError as error:
        message = str(error)
        assert message == "Pattern pack is too large" or message.startswith(
            ("Duplicate pattern name: ", "Cannot override default pattern: "))
        return
    try:
        library.sample(name, pip)
    except ValueError as error:
        assert_unknown_name(error, name)


@FAST
@given(st.one_of(TEXT, st.binary(max_size=40), st.sampled_from(BUILT_INS or ["bounce"])), PIPS)
def test_sample_by_name(name, pip):
    try:
        value = movimo.sample(name, pip)
    except ValueError as error:
        assert_unknown_name(error, name)
        return
    assert all(valid_value(v) for v in value.as_tuple())


def test_threads_sample_exactly_what_one_thread_does():
    names = ["bounce", "helix", "five_stroke_roll", "lfo_breathe", "euclid_11_24",
             "beat_dembow_push_ricochet"]
    pips = range(-700, 700, 3)
    expected = [struct.pack("3d", *movimo.sample(n, p).as_tuple()) for n in names for p in pips]
    results = {}

    def work(key):
        results[key] = [struct.pack("3d", *movimo.sample(n, p).as_tuple())
                        for n in names for p in pips]

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert all(results[k] == expected for k in range(8))

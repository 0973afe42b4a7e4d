import decimal

import pytest

import movimo

ZERO_ROW = [0.0, 0.0, 0.0]


class Index:
    def __index__(self):
        return -1


def pattern(name, rows=([0.5, 0.0, 0.0], [0.0, -0.5, 0.0], [0.0, 0.0, 0.25]), description=""):
    return movimo.SampledPattern(name, description, list(rows))


def builtin_copy(name):
    """A caller pattern equal in every respect to the built-in `name`."""
    entry = next(e for e in movimo.catalogue() if e["name"] == name)
    rows = [movimo.sample(name, pip).as_tuple() for pip in range(entry["period_pips"])]
    return movimo.SampledPattern(name, entry["description"], rows)


def refused(patterns):
    with pytest.raises(ValueError) as error:
        movimo.PatternLibrary(patterns)
    return str(error.value)


@pytest.mark.parametrize("make", [lambda: movimo.PatternLibrary(),
                                  lambda: movimo.PatternLibrary([]),
                                  lambda: movimo.PatternLibrary(patterns=[]),
                                  lambda: movimo.PatternLibrary(())])
def test_an_empty_library_answers_as_the_builtins(make):
    library = make()
    assert library.catalogue() == movimo.catalogue()
    for name in ("bounce", "helix", "lfo_breathe"):
        for pip in (-1, 0, 77):
            assert library.sample(name, pip).as_tuple() == movimo.sample(name, pip).as_tuple()


def test_default_is_shown_as_an_empty_list():
    assert "patterns: collections.abc.Sequence[movimo.SampledPattern] = []" in (
        movimo.PatternLibrary.__init__.__doc__)


def test_caller_patterns_are_sampled_and_listed_after_the_builtins():
    library = movimo.PatternLibrary([pattern("mine"), pattern("flat", [[0.5, 0.0, 0.0]]),
                                     pattern("lift", [[0.0, 0.25, 0.0], ZERO_ROW])])
    assert library.sample("mine", -1).as_tuple() == (0.0, 0.0, 0.25)
    assert library.sample(b"mine", 4).as_tuple() == (0.0, -0.5, 0.0)
    assert library.sample("lift", 2**31 - 1).as_tuple() == (0.0, 0.0, 0.0)
    assert library.sample("bounce", 32).as_tuple() == movimo.bounce(32).as_tuple()
    entries = library.catalogue()
    assert entries[:-3] == movimo.catalogue()
    assert entries[-3:] == [
        {"name": "mine", "description": "", "period_pips": 3, "dimensions": 3},
        {"name": "flat", "description": "", "period_pips": 1, "dimensions": 1},
        {"name": "lift", "description": "", "period_pips": 2, "dimensions": 2},
    ]
    assert list(entries[-1]) == ["name", "description", "period_pips", "dimensions"]


@pytest.mark.parametrize("name", ["", "unknown", "Bounce", "bounce ", "mine_"])
def test_names_in_neither_set_are_unknown(name):
    library = movimo.PatternLibrary([pattern("mine")])
    with pytest.raises(ValueError) as error:
        library.sample(name, 0)
    assert str(error.value) == "Unknown movimo: " + name


@pytest.mark.parametrize("pip", [0.0, decimal.Decimal(1), 2**31, None])
def test_sample_pip_is_strict(pip):
    with pytest.raises(TypeError):
        movimo.PatternLibrary().sample("bounce", pip)


def test_sample_accepts_keywords_and_index_objects():
    library = movimo.PatternLibrary([pattern("mine")])
    assert library.sample(name="mine", pip_count=Index()).as_tuple() == (0.0, 0.0, 0.25)


def test_patterns_are_copied_and_stay_usable():
    mine = pattern("mine", description="Mine")
    first = movimo.PatternLibrary([mine])
    second = movimo.PatternLibrary((mine,))
    assert (mine.name, mine.description, mine.period_pips) == ("mine", "Mine", 3)
    assert mine.sample(2).as_tuple() == (0.0, 0.0, 0.25)
    del mine
    assert first.sample("mine", 0).as_tuple() == second.sample("mine", 0).as_tuple()


def test_subclassed_patterns_and_iterables_are_accepted():
    class Named(movimo.SampledPattern):
        pass

    library = movimo.PatternLibrary(p for p in [Named("sub", "", [[0.5, 0.0, 0.0]])])
    assert library.sample("sub", 9).as_tuple() == (0.5, 0.0, 0.0)


@pytest.mark.parametrize("patterns", [[pattern("a"), "b"], [None], "ab", pattern("a"),
                                      [[[0.5, 0.0, 0.0]]]])
def test_elements_that_are_not_patterns_are_type_errors(patterns):
    with pytest.raises(TypeError):
        movimo.PatternLibrary(patterns)


def test_1024_patterns_are_accepted_and_1025_refused_before_anything_else():
    accepted = [pattern(f"p{i}", [ZERO_ROW]) for i in range(1024)]
    assert len(movimo.PatternLibrary(accepted).catalogue()) == len(movimo.catalogue()) + 1024
    assert refused(accepted + [pattern("p0", [ZERO_ROW])]) == "Too many patterns"


def test_pack_sample_limit_is_inclusive_and_counts_dropped_copies():
    full = [pattern(f"full_{i}", [ZERO_ROW] * 65535) for i in range(16)]
    movimo.PatternLibrary(full + [pattern("rest", [ZERO_ROW] * 16)]).sample("rest", 0)
    assert refused(full + [pattern("rest", [ZERO_ROW] * 17)]) == "Pattern pack is too large"
    # bounce is dropped as an exact copy of the built-in, yet its 64 samples count.
    with_copy = full[:15] + [builtin_copy("bounce")]
    movimo.PatternLibrary(with_copy + [pattern("rest", [ZERO_ROW] * 65487)]).sample("rest", 0)
    assert refused(with_copy + [pattern("rest", [ZERO_ROW] * 65488)]) == (
        "Pattern pack is too large")


@pytest.mark.parametrize("patterns, message", [
    ([pattern("a"), pattern("b"), pattern("a")], "Duplicate pattern name: a"),
    ([builtin_copy("bounce"), builtin_copy("bounce")], "Duplicate pattern name: bounce"),
    ([pattern("a"), pattern("bounce"), pattern("a")], "Cannot override default pattern: bounce"),
    ([pattern("a"), pattern("a"), pattern("bounce")], "Duplicate pattern name: a"),
])
def test_first_failing_pattern_decides(patterns, message):
    assert refused(patterns) == message


@pytest.mark.parametrize("name", ["bounce", "helix", "five_stroke_roll", "lfo_breathe",
                                  "beat_dembow_push_ricochet"])
def test_exact_copies_of_builtins_are_dropped(name):
    library = movimo.PatternLibrary([pattern("before"), builtin_copy(name), pattern("after")])
    entries = library.catalogue()
    assert entries[:-2] == movimo.catalogue()
    assert [e["name"] for e in entries[-2:]] == ["before", "after"]
    assert [e["name"] for e in entries].count(name) == 1
    assert library.sample(name, -3).as_tuple() == movimo.sample(name, -3).as_tuple()


def altered(name, change):
    copy = builtin_copy(name)
    rows = [copy.sample(pip).as_tuple() for pip in range(copy.period_pips)]
    description = copy.description
    if change == "description":
        description += " "
    elif change == "row":
        x, y, z = rows[-1]
        rows[-1] = (x, y, z + (2.0**-40 if z < 0.5 else -2.0**-40))
    elif change == "longer":
        rows = rows + rows
    elif change == "shorter":
        rows = rows[:-1]
    return movimo.SampledPattern(name, description, rows)


@pytest.mark.parametrize("change", ["description", "row", "longer", "shorter"])
@pytest.mark.parametrize("name", ["bounce", "lfo_breathe"])
def test_any_difference_from_a_builtin_is_refused(name, change):
    assert refused([altered(name, change)]) == "Cannot override default pattern: " + name


def test_negative_zero_matches_a_builtin_zero():
    copy = builtin_copy("bounce")
    rows = [(x, -0.0, -0.0) for x, _, _ in (copy.sample(p).as_tuple() for p in range(64))]
    library = movimo.PatternLibrary([movimo.SampledPattern("bounce", copy.description, rows)])
    assert library.catalogue() == movimo.catalogue()


def test_undecodable_description_fails_only_in_catalogue():
    library = movimo.PatternLibrary([pattern("raw", description=b"\xff")])
    assert library.sample("raw", 0).as_tuple() == (0.5, 0.0, 0.0)
    with pytest.raises(UnicodeDecodeError):
        library.catalogue()


def test_members_are_in_order():
    members = [name for name in vars(movimo.PatternLibrary) if not name.startswith("_")]
    assert members == ["sample", "catalogue"]

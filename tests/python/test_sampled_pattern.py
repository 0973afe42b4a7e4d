import decimal
import math

import pytest

import movimo

NEXT_ABOVE_ONE = math.nextafter(1.0, 2.0)
ROWS = [[0.0, 0.0, 0.0], [0.25, 0.0, 0.0], [0.5, -0.5, 0.0], [1.0, 0.0, -1.0]]
NAME_MESSAGE = "Invalid pattern name"
COUNT_MESSAGE = "A pattern requires 1..65535 samples (one per pip)"
VALUE_MESSAGE = "Pattern samples must be finite and within [-1, 1]"


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def pattern(samples=ROWS, name="p", description=""):
    return movimo.SampledPattern(name, description, samples)


@pytest.mark.parametrize("name", ["a", "z9", "a_b_1", "abc_123_", "q" * 128, b"bytes_name",
                                  bytearray(b"array_name")])
def test_identifier_names_are_accepted(name):
    expected = name if isinstance(name, str) else bytes(name).decode()
    assert pattern(name=name).name == expected


@pytest.mark.parametrize("name", ["", "q" * 129, "Abc", "aBc", "_a", "1a", "a-b", "a b", "a.b",
                                  "caf\u00e9", b"a\x80", b"a\xff", "a\x00"])
def test_other_names_are_refused(name):
    with pytest.raises(ValueError, match=f"^{NAME_MESSAGE}$"):
        pattern(name=name)


@pytest.mark.parametrize("count", [0, 65536])
def test_sample_count_outside_1_to_65535_is_refused(count):
    with pytest.raises(ValueError) as error:
        pattern([[0.0, 0.0, 0.0]] * count)
    assert str(error.value) == COUNT_MESSAGE


def test_65535_samples_are_accepted():
    rows = [[0.0, 0.0, 0.0]] * 65534 + [[0.5, 0.5, 0.5]]
    big = pattern(rows)
    assert big.period_pips == 65535
    assert big.sample(-1).as_tuple() == (0.5, 0.5, 0.5)


@pytest.mark.parametrize("value", [math.nan, math.inf, -math.inf, NEXT_ABOVE_ONE,
                                   -NEXT_ABOVE_ONE, 2])
@pytest.mark.parametrize("axis", [0, 1, 2])
def test_components_outside_unit_range_are_refused(value, axis):
    row = [0.0, 0.0, 0.0]
    row[axis] = value
    with pytest.raises(ValueError) as error:
        pattern([[0.0, 0.0, 0.0], row])
    assert str(error.value) == VALUE_MESSAGE


def test_unit_bounds_and_subnormals_are_accepted():
    rows = [[1.0, -1.0, 1.0], [-1.0, 1.0, -1.0], [5e-324, -0.0, -5e-324]]
    p = pattern(rows)
    assert [p.sample(i).as_tuple() for i in range(3)] == [tuple(r) for r in rows]


@pytest.mark.parametrize("arguments, message", [
    (("Bad", "", []), NAME_MESSAGE),
    (("p", "", [[math.nan, 0.0, 0.0]] * 65536), COUNT_MESSAGE),
])
def test_first_failing_check_wins(arguments, message):
    with pytest.raises(ValueError) as error:
        movimo.SampledPattern(*arguments)
    assert str(error.value) == message


@pytest.mark.parametrize("pip, row", [(0, 0), (3, 3), (4, 0), (-1, 3), (-4, 0), (-5, 3),
                                      (2**31 - 1, 3), (-2**31, 0), (True, 1)])
def test_sample_wraps_in_both_directions(pip, row):
    assert pattern().sample(pip).as_tuple() == tuple(ROWS[row])


def test_sample_accepts_keyword_and_index_objects():
    assert pattern().sample(pip_count=Index(6)).as_tuple() == tuple(ROWS[2])


@pytest.mark.parametrize("pip", [3.0, decimal.Decimal(3), 2**31, -2**31 - 1, "3", None])
def test_sample_pip_is_strict(pip):
    with pytest.raises(TypeError):
        pattern().sample(pip)


def test_each_sample_is_a_new_offset():
    p = pattern()
    assert p.sample(1) is not p.sample(1)


@pytest.mark.parametrize("samples", [
    [tuple(row) for row in ROWS],
    (row for row in ROWS),
    map(list, ROWS),
    zip(*zip(*ROWS)),
    dict.fromkeys(map(tuple, ROWS)).keys(),
    {i: row for i, row in enumerate(ROWS)}.values(),
    [[0, 0, 0], [0.25, 0, 0], [0.5, -0.5, 0], [1, 0, -1]],
    [[Index(0), 0.0, 0.0], [0.25, 0.0, 0.0], [0.5, -0.5, 0.0], [True, False, -1]],
], ids=["tuples", "generator", "map", "zip", "keys", "values", "ints", "index_and_bool"])
def test_iterables_of_rows_are_accepted(samples):
    p = pattern(samples)
    assert [p.sample(i).as_tuple() for i in range(4)] == [tuple(r) for r in ROWS]


def test_sets_and_decimals_are_accepted():
    p = pattern({(decimal.Decimal("0.5"), 0.0, 0.0)})
    assert p.sample(0).as_tuple() == (0.5, 0.0, 0.0)


@pytest.mark.parametrize("samples", [
    [[0.5, 0, 0], [0, 0.5]],
    [[0.5, 0, 0, 0]],
    [[]],
    "abc",
    [[0.5, "0", 0]],
    [[0.5, None, 0]],
    [(0.5, 0, 0), 0.5],
    [[0.5j, 0, 0]],
])
def test_rows_that_are_not_three_reals_are_type_errors(samples):
    with pytest.raises(TypeError):
        pattern(samples)


@pytest.mark.parametrize("name, description", [(None, ""), ("p", None), (["p"], ""), (1, "")])
def test_text_arguments_must_be_text(name, description):
    with pytest.raises(TypeError):
        movimo.SampledPattern(name, description, ROWS)


@pytest.mark.parametrize("description, text", [("", ""), ("Caf\u00e9 \u266a", "Caf\u00e9 \u266a"),
                                               (b"\xe2\x99\xaa", "\u266a"),
                                               (bytearray(b"raw"), "raw")])
def test_description_round_trips(description, text):
    assert pattern(description=description).description == text


def test_undecodable_description_fails_only_when_read():
    p = pattern(description=b"\xff\xfe")
    assert p.period_pips == 4
    with pytest.raises(UnicodeDecodeError):
        p.description


def test_input_rows_are_copied():
    rows = [list(row) for row in ROWS]
    p = pattern(rows)
    rows[0][0] = 0.75
    rows.clear()
    assert p.sample(0).as_tuple() == (0.0, 0.0, 0.0)


@pytest.mark.parametrize("member", ["name", "description", "period_pips"])
def test_properties_are_read_only(member):
    with pytest.raises(AttributeError):
        setattr(pattern(), member, getattr(pattern(), member))


def test_instances_take_no_new_attributes():
    with pytest.raises(AttributeError):
        pattern().extra = 1


def test_members_are_in_order_and_undocumented():
    members = [name for name in vars(movimo.SampledPattern) if not name.startswith("_")]
    assert members == ["name", "description", "period_pips", "sample"]
    assert movimo.SampledPattern.__doc__ is None
    assert not movimo.SampledPattern.name.__doc__


def test_subclass_must_initialise_its_base():
    class Named(movimo.SampledPattern):
        pass

    class Broken(movimo.SampledPattern):
        def __init__(self):
            pass

    assert Named("n", "", ROWS).sample(3).as_tuple() == (1.0, 0.0, -1.0)
    with pytest.raises(TypeError):
        Broken()

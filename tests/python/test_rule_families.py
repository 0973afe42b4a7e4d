"""Sampled families with a closed rule: every stored row of every member
agrees with an independent evaluation of the family's formula."""

import math

import pytest

import movimo
from rule_reference import FAMILIES

# Stored values are rounded to 12 decimals; two roundings of nearly equal
# raw values may land one unit apart, plus the binary representation error.
TOLERANCE = 1e-12 + 1e-15

RULED = {name: entry for family in FAMILIES.values() for name, entry in family.items()}


def test_reference_periods_and_axes_match_the_catalogue():
    listed = {entry["name"]: (entry["period_pips"], entry["dimensions"])
              for entry in movimo.catalogue()}
    assert {name: listed.get(name) for name in RULED} == \
        {name: (period, dimensions) for name, (period, dimensions, _) in RULED.items()}


@pytest.mark.parametrize("family", FAMILIES)
def test_every_row_follows_the_family_rule(family):
    wrong = []
    for name, (period, dimensions, rows) in FAMILIES[family].items():
        for pip, expected in enumerate(rows()):
            got = movimo.sample(name, pip).as_tuple()
            for axis in range(3):
                if axis >= dimensions:
                    # An unused axis holds +0.0, never -0.0.
                    ok = got[axis] == 0.0 and math.copysign(1.0, got[axis]) == 1.0
                else:
                    ok = abs(got[axis] - round(expected[axis], 12)) <= TOLERANCE
                if not ok:
                    wrong.append((name, pip, "xyz"[axis], got[axis], expected[axis]))
    assert not wrong, f"{len(wrong)} values off the rule, first: {wrong[:5]}"


# Values the rules pin down by construction: dead centres, starting points,
# coinciding onsets and rests between events.
ANCHORS = [
    ("lfo_breathe", [64], (0.8, 0.0, 0.0)),
    ("lfo_breathe", [192], (-0.8, 0.0, 0.0)),
    ("polar_rose_3", [0], (0.82, 0.0, 0.0)),
    ("polar_rose_3", [512], (0.0, 0.0, 0.0)),
    ("space_torus_2_5", [0], (0.82, 0.0, 0.0)),
    ("spiro_inside_3_1", [0], (0.82, 0.0, 0.0)),
    ("path_torus_knot", [0], (0.76, 0.0, 0.0)),
    ("path_crank_slider", [0], (0.78, 0.0, 0.0)),
    ("path_crank_slider", [128], (-0.78, 0.0, 0.0)),
    ("weave_1_3", [0], (0.296525158688, 0.0, 0.0)),
    ("euclid_2_5", [96], (-0.5625, -0.24, 0.0)),
    ("euclid_2_5", range(24, 73), (0.0, 0.0, 0.0)),
    ("poly_2_5", [0], (0.0, -0.52, 0.22)),
    ("meter_2_3", [64], (-0.72, -0.33, 0.0)),
    ("meter_2_3", [32], (0.0, -0.1134, 0.0504)),
    ("stick_study_01", [32], (-0.407, -0.187, 0.0)),
    ("stick_study_01", [256], (-0.74, -0.34, 0.0)),
    ("swing_push_3_5", [128], (0.4225, -0.156, 0.0)),
    ("swing_skip_3_5", [128], (0.0, 0.0, 0.0)),
]


@pytest.mark.parametrize("name,pips,expected", ANCHORS)
def test_anchor_values(name, pips, expected):
    for pip in pips:
        got = movimo.sample(name, pip).as_tuple()
        assert got == pytest.approx(expected, abs=TOLERANCE), pip

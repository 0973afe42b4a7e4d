"""The built-in catalogue as Python sees it, and evaluation by name."""

import decimal

import pytest

import movimo

PROCEDURAL = ["bounce", "sway", "circle", "figure_eight", "step_touch", "box_step", "helix",
              "clay_background", "single_stroke_roll", "double_stroke_roll",
              "multiple_bounce_roll", "single_paradiddle", "flam", "drag", "five_stroke_roll"]

EM = "\u2014"

# Descriptions composed from the vocabulary tables, byte for byte.
DESCRIPTIONS = {
    "beat_four_floor_bounce": f"Four to the floor / bare pulse {EM} Kick-led bounce. Equal "
                              "quarter-note kicks only. This shared foundation is not itself a "
                              "complete genre.",
    "beat_four_floor_surge": f"Four to the floor / bare pulse {EM} Forward surge. Kick thrust "
                             "through depth with contrasting snare lift and hat detail.",
    "beat_jersey_five_step": f"Jersey / five-kick foundation {EM} Snare side-step. Original Club "
                             "05 alternating lateral kick and snare gestures.",
    "beat_dembow_push_ricochet": f"Reggaeton / dembow with pickup answer {EM} Directional "
                                 "ricochet. Successive onsets send smooth excursions toward a "
                                 "cyclic series of targets.",
    "beat_house_shuffle_bounce": f"House / shuffled hats {EM} Kick-led bounce. ",
    "beat_jersey_five_glide": f"Jersey / five-kick foundation {EM} Bass / phrase glide. Original "
                              "Club 05 continuous phrase path with bass excursions.",
    "groove_a_played": "Two-bar funk excerpt A (4\u201312 source beats), performed microtiming.",
    "weave_1_3": "1 horizontal and 3 vertical cycles; a phase-offset, closed 16-beat traversal.",
    "swing_answer_5_7": "Eight-beat answer score with offbeats at 5/7 of each beat; peaks follow "
                        "the score.",
    "seq_stairs_lilt": "A programmed position sequence with lilt segment durations and softened "
                       "transitions.",
    "noise_ripple_9": "Indexed SHA-256 control points in a closed ripple path. No mutable random "
                      "state.",
    "polar_scallop_2": "A positive-radius scalloped loop; no centre crossings, with an "
                       "asymmetrically bent lobe.",
    "space_weave_1_2_3": "Three coprime-frequency coordinate lanes with distinct phase offsets.",
    "spiro_outside_9_4": "A closed outside-rolling circle trace, with pen radius smaller than the "
                         "rolling radius.",
    "env_lift_hold_drop": "Lift, hold, settle over an eight-beat phrase; smooth, resting joins.",
    "mech_scotch_yoke": "Yoke with rocking linkage; an original kinematic-style position study, "
                        "not an engineering simulation.",
    "gesture_box_return": "An original single-point box and centre gesture. Abstract motion, not "
                          "a full-body dance or biomechanical recording.",
    "wave_warped_fold": "Warped wave fold; a continuous shaped control wave, mapped to horizontal "
                        "displacement.",
}


@pytest.fixture(scope="module")
def entries():
    return {entry["name"]: entry for entry in movimo.catalogue()}


def test_catalogue_lists_procedural_then_sampled_patterns():
    listed = movimo.catalogue()
    assert len(listed) == 1731
    assert [entry["name"] for entry in listed[:15]] == PROCEDURAL
    assert listed[0] == {"name": "bounce", "description": "One-beat vertical bounce",
                         "period_pips": 64, "dimensions": 1}
    assert all(list(entry) == ["name", "description", "period_pips", "dimensions"]
               for entry in listed)
    assert (listed[15]["name"], listed[15]["period_pips"], listed[15]["dimensions"]) == \
        ("lfo_breathe", 256, 1)
    assert listed[-1]["name"] == "beat_dembow_push_ricochet"


def test_each_call_builds_new_objects():
    first, second = movimo.catalogue(), movimo.catalogue()
    assert first == second
    assert first is not second and first[0] is not second[0]


def test_names_are_unique(entries):
    assert len(entries) == 1731


@pytest.mark.parametrize("name", DESCRIPTIONS)
def test_descriptions_are_exact(entries, name):
    assert entries[name]["description"] == DESCRIPTIONS[name]


@pytest.mark.parametrize("name, period, dimensions", [
    ("euclid_2_5", 160, 2), ("euclid_11_24", 768, 2), ("meter_2_3", 160, 3),
    ("meter_2_3_3_2_3", 416, 3), ("dialogue_4_3_2", 288, 3), ("dialogue_4_3_5_4", 512, 3),
    ("rhythm_group_223", 448, 2), ("beat_four_floor_orbit", 256, 2),
    ("beat_house_jack_orbit", 512, 3), ("beat_techno_polymeter_step", 768, 2),
    ("beat_jersey_five_bounce", 512, 2), ("beat_baile_toms_step", 512, 2),
    ("beat_jersey_call_bounce", 512, 3), ("orbit_harmonic_01", 512, 2),
    ("necklace_09", 512, 3), ("tour_14_3", 1024, 3), ("swing_answer_3_4", 512, 2),
])
def test_periods_and_axis_counts(entries, name, period, dimensions):
    assert (entries[name]["period_pips"], entries[name]["dimensions"]) == (period, dimensions)


def test_sample_by_position_keyword_and_bytes():
    expected = movimo.bounce(32).as_tuple()
    assert expected == (1.0, 0.0, 0.0)
    for result in (movimo.sample("bounce", 32), movimo.sample(name="bounce", pip_count=32),
                   movimo.sample(b"bounce", 32), movimo.sample(bytearray(b"bounce"), 32),
                   movimo.sample("bounce", decimal.Decimal(5) * 6 + 2)):
        assert result.as_tuple() == expected


@pytest.mark.parametrize("name", PROCEDURAL)
def test_sample_matches_the_procedural_functions(name):
    function = getattr(movimo, name)
    for pip in (-2**31, -1, 0, 17, 100, 2**31 - 1):
        assert movimo.sample(name, pip).as_tuple() == function(pip).as_tuple()


def test_sampled_patterns_loop_with_their_period(entries):
    for name in ("lfo_breathe", "rhythm_group_223", "euclid_2_5", "lfo_seeded_drift"):
        period = entries[name]["period_pips"]
        for pip in (0, 1, period - 1):
            value = movimo.sample(name, pip).as_tuple()
            assert movimo.sample(name, pip + period).as_tuple() == value
            assert movimo.sample(name, pip - 5 * period).as_tuple() == value
    assert movimo.sample("lfo_breathe", 64).as_tuple() == (0.8, 0.0, 0.0)


@pytest.mark.parametrize("name", ["", b"", "meter_2_", "Bounce", "bounce ", "lfo",
                                  "lfo_breathe ", "beat_", "\u00e9t\u00e9"])
def test_unknown_names_raise_value_error(name):
    shown = name.decode() if isinstance(name, bytes) else name
    with pytest.raises(ValueError) as error:
        movimo.sample(name, 0)
    assert str(error.value) == "Unknown movimo: " + shown


@pytest.mark.parametrize("call", [
    lambda: movimo.sample("bounce", 1.0),
    lambda: movimo.sample("bounce", 2**31),
    lambda: movimo.sample(5, 0),
    lambda: movimo.sample("bounce"),
    lambda: movimo.sample("bounce", 0, pip=0),
])
def test_bad_arguments_raise_type_error(call):
    with pytest.raises(TypeError):
        call()

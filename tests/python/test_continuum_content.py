"""Continuum pack content: the statistics every family keeps, and structural
facts that a wrong construction of a family would break."""

import math

import numpy as np
import pytest

import content_report
import movimo

PATHS = ["ribbon", "contour", "silhouette", "spline", "tour", "scan", "reach", "surface",
         "braid", "arm", "dwell"]
SCORES = ["canon", "echo", "ladder", "necklace", "accent", "triplet", "dialogue", "burst"]
FAMILIES = PATHS + ["packet"] + SCORES


@pytest.fixture(scope="module")
def tables():
    """Every continuum table, read row by row through sample()."""
    found = {}
    for position, entry in enumerate(movimo.catalogue()):
        name, period = entry["name"], entry["period_pips"]
        family = name.split("_")[0]
        if family in FAMILIES:
            rows = np.array([movimo.sample(name, pip).as_tuple() for pip in range(period)])
            found[name] = content_report.Pattern(position, "continuum", family, name, period,
                                                 entry["dimensions"], rows)
    content_report.label_groups(list(found.values()))
    return found


def members(tables, family):
    return [p for p in tables.values() if p.family == family]


def rows(tables, name):
    return tables[name].rows


def runs(values):
    """(start, end) rows of the maximal runs not at rest; a run that wraps
    across the seam is counted once, from its start before the seam."""
    moving = np.any(values != 0.0, axis=1)
    period = len(moving)
    found = []
    for start in (p for p in range(period) if moving[p] and not moving[p - 1]):
        end = next(q for q in range(start, start + period) if not moving[q % period])
        found.append((start, end))
    return found


def onsets(values):
    """(pip, magnitude) of the largest row of every run, in pip order: where
    an event score's onsets are."""
    period = len(values)
    found = []
    for start, end in runs(values):
        magnitudes = [np.abs(values[q % period]).max() for q in range(start, end)]
        peak = int(np.argmax(magnitudes))
        found.append(((start + peak) % period, magnitudes[peak]))
    return sorted(found)


@pytest.mark.parametrize("family", FAMILIES)
def test_family_keeps_its_peaks_rest_share_and_table_rules(tables, family):
    group = members(tables, family)
    assert len(group) == 16
    assert content_report.all_breaches(family, group) == []


@pytest.mark.parametrize("family", FAMILIES)
def test_members_are_visibly_distinct(tables, family):
    distance, a, b = content_report.closest_pair(members(tables, family))
    assert distance > 0.02, (a, b)


@pytest.mark.parametrize("family", PATHS + ["packet"])
def test_paths_peak_at_0_82_and_only_reaches_touch_the_centre(tables, family):
    for p in members(tables, family):
        assert np.abs(p.rows).max() == 0.82, p.name
        if family == "reach":
            # Every member's first reach leaves from the centre at row 0.
            assert np.all(p.rows[0] == 0.0) and content_report.rest_share(p.rows) < 0.005, p.name
        elif family != "packet":
            assert content_report.rest_share(p.rows) == 0.0, p.name


def test_arms_hang_below_the_centre(tables):
    heights = np.concatenate([p.rows[:, 1] for p in members(tables, "arm")])
    assert round(float(heights.mean()), 2) == -0.58


@pytest.mark.parametrize("a_b", ["1_2", "1_5", "2_5", "3_5"])
def test_deep_ribbons_reach_further_in_depth_and_wide_surfaces_climb_higher(tables, a_b):
    assert (np.abs(rows(tables, f"ribbon_{a_b}_deep")[:, 2]).max()
            > np.abs(rows(tables, f"ribbon_{a_b}_slim")[:, 2]).max())
    assert (np.abs(rows(tables, f"surface_{a_b}_wide")[:, 1]).max()
            > np.abs(rows(tables, f"surface_{a_b}_low")[:, 1]).max())


@pytest.mark.parametrize("name, n, k", [("tour_5_2", 5, 2), ("tour_7_3", 7, 3),
                                        ("tour_12_5", 12, 5), ("tour_14_3", 14, 3)])
def test_tours_halt_at_every_kth_vertex_in_turn(tables, name, n, k):
    table = rows(tables, name)
    still = np.all(table == np.roll(table, 1, axis=0), axis=1)
    holds = [table[p] for p in range(len(table)) if still[p] and not still[p - 1]]
    assert len(holds) == n
    # Stretching the axes keeps the angular order of the vertices.
    angles = [math.atan2(v[1], v[0]) for v in holds]
    rank = {a: i for i, a in enumerate(sorted(angles))}
    steps = {(rank[b] - rank[a]) % n for a, b in zip(angles, angles[1:] + angles[:1])}
    assert steps == {k}


@pytest.mark.parametrize("word", ["scoop", "hook", "lift", "recoil"])
@pytest.mark.parametrize("n", [3, 4, 5, 7])
def test_reaches_return_to_the_centre_between_departures(tables, word, n):
    table = rows(tables, f"reach_{word}_{n}")
    near = np.linalg.norm(table, axis=1) < 0.01
    departures = [p for p in range(len(near)) if near[p - 1] and not near[p]]
    assert len(departures) == n


@pytest.mark.parametrize("number", range(1, 17))
def test_dwell_phrases_hold_twice_for_unequal_whole_eighths(tables, number):
    table = rows(tables, f"dwell_phrase_{number:02d}")
    still = np.all(table == np.roll(table, 1, axis=0), axis=1)
    # Rows equal to the row before: a hold of m eighths gives 32·m of them.
    holds = [len(run) for run in "".join("s" if v else "." for v in still).split(".") if run]
    assert len(holds) == 2 and holds[0] != holds[1]
    assert all(rows_held % 32 == 0 for rows_held in holds)


@pytest.mark.parametrize("word", ["alternating", "cascading", "crossing", "depth"])
@pytest.mark.parametrize("n", [2, 3, 4, 5])
def test_packets_are_separated_by_rests_and_only_depth_packets_use_z(tables, word, n):
    table = rows(tables, f"packet_{word}_{n}")
    assert len(runs(table)) == n
    assert np.any(table[:, 2] != 0.0) == (word == "depth")


def test_dialogue_3_4_5_passes_its_groups_between_directions(tables):
    table = rows(tables, "dialogue_3_4_5")
    assert len(table) == 384
    expected = {0: (-0.31, 0, 0), 32: (-0.1705, 0, 0), 64: (-0.1705, 0, 0),
                96: (0.29, 0, 0), 192: (0.1595, 0, 0),
                224: (0, -0.32, 0.12), 352: (0, -0.176, 0.066)}
    pickup = (-0.018, 0.135, -0.0405)
    expected.update({start - 16: pickup for start in (384, 96, 224)})
    for pip, value in expected.items():
        assert table[pip] == pytest.approx(value, abs=1e-12), pip
    assert len(runs(table)) == 3 + 4 + 5 + 3


def test_ladder_regions_change_density_under_their_own_accents(tables):
    table = rows(tables, "ladder_2_3_4_6")
    regions = [pip // 128 for pip, _ in onsets(table)]
    assert [regions.count(r) for r in range(4)] == [2, 3, 4, 6]
    accents = [table[128 * r] for r in range(4)]
    assert all(np.abs(a).max() in (0.31, 0.32) for a in accents)
    # Each accent leads along its own axis and side.
    leads = {(int(np.argmax(np.abs(a))), float(np.sign(a[np.argmax(np.abs(a))]))) for a in accents}
    assert len(leads) == 4


def test_burst_3_5_2_moves_left_down_right_then_settles_up(tables):
    table = rows(tables, "burst_3_5_2")
    pips = [pip for pip, _ in onsets(table)]
    assert [sum(lo <= pip < hi for pip in pips) for lo, hi in [(0, 160), (160, 320), (320, 480), (480, 512)]] \
        == [3, 5, 2, 1]
    assert table[0][0] == -0.279 and table[320][0] == 0.279
    assert table[160][1] == -0.288
    assert tuple(table[496]) == (0.0, 0.24, 0.0)
    assert np.all(table[416:464] == 0.0)


@pytest.mark.parametrize("number", range(1, 9))
@pytest.mark.parametrize("delay", ["close", "late"])
def test_canon_motif_leads_sideways_then_in_depth(tables, number, delay):
    table = rows(tables, f"canon_{number:02d}_{delay}")
    assert abs(table[0][0]) == 0.279 and table[0][2] == 0.0
    assert tuple(table[256]) == (0.0, -0.3109, 0.258)


@pytest.mark.parametrize("name", ["echo_regular_3", "echo_shrinking_6", "echo_expanding_5",
                                  "echo_crossed_4"])
def test_echoes_decay_after_a_call_and_a_differently_directed_answer(tables, name):
    table = rows(tables, name)
    count = int(name.rsplit("_", 1)[1])
    found = onsets(table)
    assert len(found) == 2 * count
    assert tuple(table[0]) == (-0.31, -0.04, 0.0)
    assert table[256][1] == -0.2656 and table[256][2] == 0.2202
    for train in (found[:count], found[count:]):
        magnitudes = [magnitude for _, magnitude in train]
        assert magnitudes == sorted(magnitudes, reverse=True)


@pytest.mark.parametrize("number", range(1, 17))
def test_necklace_accents_and_complement_alternate_sides_rising_accents_reach_forward(tables, number):
    table = rows(tables, f"necklace_{number:02d}")
    sides = [np.sign(table[32 * i][0]) for i in range(16)]
    assert set(sides) == {1.0, -1.0}
    for i in range(16):
        rising = sides[i] > 0 and sides[i - 1] < 0
        assert (table[32 * i][2] == 0.1592) == rising


@pytest.mark.parametrize("a, b", [(8, 1), (8, 3), (5, 2), (11, 3)])
def test_accent_motif_walks_b_pulses_per_bar(tables, a, b):
    table = rows(tables, f"accent_walk_{a}_{b}")
    for bar in range(4):
        pulse = bar * b % a
        pip = 256 * bar + 256 * pulse / a
        if pip.is_integer():
            assert table[int(pip)][0] == 0.3139
    assert len(runs(table)) == 4 * a


def test_triplet_answers_lift_only_in_answer_members(tables):
    for p in members(tables, "triplet"):
        lifted = np.any(p.rows[:, 1] > 0.0)
        assert lifted == p.name.endswith("answer"), p.name
        assert not np.any(p.rows[:256, 1] > 0.0), p.name

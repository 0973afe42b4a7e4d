"""Authored content of the initial, expansion and atlas packs: the statistics
every family keeps, and structural facts that a wrong construction of a
family would break (event positions, out-and-back symmetry, grid timing,
digest-seeded control points, seams of the single-cycle waves)."""

import hashlib
import math

import numpy as np
import pytest

import content_report
import movimo

# Report groups and the family word they hold.
GROUPS = {
    "initial lfo": "lfo", "initial rhythm": "rhythm", "rudiment": "rudiment", "ease": "ease",
    "akwf": "akwf", "groove": "groove", "expansion lfo": "lfo", "path": "path",
    "expansion rhythm": "rhythm", "wave": "wave", "env": "env", "seq": "seq", "noise": "noise",
    "polar": "polar", "mech": "mech", "gesture": "gesture",
}
PACKS = ["initial"] * 28 + ["expansion"] * 24 + ["atlas"] * 256


@pytest.fixture(scope="module")
def tables():
    """The tables of the three packs' authored families, read through sample()."""
    found = {}
    for position, entry in enumerate(movimo.catalogue()[15:15 + len(PACKS)]):
        name, period = entry["name"], entry["period_pips"]
        family = name.split("_")[0]
        if family in GROUPS.values():
            rows = np.array([movimo.sample(name, pip).as_tuple() for pip in range(period)])
            found[name] = content_report.Pattern(position, PACKS[position], family, name, period,
                                                 entry["dimensions"], rows)
    content_report.label_groups(list(found.values()))
    return found


def rows(tables, name):
    return tables[name].rows


def group(tables, label):
    return [p for p in tables.values() if p.group == label]


# ---- statistics -------------------------------------------------------------

@pytest.mark.parametrize("label", GROUPS)
def test_family_keeps_its_peaks_rest_share_and_table_rules(tables, label):
    members = group(tables, label)
    assert members
    assert content_report.all_breaches(label, members) == []


@pytest.mark.parametrize("label", GROUPS)
def test_members_are_visibly_distinct(tables, label):
    distance, a, b = content_report.closest_pair(group(tables, label))
    assert distance > 0.05, (a, b)


def test_only_excerpt_b_of_the_grooves_reaches_full_scale(tables):
    for name in ("groove_b_played", "groove_b_grid"):
        assert np.abs(rows(tables, name)).max() == 1.0
    for name in ("groove_a_played", "groove_a_grid"):
        assert np.abs(rows(tables, name)).max() < 1.0


def test_envelopes_travel_mostly_downward_from_rest(tables):
    ys = np.concatenate([p.rows[:, 1] for p in group(tables, "env")])
    assert -0.4 < ys.mean() < -0.25


# ---- event positions of the rhythmic studies -----------------------------------

def assert_events(values, events, half_width):
    """Each event (pip, (x, y, z)) shows at its nearest row: exactly on an
    integer pip, and within the raised cosine's fall over half a pip off it."""
    for pip, push in events:
        row = values[round(pip) % len(values)]
        offset = abs(pip - round(pip))
        weight = (1 + math.cos(math.pi * offset / half_width)) / 2
        assert row == pytest.approx(np.array(push) * weight, abs=1e-12), pip


def side(i):
    return 1 if i % 2 == 0 else -1


def lane(values, axis):
    """One axis of a table moved onto x, the others at rest: the events of
    one lane of a score, apart from the other lanes."""
    alone = np.zeros_like(values)
    alone[:, 0] = values[:, axis]
    return alone


def sticking_events(sticking, accent_last):
    hands = sticking.replace(" ", "")
    events = []
    for k, hand in enumerate(hands):
        in_half = k % 6
        level = 1.0 if in_half == 0 or (accent_last and in_half == 5) else 0.6
        side = 1.0 if hand == "R" else -1.0
        events.append((256 * k / 12, (0.82 * level * side, -0.42 * level, 0.0)))
    return events


@pytest.mark.parametrize("name, sticking, accent_last", [
    ("rudiment_double_paradiddle", "RLRLRR LRLRLL", False),
    ("rudiment_paradiddle_diddle", "RLRRLL LRLLRR", False),
    ("rudiment_six_stroke", "RLLRRL LRRLLR", True),
])
def test_sticking_studies_follow_their_sticking(tables, name, sticking, accent_last):
    assert_events(rows(tables, name), sticking_events(sticking, accent_last), 8.75)


def test_flam_accent_leads_each_beat_with_an_accent_after_an_opposite_grace(tables):
    values = rows(tables, "rudiment_flam_accent")
    for beat in range(4):
        lead = 1 if beat % 2 == 0 else -1
        assert values[64 * beat][0] == pytest.approx(0.82 * lead, abs=0.05)
        assert np.sign(values[64 * beat - 10][0]) == -lead


def euclid_events(period, k, n, x, y, unaccented=0.75):
    return [(period * math.ceil(i * n / k) / n,
             (x * (1 if i == 0 else unaccented) * side(i),
              -y * (1 if i == 0 else unaccented), 0.0)) for i in range(k)]


def test_initial_euclid_onsets(tables):
    assert_events(rows(tables, "rhythm_euclid_3_8"), euclid_events(256, 3, 8, 0.85, 0.4), 20)
    assert_events(rows(tables, "rhythm_euclid_5_12"), euclid_events(256, 5, 12, 0.8, 0.36), 12)


def test_three_two_interlocks_three_lateral_with_two_vertical(tables):
    events = [(256 * i / 3, (0.78, 0.0, 0.0)) for i in range(1, 3)]
    events += [(0, (0.78, 0.78, 0.0)), (128, (0.0, 0.78, 0.0))]
    assert_events(rows(tables, "rhythm_three_two"), events, 15)


@pytest.mark.parametrize("name, lateral, x, half_width", [
    ("rhythm_five_four", 10, 0.72, 12),
    ("rhythm_seven_four", 14, 0.78, 10),
])
def test_lateral_hits_against_alternating_beats(tables, name, lateral, x, half_width):
    values = rows(tables, name)
    assert_events(lane(values, 0), [(512 * i / lateral, (x * side(i), 0, 0))
                                    for i in range(lateral)], half_width)
    assert_events(lane(values, 1), [(64 * j, (0.68 * side(j), 0, 0)) for j in range(8)],
                  half_width)


@pytest.mark.parametrize("name, k", [("rhythm_euclid_7_16", 7), ("rhythm_euclid_5_16", 5)])
def test_sixteen_step_euclid_repeats_with_sides_swapped(tables, name, k):
    events = euclid_events(256, k, 16, 0.78, 0.34, unaccented=0.7)
    events += [(256 + pip, (-x, y, z)) for pip, (x, y, z) in events]
    assert_events(rows(tables, name), events, 9)


def test_swung_answer_calls_right_and_answers_left(tables):
    events = []
    for beat in range(4):
        hand = 1 if beat < 2 else -1
        events += [(64 * beat, (0.74 * hand, -0.3, 0)), (64 * beat + 128 / 3, (0.46 * hand, -0.18, 0))]
    assert_events(rows(tables, "rhythm_swung_answer"), events, 10)


@pytest.mark.parametrize("name, starts, levels", [
    ("rhythm_group_332", [0, 96, 192], [(0.76, -0.38), (0.5472, -0.2736), (0.6536, -0.3268)]),
    ("rhythm_group_223", [0, 64, 128], [(0.74, -0.4), (0.518, -0.28), (0.629, -0.34)]),
])
def test_group_starts_alternate_and_the_second_bar_mirrors(tables, name, starts, levels):
    values = rows(tables, name)
    bar = len(values) // 2
    events = []
    for b in range(2):
        for g, ((x, y), start) in enumerate(zip(levels, starts)):
            lean = side(g + b)
            events.append((b * bar + start, (x * lean, y, 0.0)))
    assert_events(values, events, 22)


def test_three_four_five_lanes(tables):
    values = rows(tables, "rhythm_three_four_five")
    for axis, count, level in ((0, 3, 0.7), (1, 4, -0.7), (2, 5, 0.55)):
        assert_events(lane(values, axis), [(512 * i / count, (level, 0, 0)) for i in range(count)],
                      16)


# ---- easing loops ---------------------------------------------------------------

@pytest.mark.parametrize("name", ["ease_rebound", "ease_anticipate", "ease_overshoot"])
def test_easing_loops_go_out_and_come_back_the_same_way(tables, name):
    x = rows(tables, name)[:, 0]
    assert x[0] == 0.0
    assert np.array_equal(x[1:], x[:0:-1])


def test_easing_loops_have_their_curve_character(tables):
    rebound = rows(tables, "ease_rebound")[:129, 0]
    anticipate = rows(tables, "ease_anticipate")[:129, 0]
    overshoot = rows(tables, "ease_overshoot")[:129, 0]
    # Bounce-out bounces three times before it lands at its end value.
    bounces = (rebound[1:-1] > rebound[:-2]) & (rebound[1:-1] >= rebound[2:])
    assert np.sum(bounces) == 3 and rebound[128] == rebound.max()
    # Back-in dips below the start before rising; back-out passes its end.
    assert anticipate.min() < -0.05 and anticipate[128] == pytest.approx(0.7)
    assert overshoot.argmax() < 128 and overshoot[128] < overshoot.max() - 0.05


# ---- groove timing ----------------------------------------------------------------

def crossfade_residual(values):
    """Largest difference between the table and the raised-cosine crossfade
    between its rows on multiples of 16: zero when every hit sits on a
    sixteenth, since each hit's response then spans exactly one sixteenth
    each side."""
    d = np.arange(16)
    fade = (1 + np.cos(np.pi * d / 16)) / 2
    worst = 0.0
    for start in range(0, len(values), 16):
        a, b = values[start], values[(start + 16) % len(values)]
        expected = np.outer(fade, a) + np.outer(1 - fade, b)
        worst = max(worst, np.abs(values[start:start + 16] - expected).max())
    return worst


@pytest.mark.parametrize("excerpt", ["a", "b"])
def test_grid_grooves_put_every_hit_on_a_sixteenth(tables, excerpt):
    assert crossfade_residual(rows(tables, f"groove_{excerpt}_grid")) < 1e-9
    assert crossfade_residual(rows(tables, f"groove_{excerpt}_played")) > 0.01


# ---- noise from digests --------------------------------------------------------------

def digest_units(text):
    digest = hashlib.sha256(text.encode()).digest()
    return [int.from_bytes(digest[4 * w:4 * w + 4], "big") / 2**31 - 1 for w in range(3)]


def noise_point(name, i, n):
    word = name.split("_")[1]
    u0, u1, u2 = digest_units(f"{name}/{i}")
    if word == "drift":
        return (u0, u1, 0.0)
    if word == "depth":
        return (u0, u1, u2)
    orbit = word == "orbit"
    angle = 2 * math.pi * (i + (0.35 if orbit else 0.25) * u0) / n
    radius = 0.7 + 0.3 * u1 if orbit else (1.0 if i % 2 == 0 else 0.55) + 0.15 * u1
    return (radius * math.cos(angle), radius * math.sin(angle), 0.0)


def closed_catmull_rom(points, u):
    n = len(points)
    k = math.floor(u * n)
    s = u * n - k
    p0, p1, p2, p3 = (np.array(points[(k + i) % n]) for i in (-1, 0, 1, 2))
    return 0.5 * (2 * p1 + (p2 - p0) * s + (2 * p0 - 5 * p1 + 4 * p2 - p3) * s * s
                  + (3 * p1 - p0 - 3 * p2 + p3) * s ** 3)


def test_noise_paths_are_reproducible_from_their_digests(tables):
    for p in group(tables, "noise"):
        n = int(p.name.rsplit("_", 1)[1])
        points = [noise_point(p.name, i, n) for i in range(n)]
        curve = np.array([closed_catmull_rom(points, q / p.period) for q in range(p.period)])
        curve[:, :2] *= 0.82 / np.abs(curve[:, :2]).max()
        if p.dimensions == 3:
            curve[:, 2] *= 0.5159 / np.abs(curve[:, 2]).max()
        assert p.rows == pytest.approx(curve, abs=1e-9), p.name


def test_seeded_drift_lanes_come_from_their_digests(tables):
    points = [(digest_units(f"lfo_seeded_drift/x/{i}")[0],
               digest_units(f"lfo_seeded_drift/y/{i}")[0], 0.0) for i in range(16)]
    curve = np.array([closed_catmull_rom(points, q / 1024) for q in range(1024)])
    curve[:, :2] *= np.array([0.78, 0.72]) / np.abs(curve[:, :2]).max(axis=0)
    assert rows(tables, "lfo_seeded_drift") == pytest.approx(curve, abs=1e-9)


# ---- single-cycle waveforms -------------------------------------------------------------

@pytest.mark.parametrize("name, seam", [
    ("akwf_round_saw", None), ("akwf_quick_return", 0.186), ("akwf_multi_lobe", 0.084),
    ("akwf_plateau", None),
])
def test_single_cycle_waves_peak_at_085_with_their_seam_steps(tables, name, seam):
    x = rows(tables, name)[:, 0]
    assert np.abs(x).max() == 0.85
    step = abs(x[0] - x[-1])
    if seam is None:
        assert step < 0.05
    else:
        assert step == pytest.approx(seam, abs=1e-9)


# ---- mechanisms ------------------------------------------------------------------------

def test_whitworth_returns_quicker_than_it_cuts(tables):
    x = rows(tables, "mech_whitworth")[:, 0]
    rising = int(np.sum(np.diff(x, append=x[:1]) > 0))
    assert max(rising, len(x) - rising) > 1.5 * min(rising, len(x) - rising)


@pytest.mark.parametrize("name", ["mech_two_lobe_cam", "mech_cam_return"])
def test_cam_followers_dwell(tables, name):
    # A flat follower touches the cam off-centre by the lift's slope: zero
    # while the follower dwells.
    values = rows(tables, name)
    dwelling = values[:, 0] == 0.0
    assert dwelling.mean() > 0.2
    assert len(np.unique(values[dwelling, 1])) == 2


def test_elliptic_cam_lifts_twice_a_turn(tables):
    values = rows(tables, "mech_elliptic_cam")
    assert values[:256] == pytest.approx(values[256:], abs=1e-9)


def test_heel_toe_taps_low_behind_and_in_front(tables):
    values = rows(tables, "gesture_heel_toe")
    low = values[values[:, 1] < -0.6]
    assert (low[:, 0] < -0.2).any() and (low[:, 0] > 0.2).any()

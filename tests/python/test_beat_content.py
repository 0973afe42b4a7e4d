"""Club and dancefloor (beat_) content: the exact responses of the bare
four-to-the-floor score, the statistics every motion keeps, and the onsets
of well-known grooves read back from the tables alone."""

import math

import numpy as np
import pytest

import content_report
import movimo

MOTIONS = ["bounce", "step", "orbit", "glide", "surge", "recoil", "flutter", "dive", "pendulum",
           "figure8", "box", "corkscrew", "spiral", "slalom", "spring", "ricochet"]
KICKS = [0, 64, 128, 192]  # the bare pulse, in pips
CLUB_END = 15 + 772  # catalogue position of the first dancefloor pattern


@pytest.fixture(scope="module")
def tables():
    """Every beat_ table, read row by row through sample()."""
    found = {}
    for position, entry in enumerate(movimo.catalogue()):
        name, period = entry["name"], entry["period_pips"]
        if name.startswith("beat_"):
            rows = np.array([movimo.sample(name, pip).as_tuple() for pip in range(period)])
            pack = "club" if position < CLUB_END else "dancefloor"
            found[name] = content_report.Pattern(position, pack, "beat", name, period,
                                                 entry["dimensions"], rows)
    content_report.label_groups(list(found.values()))
    return found


def raised_cosine(d, rise, fall):
    """A response's weight d pips after its event."""
    if -rise < d <= 0:
        return (1 + math.cos(math.pi * d / rise)) / 2
    if 0 <= d < fall:
        return (1 + math.cos(math.pi * d / fall)) / 2
    return 0.0


def kick_rows(pushes, period=256):
    """The kicks of the bare pulse, the i-th pushing by pushes[i], with the
    kick's response (rise 6.4, fall 29.44), measured around the loop."""
    rows = np.zeros((period, 3))
    for kick, push in zip(KICKS, pushes):
        for pip in range(period):
            d = (pip - kick + period // 2) % period - period // 2
            rows[pip] += raised_cosine(d, 6.4, 29.44) * np.array(push)
    return rows


@pytest.mark.parametrize("motion, pushes", [
    ("bounce", [(0, 0.55, 0)] * 4),
    ("step", [(0.42, -0.22, 0), (-0.42, -0.22, 0)] * 2),
])
def test_the_bare_pulse_is_exactly_its_four_kicks(tables, motion, pushes):
    got = tables[f"beat_four_floor_{motion}"].rows
    np.testing.assert_allclose(got, kick_rows(pushes), rtol=0, atol=1e-12)


def test_the_bare_bounce_rests_between_kicks(tables):
    rows = tables["beat_four_floor_bounce"].rows
    for kick in KICKS:
        assert np.all(rows[kick + 30:kick + 58] == 0.0)
        assert np.all(rows[kick:kick + 30, 1] > 0.0)


@pytest.mark.parametrize("motion, axis, value", [("surge", 2, 0.506), ("recoil", 1, 0.257)])
def test_every_kick_of_the_bare_pulse_reaches_the_same_push(tables, motion, axis, value):
    rows = tables[f"beat_four_floor_{motion}"].rows
    assert [rows[kick, axis] for kick in KICKS] == [value] * 4


def test_the_bare_spring_rings_from_rest_after_each_kick(tables):
    rows = tables["beat_four_floor_spring"].rows
    magnitude = np.abs(rows).max(axis=1)
    for kick in KICKS:
        beat = magnitude[kick:kick + 64]
        assert np.argmax(beat) == 5
        assert beat[0] == 0.0 and np.all(beat[1:12] > 0.0)  # starts from rest at the kick
        assert np.all(beat[60:] == 0.0)  # and has died away before the next


def test_house_claps_alternate_sides_and_hats_dip(tables):
    rows = tables["beat_house_classic_bounce"].rows
    assert [rows[clap, 0] for clap in (64, 192, 320, 448)] == [0.243, -0.243, 0.243, -0.243]
    assert [rows[hat, 1] for hat in range(32, 512, 64)] == [-0.02232] * 8
    # The clap falls over 23.04 pips, the hat over 17.92: both at rest by the next hat.
    assert rows[64 + 23, 0] != 0.0 and rows[64 + 24, 0] == 0.0
    assert rows[32 + 17, 1] != 0.0 and rows[32 + 18].tolist() == [0.0, 0.0, 0.0]


@pytest.mark.parametrize("motion", MOTIONS)
def test_each_motion_keeps_its_peaks_rest_share_and_table_rules(tables, motion):
    """Peaks and rest share over all genres; per table range, rounding,
    unused axes at +0.0, closed seams and no step beyond 0.2677."""
    group = [p for p in tables.values() if p.group == f"beat {motion}"]
    assert len(group) == 68
    assert content_report.all_breaches(f"beat {motion}", group) == []


def test_the_bare_corkscrew_has_the_widest_seam_and_the_bassline_spring_the_steepest_step(tables):
    seam = content_report.seam_steps(tables["beat_four_floor_corkscrew"].rows).max()
    assert content_report.matches(seam, "0.053")
    steepest = max(tables, key=lambda name: content_report.inner_steps(tables[name].rows).max())
    assert steepest == "beat_bassline_spring"
    assert content_report.matches(content_report.inner_steps(tables[steepest].rows).max(), "0.2677")


def test_axis_counts(tables):
    flat = {name for name, p in tables.items() if p.dimensions == 2}
    marked = ["four_floor", "house_classic", "house_shuffle", "house_jack", "techno_drive",
              "techno_toms", "techno_broken", "techno_polymeter", "ukg_two_step", "ukg_skip",
              "ukg_four_four", "grime_sparse", "grime_syncopated", "jungle_chops",
              "jungle_ghosts", "jungle_switch", "dnb_two_step", "dnb_rolling", "electro",
              "rave_breaks", "dembow", "disco", "jersey_five", "baile_toms"]
    expected = {f"beat_{genre}_{motion}" for genre in marked for motion in ("bounce", "step")}
    assert flat == expected | {"beat_four_floor_orbit"}
    for name, p in tables.items():
        moving = np.any(p.rows != 0.0, axis=0)
        wanted = [False, True, False] if name == "beat_four_floor_bounce" else \
            [True, True, p.dimensions == 3]
        assert moving.tolist() == wanted, name


def test_bounce_and_step_answer_the_same_onsets(tables):
    """Both motions move the same lanes, so they rest on the same rows."""
    for genre in {name[5:-7] for name in tables if name.endswith("_bounce")}:
        bounce = tables[f"beat_{genre}_bounce"].rows
        step = tables[f"beat_{genre}_step"].rows
        assert np.array_equal(np.all(bounce == 0, axis=1), np.all(step == 0, axis=1)), genre


def peaks_above(values, level):
    """Pips where |values| has a local peak of at least `level`, around the loop."""
    magnitude = np.abs(values)
    before, after = np.roll(magnitude, 1), np.roll(magnitude, -1)
    return np.flatnonzero((magnitude >= level) & (magnitude > before) & (magnitude >= after)).tolist()


# Kicks lift the bounce by 0.55 times their velocity and snares swing it sideways
# by 0.243; the onsets these grooves are known by, in pips (a bar is 256).
GROOVES = {
    "house_classic": ([0, 64, 128, 192, 256, 320, 384, 448], [64, 192, 320, 448]),
    # Backbeats on two and four, the second kick on the "and" of three.
    "ukg_two_step": ([0, 160, 256, 416], [64, 192, 320, 448]),
    # Clave 3-2: three strokes across bar one, two in bar two.
    "son_clave_32": ([0, 64, 128, 192, 256, 320, 384, 448], [0, 96, 192, 320, 384]),
    # Snare answers on the "a" of one and the "and" of two, in each half bar.
    "dembow": ([0, 64, 128, 192, 256, 320, 384, 448],
               [48, 96, 176, 224, 304, 352, 432, 480]),
    # The snare on beat three of bar one and on beat four of bar two.
    "drill_displaced": ([0, 96, 160, 256, 352, 400], [128, 448]),
    # Two bars of backbeats, then two bars with the snare on three only.
    # (Its kicks include soft doubles, whose peaks merge with the kick before.)
    "jungle_switch": (None, [64, 192, 320, 448, 640, 896]),
}


@pytest.mark.parametrize("genre", GROOVES)
def test_grooves_read_back_from_their_bounce(tables, genre):
    rows = tables[f"beat_{genre}_bounce"].rows
    kicks, snares = GROOVES[genre]
    if kicks is not None:
        assert peaks_above(rows[:, 1], 0.3) == kicks
    assert peaks_above(rows[:, 0], 0.1) == snares


@pytest.mark.parametrize("genre", ["ukg_two_step", "son_clave_32", "dembow", "drill_displaced"])
def test_snares_without_ghosts_alternate_sides(tables, genre):
    rows = tables[f"beat_{genre}_bounce"].rows
    sides = [math.copysign(1, rows[pip, 0]) for pip in GROOVES[genre][1]]
    assert sides == [(-1) ** i for i in range(len(sides))]


def test_amen_without_ghosts_loses_only_the_quiet_snares(tables):
    full = tables["beat_amen_four_bar_bounce"].rows
    plain = tables["beat_amen_no_ghosts_bounce"].rows
    assert np.array_equal(full[:, 1], plain[:, 1])  # kicks and ride untouched
    ghosts = set(peaks_above(full[:, 0], 0.03)) - set(peaks_above(full[:, 0], 0.1))
    assert len(ghosts) == 11
    assert set(peaks_above(plain[:, 0], 0.03)) == set(peaks_above(full[:, 0], 0.1))


def test_no_two_genres_dance_a_motion_alike(tables):
    for motion in MOTIONS:
        group = [p for p in tables.values() if p.group == f"beat {motion}"]
        distinct = {p.rows.tobytes() for p in group}
        assert len(distinct) == len(group), motion


# Soft rims under a four-floor kick: the kick on two and four (0.75 of 0.42)
# outweighs the rim's step (0.5 of 0.43), so both backbeats fall left.
SOFT_RIM_BACKBEATS = {"afro_bell", "amapiano_answer", "techno_rumble"}


def test_the_step_takes_beats_two_and_four_to_opposite_sides(tables):
    backbeats = content_report.backbeat_genres(tables)
    assert {"house_classic", "trance", "disco", "ukg_two_step", "dnb_rolling"} <= set(backbeats)
    same_side = {genre for genre in backbeats
                 if not content_report.opposite_sides(content_report.step_sides(tables[f"beat_{genre}_step"]))}
    assert same_side == SOFT_RIM_BACKBEATS


@pytest.mark.parametrize("genre, delay", [("reggae_one_drop", 10), ("reggae_rockers", 8)])
def test_swung_eighths_play_the_and_late(tables, genre, delay):
    """The hat's dip in the bounce after the downbeat falls on a late "and"."""
    dips = np.minimum(tables[f"beat_{genre}_bounce"].rows[:, 1], 0.0)
    assert [pip for pip in peaks_above(dips, 0.01) if 16 <= pip < 64] == [32 + delay]


def test_ricochet_targets_do_not_hang_on_the_onset_count(tables):
    """Without the Amen's ghost snares the ricochet changes only where a
    ghost note rises (6.4 pips) and falls (23.04 pips)."""
    full = tables["beat_amen_four_bar_bounce"].rows
    ghosts = set(peaks_above(full[:, 0], 0.03)) - set(peaks_above(full[:, 0], 0.1))
    moved = np.flatnonzero(np.any(tables["beat_amen_four_bar_ricochet"].rows
                                  != tables["beat_amen_no_ghosts_ricochet"].rows, axis=1))
    assert len(moved) > 0
    assert all(any(-7 < pip - ghost < 24 for ghost in ghosts) for pip in moved)


def test_every_dive_plunges_with_its_lowest_voice(tables):
    dives = [p for p in tables.values() if p.group == "beat dive"]
    assert min(np.ptp(p.rows[:, 2]) for p in dives) >= 0.3 * 0.92


# The one drop's kick and rim land together and lean opposite ways.
FLAT_AXES = {"bounce": [("beat_reggae_one_drop_bounce", "z")]}


@pytest.mark.parametrize("motion", MOTIONS)
def test_every_declared_axis_moves_visibly(tables, motion):
    group = [p for p in tables.values() if p.group == f"beat {motion}"]
    peak = content_report.peaks(np.concatenate([p.rows for p in group]))
    flat = [(p.name, axis) for p in group for axis in content_report.flat_axes(p, peak)]
    assert flat == FLAT_AXES.get(motion, [])


def test_every_spring_ring_settles_before_the_next_response(tables):
    springs = [p for p in tables.values() if p.group == "beat spring"]
    assert {p.name: content_report.unsettled_swings(p.rows) for p in springs
            if content_report.unsettled_swings(p.rows)} == {}


# In the bounce the hats only dip (0.02232 at full velocity), so the house
# shuffle, classic house with busier swung hats, stays within 0.0167 of it.
CLOSE_PAIRS = {"bounce": [("house_classic", "house_shuffle")]}


@pytest.mark.parametrize("motion", MOTIONS)
def test_genres_dance_each_motion_apart(tables, motion):
    group = [p for p in tables.values() if p.group == f"beat {motion}"]
    pairs = content_report.genre_distances(group)
    assert np.mean([relative for _, relative, _, _ in pairs]) >= 0.5
    close = [(a, b) for largest, _, a, b in pairs if largest < 0.05]
    assert close == CLOSE_PAIRS.get(motion, [])


@pytest.mark.parametrize("motion", [motion for motion in MOTIONS if motion != "bounce"])
def test_the_shuffle_shows_in_every_motion(tables, motion):
    straight = tables[f"beat_house_classic_{motion}"].rows
    swung = tables[f"beat_house_shuffle_{motion}"].rows
    assert content_report.largest_difference(straight, swung) >= 0.05

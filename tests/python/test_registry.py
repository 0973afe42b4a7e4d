"""The stored tables of all 1716 sampled patterns, read from the generator's
output: the rules every table keeps, and the module serving those rows."""

import numpy as np
import pytest

import movimo
import content_report

PATTERNS = content_report.load_patterns(content_report.DEFAULT_DIR)


def test_manifest_covers_the_registry_in_catalogue_order():
    names = [entry["name"] for entry in movimo.catalogue()[15:]]
    assert [p.name for p in PATTERNS] == names
    assert sum(p.rows.size for p in PATTERNS) * 8 == 24_549_888


def test_registry_positions_of_the_packs():
    first = {}
    for p in PATTERNS:
        first.setdefault(p.pack, p.position)
    assert first == {"initial": 0, "expansion": 28, "atlas": 52, "continuum": 308, "club": 628,
                     "dancefloor": 772}


@pytest.mark.parametrize("pack", ["initial", "expansion", "atlas", "continuum", "club",
                                  "dancefloor"])
def test_every_table_keeps_the_storage_rules(pack):
    breaches = [line for p in PATTERNS if p.pack == pack
                for line in content_report.table_breaches(p)]
    assert not breaches, "\n".join(breaches[:20])


@pytest.mark.parametrize("name", ["lfo_breathe", "groove_b_played", "rhythm_group_223",
                                  "meter_2_3", "beat_four_floor_bounce",
                                  "beat_dembow_push_ricochet"])
def test_module_serves_the_generated_rows(name):
    pattern = next(p for p in PATTERNS if p.name == name)
    for pip in range(-pattern.period, pattern.period, 7):
        row = tuple(pattern.rows[pip % pattern.period])
        assert movimo.sample(name, pip).as_tuple() == row


@pytest.mark.parametrize("value, rounded", [
    (0.3, True), (0.1 + 0.2, False), (0.123456789012, True), (1e-12, True), (1e-13, False),
    (-0.82, True), (1.0, True), (0.5625, True), (2.0 ** -40, False),
])
def test_twelve_decimal_check(value, rounded):
    assert bool(content_report.is_rounded_to_12(np.array([value]))[0]) is rounded


def test_report_flags_broken_tables():
    rows = np.zeros((256, 3))
    rows[:, 0] = 0.5 * np.sin(np.arange(256) * 2 * np.pi / 256)
    broken = content_report.Pattern(0, "atlas", "wave", "wave_test", 256, 1, rows.copy())
    assert content_report.table_breaches(broken)  # not rounded
    broken.rows = np.round(rows, 3)
    assert not content_report.table_breaches(broken)
    broken.rows[5, 1] = -0.0
    assert any("unused axis" in line for line in content_report.table_breaches(broken))
    broken.rows[5, 1] = 0.0
    broken.rows[-1, 0] = 0.2
    assert any("seam" in line for line in content_report.table_breaches(broken))

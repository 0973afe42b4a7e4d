"""The build's bits against the golden digests, and the report that names
the patterns that moved."""

import math
from types import SimpleNamespace

import numpy as np
import pytest

import content_report
import golden_digests


def test_build_matches_the_golden_digests(capsys):
    status = golden_digests.check(content_report.BUILD_DIR)
    assert status == 0, capsys.readouterr().out


def test_golden_file_covers_every_pack_and_pattern():
    kinds = [kind for kind, _ in golden_digests.read_golden()]
    assert (kinds.count("pack"), kinds.count("procedural"), kinds.count("pattern")) == (6, 15, 1716)


@pytest.mark.parametrize("old, new, steps, ulps", [
    (0.5, 0.5, 0.0, 0),
    (0.5, math.nextafter(0.5, 1.0), 1.11e-4, 1),
    (0.25, 0.250000000001, 1.0, 18014),
    (-0.0, 0.0, 0.0, 0),
    (-5e-324, 5e-324, 2 * 5e-324 / 1e-12, 2),
    (-0.82, -0.820000000003, 3.0, 27022),
])
def test_largest_change_in_steps_and_ulps(old, new, steps, ulps):
    found_steps, found_ulps = golden_digests.largest_change(np.array([[0.1, new, 0.0]]),
                                                           np.array([[0.1, old, 0.0]]))
    assert found_steps == pytest.approx(steps, rel=1e-3, abs=1e-300)
    assert found_ulps == ulps


def test_report_names_the_moved_patterns_with_their_change():
    old = np.array([[0.5, 0.25, 0.0], [0.0, -0.5, 0.0]])
    new = old.copy()
    new[1, 1] = -0.500000000002
    golden = {("pack", "atlas"): "a", ("pattern", "wave_a"): "b", ("pattern", "wave_b"): "c",
              ("procedural", "circle"): "d"}
    found = {("pack", "atlas"): "A", ("pattern", "wave_a"): "b", ("pattern", "wave_b"): "C",
             ("procedural", "circle"): "d", ("pattern", "wave_c"): "e"}
    current = SimpleNamespace(values={("pattern", "wave_b"): new})
    reference = SimpleNamespace(values={("pattern", "wave_b"): old})
    lines = golden_digests.mismatch_report(golden, found, current, reference)
    assert lines == ["pattern wave_c: in the build, not in the golden file",
                     "pack atlas: digest differs",
                     "pattern wave_b: largest change 2 steps of 1e-12, 18014 ULPs"]
    unmeasured = golden_digests.mismatch_report(golden, found, current, None)
    assert unmeasured[-1] == "pattern wave_b: digest differs (no reference values to measure the change)"


def test_a_changed_period_is_reported_without_a_measure():
    assert golden_digests.largest_change(np.zeros((64, 3)), np.zeros((128, 3))) is None

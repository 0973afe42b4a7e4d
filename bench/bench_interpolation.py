"""movimo_tools between pips and across targets: native interpolation and
spread beside whole-pip evaluation and beside the plain NumPy code they
replaced (tools/numpy_interpolation.py), per point.

Run with: .venv/bin/python -m pytest bench/bench_interpolation.py --benchmark-only
or, for the per-point figures in one run: .venv/bin/python bench/bench_interpolation.py
"""

import pathlib
import sys
import time
import timeit

import numpy as np
import pytest

from movimo_tools.batch import evaluate, table
from movimo_tools.spread import even_offsets, spread
from movimo_tools.timing import evaluate_at

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tools"))
import numpy_interpolation  # noqa: E402

NAME = "lfo_seeded_drift"  # a 1024-pip built-in
POINTS = 100_000
TARGETS = 10_000
ROWS = table(NAME)
WHOLE = np.arange(POINTS, dtype=np.int64) % 1024
BETWEEN = WHOLE + 0.37
OFFSETS = even_offsets(TARGETS, 1024)

# Each case and the number of points it evaluates.
CASES = {
    "whole pips, native": (lambda: evaluate(NAME, WHOLE), POINTS),
    "linear, native": (lambda: evaluate_at(NAME, BETWEEN, "linear"), POINTS),
    "linear, NumPy": (lambda: numpy_interpolation.evaluate_at(ROWS, BETWEEN, "linear"), POINTS),
    "smooth, native": (lambda: evaluate_at(NAME, BETWEEN, "smooth"), POINTS),
    "smooth, NumPy": (lambda: numpy_interpolation.evaluate_at(ROWS, BETWEEN, "smooth"), POINTS),
    "spread at a pip, native": (lambda: spread(NAME, 100, OFFSETS), TARGETS),
    "spread at a pip, NumPy": (lambda: numpy_interpolation.spread(ROWS, 100, OFFSETS), TARGETS),
    "spread between pips, native": (lambda: spread(NAME, 100.5, OFFSETS), TARGETS),
    "spread between pips, NumPy": (lambda: numpy_interpolation.spread(ROWS, 100.5, OFFSETS),
                                   TARGETS),
}


@pytest.mark.parametrize("case", CASES)
def test_interpolation(benchmark, case):
    call, points = CASES[case]
    benchmark.extra_info["points"] = points
    benchmark(call)


def per_point_ns(calls=50) -> dict[str, float]:
    """Each case's fastest single call in CPU time, per point, in
    nanoseconds: of `calls` calls, ten times as many for the ten times
    smaller spreads. CPU time leaves out the time other work on a shared
    machine held the processor, and the fastest call the rest of its noise."""
    return {case: min(timeit.repeat(call, timer=time.thread_time, number=1,
                                    repeat=calls * POINTS // points)) / points * 1e9
            for case, (call, points) in CASES.items()}


if __name__ == "__main__":
    for case, ns in per_point_ns().items():
        print(f"{case:28} {ns:8.2f} ns per point")

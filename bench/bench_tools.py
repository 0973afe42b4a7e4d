"""movimo_tools batch evaluation beside a Python loop over movimo.sample and a
plain NumPy copy of the same 1024 rows.

Run with: .venv/bin/python -m pytest bench/bench_tools.py --benchmark-only
or, for the ratios in one run: .venv/bin/python bench/bench_tools.py
"""

import timeit

import numpy as np
import pytest

import movimo
import movimo_tools
from movimo_tools._native import native

NAME = "lfo_seeded_drift"  # a 1024-pip built-in
PIPS = range(1024)
ROWS = movimo_tools.table(NAME)


def python_loop():
    return [movimo.sample(NAME, pip) for pip in PIPS]


CASES = {
    "python loop over movimo.sample": python_loop,
    "numpy copy of 1024 rows": ROWS.copy,
    "native table, uncached": lambda: native.table(NAME),
    "movimo_tools.table": lambda: movimo_tools.table(NAME),
    "movimo_tools.evaluate over a range": lambda: movimo_tools.evaluate(NAME, PIPS),
    "movimo_tools.evaluate_at, smooth": lambda: movimo_tools.evaluate_at(
        NAME, np.arange(0.5, 1024.0), "smooth"),
}


@pytest.mark.parametrize("case", CASES)
def test_batch(benchmark, case):
    benchmark.extra_info["rows"] = len(PIPS)
    benchmark(CASES[case])


def best_seconds(call, budget=0.2):
    number = max(1, int(budget / timeit.timeit(call, number=1)))
    return min(timeit.repeat(call, number=number, repeat=7)) / number


if __name__ == "__main__":
    seconds = {case: best_seconds(call) for case, call in CASES.items()}
    loop, copy = seconds["python loop over movimo.sample"], seconds["numpy copy of 1024 rows"]
    for case, took in seconds.items():
        print(f"{case:36} {took * 1e6:9.2f} us  loop/this {loop / took:7.1f}x"
              f"  this/copy {took / copy:5.2f}x")

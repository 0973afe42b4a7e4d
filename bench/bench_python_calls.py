"""Python call costs of the pattern functions beside a pybind11 baseline.

Run with: .venv/bin/python -m pytest bench/bench_python_calls.py --benchmark-only
(the baseline module is built into build/py/bench by tools/bootstrap.sh).
"""

import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "build" / "py" / "bench"))

import movimo  # noqa: E402
import movimo_bench_baseline  # noqa: E402

PIPS = range(-512, 512)


def sweep(fn):
    for pip in PIPS:
        fn(pip)


@pytest.mark.parametrize("name", ["baseline", "bounce", "circle"])
def test_call(benchmark, name):
    fn = movimo_bench_baseline.make if name == "baseline" else getattr(movimo, name)
    benchmark.extra_info["calls_per_round"] = len(PIPS)
    benchmark(sweep, fn)

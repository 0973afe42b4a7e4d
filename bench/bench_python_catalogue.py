"""Python costs of evaluation by name, the catalogue and the import.

Run with: .venv/bin/python -m pytest bench/bench_python_catalogue.py --benchmark-only -s
(against another build: PYTHONPATH=build/<dir>). Targets: sample("lfo_breathe", p)
within 1.3x of bounce(p), catalogue() <= 2 ms, import <= 50 ms wall and
<= 10 MB of added resident memory.
"""

import json
import subprocess
import sys

import pytest

import movimo

PIPS = range(-512, 512)


def sweep_sample(name):
    sample = movimo.sample
    for pip in PIPS:
        sample(name, pip)


def sweep_bounce():
    bounce = movimo.bounce
    for pip in PIPS:
        bounce(pip)


@pytest.mark.parametrize("name", ["bounce", "lfo_breathe", "beat_dembow_push_ricochet"])
def test_sample_by_name(benchmark, name):
    benchmark.extra_info["calls_per_round"] = len(PIPS)
    benchmark(sweep_sample, name)


def test_bounce_function(benchmark):
    benchmark.extra_info["calls_per_round"] = len(PIPS)
    benchmark(sweep_bounce)


def test_catalogue(benchmark):
    benchmark(movimo.catalogue)


# A fresh interpreter imports the module once; wall time and the growth of
# its resident set come back as JSON.
IMPORT_PROBE = """
import json, time
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096
before = rss()
start = time.perf_counter()
import movimo
seconds = time.perf_counter() - start
print(json.dumps({"seconds": seconds, "rss_bytes": rss() - before}))
"""


def probe_import():
    return json.loads(subprocess.run([sys.executable, "-c", IMPORT_PROBE], check=True,
                                     capture_output=True, text=True).stdout)


def test_import_cost(benchmark):
    # The benchmark times whole interpreter runs; the probe's own figures
    # are the ones that count.
    runs = []
    benchmark.pedantic(lambda: runs.append(probe_import()), rounds=5, iterations=1)
    best = min(run["seconds"] for run in runs)
    rss = min(run["rss_bytes"] for run in runs)
    benchmark.extra_info.update(import_ms=best * 1000, rss_mib=rss / 2**20)
    print(f"\nimport movimo: {best * 1000:.1f} ms wall (best of 5), "
          f"{rss / 2**20:.2f} MiB resident added")

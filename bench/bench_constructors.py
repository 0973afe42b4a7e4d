"""Time and peak memory of the largest constructions made from Python.

Run with: PYTHONPATH=<build dir> .venv/bin/python bench/bench_constructors.py
Each case runs in a fresh interpreter so that its peak RSS is its own; the
report gives the RSS once the Python input exists and the peak after the
constructor, so the difference is what the constructor added.
"""

import json
import subprocess
import sys

CASES = {
    "recording, 1 axis x 8388608 frames": """
rows = [[0.25]] * 8_388_608
build = lambda: movimo.SampledRecording("take", ["x"], rows, 120.0)
""",
    "recording, 3 axes x 2796202 frames": """
rows = [[0.25, -0.5, 1.0]] * 2_796_202
build = lambda: movimo.SampledRecording("take", ["x", "y", "z"], rows, 120.0)
""",
    "library, 1024 patterns x 1024 samples": """
patterns = [movimo.SampledPattern(f"user_{i}", "", [[0.25, 0.0, 0.0]] * 1024)
            for i in range(1024)]
build = lambda: movimo.PatternLibrary(patterns)
""",
}

MEASURE = """
import json, resource, time
import movimo

def rss_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024

{setup}
input_rss = rss_mib()
start = time.perf_counter()
built = build()
seconds = time.perf_counter() - start
print(json.dumps({{"seconds": seconds, "input_peak_mib": input_rss, "peak_mib": rss_mib()}}))
"""


def measure(setup):
    """Seconds and peak RSS (MiB) of one case, in a fresh interpreter."""
    output = subprocess.run([sys.executable, "-c", MEASURE.format(setup=setup)],
                            capture_output=True, text=True, check=True).stdout
    return json.loads(output)


def main():
    for name, setup in CASES.items():
        result = measure(setup)
        print(f"{name}: {result['seconds'] * 1000:.0f} ms, peak RSS {result['peak_mib']:.0f} MiB"
              f" (input built: {result['input_peak_mib']:.0f} MiB,"
              f" constructor added {result['peak_mib'] - result['input_peak_mib']:.0f} MiB)")


if __name__ == "__main__":
    main()

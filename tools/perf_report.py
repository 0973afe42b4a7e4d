"""Runs every benchmark and writes docs/performance.md: each figure beside its
target, with the machine it ran on.

Run after tools/bootstrap.sh (it builds the benchmarks into build/py):
    .venv/bin/python tools/perf_report.py [--clean-build] [--out docs/performance.md]
--clean-build also times a clean build of the whole project (generator,
compile, link, tests and benchmarks included) in a fresh directory.

Native figures are CPU time per call from Google Benchmark; Python figures
are the best of several timeit repeats, all taken in this one run so that
the ratios compare like with like. Timing never fails anything: a figure
that misses its target is marked and explained in the report.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import pathlib
import platform
import resource
import shutil
import tempfile
import subprocess
import sys
import time
import timeit
import zlib
from dataclasses import dataclass

ROOT = pathlib.Path(__file__).resolve().parents[1]
BENCH_BUILD = ROOT / "build" / "py" / "bench"
sys.path[:0] = [str(ROOT / "bench"), str(BENCH_BUILD)]

import movimo  # noqa: E402

PIPS = range(-512, 512)
RUDIMENTS = {"single_stroke_roll", "double_stroke_roll", "multiple_bounce_roll",
             "single_paradiddle", "flam", "drag", "five_stroke_roll"}


@dataclass
class Figure:
    name: str
    value: float
    unit: str
    target: str
    met: bool | None  # None: no target, reported for information

    def row(self) -> str:
        verdict = {True: "yes", False: "**no**", None: "–"}[self.met]
        measured = f"{self.value:.3g} {self.unit}".rstrip()
        return f"| {self.name} | {measured} | {self.target} | {verdict} |"


def native_benchmarks(binary: str) -> dict[str, float]:
    """CPU nanoseconds per iteration of every benchmark in one binary."""
    output = subprocess.run([str(BENCH_BUILD / binary), "--benchmark_format=json",
                             "--benchmark_min_time=0.2"],
                            capture_output=True, text=True, check=True).stdout
    runs = json.loads(output)["benchmarks"]
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    return {run["name"]: run["cpu_time"] * scale[run["time_unit"]] for run in runs}


def per_call_ns(call, calls: int) -> float:
    """Best of seven timeit repeats, in nanoseconds per call."""
    number = max(1, int(0.1 / timeit.timeit(call, number=1)))
    return min(timeit.repeat(call, number=number, repeat=7)) / number / calls * 1e9


def sweep(fn):
    return lambda: [fn(pip) for pip in PIPS]


def native_figures() -> list[Figure]:
    figures = []
    for name, ns in native_benchmarks("movimo_bench").items():
        if name.startswith("sampler/"):
            figures.append(Figure(f"sampler call, {name[8:]}", ns, "ns", "≤ 3 ns", ns <= 3))
        else:
            limit = 40 if name in RUDIMENTS else 20
            figures.append(Figure(f"`{name}(pip)`", ns, "ns", f"≤ {limit} ns", ns <= limit))
    for name, ns in native_benchmarks("movimo_packs_bench").items():
        if name.startswith("SampleByName/"):
            figures.append(Figure(f"`sample(name, pip)`, {name[13:]}", ns, "ns", "≤ 80 ns",
                                  ns <= 80))
        elif name.startswith(("Handle/", "Fill")):
            figures.append(handle_figure(name, ns))
        else:
            figures.append(Figure(f"`catalogue()`, {name}", ns, "ns", "", None))
    for name, ns in native_benchmarks("movimo_constructors_bench").items():
        ms = ns / 1e6
        if name.startswith("BM_RecordingNestedRows"):
            # The row-by-row constructor serves C++ callers; Python uses the flat one.
            figures.append(Figure(f"{name} (C++ rows)", ms, "ms", "", None))
        else:
            figures.append(Figure(name, ms, "ms", "≤ 50 ms", ms <= 50))
    return figures


def handle_figure(name: str, ns: float) -> Figure:
    """A resolved handle's call, or a batch fill per pip; the bars hold for
    table-backed patterns."""
    kind, pattern, *pips = name.split("/")
    table = pattern.startswith("sampled_")
    if kind == "Handle":
        return Figure(f"resolved handle call, {pattern}", ns, "ns", "≤ 3 ns" if table else "",
                      ns <= 3 if table else None)
    per_pip = ns / int(pips[0])
    spans = {"FillConsecutive": "consecutive pips", "FillAtPips": "given pips"}
    return Figure(f"`fill` at {spans[kind]}, {pattern}", per_pip, "ns per pip",
                  "≤ 1.5 ns" if table else "", per_pip <= 1.5 if table else None)


def python_figures() -> list[Figure]:
    import movimo_bench_baseline
    from bench_python_catalogue import probe_import

    baseline = per_call_ns(sweep(movimo_bench_baseline.make), len(PIPS))
    bounce = per_call_ns(sweep(movimo.bounce), len(PIPS))
    circle = per_call_ns(sweep(movimo.circle), len(PIPS))
    by_name = per_call_ns(lambda: [movimo.sample("lfo_breathe", p) for p in PIPS], len(PIPS))
    catalogue_ms = per_call_ns(movimo.catalogue, 1) / 1e6
    imports = [probe_import() for _ in range(5)]
    import_ms = min(run["seconds"] for run in imports) * 1000
    import_mib = min(run["rss_bytes"] for run in imports) / 2**20
    return [
        Figure("pybind11 baseline call (small bound class)", baseline, "ns", "", None),
        Figure("`movimo.bounce(p)`", bounce, "ns", f"≤ 1.2 × baseline ({1.2 * baseline:.0f} ns)",
               bounce <= 1.2 * baseline),
        Figure("`movimo.circle(p)`", circle, "ns", f"≤ 1.2 × baseline ({1.2 * baseline:.0f} ns)",
               circle <= 1.2 * baseline),
        Figure('`movimo.sample("lfo_breathe", p)`', by_name, "ns",
               f"≤ 1.3 × bounce ({1.3 * bounce:.0f} ns)", by_name <= 1.3 * bounce),
        Figure("`movimo.catalogue()`", catalogue_ms, "ms", "≤ 2 ms", catalogue_ms <= 2),
        Figure("`import movimo`, wall time", import_ms, "ms", "≤ 50 ms", import_ms <= 50),
        Figure("`import movimo`, resident memory added", import_mib, "MiB", "≤ 10 MB",
               import_mib <= 10),
    ]


def construction_figures() -> list[Figure]:
    from bench_constructors import CASES, measure

    # What the constructor may add on top of the Python input: its own copy.
    allowed_mib = {"recording, 1 axis x 8388608 frames": 64.0,
                   "recording, 3 axes x 2796202 frames": 64.0,
                   "library, 1024 patterns x 1024 samples": 1024 * 1024 * 24 / 2**20}
    figures = []
    for name, setup in CASES.items():
        result = measure(setup)
        added = result["peak_mib"] - result["input_peak_mib"]
        allowed = allowed_mib[name]
        figures.append(Figure(f"Python {name}: whole call", result["seconds"] * 1000, "ms",
                              "", None))
        figures.append(Figure(f"Python {name}: memory added", added, "MiB",
                              f"≤ {allowed:.0f} MiB (the native copy)", added <= allowed + 1))
    return figures


def tools_figures() -> list[Figure]:
    import bench_tools

    seconds = {case: bench_tools.best_seconds(call) for case, call in bench_tools.CASES.items()}
    loop = seconds["python loop over movimo.sample"]
    copy = seconds["numpy copy of 1024 rows"]
    table = seconds["movimo_tools.table"]
    uncached = seconds["native table, uncached"]
    return [
        Figure("1024-row table: Python loop over `movimo.sample`", loop * 1e6, "µs", "", None),
        Figure("1024-row table: NumPy copy", copy * 1e6, "µs", "", None),
        Figure("`movimo_tools.table`: speed-up over the loop", loop / table, "×", "≥ 50 ×",
               loop / table >= 50),
        Figure("`movimo_tools.table`: time / NumPy copy", table / copy, "×", "≤ 2 ×",
               table / copy <= 2),
        Figure("native table before caching: time / NumPy copy", uncached / copy, "×", "", None),
    ]


def interpolation_figures() -> list[Figure]:
    import bench_interpolation

    ns = bench_interpolation.per_point_ns()
    whole = ns["whole pips, native"]
    figures = [Figure(f"whole pips (`evaluate`), {bench_interpolation.POINTS:,} pips", whole,
                      "ns", "", None)]
    for method, bound in (("linear", 3), ("smooth", 5)):
        native = ns[f"{method}, native"]
        figures += [
            Figure(f"`evaluate_at`, {method}", native, "ns", f"≤ {bound} × whole ({bound * whole:.3g} ns)",
                   native <= bound * whole),
            Figure(f"{method} in plain NumPy", ns[f"{method}, NumPy"], "ns", "", None)]
    for where in ("at a pip", "between pips"):
        native = ns[f"spread {where}, native"]
        figures += [
            Figure(f"`spread` {where}, {bench_interpolation.TARGETS:,} targets", native, "ns",
                   "≤ 5 ns", native <= 5),
            Figure(f"`spread` {where} in plain NumPy", ns[f"spread {where}, NumPy"], "ns", "",
                   None)]
    return figures


def stream_figures() -> list[Figure]:
    import bench_stream

    timing = bench_stream.measure()
    lost = timing["messages_sent"] - timing["messages_received"]
    return [
        Figure("messages lost, 10 s at 120 Hz on loopback", lost, "", "0", lost == 0),
        Figure("mean phase error", timing["mean_phase_error_ms"], "ms", "≤ 1 ms",
               timing["mean_phase_error_ms"] <= 1),
        Figure("median phase error", timing["median_phase_error_ms"], "ms", "", None),
        Figure("largest phase error", timing["max_phase_error_ms"], "ms", "", None),
        Figure("jitter (standard deviation)", timing["jitter_std_ms"], "ms", "", None),
    ]


def rig_figures() -> list[Figure]:
    import bench_rig

    timing = bench_rig.measure()
    rig = f"{timing['fixtures']} fixtures, {timing['universes']} universes"
    wired = (f"{timing['wired_heads']} heads, {timing['universes']} universes, "
             f"{timing['wired_nodes']} nodes with sync")
    return [
        Figure(f"one frame, {rig}: CPU time", timing["frame_cpu_ms"], "ms", "≤ 1 ms",
               timing["frame_cpu_ms"] <= 1),
        Figure(f"one frame, {rig}: wall time", timing["frame_ms"], "ms", "", None),
        Figure(f"E1.31 packets of one frame, {rig}", timing["sacn_packets_ms"], "ms", "", None),
        Figure(f"ArtDmx packets of one frame, {rig}", timing["artnet_packets_ms"], "ms", "",
               None),
        Figure(f"one frame sent, {wired}, {timing['wired_groups']} groups: CPU time",
               timing["wired_frame_cpu_ms"], "ms", "≤ 1 ms", timing["wired_frame_cpu_ms"] <= 1),
        Figure(f"one frame sent, {wired}, a group a universe: CPU time",
               timing["wired_frame_universe_groups_cpu_ms"], "ms", "", None),
    ]


def serve_figures() -> list[Figure]:
    import bench_serve

    timing = bench_serve.measure()
    show = (f"{timing['fixtures']} heads at {timing['rate_hz']:g} frames/s, "
            f"{timing['clients']} browsers")
    return [
        Figure(f"frame lateness, 99th percentile, {show}", timing["lateness_p99_ms"], "ms",
               "< 2 ms", timing["lateness_p99_ms"] < 2),
        Figure(f"frame lateness, median, {show}", timing["lateness_p50_ms"], "ms", "", None),
        Figure(f"the show's process, share of one core, {show}",
               100 * timing["cpu_share_of_a_core"], "%", "< 15 %",
               timing["cpu_share_of_a_core"] < 0.15),
    ]


def audio_figures() -> list[Figure]:
    import bench_audio

    timing = bench_audio.measure()
    return [
        Figure("beat tracking at 48 kHz, share of one core",
               timing["cpu_share_of_one_core_percent"], "%", "≤ 5 %",
               timing["cpu_share_of_one_core_percent"] <= 5),
        Figure("onset to beat, median", timing["onset_to_beat_ms_median"], "ms", "", None),
        Figure("onset to beat, with a live input's block, at most",
               timing["with_a_live_block_and_wait_ms_max"], "ms", "≤ 25 ms",
               timing["with_a_live_block_and_wait_ms_max"] <= 25),
    ]


def clean_build_figures() -> list[Figure]:
    """Wall time of a clean two-job build and the peak memory of any one
    process in it (the largest compiler run)."""
    import pybind11

    directory = tempfile.mkdtemp(prefix="movimo-clean-build-")
    try:
        subprocess.run(["cmake", "-S", str(ROOT), "-B", directory, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DMOVIMO_BUILD_TESTS=ON",
                        "-DMOVIMO_BUILD_BENCH=ON", f"-DPython_EXECUTABLE={sys.executable}",
                        f"-Dpybind11_DIR={pybind11.get_cmake_dir()}"],
                       check=True, capture_output=True)
        start = time.perf_counter()
        subprocess.run(["cmake", "--build", directory, "-j2"], check=True, capture_output=True)
        minutes = (time.perf_counter() - start) / 60
        peak_mib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
        module = next(pathlib.Path(directory).glob("movimo.cpython-*.so"))
        size_mib = module.stat().st_size / 2**20
    finally:
        shutil.rmtree(directory)
    return [Figure("clean build, two jobs", minutes, "min", "≤ 5 min", minutes <= 5),
            Figure("peak memory of one build process", peak_mib, "MiB", "≤ 4 GB",
                   peak_mib <= 4096),
            Figure("size of the built module", size_mib, "MiB", "", None)]


def size_figures() -> list[Figure]:
    """The installed module, the tables it carries and the wheel, in MiB."""
    module = pathlib.Path(movimo.__file__).stat().st_size / 2**20
    blobs = sorted((ROOT / "build" / "py" / "src" / "packs" / "generated").glob("*.bin"))
    tables = b"".join(blob.read_bytes() for blob in blobs)
    figures = [Figure("the `movimo` module file", module, "MiB", "", None),
               Figure(f"its pattern tables ({len(blobs)} packs, raw)", len(tables) / 2**20, "MiB",
                      "", None),
               Figure("the tables deflated, as in a wheel", len(zlib.compress(tables)) / 2**20,
                      "MiB", "", None)]
    wheels = sorted((ROOT / "build" / "dist" / "repaired").glob("movimo-*.whl"))
    if wheels:
        figures.append(Figure(f"the wheel, {wheels[-1].name}", wheels[-1].stat().st_size / 2**20,
                              "MiB", "", None))
    else:
        print("no wheel in build/dist/repaired: bash tools/package_test.sh builds one")
    return figures


def machine() -> str:
    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                  if line.startswith("model name")), platform.processor())
    memory_kib = next(int(line.split()[1]) for line in open("/proc/meminfo")
                      if line.startswith("MemTotal"))
    compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout
    return (f"{model}, {os.cpu_count()} cores, {memory_kib / 2**20:.0f} GiB; "
            f"{platform.system()} {platform.release()}; {compiler.splitlines()[0]}; "
            f"Python {platform.python_version()}; load average "
            f"{' '.join(f'{x:.2f}' for x in os.getloadavg())} when the run started")


EXPLANATIONS = """\
## Notes on the figures

- Timings are taken on a shared two-core virtual machine; other work on it
  inflates wall-clock figures and, less, CPU figures. The load average at the
  start of the run is given above. Figures close to a target can land either
  side of it from run to run.
- `movimo_tools.table` is what callers use, and the figure held to the bar.
  Underneath, a table-backed pattern's table is copied from its stored rows by
  `movimo::fill` (a procedural one is evaluated row by row); the result is kept
  read-only (the 64 most recently used tables) and later calls hand back a
  copy of it.
- A resolved handle (`movimo::resolve`) calls the pattern's sampler through a
  function pointer, the same call as the sampler figures above, after testing
  that it holds one (an empty handle gives the zero offset). `fill` over
  consecutive pips copies a table-backed pattern's rows a period at a time;
  at given pips it indexes the rows by each pip's phase (a mask for a
  power-of-two period, a remainder otherwise); both give the sampler's bits.
  Per-pip figures are one fill of 4096 pips divided by 4096.
- The wheel is almost all pattern tables: 1,022,912 rows of three doubles
  (about 23 MiB raw) inside the `movimo` module. Deflate in the wheel brings
  them to about 14 MiB; `movimo_tools`' native part links the module rather
  than carrying a second copy.
- `BM_RecordingNestedRows` measures the C++ constructor that takes one
  vector per frame, which pays one heap block per frame; Python callers go
  through the flat-frame constructor (`BM_RecordingFlatFrames`).
- Phase error is how late each frame's clock message reaches a UDP reader in
  the same process, measured from the frame's due time (start + i / rate).
  One stall of the machine makes the following frames late until the stream
  catches up, so the mean moves with the machine's load far more than the
  median does; the test suite holds the median and the absence of drift, and
  this report the mean.
- Between pips and across targets: `evaluate_at` and `spread` run natively,
  bit for bit as the NumPy code they replaced (`tools/numpy_interpolation.py`,
  listed beside them as the plain-NumPy equivalent). Each figure is the CPU
  time of the fastest of 50 single calls over 100,000 pips of a 1024-pip
  built-in (500 calls over 10,000 targets for `spread`), divided by the
  count; whole-pip `evaluate` on the same pips is the yardstick. The first
  `spread` lands every target on a whole pip (rows straight from the table),
  the second between pips (linear). A row's x, y and z are computed together
  as the lanes of one four-double vector, by a copy of the loop compiled for
  AVX where the processor has it (the x86-64 baseline copy gives the same
  bits, more slowly); pips are split into phases and fractions four at a
  time, a block of 64 rows before they are interpolated.
- A `movimo dmx` frame is every fixture's pattern value, degrees, speed limit
  and DMX bytes for the whole rig (`bench/bench_rig.py`: 16-bit pan, 8-bit
  tilt, groups with every kind of spread); at 44 frames a second the budget
  is 22.7 ms, so the 1 ms bar leaves the rest for sending. Its CPU time is
  held to the bar, as for the native figures: the wall time, listed beside
  it, also counts the time other work on the shared machine held the CPU.
  The packets are built apart from the frame and listed after it.
"""


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", default=str(ROOT / "docs" / "performance.md"))
    parser.add_argument("--clean-build", action="store_true",
                        help="also time a clean build of the whole project")
    args = parser.parse_args(argv)
    header = machine()
    sections = [("Native library (CPU time per call)", native_figures()),
                ("Python module (per call, this run)", python_figures()),
                ("Construction from Python", construction_figures()),
                ("movimo_tools batch evaluation", tools_figures()),
                ("Between pips and across targets (per point)", interpolation_figures()),
                ("`movimo stream` timing", stream_figures()),
                ("`movimo dmx` frames", rig_figures()),
                ("`movimo serve` with its browser console", serve_figures()),
                ("Following live audio", audio_figures()),
                ("Sizes", size_figures())]
    if args.clean_build:
        sections.insert(0, ("Build", clean_build_figures()))
    lines = ["# Performance", "",
             f"Measured {datetime.date.today().isoformat()} by `tools/perf_report.py` on: {header}.",
             ""]
    missed = []
    for title, figures in sections:
        lines += [f"## {title}", "", "| Figure | Measured | Target | Met |", "|---|---|---|---|"]
        lines += [figure.row() for figure in figures]
        lines.append("")
        missed += [figure.name for figure in figures if figure.met is False]
    lines.append(f"Targets missed in this run: {', '.join(missed) if missed else 'none'}.")
    lines += ["", EXPLANATIONS]
    out = pathlib.Path(args.out)
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text("\n".join(lines))
    print(f"wrote {out}; targets missed: {len(missed)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

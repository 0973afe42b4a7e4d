#!/usr/bin/env python3
"""Report on the content of the sampled-pattern tables.

Reads the manifest and the table blobs that the pack generator writes and
prints, per family (and for the beat_ patterns per motion), each axis's
peak, the share of rows at rest, the largest seam step (last row back to
row 0), the largest step between consecutive rows and the smallest RMS
distance between two members. It then lists every breach of the rules the
stored tables keep and of the expected peaks, rest shares and amplitudes.
Exits with status 1 when there is a breach.

With --beat it measures how the beat_ genres dance instead: the step's
sides on the backbeat, the distances between genres per motion with the
closest pairs, how visible the swing is, and each axis's range; with
--sheets DIR it also writes one contact sheet per motion (every genre on
one page) into DIR.

    content_report.py [GENERATED_DIR] [--pack PACK ...] [--beat] [--sheets DIR]
"""

import argparse
import math
import os
import pathlib
import sys
from dataclasses import dataclass

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[1]
# The build tree to read: MOVIMO_BUILD_DIR, else the one bootstrap.sh makes.
BUILD_DIR = pathlib.Path(os.environ.get("MOVIMO_BUILD_DIR", ROOT / "build" / "py"))
DEFAULT_DIR = BUILD_DIR / "src" / "packs" / "generated"

AXES = "xyz"

# ---- expectations -----------------------------------------------------------

# Per family (or beat_ motion): peak of x, y, z and share of rows at rest.
# "0.84" must match at the decimals written, "<=0.82" is a ceiling, "0" means
# the axis never moves. Rest shares: "13%" within two points, "0" exactly
# none, "<=0.2%" a ceiling.
FAMILY_EXPECTATIONS = {
    "initial lfo": ("0.84", "0.85", "0", "13%"),
    "initial rhythm": ("0.85", "0.85", "0", "53%"),
    "rudiment": ("0.82", "0.4261", "0", "17%"),
    "ease": ("0.8", "0", "0", "0.5%"),
    "akwf": ("0.85", "0", "0", "0"),
    "groove": ("1.0", "0.4859", "0", "0.1%"),
    "expansion lfo": ("0.8042", "0.85", "0", "5%"),
    "path": ("0.82", "0.82", "0.48", "0.2%"),
    "expansion rhythm": ("0.78", "0.7", "0.55", "43%"),
    "wave": ("0.82", "0", "0", "0.3%"),
    "env": ("0", "0.82", "0", "7%"),
    "seq": ("0.82", "0.287", "0", "0.1%"),
    "noise": ("0.82", "0.82", "0.5159", "0"),
    "orbit": ("0.82", "0.6552", "0", "0"),
    "weave": ("0.82", "0.6663", "0", "0"),
    "polar": ("0.82", "0.82", "0", "0.1%"),
    "spiro": ("0.82", "0.82", "0", "0"),
    "space": ("0.82", "0.82", "0.574", "0"),
    "mech": ("0.82", "0.82", "0.41", "0"),
    "euclid": ("0.75", "0.32", "0", "37%"),
    "poly": ("0.403", "0.52", "0.22", "25%"),
    "meter": ("0.72", "0.33", "0.0504", "14%"),
    "swing": ("0.585", "0.216", "0.09", "39%"),
    "stick": ("0.74", "0.34", "0", "28%"),
    "gesture": ("0.82", "0.82", "0.82", "0.1%"),
    **{family: ("0.82", "<=0.82", "<=0.7757", "<=0.2%")
       for family in ("ribbon", "contour", "silhouette", "spline", "tour", "scan", "reach",
                      "surface", "braid", "arm", "dwell")},
    "packet": ("0.82", "0.2756", "0.3472", "16%"),
    "canon": ("0.279", "0.3109", "0.258", "33%"),
    "echo": ("0.31", "0.2656", "0.2202", "65%"),
    "ladder": ("0.31", "0.32", "0.32", "35%"),
    "necklace": ("0.248", "0.096", "0.1592", "28%"),
    "accent": ("0.3139", "0.1185", "0.1536", "28%"),
    "triplet": ("0.2945", "0.192", "0.2072", "47%"),
    "dialogue": ("0.31", "0.32", "0.32", "20%"),
    "burst": ("0.279", "0.288", "0.1891", "53%"),
    "beat bounce": ("0.2975", "0.6825", "0.068", "11%"),
    "beat step": ("0.7464", "0.3611", "0.1813", "11%"),
    "beat orbit": ("0.6198", "0.614", "0.216", "0"),
    "beat glide": ("0.7", "0.4929", "0.4848", "0"),
    "beat surge": ("0.2124", "0.3618", "0.6795", "8%"),
    "beat recoil": ("0.641", "0.3121", "0.2631", "5%"),
    "beat flutter": ("0.5413", "0.3497", "0.2938", "0"),
    "beat dive": ("0.4884", "0.1867", "0.92", "0"),
    "beat pendulum": ("0.5564", "0.2", "0.2636", "0"),
    "beat figure8": ("0.6448", "0.4398", "0.204", "0"),
    "beat box": ("0.52", "0.5013", "0.2905", "0"),
    "beat corkscrew": ("0.5964", "0.5804", "0.6019", "0"),
    "beat spiral": ("0.6842", "0.6409", "0.3366", "0"),
    "beat slalom": ("0.6564", "0.41", "0.4031", "0"),
    "beat spring": ("0.6703", "0.372", "0.6007", "0.2%"),
    "beat ricochet": ("0.8559", "0.92", "0.4772", "0"),
}

# Largest magnitude of every table of a family: (lowest, highest).
TABLE_PEAKS = {
    **{family: (0.82, 0.82)
       for family in ("wave", "seq", "noise", "orbit", "weave", "polar", "spiro", "space",
                      "mech", "gesture")},
    # A few continuum tables were scaled on the continuous curve.
    **{family: (0.8196, 0.82)
       for family in ("ribbon", "contour", "silhouette", "spline", "tour", "scan", "reach",
                      "surface", "braid", "arm", "dwell", "packet")},
    "env": (0.7, 0.82),
}

# The rhythmic families peak at their fixed amplitude in every member.
AMPLITUDES = {
    "euclid": "0.75", "poly": "0.52", "meter": "0.72", "swing": "0.585", "stick": "0.74",
    "ladder": "0.32", "dialogue": "0.32", "triplet": "0.2945", "burst": "0.288",
    "necklace": "0.248",
}

# Two-axis patterns that move y only.
Y_ONLY = {"lfo_double_pump", "beat_four_floor_bounce"}
Y_ONLY_FAMILIES = {"env"}

SEAM_LIMIT = 0.05
SEAM_EXCEPTIONS = {"akwf_quick_return": "0.186", "akwf_multi_lobe": "0.084",
                   "beat_four_floor_corkscrew": "0.053"}
STEP_LIMIT = "0.2677"  # the steepest table, beat_bassline_spring
FULL_PEAK_ALLOWED = {"groove_b_played", "groove_b_grid"}


# ---- loading ------------------------------------------------------------------

@dataclass
class Pattern:
    position: int
    pack: str
    family: str
    name: str
    period: int
    dimensions: int
    rows: np.ndarray  # (period, 3) float64
    group: str = ""   # the family label of the report


def load_patterns(generated_dir):
    """Every pattern of the manifest, in registry order, with its rows."""
    generated_dir = pathlib.Path(generated_dir)
    lines = (generated_dir / "manifest.tsv").read_text(encoding="utf-8").splitlines()
    header = lines[0].split("\t")
    blobs = {}
    patterns = []
    for line in lines[1:]:
        field = dict(zip(header, line.split("\t")))
        blob = field["blob"]
        if blob not in blobs:
            blobs[blob] = np.fromfile(generated_dir / blob, dtype="<f8")
        period = int(field["period"])
        first = int(field["offset"]) // 8
        rows = blobs[blob][first:first + 3 * period].reshape(period, 3)
        patterns.append(Pattern(int(field["position"]), field["pack"], field["family"],
                                field["name"], period, int(field["dimensions"]), rows))
    label_groups(patterns)
    return patterns


def label_groups(patterns):
    """Families present in several packs are told apart by pack; beat_
    patterns are grouped by motion, the last word of the name."""
    packs_of = {}
    for p in patterns:
        packs_of.setdefault(p.family, set()).add(p.pack)
    for p in patterns:
        if p.family == "beat":
            p.group = "beat " + p.name.rsplit("_", 1)[1]
        elif len(packs_of[p.family]) > 1:
            p.group = f"{p.pack} {p.family}"
        else:
            p.group = p.family


# ---- measures -----------------------------------------------------------------

def decimals(text):
    return len(text.split(".")[1]) if "." in text else 0


def matches(value, text):
    """value equals the decimal `text` at the decimals written there."""
    return abs(value - float(text)) <= 0.5 * 10.0 ** -decimals(text) + 1e-12


def peaks(rows):
    return np.abs(rows).max(axis=0)


def rest_share(rows):
    return float(np.mean(np.all(rows == 0.0, axis=1)))


def seam_steps(rows):
    return np.abs(rows[0] - rows[-1])


def inner_steps(rows):
    if len(rows) < 2:
        return np.zeros(3)
    return np.abs(np.diff(rows, axis=0)).max(axis=0)


def is_rounded_to_12(values):
    """True where a value is the binary64 nearest to a decimal with at most
    12 places. Such a value is n / 1e12 for an integer n of at most 1e12,
    and that division is correctly rounded, so it suffices to try the
    integers next to value * 1e12."""
    n = np.rint(values * 1e12)
    return (((n - 1) / 1e12 == values) | (n / 1e12 == values) | ((n + 1) / 1e12 == values))


def rms_distance(a, b):
    """RMS over one common loop of the distance between two tables' rows."""
    loop = math.lcm(len(a), len(b))
    a = np.tile(a, (loop // len(a), 1))
    b = np.tile(b, (loop // len(b), 1))
    return float(np.sqrt(np.mean(np.sum((a - b) ** 2, axis=1))))


def closest_pair(members):
    best = (math.inf, "", "")
    for i, a in enumerate(members):
        for b in members[i + 1:]:
            best = min(best, (rms_distance(a.rows, b.rows), a.name, b.name))
    return best


# ---- breaches -----------------------------------------------------------------

def table_breaches(p):
    """Rules every stored table keeps."""
    found = []
    rows = p.rows
    if not np.all(np.isfinite(rows)) or np.abs(rows).max() > 1.0:
        found.append(f"{p.name}: values outside [-1, 1] or not finite")
    elif not np.all(is_rounded_to_12(rows)):
        found.append(f"{p.name}: values not rounded to 12 decimals")
    unused = rows[:, p.dimensions:]
    if np.any(unused != 0.0) or np.any(np.signbit(unused)):
        found.append(f"{p.name}: an unused axis is not +0.0 in every row")
    if (p.name in Y_ONLY or p.family in Y_ONLY_FAMILIES) and np.any(rows[:, 0] != 0.0):
        found.append(f"{p.name}: moves x, but only y may move")
    seam, inner = seam_steps(rows), inner_steps(rows)
    for axis in range(3):
        if seam[axis] > inner[axis]:
            found.append(f"{p.name}: {AXES[axis]} seam step {seam[axis]:.4g} exceeds its largest "
                         f"inner step {inner[axis]:.4g}")
    seam_limit = SEAM_EXCEPTIONS.get(p.name)
    if seam_limit is None and seam.max() >= SEAM_LIMIT:
        found.append(f"{p.name}: seam step {seam.max():.4g} is not below {SEAM_LIMIT}")
    if seam_limit is not None and seam.max() > float(seam_limit) and not matches(seam.max(), seam_limit):
        found.append(f"{p.name}: seam step {seam.max():.4g} exceeds {seam_limit}")
    if inner.max() > float(STEP_LIMIT) and not matches(inner.max(), STEP_LIMIT):
        found.append(f"{p.name}: step {inner.max():.4g} between rows exceeds {STEP_LIMIT}")
    peak = float(np.abs(rows).max())
    if peak == 1.0 and p.name not in FULL_PEAK_ALLOWED:
        found.append(f"{p.name}: peaks at exactly 1.0")
    return found


def member_breaches(p):
    """Per-table peaks and amplitudes of the families that fix them."""
    peak = float(np.abs(p.rows).max())
    bounds = TABLE_PEAKS.get(p.family)
    if bounds and not bounds[0] <= peak <= bounds[1]:
        return [f"{p.name}: peak {peak:.6g} outside [{bounds[0]}, {bounds[1]}]"]
    amplitude = AMPLITUDES.get(p.family)
    if amplitude and not matches(peak, amplitude):
        return [f"{p.name}: peak {peak:.6g}, the family amplitude is {amplitude}"]
    return []


def expectation_breach(group, what, value, text):
    if text.startswith("<="):
        ok = value <= float(text[2:])
    elif text == "0":
        ok = value == 0.0
    else:
        ok = matches(value, text)
    return [] if ok else [f"{group}: {what} {value:.6g}, expected {text}"]


def rest_breach(group, share, text):
    percent = 100.0 * share
    if text.startswith("<="):
        ok = percent <= float(text[2:-1])
    elif text == "0":
        ok = share == 0.0
    else:
        ok = abs(percent - float(text[:-1])) <= 2.0
    return [] if ok else [f"{group}: {percent:.3g}% of rows at rest, expected {text}"]


def group_breaches(group, members):
    expected = FAMILY_EXPECTATIONS.get(group)
    if expected is None:
        return [f"{group}: no expectations for this family"]
    rows = np.concatenate([m.rows for m in members])
    found = []
    for axis, peak in enumerate(peaks(rows)):
        found += expectation_breach(group, f"{AXES[axis]} peak", float(peak), expected[axis])
    found += rest_breach(group, rest_share(rows), expected[3])
    return found


def all_breaches(group, members):
    """The family's breaches, then every member table's."""
    found = group_breaches(group, members)
    for p in members:
        found += table_breaches(p) + member_breaches(p)
    return found


# ---- how the beat_ genres dance ------------------------------------------------

BAR = 256        # pips in a bar of four beats
BACKBEATS = (64, 192)  # beats two and four of a bar
# The smallest difference at most, and mean RMS difference relative to the
# motion's level, that tell two genres' same motion apart.
DISTINCT_AT_MOST = 0.05
DISTINCT_RELATIVE_RMS = 0.5
# A clap or snare this strong in the bounce (whose snare swings x by 0.243
# times its velocity) counts as a backbeat.
BACKBEAT_LEVEL = 0.1
VISIBLE_RANGE = 0.05
SWING_PAIRS = [("house_classic", "house_shuffle")]


def genre_of(p):
    """The genre of a beat_ pattern: its name without prefix and motion."""
    return p.name[len("beat_"):].rsplit("_", 1)[0]


def common_loop(a, b):
    loop = math.lcm(len(a), len(b))
    return np.tile(a, (loop // len(a), 1)), np.tile(b, (loop // len(b), 1))


def largest_difference(a, b):
    """The largest difference on any axis at any row over one common loop."""
    a, b = common_loop(a, b)
    return float(np.abs(a - b).max())


def motion_level(members):
    """The RMS magnitude of a motion's rows over all its genres."""
    rows = np.concatenate([m.rows for m in members])
    return float(np.sqrt(np.mean(np.sum(rows ** 2, axis=1))))


def genre_distances(members):
    """Every pair of genres of one motion as (largest difference, RMS
    difference relative to the motion's level, a, b), closest first."""
    level = motion_level(members)
    pairs = []
    for i, a in enumerate(members):
        for b in members[i + 1:]:
            pairs.append((largest_difference(a.rows, b.rows), rms_distance(a.rows, b.rows) / level,
                          genre_of(a), genre_of(b)))
    return sorted(pairs)


def backbeat_bars(bounce):
    """True when every bar of a genre's bounce has a clap or snare on beats
    two and four."""
    bars = len(bounce.rows) // BAR
    return all(abs(bounce.rows[bar * BAR + beat, 0]) >= BACKBEAT_LEVEL
               for bar in range(bars) for beat in BACKBEATS)


def step_sides(step):
    """x of the step on beats two and four, bar by bar."""
    bars = len(step.rows) // BAR
    return [(float(step.rows[bar * BAR + BACKBEATS[0], 0]), float(step.rows[bar * BAR + BACKBEATS[1], 0]))
            for bar in range(bars)]


def opposite_sides(sides):
    return all(two * four < 0.0 for two, four in sides)


def backbeat_genres(by_name):
    """Genres whose bounce holds a backbeat on two and four in every bar."""
    return sorted(genre_of(p) for name, p in by_name.items()
                  if name.endswith("_bounce") and backbeat_bars(p))


def flat_axes(p, peak):
    """Declared axes that move less than VISIBLE_RANGE where the motion's
    peak on that axis would allow it."""
    ranges = np.ptp(p.rows, axis=0)
    still = {0} if p.name in Y_ONLY else set()
    return [AXES[axis] for axis in range(p.dimensions)
            if axis not in still and ranges[axis] < VISIBLE_RANGE <= peak[axis]]


# A swing of the spring this large (of the table's largest magnitude) is a
# response; it must rise from within a tenth of rest over the rows before it.
RESPONSE_LEVEL = 0.5
SETTLED_LEVEL = 0.1
RISE_ROWS = 8


def unsettled_swings(rows):
    """Rows where a swing of the spring peaks without having risen from
    (near) rest: the ring before it had not settled."""
    magnitude = np.linalg.norm(rows, axis=1)
    top = magnitude.max()
    before, after = np.roll(magnitude, 1), np.roll(magnitude, -1)
    swings = np.flatnonzero((magnitude >= RESPONSE_LEVEL * top) & (magnitude > before) & (magnitude >= after))
    rise = np.array([np.roll(magnitude, k) for k in range(1, RISE_ROWS + 1)]).min(axis=0)
    return [int(pip) for pip in swings if rise[pip] > SETTLED_LEVEL * top]


def beat_report(patterns, out=sys.stdout):
    """Prints the beat_ measures; returns the shortfalls against the targets."""
    beats = [p for p in patterns if p.family == "beat"]
    by_name = {p.name: p for p in beats}
    shortfalls = []
    print("step on beats two and four (x, per bar) in genres with a backbeat", file=out)
    for genre in backbeat_genres(by_name):
        sides = step_sides(by_name[f"beat_{genre}_step"])
        ok = opposite_sides(sides)
        text = "  ".join(f"{two:+.3f}/{four:+.3f}" for two, four in sides)
        print(f"  {genre:<20} {'opposite' if ok else 'SAME SIDE'}  {text}", file=out)
        if not ok:
            shortfalls.append(f"step: {genre} takes beats two and four on one side")
    print("\nper motion: closest genres (largest difference, relative RMS), mean relative RMS, "
          "smallest axis ranges", file=out)
    for group, members in groups_of(beats).items():
        motion = group.split()[1]
        pairs = genre_distances(members)
        mean_rms = float(np.mean([pair[1] for pair in pairs]))
        close = [pair for pair in pairs if pair[0] < DISTINCT_AT_MOST]
        ranges = np.min([np.ptp(m.rows, axis=0) for m in members], axis=0)
        print(f"  {motion:<10} mean {mean_rms:.3f}  {len(close):>3} pairs < {DISTINCT_AT_MOST}  "
              f"smallest ranges x {ranges[0]:.3f} y {ranges[1]:.3f} z {ranges[2]:.3f}", file=out)
        for largest, relative, a, b in pairs[:3]:
            print(f"      {largest:.4f} {relative:.3f}  {a} ~ {b}", file=out)
        shortfalls += [f"{motion}: {a} ~ {b} differ by {largest:.4f} at most"
                       for largest, _, a, b in close]
        if mean_rms < DISTINCT_RELATIVE_RMS:
            shortfalls.append(f"{motion}: mean relative RMS difference {mean_rms:.3f}")
        peak = peaks(np.concatenate([m.rows for m in members]))
        shortfalls += [f"{m.name}: {axis} moves less than {VISIBLE_RANGE}"
                       for m in members for axis in flat_axes(m, peak)]
    unsettled = [p.name for p in beats if p.name.endswith("_spring") and unsettled_swings(p.rows)]
    print(f"\nspring: {len(unsettled)} tables swing again before a ring has settled", file=out)
    shortfalls += [f"{name}: swings again before its ring has settled" for name in unsettled]
    print("\nswing: largest difference per motion", file=out)
    for straight, swung in SWING_PAIRS:
        differences = {p.name.rsplit("_", 1)[1]: largest_difference(p.rows, by_name[f"beat_{swung}_"
                       + p.name.rsplit("_", 1)[1]].rows)
                       for p in beats if genre_of(p) == straight}
        print(f"  {straight} ~ {swung}: " + " ".join(f"{m} {d:.3f}" for m, d in differences.items()),
              file=out)
        shortfalls += [f"swing: {straight} ~ {swung} differ by {d:.4f} in {m}"
                       for m, d in differences.items() if d < DISTINCT_AT_MOST]
    print(f"\n{len(shortfalls)} shortfalls", file=out)
    for line in shortfalls:
        print("  " + line, file=out)
    return shortfalls


SHEET_COLUMNS = 8
CELL = 240  # a thumbnail's box is 200 x 240; the name goes below it


def contact_sheet(members):
    """An SVG page with every genre of one motion, drawn as the gallery's
    thumbnails."""
    from movimo_tools.gallery import thumbnail  # the gallery's drawing, only needed here

    rows_needed = -(-len(members) // SHEET_COLUMNS)
    width, height = SHEET_COLUMNS * 210, rows_needed * (CELL + 20)
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
             f'font-family="sans-serif" font-size="11">']
    for i, p in enumerate(members):
        left, top = 210 * (i % SHEET_COLUMNS), (CELL + 20) * (i // SHEET_COLUMNS)
        path, depth = thumbnail(p.rows)
        parts.append(f'<g transform="translate({left} {top})"><rect width="200" height="240" '
                     f'fill="#f6f6f6"/><path d="{path}" fill="none" stroke="#24c" stroke-width="1"/>'
                     + (f'<path d="{depth}" fill="none" stroke="#c42" stroke-width="1"/>' if depth else "")
                     + f'<text x="4" y="{CELL + 14}">{genre_of(p)}</text></g>')
    parts.append("</svg>")
    return "\n".join(parts)


def write_contact_sheets(patterns, directory):
    directory = pathlib.Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    for group, members in groups_of([p for p in patterns if p.family == "beat"]).items():
        motion = group.split()[1]
        (directory / f"beat_{motion}.svg").write_text(contact_sheet(members), encoding="utf-8")


# ---- report -------------------------------------------------------------------

def groups_of(patterns):
    groups = {}
    for p in patterns:
        groups.setdefault(p.group, []).append(p)
    return groups


def summary_line(group, members):
    rows = np.concatenate([m.rows for m in members])
    peak = peaks(rows)
    seam = max(float(seam_steps(m.rows).max()) for m in members)
    step = max(float(inner_steps(m.rows).max()) for m in members)
    distance, a, b = closest_pair(members)
    pair = f"{distance:.4f} ({a} ~ {b})" if len(members) > 1 else "-"
    return (f"{group:<18} {len(members):>4} {peak[0]:>7.4f} {peak[1]:>7.4f} {peak[2]:>7.4f} "
            f"{100 * rest_share(rows):>6.1f}% {seam:>7.4f} {step:>7.4f}  {pair}")


def report(patterns, out=sys.stdout):
    """Prints the summary and the breaches; returns the breaches."""
    groups = groups_of(patterns)
    print(f"{'family':<18} {'n':>4} {'peak x':>7} {'peak y':>7} {'peak z':>7} {'rest':>7} "
          f"{'seam':>7} {'step':>7}  closest members (RMS)", file=out)
    breaches = []
    for group, members in groups.items():
        print(summary_line(group, members), file=out)
        breaches += all_breaches(group, members)
    print(f"\n{len(breaches)} breaches", file=out)
    for line in breaches:
        print("  " + line, file=out)
    return breaches


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("generated_dir", nargs="?", default=DEFAULT_DIR,
                        help=f"generator output directory (default: {DEFAULT_DIR})")
    parser.add_argument("--pack", action="append",
                        help="report only this pack (repeatable)")
    parser.add_argument("--beat", action="store_true",
                        help="measure how the beat_ genres dance instead")
    parser.add_argument("--sheets", metavar="DIR",
                        help="write one contact sheet per beat_ motion into DIR")
    args = parser.parse_args(argv)
    patterns = load_patterns(args.generated_dir)
    if args.pack:
        patterns = [p for p in patterns if p.pack in args.pack]
        if not patterns:
            parser.error(f"no patterns in pack(s) {', '.join(args.pack)}")
    if args.sheets:
        write_contact_sheets(patterns, args.sheets)
    if args.beat:
        return 1 if beat_report(patterns) else 0
    return 1 if report(patterns) else 0


if __name__ == "__main__":
    sys.exit(main())

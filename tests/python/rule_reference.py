"""Pure-Python evaluation of the sampled patterns whose tables follow a
closed rule: each family's formula evaluated at every pip of the period,
before rounding. The test compares these rows with the built-in tables.

FAMILIES maps a family label to {name: (period, dimensions, rows)}, where
rows() returns the raw (x, y, z) triples of the whole period.
"""

import math
from functools import partial

PEAK = 0.82


def angle_rows(period, point):
    """point(t) at the loop angle t = 2*pi*p/period of every pip p."""
    return [point(2 * math.pi * p / period) for p in range(period)]


def peak_scaled(rows):
    """Rows scaled so that their largest magnitude is PEAK."""
    largest = max(abs(v) for row in rows for v in row)
    return [tuple(v * (PEAK / largest) for v in row) for row in rows]


def xy(x, y):
    return (x, y, 0.0)


# ---- closed curves -------------------------------------------------------

SINGLE_CURVES = {
    "lfo_breathe": (256, 1, lambda t: (0.8 * math.sin(t), 0.0, 0.0)),
    "lfo_flower": (
        512, 2,
        lambda t: xy(0.56 * math.cos(t) - 0.28 * math.cos(2 * t),
                     0.56 * math.sin(t) + 0.28 * math.sin(2 * t))),
    "lfo_triplet_wobble": (
        512, 2,
        lambda t: xy((0.5525 - 0.255 * math.cos(t)) * math.sin(12 * t), 0.22 * math.sin(t))),
    "lfo_breathing_orbit": (
        512, 2,
        lambda t: xy(0.67 * math.cos(t) + 0.11 * math.cos(3 * t),
                     0.39 * math.sin(t) + 0.09 * math.sin(3 * t))),
    "lfo_pendulum_dwell": (
        512, 2,
        lambda t: xy(0.78 * math.tanh(2.8 * math.sin(t)) / math.tanh(2.8), 0.22 * math.cos(2 * t))),
    "path_lissajous_2_3": (512, 2, lambda t: xy(0.78 * math.sin(2 * t), 0.68 * math.sin(3 * t))),
    "path_woven_3d": (
        1024, 3,
        lambda t: (0.72 * math.sin(2 * t), 0.64 * math.sin(3 * t), 0.48 * math.sin(5 * t))),
    "path_torus_knot": (
        1024, 3,
        lambda t: ((0.54 + 0.22 * math.cos(3 * t)) * math.cos(2 * t),
                   (0.54 + 0.22 * math.cos(3 * t)) * math.sin(2 * t),
                   0.36 * math.sin(3 * t))),
    "path_bowed_diamond": (512, 2, lambda t: xy(0.8 * math.cos(t) ** 3, 0.8 * math.sin(t) ** 3)),
    "path_crank_slider": (
        256, 2,
        lambda t: xy(0.78 * (math.cos(t) + math.sqrt(9 - math.sin(t) ** 2) - 3), 0.3 * math.sin(t))),
}

WAVES = {
    "pinched": lambda t: math.sin(t) ** 3,
    "shouldered": lambda t: 0.69 * math.sin(t) + 0.31 * math.sin(3 * t),
    "folded": lambda t: math.sin(2.2 * math.sin(t)),
    "rounded_square": lambda t: math.tanh(2 * math.sin(t)),
}


def wave_rows(shape):
    return peak_scaled(angle_rows(512, lambda t: (shape(t), 0.0, 0.0)))


def rose_rows(n, period):
    rows = []
    for p in range(period):
        if n % 2:
            u, k = math.pi * p / period, n
        else:
            u, k = 2 * math.pi * p / period, n // 2
        rho = PEAK * math.cos(k * u)
        rows.append(xy(rho * math.cos(u), rho * math.sin(u)))
    return rows


def space_weave_rows(a, b, c):
    return angle_rows(1024, lambda t: (0.82 * math.sin(a * t), 0.656 * math.sin(b * t + 0.4),
                                       0.574 * math.cos(c * t + 0.7)))


def space_torus_rows(p, q):
    def point(t):
        r = 2.9 + math.cos(q * t)
        return (r * math.cos(p * t), r * math.sin(p * t), 2.1 * math.sin(q * t))
    return peak_scaled(angle_rows(1024, point))


def weave_rows(a, b):
    return peak_scaled(angle_rows(1024, lambda t: xy(math.sin(a * t + 0.37), 0.8125 * math.sin(b * t))))


RIPPLE_DEPTHS = [0.18, 0.22, 0.25, 0.28, 0.25, 0.20, 0.15, 0.13,
                 0.34, 0.31, 0.29, 0.26, 0.23, 0.20, 0.17, 0.14]


def orbit_harmonic_rows(j):
    c = RIPPLE_DEPTHS[j - 1]
    if j <= 8:
        m, phi = j + 1, 0.0
    else:
        m, phi = j - 7, 0.5 + 0.3 * (j - 9)
    return peak_scaled(angle_rows(512, lambda t: xy(
        math.cos(t) + c * math.cos(m * t + phi),
        0.72 * math.sin(t) - c * math.sin((m + 1) * t - phi))))


PEN_RATIOS = {(3, 1): 0.45, (4, 1): 0.60, (5, 2): 0.75, (5, 1): 0.55,
              (7, 2): 0.65, (7, 3): 0.70, (8, 3): 0.60, (9, 4): 0.80}


def spiro_rows(inside, big_r, r):
    d = PEN_RATIOS[big_r, r] * r
    if inside:
        def point(t):
            return xy((big_r - r) * math.cos(r * t) + d * math.cos((big_r - r) * t),
                      (big_r - r) * math.sin(r * t) - d * math.sin((big_r - r) * t))
    else:
        def point(t):
            return xy((big_r + r) * math.cos(r * t) - d * math.cos((big_r + r) * t),
                      (big_r + r) * math.sin(r * t) - d * math.sin((big_r + r) * t))
    return peak_scaled(angle_rows(1024, point))


# ---- event scores ----------------------------------------------------------

def score_rows(period, events):
    """Sum of raised-cosine bumps; events are (pip, (x, y, z), half_width)
    and distances are measured the short way around the loop."""
    rows = []
    for p in range(period):
        total = [0.0, 0.0, 0.0]
        for at, push, w in events:
            d = (p - at) % period
            d = min(d, period - d)
            if d < w:
                h = (1 + math.cos(math.pi * d / w)) / 2
                for axis in range(3):
                    total[axis] += h * push[axis]
        rows.append(tuple(total))
    return rows


def euclid_rows(k, n):
    events = []
    for i in range(k):
        a = 1.0 if i == 0 else 0.75
        s = 1 if i % 2 == 0 else -1
        events.append((32 * math.ceil(i * n / k), (0.75 * a * s, -0.32 * a, 0.0), 24))
    return score_rows(32 * n, events)


def poly_rows(a, b):
    events = []
    for count, (x, y, z) in ((a, (-0.62, -0.26, 0.0)), (b, (0.62, -0.26, 0.22))):
        for i in range(count):
            g = 1.0 if i == 0 else 0.65
            events.append((512 * i / count, (x * g, y * g, z * g), 22.4))
    return score_rows(512, events)


def meter_rows(groups):
    events, start = [], 0
    for g, size in enumerate(groups):
        events.append((32 * start, ((-1) ** g * 0.72, -0.33, 0.0), 19.2))
        events += [(32 * (start + k), (0.0, -0.1134, 0.0504), 32 / 3) for k in range(1, size)]
        start += size
    return score_rows(32 * start, events)


STICKINGS = [
    "R l r r L r l l", "R r l r L l r l", "R l l r L r r l", "R r l l R l r l",
    "R l r l R r l l", "R r r l L l r l", "R l l l R r r l", "R r l r R l l l",
    "R l r r L l r l", "R r l l R l l r", "R l r l L r r l", "R r r l R l l l",
    "R r r r L r l l", "R r l l L r r l", "R l r r R l l l", "R r l r L l l r",
]


def stick_rows(member):
    strokes = STICKINGS[member - 1].split()
    swapped = [s.translate(str.maketrans("RLrl", "LRlr")) for s in strokes]
    events = []
    for k, stroke in enumerate(strokes + swapped):
        x, y = (0.74, -0.34) if stroke.isupper() else (0.407, -0.187)
        if stroke.lower() == "l":
            x = -x
        events.append((32 * k, (x, y, 0.0), 12))
    return score_rows(512, events)


def swing_rows(word, a, b):
    f = a / b
    events = []
    for j in range(8):
        sign = (-1) ** j
        if not (word == "skip" and j in (2, 6)):
            main = (0.585, -0.216, 0.0) if j in (0, 4) else (0.4225 * sign, -0.156, 0.0)
            events.append((64 * j, main, 12.8))
        if word in ("push", "skip"):
            events.append((64 * j + 64 * f, (0.075, -0.15, 0.09), 8))
        if word == "shuffle" or (word == "answer" and j >= 4):
            events.append((64 * j + 64 * f, (-0.325 * sign, -0.12, 0.0), 12.8))
        if word == "shuffle" and j in (3, 7):
            events.append((64 * j + 32 * f, (0.0525, -0.105, 0.063), 6.4))
    return score_rows(512, events)


# ---- the vocabulary of ruled patterns ----------------------------------------

def numbers(text):
    return [int(part) for part in text.split("_")]


def _members(prefix, members, period, dimensions, rows_of):
    return {prefix + m: (period(m) if callable(period) else period, dimensions, partial(rows_of, m))
            for m in members}


SPIRO_PAIRS = ["3_1", "4_1", "5_2", "5_1", "7_2", "7_3", "8_3", "9_4"]
SWING_PAIRS = ["3_5", "2_3", "5_7", "3_4"]

FAMILIES = {
    "single_curves": {name: (period, dims, partial(angle_rows, period, point))
                      for name, (period, dims, point) in SINGLE_CURVES.items()},
    "wave": _members("wave_", WAVES, 512, 1, lambda m: wave_rows(WAVES[m])),
    "rose": {
        **_members("path_rose_", ["4", "5"], 512, 2, lambda m: rose_rows(int(m), 512)),
        **_members("polar_rose_", ["3", "6", "7", "8", "9", "10", "11", "12"], 1024, 2,
                   lambda m: rose_rows(int(m), 1024)),
    },
    "space_weave": _members(
        "space_weave_", ["1_2_3", "1_3_4", "2_3_4", "2_3_7", "2_5_7", "3_4_5", "3_5_7", "4_5_7"],
        1024, 3, lambda m: space_weave_rows(*numbers(m))),
    "space_torus": _members(
        "space_torus_", ["2_5", "2_7", "3_4", "3_5", "3_7", "4_5", "4_7", "5_6"],
        1024, 3, lambda m: space_torus_rows(*numbers(m))),
    "weave": _members(
        "weave_", ["1_3", "1_4", "1_5", "2_5", "2_7", "3_4", "3_5", "3_7",
                   "3_8", "4_5", "4_7", "4_9", "5_6", "5_7", "5_8", "5_9"],
        1024, 2, lambda m: weave_rows(*numbers(m))),
    "orbit_harmonic": _members("orbit_harmonic_", [f"{j:02d}" for j in range(1, 17)],
                               512, 2, lambda m: orbit_harmonic_rows(int(m))),
    "spiro": {
        **_members("spiro_inside_", SPIRO_PAIRS, 1024, 2, lambda m: spiro_rows(True, *numbers(m))),
        **_members("spiro_outside_", SPIRO_PAIRS, 1024, 2, lambda m: spiro_rows(False, *numbers(m))),
    },
    "euclid": _members(
        "euclid_", ["2_5", "3_7", "3_10", "4_9", "4_11", "5_9", "5_11", "5_13",
                    "5_14", "6_13", "7_12", "7_15", "7_17", "8_19", "9_20", "11_24"],
        lambda m: 32 * numbers(m)[1], 2, lambda m: euclid_rows(*numbers(m))),
    "poly": _members(
        "poly_", ["2_5", "2_7", "2_9", "3_5", "3_7", "3_8", "3_10", "4_5",
                  "4_7", "4_9", "5_6", "5_7", "5_8", "5_9", "6_7", "7_8"],
        512, 3, lambda m: poly_rows(*numbers(m))),
    "meter": _members(
        "meter_", ["2_3", "3_2", "3_2_2", "2_3_2", "3_4", "4_3", "2_2_2_3", "2_3_2_2",
                   "3_2_3_2", "3_3_2_3", "2_2_3_2_3", "3_3_3_2", "4_3_3", "3_4_4",
                   "2_3_3_2_3", "3_3_3_4"],
        lambda m: 32 * sum(numbers(m)), 3, lambda m: meter_rows(numbers(m))),
    "stick": _members("stick_study_", [f"{j:02d}" for j in range(1, 17)],
                      512, 2, lambda m: stick_rows(int(m))),
    "swing": {f"swing_{word}_{pair}": (512, 2 if word == "answer" else 3,
                                        partial(swing_rows, word, *numbers(pair)))
              for pair in SWING_PAIRS for word in ("push", "answer", "skip", "shuffle")},
}

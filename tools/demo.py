"""Shows a few movimo patterns at work over two beats, in the terminal.

Each row is one step of 4 pips (a sixteenth of a beat); each column draws one
axis of one pattern as a marker moving between -1 (left) and +1 (right).
"""

import movimo

WIDTH = 15
SHOWN = [
    ("bounce", "x"),
    ("sway", "x"),
    ("circle", "x"),
    ("circle", "y"),
    ("helix", "z"),
    ("single_paradiddle", "x"),
    ("flam", "x"),
]
BUILT_IN_SAMPLED = [("lfo_breathe", "x"), ("beat_house_classic_bounce", "x")]


def lane(value: float) -> str:
    cells = [" "] * WIDTH
    cells[WIDTH // 2] = "|"
    cells[round((value + 1) / 2 * (WIDTH - 1))] = "o"
    return "".join(cells)


def evaluate(name: str, pip: int) -> movimo.Offset3:
    if hasattr(movimo, "sample"):
        return movimo.sample(name, pip)
    return getattr(movimo, name)(pip)


def main() -> None:
    shown = SHOWN + [s for s in BUILT_IN_SAMPLED if hasattr(movimo, "sample")]
    print(f"movimo: {movimo.__doc__}; {movimo.PIPS_PER_BEAT} pips to a beat")
    if hasattr(movimo, "catalogue"):
        print(f"{len(movimo.catalogue())} built-in patterns; showing {len(shown)} axes")
    header = " ".join(f"{name[:WIDTH - 2] + '.' + axis:^{WIDTH}}" for name, axis in shown)
    print(f"{'beat':>6} {header}")
    for pip in range(0, 2 * movimo.PIPS_PER_BEAT + 1, 4):
        beat = pip / movimo.PIPS_PER_BEAT
        cells = " ".join(lane(getattr(evaluate(name, pip), axis)) for name, axis in shown)
        print(f"{beat:6.3f} {cells}")


if __name__ == "__main__":
    main()

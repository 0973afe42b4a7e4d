"""Shows a few movimo patterns at work over two beats, in the terminal.

Each row is one step of 4 pips (a sixteenth of a beat); each column draws one
axis of one pattern as a marker moving between -1 (left) and +1 (right).
"""

import movimo

WIDTH = 11
# (pattern, axis, column label)
SHOWN = [
    ("bounce", "x", "bounce x"),
    ("sway", "x", "sway x"),
    ("circle", "x", "circle x"),
    ("circle", "y", "circle y"),
    ("helix", "z", "helix z"),
    ("single_paradiddle", "x", "paradiddle"),
    ("flam", "x", "flam x"),
    ("lfo_breathe", "x", "breathe x"),
    ("beat_house_classic_bounce", "x", "house clap"),
]


def lane(value: float) -> str:
    cells = [" "] * WIDTH
    cells[WIDTH // 2] = "|"
    cells[round((value + 1) / 2 * (WIDTH - 1))] = "o"
    return "".join(cells)


def main() -> None:
    print(f"movimo: {movimo.__doc__}; {movimo.PIPS_PER_BEAT} pips to a beat")
    print(f"{len(movimo.catalogue())} built-in patterns; showing {len(SHOWN)} of them")
    header = " ".join(f"{label:^{WIDTH}}" for _, _, label in SHOWN)
    print(f"{'beat':>6} {header}")
    for pip in range(0, 2 * movimo.PIPS_PER_BEAT + 1, 4):
        beat = pip / movimo.PIPS_PER_BEAT
        cells = " ".join(lane(getattr(movimo.sample(name, pip), axis)) for name, axis, _ in SHOWN)
        print(f"{beat:6.3f} {cells}")


if __name__ == "__main__":
    main()

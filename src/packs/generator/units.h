#pragma once

// What the content files share: the musical grid in pips, the peak of the
// shaped families, alternating sides and Euclidean onsets.

namespace movimo_gen {

inline constexpr double kBeat = 64.0;  // pips per beat
inline constexpr double kBar = 4 * kBeat;  // a bar of four beats
inline constexpr double kEighth = kBeat / 2;
inline constexpr double kSixteenth = kBeat / 4;

// The largest magnitude of the curve, path and shape families: they keep
// clear of full travel, so a fixture's own offset never pushes them past it.
inline constexpr double kShapePeak = 0.82;

// +1 for an even count, -1 for an odd one: events that alternate sides.
inline constexpr double side(int i) { return i % 2 == 0 ? 1.0 : -1.0; }

// The step of onset i of the Euclidean rhythm E(k, n), ceil(i·n / k): k
// onsets spread as evenly as possible over n steps, the first on step 0.
inline constexpr int euclidean_step(int i, int k, int n) { return (i * n + k - 1) / k; }

}  // namespace movimo_gen

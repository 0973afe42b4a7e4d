#pragma once

// The groove scores of the beat_ patterns, one per genre, and the onsets
// they hold. Every motion of a genre reads the same onsets, so a genre's
// events fall on the same pips in all its motions.

#include <string_view>
#include <vector>

namespace movimo_gen {

// snare also stands for claps and rims; hat for hats, shakers, bells and rides.
enum class Lane { kick, snare, hat, tom, bass };
inline constexpr int kLaneCount = 5;

struct Onset {
  double pip;       // position in the loop, in [0, period); off the grid where the groove swings
  Lane lane;
  double velocity;  // 1 for an accent down to 0.25 for a ghost note
  int turn;         // onsets of the same lane before this one in the loop
};

struct Score {
  int period = 0;
  std::vector<Onset> onsets;  // in time order; at a shared pip in lane order
};

// The score of the genre `key` over `period` pips. Throws std::logic_error
// for an unknown genre, or a period its step grids do not fill.
Score genre_score(std::string_view key, int period);

}  // namespace movimo_gen

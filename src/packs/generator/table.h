#pragma once

// What the pack generator computes: one table of raw (unrounded) rows per
// sampled pattern, described by its vocabulary entry.

#include <string>
#include <string_view>
#include <vector>

namespace movimo_gen {

struct Row {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// One row per pip of the period; row k is the value at phase k.
using Table = std::vector<Row>;

// A sampled pattern as the vocabulary names it.
struct Entry {
  std::string_view pack;    // "initial", "expansion", "atlas", "continuum", "club", "dancefloor"
  std::string_view family;  // text before the first underscore: "lfo", "wave", "beat", ...
  std::string_view member;  // text after "family_": "breathe", "2_5", "four_floor_bounce", ...
  std::string name;
  std::string description;
  int period = 0;      // period_pips
  int dimensions = 0;  // 1 to 3
  int genre = -1;      // beat_ patterns: 0-based row of the genre table
  int motion = -1;     // beat_ patterns: 0-based row of the motion table
};

// The numbers in a member's text, in order: "inside_5_2" gives {5, 2},
// "harmonic_07" gives {7}, "rose_3" gives {3}.
std::vector<int> member_numbers(std::string_view member);

}  // namespace movimo_gen

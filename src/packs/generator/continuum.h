#pragma once

// The continuum pack: one function per family, each drawing the raw table of
// one member, and the few tools the families share.

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "shaping.h"
#include "table.h"
#include "units.h"

namespace movimo_gen::continuum {

// The member's place in its family by its first number, from 0:
// "shaped_09" gives 8.
std::size_t member_index(std::string_view member);

// The word that leads the member text: "depth_3" gives "depth".
std::string_view member_word(std::string_view member);

// 0 at s = 0, 1 at s = 1, with zero velocity and acceleration at both ends.
double smootherstep(double s);

// The point a share `e` of the way from `a` to `b`.
Row lerp(const Row& a, const Row& b, double e);

// Keeps z at 0 for a 2-axis entry and scales the table to the path peak.
void scale_path(const Entry& entry, Table& table);

// Evaluates a loop curve at the angle t = 2π·p/P of every row, then
// scale_path().
template <class Curve>
Table trace_path(const Entry& entry, Curve curve) {
  Table table(static_cast<std::size_t>(entry.period));
  for (int p = 0; p < entry.period; ++p) {
    table[static_cast<std::size_t>(p)] = curve(kTwoPi * p / entry.period);
  }
  scale_path(entry, table);
  return table;
}

// A control point of a periodic cubic Hermite curve, reached at `time`
// (a share of the loop, ascending from 0 and below 1).
struct Key {
  double time;
  Row point;
};

// Periodic cubic Hermite curve through `keys` at u in [0, 1); the tangent at
// a key is the chord between its neighbours over the time between them, so
// unequal segment times shape the curve.
Row hermite_loop(std::span<const Key> keys, double u);

// An onset of an event score: its pip (any rational position) and the push
// it gives the axes.
struct Onset {
  double pip;
  Row push;
};

// Renders an event score in which every onset rises over `reach` / 2 of the
// time since the previous onset and falls over `reach` / 2 of the time to the
// next one. With reach below 1 the responses never overlap: each onset
// reaches its push exactly, and a share 1 - reach of every gap rests.
Table render_score(int period, std::vector<Onset> onsets, double reach);

// The families, each returning the raw table of one member.
Table ribbon(const Entry& entry);
Table contour(const Entry& entry);
Table silhouette(const Entry& entry);
Table spline(const Entry& entry);
Table tour(const Entry& entry);
Table scan(const Entry& entry);
Table reach(const Entry& entry);
Table surface(const Entry& entry);
Table braid(const Entry& entry);
Table arm(const Entry& entry);
Table dwell(const Entry& entry);
Table packet(const Entry& entry);
Table canon(const Entry& entry);
Table echo(const Entry& entry);
Table ladder(const Entry& entry);
Table necklace(const Entry& entry);
Table accent(const Entry& entry);
Table triplet(const Entry& entry);
Table dialogue(const Entry& entry);
Table burst(const Entry& entry);

}  // namespace movimo_gen::continuum

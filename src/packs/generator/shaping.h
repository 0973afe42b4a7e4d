#pragma once

// Building blocks shared by the table families: rounding, peak scaling, the
// event/response engine and closed curves through control points.

#include <span>

#include "table.h"

namespace movimo_gen {

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 6.283185307179586;

// The value every table stores: `value` rounded to 12 decimal places (to
// the nearest, an exact tie to the even last digit), as the binary64 nearest
// to that decimal, with +0.0 for zero.
double round12(double value);

// Multiplies every value of every axis by peak / (largest magnitude).
void scale_to_peak(Table& table, double peak);

// A raised-cosine response around an event: it rises over `rise` pips before
// the event, peaks (1) at it and falls over `fall` pips after it.
struct Response {
  double rise;
  double fall;
};
inline constexpr Response symmetric(double half_width) { return {half_width, half_width}; }

// Weight of a response at signed distance d (pips after the event).
double response_weight(double d, Response shape);

// An event at a (possibly fractional) pip that pushes the axes by `push` at
// its peak.
struct Event {
  double pip;
  Row push;
  Response shape;
};

// Adds one event to a table, measuring distances around the loop so that an
// event near the end of the period also shapes the first rows.
void add_event(Table& table, const Event& event);

// A table of `period` rows holding the sum of the events' responses.
Table render_events(int period, std::span<const Event> events);

// Closed uniform Catmull-Rom curve through `points`, evaluated at u in
// [0, 1): u = k / n lands on point k.
Row closed_catmull_rom(std::span<const Row> points, double u);

}  // namespace movimo_gen

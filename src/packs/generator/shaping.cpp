#include "shaping.h"

#include <algorithm>
#include <cmath>

namespace movimo_gen {

double round12(double value) {
  // value · 10^12 is exactly product + error: the fma recovers what the
  // multiplication rounded away. The integer part is chosen on that exact
  // product, nearest first and ties to even, then one correctly rounded
  // division gives the binary64 nearest to integer / 10^12.
  constexpr double kScale = 1e12;
  const double product = value * kScale;
  const double error = std::fma(value, kScale, -product);
  const double below = std::floor(product);
  // product - below is exact; so is subtracting 0.5 wherever the result is
  // close enough to zero for the error to matter, hence the sign is right.
  const double past_half = (product - below - 0.5) + error;
  const bool odd = std::fmod(below, 2.0) != 0.0;
  const double integer = past_half > 0.0 || (past_half == 0.0 && odd) ? below + 1.0 : below;
  const double rounded = integer / kScale;
  return rounded == 0.0 ? 0.0 : rounded;
}

void scale_to_peak(Table& table, double peak) {
  double largest = 0.0;
  for (const Row& row : table) {
    largest = std::max({largest, std::fabs(row.x), std::fabs(row.y), std::fabs(row.z)});
  }
  if (largest == 0.0) return;
  const double factor = peak / largest;
  for (Row& row : table) {
    row.x *= factor;
    row.y *= factor;
    row.z *= factor;
  }
}

double response_weight(double d, Response shape) {
  if (d <= 0.0 && d > -shape.rise) return (1.0 + std::cos(kPi * d / shape.rise)) / 2.0;
  if (d >= 0.0 && d < shape.fall) return (1.0 + std::cos(kPi * d / shape.fall)) / 2.0;
  return 0.0;
}

void add_event(Table& table, const Event& event) {
  const double period = static_cast<double>(table.size());
  for (std::size_t p = 0; p < table.size(); ++p) {
    // Distance after the event in [0, period); the same point seen from the
    // previous loop lies `period` earlier.
    double after = std::fmod(static_cast<double>(p) - event.pip, period);
    if (after < 0.0) after += period;
    const double weight = after < event.shape.fall
                              ? response_weight(after, event.shape)
                              : response_weight(after - period, event.shape);
    if (weight == 0.0) continue;
    table[p].x += weight * event.push.x;
    table[p].y += weight * event.push.y;
    table[p].z += weight * event.push.z;
  }
}

Table render_events(int period, std::span<const Event> events) {
  Table table(static_cast<std::size_t>(period));
  for (const Event& event : events) add_event(table, event);
  return table;
}

Row closed_catmull_rom(std::span<const Row> points, double u) {
  const int n = static_cast<int>(points.size());
  const double position = u * n;
  const int k = static_cast<int>(std::floor(position));
  const double s = position - k;
  auto at = [&](int i) -> const Row& { return points[((i % n) + n) % n]; };
  const Row& p0 = at(k - 1);
  const Row& p1 = at(k);
  const Row& p2 = at(k + 1);
  const Row& p3 = at(k + 2);
  auto blend = [s](double a, double b, double c, double d) {
    return 0.5 * ((2.0 * b) + (-a + c) * s + (2.0 * a - 5.0 * b + 4.0 * c - d) * s * s +
                  (-a + 3.0 * b - 3.0 * c + d) * s * s * s);
  };
  return {blend(p0.x, p1.x, p2.x, p3.x), blend(p0.y, p1.y, p2.y, p3.y),
          blend(p0.z, p1.z, p2.z, p3.z)};
}

}  // namespace movimo_gen

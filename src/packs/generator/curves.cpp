#include "curves.h"

#include <algorithm>
#include <cmath>

#include "shaping.h"

namespace movimo_gen {

Table eased_keys(int period, std::span<const Key> keys) {
  Table table(static_cast<std::size_t>(period));
  const std::size_t n = keys.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Key& from = keys[i];
    const Key& to = keys[(i + 1) % n];
    const double length = i + 1 < n ? to.at - from.at : to.at + period - from.at;
    // Rows p with from.at <= p < from.at + length, wrapped into the loop.
    for (int p = static_cast<int>(std::ceil(from.at)); p < from.at + length; ++p) {
      const double s = (1.0 - std::cos(kPi * (p - from.at) / length)) / 2.0;
      Row& row = table[static_cast<std::size_t>(p % period)];
      row.x = from.pose.x + (to.pose.x - from.pose.x) * s;
      row.y = from.pose.y + (to.pose.y - from.pose.y) * s;
      row.z = from.pose.z + (to.pose.z - from.pose.z) * s;
    }
  }
  return table;
}

void scale_axis_to_peak(Table& table, double Row::* axis, double peak) {
  double largest = 0.0;
  for (const Row& row : table) largest = std::max(largest, std::fabs(row.*axis));
  if (largest == 0.0) return;
  const double factor = peak / largest;
  for (Row& row : table) row.*axis *= factor;
}

void scale_plane_to_peak(Table& table, double peak) {
  double largest = 0.0;
  for (const Row& row : table) largest = std::max({largest, std::fabs(row.x), std::fabs(row.y)});
  if (largest == 0.0) return;
  const double factor = peak / largest;
  for (Row& row : table) {
    row.x *= factor;
    row.y *= factor;
  }
}

double harmonic_sum(std::span<const Partial> partials, double t) {
  double sum = 0.0;
  for (const Partial& partial : partials) sum += partial.amplitude * std::sin(partial.harmonic * t + partial.phase);
  return sum;
}

Table sample_x(int period, const std::function<double(double)>& wave) {
  Table table(static_cast<std::size_t>(period));
  for (int p = 0; p < period; ++p) table[static_cast<std::size_t>(p)].x = wave(kTwoPi * p / period);
  return table;
}

}  // namespace movimo_gen

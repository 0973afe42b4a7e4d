// Tools shared by the continuum families: member text, easing, the path
// scaling, a periodic Hermite curve with unequal segment times and the
// gap-proportioned event score.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "continuum.h"

namespace movimo_gen::continuum {

std::size_t member_index(std::string_view member) {
  return static_cast<std::size_t>(member_numbers(member).at(0) - 1);
}

std::string_view member_word(std::string_view member) { return member.substr(0, member.find('_')); }

double smootherstep(double s) { return s * s * s * (s * (s * 6.0 - 15.0) + 10.0); }

Row lerp(const Row& a, const Row& b, double e) {
  return {a.x + (b.x - a.x) * e, a.y + (b.y - a.y) * e, a.z + (b.z - a.z) * e};
}

void scale_path(const Entry& entry, Table& table) {
  if (entry.dimensions < 3) {
    for (Row& row : table) row.z = 0.0;
  }
  scale_to_peak(table, kShapePeak);
}

Row hermite_loop(std::span<const Key> keys, double u) {
  const std::size_t n = keys.size();
  // Time of key i, unwrapped so that neighbours across the seam stay ordered.
  auto time = [&](std::ptrdiff_t i) {
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(n);
    const std::ptrdiff_t turns = (i >= 0 ? i : i - count + 1) / count;
    return keys[static_cast<std::size_t>(i - turns * count)].time + static_cast<double>(turns);
  };
  auto point = [&](std::ptrdiff_t i) -> const Row& {
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(n);
    return keys[static_cast<std::size_t>(((i % count) + count) % count)].point;
  };
  auto tangent = [&](std::ptrdiff_t i) {
    const double span = time(i + 1) - time(i - 1);
    const Row& before = point(i - 1);
    const Row& after = point(i + 1);
    return Row{(after.x - before.x) / span, (after.y - before.y) / span,
               (after.z - before.z) / span};
  };
  // The segment that holds u: the last key at or before it.
  std::ptrdiff_t k = static_cast<std::ptrdiff_t>(n) - 1;
  while (k > 0 && keys[static_cast<std::size_t>(k)].time > u) --k;
  const double length = time(k + 1) - time(k);
  const double s = (u - time(k)) / length;
  const double s2 = s * s;
  const double s3 = s2 * s;
  const double h00 = 2.0 * s3 - 3.0 * s2 + 1.0;
  const double h10 = (s3 - 2.0 * s2 + s) * length;
  const double h01 = -2.0 * s3 + 3.0 * s2;
  const double h11 = (s3 - s2) * length;
  const Row& p0 = point(k);
  const Row& p1 = point(k + 1);
  const Row m0 = tangent(k);
  const Row m1 = tangent(k + 1);
  return {h00 * p0.x + h10 * m0.x + h01 * p1.x + h11 * m1.x,
          h00 * p0.y + h10 * m0.y + h01 * p1.y + h11 * m1.y,
          h00 * p0.z + h10 * m0.z + h01 * p1.z + h11 * m1.z};
}

Table render_score(int period, std::vector<Onset> onsets, double reach) {
  const double loop = static_cast<double>(period);
  for (Onset& onset : onsets) {
    onset.pip = std::fmod(onset.pip, loop);
    if (onset.pip < 0.0) onset.pip += loop;
  }
  std::sort(onsets.begin(), onsets.end(),
            [](const Onset& a, const Onset& b) { return a.pip < b.pip; });
  Table table(static_cast<std::size_t>(period));
  const std::size_t n = onsets.size();
  for (std::size_t i = 0; i < n; ++i) {
    const double before = onsets[i].pip - onsets[(i + n - 1) % n].pip;
    const double after = onsets[(i + 1) % n].pip - onsets[i].pip;
    const double gap_before = before > 0.0 ? before : before + loop;
    const double gap_after = after > 0.0 ? after : after + loop;
    if (n > 1 && (before == 0.0 || after == 0.0)) {
      throw std::logic_error("Two onsets of a score coincide");
    }
    const Response shape{reach / 2 * gap_before, reach / 2 * gap_after};
    add_event(table, {onsets[i].pip, onsets[i].push, shape});
  }
  return table;
}

}  // namespace movimo_gen::continuum

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>

#include "movimo/pattern_handle.h"

namespace movimo {
namespace {

void check_resolved(const PatternHandle& pattern) {
  if (!pattern) throw std::invalid_argument("fill: the pattern handle is empty");
}

}  // namespace

void fill(const PatternHandle& pattern, std::span<const std::int32_t> pips,
          std::span<Offset3> out) {
  check_resolved(pattern);
  if (out.size() != pips.size()) {
    throw std::invalid_argument("fill: the output holds " + std::to_string(out.size()) +
                                " values for " + std::to_string(pips.size()) + " pips");
  }
  const std::span<const Offset3> table = pattern.table;
  if (table.empty()) {
    std::ranges::transform(pips, out.begin(), pattern.evaluate);
    return;
  }
  // Indexing the table directly skips a call per pip. The phase is the
  // sampler's own: the low bits for a power-of-two period, else the floor
  // remainder.
  const auto period = static_cast<std::int32_t>(table.size());
  if ((period & (period - 1)) == 0) {
    std::ranges::transform(pips, out.begin(),
                           [&](std::int32_t pip) { return table[pip & (period - 1)]; });
  } else {
    std::ranges::transform(pips, out.begin(), [&](std::int32_t pip) {
      const std::int32_t remainder = pip % period;
      return table[remainder < 0 ? remainder + period : remainder];
    });
  }
}

// A table-backed pattern is copied from its table a period at a time; the
// rows are the sampler's own values, so the bits are the same either way.
void fill(const PatternHandle& pattern, std::int32_t first_pip, std::span<Offset3> out) {
  check_resolved(pattern);
  if (out.empty()) return;
  const std::int64_t last_pip = std::int64_t{first_pip} + std::int64_t(out.size() - 1);
  if (last_pip > std::numeric_limits<std::int32_t>::max()) {
    throw std::invalid_argument("fill: " + std::to_string(out.size()) + " pips from pip " +
                                std::to_string(first_pip) + " pass the largest pip " +
                                std::to_string(std::numeric_limits<std::int32_t>::max()));
  }
  const std::span<const Offset3> table = pattern.table;
  if (table.empty()) {
    // Counting in 64 bits: a span that ends on the largest pip must not step past it.
    for (std::size_t done = 0; done < out.size(); ++done) {
      out[done] = pattern.evaluate(static_cast<std::int32_t>(first_pip + std::int64_t(done)));
    }
    return;
  }
  const auto period = static_cast<std::int32_t>(table.size());
  std::size_t phase = static_cast<std::size_t>(wrap_pip(first_pip, period));
  for (std::size_t done = 0; done < out.size();) {
    const std::size_t count = std::min(table.size() - phase, out.size() - done);
    std::copy_n(table.begin() + static_cast<std::ptrdiff_t>(phase), count,
                out.begin() + static_cast<std::ptrdiff_t>(done));
    done += count;
    phase = 0;
  }
}

}  // namespace movimo

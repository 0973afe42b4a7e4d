#include <cmath>
#include <cstdint>

#include "math_constants.h"
#include "movimo/patterns.h"

namespace movimo {
namespace {

struct Keyframe {
  std::int32_t pip;
  double x;
  double y;
};

// Fourteen keyframes of the four-beat drift; the last repeats the first.
const Keyframe kKeyframes[14] = {
    {0, 0.0, 0.0},           {23, 2 / 14.0, -0.1},   {33, 13 / 14.0, -0.8},
    {49, 5 / 14.0, -0.4},    {87, -3 / 14.0, 0.2},   {100, -14 / 14.0, 0.9},
    {118, -5 / 14.0, 0.5},   {154, 1 / 14.0, 0.0},   {169, 12 / 14.0, 1.0},
    {187, 4 / 14.0, 0.5},    {215, -2 / 14.0, -0.2}, {228, -10 / 14.0, -0.9},
    {243, -3 / 14.0, -0.3},  {256, 0.0, 0.0},
};

constexpr int kRows = 256;
Offset3 table[kRows];

// Eases between keyframes once, when the library is loaded, so that a call
// is a single table read.
struct TableFiller {
  TableFiller() {
    for (Offset3& row : table) row = {0.0, 0.0, 0.0};
    int next = 1;
    for (int i = 0; i < kRows; ++i) {
      while (kKeyframes[next].pip < i) ++next;
      const Keyframe& from = kKeyframes[next - 1];
      const Keyframe& to = kKeyframes[next];
      const double t = static_cast<double>(i - from.pip) /
                       static_cast<double>(to.pip - from.pip);
      const double s = internal::smoothstep(t);
      table[i] = {std::fma(to.x - from.x, s, from.x),
                  std::fma(to.y - from.y, s, from.y), 0.0};
    }
  }
};
const TableFiller filler;

}  // namespace

Offset3 clay_background(std::int32_t pip) noexcept { return table[pip & (kRows - 1)]; }

}  // namespace movimo

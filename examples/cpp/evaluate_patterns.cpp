// Evaluates a procedural pattern, a built-in pattern by name, and counts the
// catalogue: the example of docs/guide/cpp.md, built and run by the tests.
#include <cstdint>
#include <cstdio>

#include "movimo/catalogue.h"
#include "movimo/patterns.h"

int main() {
  // A quarter of the way round the one-beat circle.
  const movimo::Offset3 here = movimo::circle(16);
  std::printf("circle at pip 16: %g %g %g\n", here.x, here.y, here.z);

  // Any built-in pattern by name, one beat of it; an unknown name throws
  // std::invalid_argument.
  for (std::int32_t pip = 0; pip < movimo::PIPS_PER_BEAT; pip += 16) {
    std::printf("lfo_breathe at pip %d: x %.4f\n", pip, movimo::sample("lfo_breathe", pip).x);
  }
  std::printf("%zu built-in patterns\n", movimo::catalogue().size());
}

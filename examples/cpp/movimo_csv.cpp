// movimo_csv: a pattern's values as CSV, one row per lighting or video frame.
//
//   movimo_csv NAME BPM FPS BEATS
//
// Each frame shows the pattern at the last whole pip at or before the frame's
// time. The name is looked up once; the frames are filled in one call.

#include <movimo/core.h>
#include <movimo/pattern_handle.h>
#include <movimo/version.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// A positive number, or 0 when `text` is not one.
double positive(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  return *end == '\0' && std::isfinite(value) && value > 0 ? value : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const double bpm = argc == 5 ? positive(argv[2]) : 0;
  const double fps = argc == 5 ? positive(argv[3]) : 0;
  const double beats = argc == 5 ? positive(argv[4]) : 0;
  if (bpm == 0 || fps == 0 || beats == 0 || beats * movimo::PIPS_PER_BEAT > INT32_MAX) {
    std::fprintf(stderr, "usage: movimo_csv NAME BPM FPS BEATS (movimo %s)\n", MOVIMO_VERSION);
    return 2;
  }
  const movimo::PatternHandle pattern = movimo::resolve(argv[1]);
  if (!pattern) {
    std::fprintf(stderr, "movimo_csv: no pattern is called %s\n", argv[1]);
    return 1;
  }

  const double seconds = beats * 60.0 / bpm;
  const auto frames = static_cast<std::size_t>(std::ceil(seconds * fps));
  const double pips_per_second = movimo::PIPS_PER_BEAT * bpm / 60.0;
  std::vector<std::int32_t> pips(frames);
  for (std::size_t frame = 0; frame < frames; ++frame) {
    pips[frame] = static_cast<std::int32_t>(std::floor(frame / fps * pips_per_second));
  }
  std::vector<movimo::Offset3> values(frames);
  movimo::fill(pattern, pips, values);

  std::printf("frame,seconds,pip,x,y,z\n");
  for (std::size_t frame = 0; frame < frames; ++frame) {
    const movimo::Offset3& value = values[frame];
    std::printf("%zu,%.6f,%d,%.17g,%.17g,%.17g\n", frame, frame / fps, pips[frame], value.x,
                value.y, value.z);
  }
  return 0;
}

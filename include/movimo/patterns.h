#pragma once

// The fifteen procedural patterns. Each maps any pip to an Offset3 and
// repeats exactly with its period.

#include <cstdint>

#include "movimo/core.h"
#include "movimo/export.h"

namespace movimo {

// Shapes.
MOVIMO_API Offset3 bounce(std::int32_t pip) noexcept;           // 64 pips, x
MOVIMO_API Offset3 sway(std::int32_t pip) noexcept;             // 128 pips, x
MOVIMO_API Offset3 circle(std::int32_t pip) noexcept;           // 64 pips, x y
MOVIMO_API Offset3 figure_eight(std::int32_t pip) noexcept;     // 128 pips, x y
MOVIMO_API Offset3 step_touch(std::int32_t pip) noexcept;       // 128 pips, x y
MOVIMO_API Offset3 box_step(std::int32_t pip) noexcept;         // 256 pips, x y
MOVIMO_API Offset3 helix(std::int32_t pip) noexcept;            // 256 pips, x y z
MOVIMO_API Offset3 clay_background(std::int32_t pip) noexcept;  // 256 pips, x y

// Stroke rudiments: right-hand strokes push +x, left-hand -x, all pull y down.
MOVIMO_API Offset3 single_stroke_roll(std::int32_t pip) noexcept;    // 64
MOVIMO_API Offset3 double_stroke_roll(std::int32_t pip) noexcept;    // 64
MOVIMO_API Offset3 multiple_bounce_roll(std::int32_t pip) noexcept;  // 64
MOVIMO_API Offset3 single_paradiddle(std::int32_t pip) noexcept;     // 128
MOVIMO_API Offset3 flam(std::int32_t pip) noexcept;                  // 64
MOVIMO_API Offset3 drag(std::int32_t pip) noexcept;                  // 64
MOVIMO_API Offset3 five_stroke_roll(std::int32_t pip) noexcept;      // 128

}  // namespace movimo

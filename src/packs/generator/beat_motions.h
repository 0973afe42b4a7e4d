#pragma once

// The sixteen motions of the beat_ patterns: each turns a genre's score into
// movement.

#include <span>
#include <string_view>

#include "beat_scores.h"
#include "table.h"

namespace movimo_gen {

// A motion's table in two parts: `fixed` moves by contributions given in
// absolute units; `shaped` is scaled per axis by one gain per motion, chosen
// so that the motion reaches its peak over all genres.
struct MotionParts {
  Table fixed;
  Table shaped;
};

struct Motion {
  std::string_view key;
  Row peak;  // largest magnitude per axis over all genres
  MotionParts (*draw)(const Score& score);
};

// The motions in catalogue order.
std::span<const Motion> beat_motions();

}  // namespace movimo_gen

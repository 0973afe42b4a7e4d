#pragma once

// The names, descriptions, periods and axis counts of the 1716 sampled
// patterns, composed from the pack, family, genre and motion tables.

#include <vector>

#include "table.h"

namespace movimo_gen {

// Every sampled pattern in registry order: the six packs in order, and
// within a pack its families and members in order.
std::vector<Entry> vocabulary();

}  // namespace movimo_gen

#pragma once

// Lookup of hand-authored tables by pattern name, for packs whose members
// each have a function of their own.

#include <span>
#include <stdexcept>
#include <string_view>

#include "table.h"

namespace movimo_gen {

struct AuthoredTable {
  std::string_view name;
  Table (*table)(int period);
};

// The table of `entry` from the function listed under its name; throws
// std::invalid_argument when none is.
inline Table authored_table(std::span<const AuthoredTable> tables, const Entry& entry) {
  for (const AuthoredTable& authored : tables) {
    if (entry.name == authored.name) return authored.table(entry.period);
  }
  throw std::invalid_argument("No authored table: " + entry.name);
}

}  // namespace movimo_gen

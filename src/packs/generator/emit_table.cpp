#include "emit_table.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "content.h"
#include "shaping.h"

namespace movimo_gen {
namespace {

[[noreturn]] void fail(const Entry& entry, const std::string& what) {
  throw std::runtime_error("pattern " + entry.name + ": " + what);
}

double stored_value(const Entry& entry, std::size_t row, int axis, double value) {
  static constexpr char kAxisNames[] = "xyz";
  const std::string where = "row " + std::to_string(row) + " " + kAxisNames[axis];
  if (axis >= entry.dimensions) {
    if (value != 0.0) fail(entry, where + " moves an unused axis");
    return 0.0;
  }
  if (!std::isfinite(value)) fail(entry, where + " is not finite");
  const double rounded = round12(value);
  if (std::fabs(rounded) > 1.0) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", rounded);
    fail(entry, where + " = " + text + " lies outside [-1, 1]");
  }
  return rounded;
}

}  // namespace

Table stored_table(const Entry& entry) {
  Table table = build_table(entry);
  if (table.size() != static_cast<std::size_t>(entry.period)) {
    fail(entry, "has " + std::to_string(table.size()) + " rows for a period of " +
                    std::to_string(entry.period) + " pips");
  }
  for (std::size_t k = 0; k < table.size(); ++k) {
    Row& row = table[k];
    row = {stored_value(entry, k, 0, row.x), stored_value(entry, k, 1, row.y),
           stored_value(entry, k, 2, row.z)};
  }
  return table;
}

}  // namespace movimo_gen

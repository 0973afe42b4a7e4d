#pragma once

// Turns an entry's raw table into the table that is stored: checked against
// the invariants every stored table keeps, and rounded.

#include "table.h"

namespace movimo_gen {

// build_table(entry), with every value rounded by round12 and unused axes
// stored as +0.0. Throws std::runtime_error naming the pattern when the
// table has the wrong number of rows, a value that is not finite or lies
// outside [-1, 1] after rounding, or a non-zero value on an unused axis.
Table stored_table(const Entry& entry);

}  // namespace movimo_gen

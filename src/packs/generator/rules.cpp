#include "content.h"

namespace movimo_gen {

std::optional<Table> rule_table(const Entry&) { return std::nullopt; }

}  // namespace movimo_gen

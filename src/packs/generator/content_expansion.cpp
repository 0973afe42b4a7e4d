#include "content.h"

namespace movimo_gen {

// Authored tables of the expansion pack. Content pending: rows at rest.
Table author_expansion(const Entry& entry) { return Table(static_cast<std::size_t>(entry.period)); }

}  // namespace movimo_gen

#include "content.h"

namespace movimo_gen {

// Authored tables of the atlas pack. Content pending: rows at rest.
Table author_atlas(const Entry& entry) { return Table(static_cast<std::size_t>(entry.period)); }

}  // namespace movimo_gen

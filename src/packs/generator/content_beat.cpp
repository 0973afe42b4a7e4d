#include "content.h"

namespace movimo_gen {

// Authored tables of the club and dancefloor (beat_) patterns. Content pending: rows at rest.
Table author_beat(const Entry& entry) { return Table(static_cast<std::size_t>(entry.period)); }

}  // namespace movimo_gen

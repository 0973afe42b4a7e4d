#include "content.h"

namespace movimo_gen {

Table build_table(const Entry& entry) {
  if (std::optional<Table> table = rule_table(entry)) return *std::move(table);
  if (entry.pack == "initial") return author_initial(entry);
  if (entry.pack == "expansion") return author_expansion(entry);
  if (entry.pack == "atlas") return author_atlas(entry);
  if (entry.pack == "continuum") return author_continuum(entry);
  return author_beat(entry);
}

}  // namespace movimo_gen

#include "content.h"

#include <stdexcept>
#include <string>

namespace movimo_gen {

Table draw_by_family(std::span<const FamilyAuthor> authors, const Entry& entry) {
  for (const FamilyAuthor& author : authors) {
    if (author.family == entry.family) return author.draw(entry);
  }
  throw std::invalid_argument("No authored family: " + entry.name);
}

Table build_table(const Entry& entry) {
  if (std::optional<Table> table = rule_table(entry)) return *std::move(table);
  if (entry.pack == "initial") return author_initial(entry);
  if (entry.pack == "expansion") return author_expansion(entry);
  if (entry.pack == "atlas") return author_atlas(entry);
  if (entry.pack == "continuum") return author_continuum(entry);
  return author_beat(entry);
}

}  // namespace movimo_gen

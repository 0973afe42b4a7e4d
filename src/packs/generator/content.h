#pragma once

// Content of the sample tables, one function per pack. Each returns the raw
// table of an entry of its pack (period rows, unused axes exactly 0); the
// generator rounds, checks and stores it. Families that follow a closed
// rule are computed by rule_table().

#include <optional>
#include <span>
#include <string_view>

#include "table.h"

namespace movimo_gen {

// The closed-form and event rules; nullopt for a family without one.
std::optional<Table> rule_table(const Entry& entry);

// A pack's authored family: its family word and the function that draws it.
struct FamilyAuthor {
  std::string_view family;
  Table (*draw)(const Entry& entry);
};

// The table drawn by the author of the entry's family; throws for a family
// that has none.
Table draw_by_family(std::span<const FamilyAuthor> authors, const Entry& entry);

Table author_initial(const Entry& entry);
Table author_expansion(const Entry& entry);
Table author_atlas(const Entry& entry);
Table author_continuum(const Entry& entry);
Table author_beat(const Entry& entry);  // club and dancefloor

// rule_table() first, then the author of the entry's pack.
Table build_table(const Entry& entry);

}  // namespace movimo_gen

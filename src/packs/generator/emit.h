#pragma once

// Writes what the library compiles from the vocabulary and its stored
// tables: per pack a binary table blob, one unit with every pack's samplers,
// the registry with its name index and pack index, the header with the
// pattern and pack counts and the sampler declarations, and a manifest for
// tools.

#include <filesystem>
#include <vector>

#include "table.h"

namespace movimo_gen {

// `tables[i]` is the stored table of `entries[i]`. Files whose content is
// unchanged are left untouched, so the build recompiles only what changed.
void emit_all(const std::filesystem::path& out, const std::vector<Entry>& entries,
              const std::vector<Table>& tables);

}  // namespace movimo_gen

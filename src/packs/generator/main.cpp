// movimo_pack_generator OUT_DIR: computes the stored table of every sampled
// pattern and writes the pack units, blobs, registry, sampler header and
// manifest into OUT_DIR. Exits non-zero, naming the pattern, when a table
// breaks an invariant.

#include <cstdio>
#include <exception>
#include <vector>

#include "emit.h"
#include "emit_table.h"
#include "vocabulary.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  try {
    const std::vector<movimo_gen::Entry> entries = movimo_gen::vocabulary();
    std::vector<movimo_gen::Table> tables;
    tables.reserve(entries.size());
    for (const movimo_gen::Entry& entry : entries) tables.push_back(movimo_gen::stored_table(entry));
    movimo_gen::emit_all(argv[1], entries, tables);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "movimo_pack_generator: %s\n", error.what());
    return 1;
  }
  return 0;
}

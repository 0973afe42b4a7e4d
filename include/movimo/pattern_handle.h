#pragma once

// Looking a built-in pattern up once and evaluating it many times: a handle
// carries the pattern's descriptor, its pack and family and its evaluation
// function, so a caller pays for the name lookup once and then calls the
// sampler directly.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "movimo/core.h"
#include "movimo/export.h"

namespace movimo {

// The evaluation function of a built-in pattern: its value at `pip`.
using Sampler = Offset3 (*)(std::int32_t pip) noexcept;

// The pack and family of the procedural patterns.
inline constexpr std::string_view kProcedural = "procedural";

// A built-in pattern, resolved. A default-constructed handle is empty, as is
// what resolve() gives for an unknown name. Calling an empty handle gives the
// zero offset, the rest position, at every pip: a lookup that failed
// unnoticed holds still instead of crashing. fill() refuses an empty handle.
struct PatternHandle {
  PatternInfo info{};
  std::string_view pack;    // the pack that holds it, or "procedural"
  std::string_view family;  // the first word of its name ("lfo", "beat"), or "procedural"
  Sampler evaluate = nullptr;
  // A table-backed pattern's stored rows, one per pip of its period (row k is
  // the value at phase k); empty for a procedural pattern.
  std::span<const Offset3> table;

  explicit operator bool() const noexcept { return evaluate != nullptr; }
  Offset3 operator()(std::int32_t pip) const noexcept {
    if (evaluate == nullptr) [[unlikely]] return {};
    return evaluate(pip);
  }
};

// A pack of table-backed patterns. The packs follow the procedural patterns
// in the catalogue, in the order packs() lists them.
struct PackInfo {
  std::string_view name;
  std::size_t pattern_count;
};

// The built-in pattern `name`, or an empty handle when there is none.
MOVIMO_API PatternHandle resolve(std::string_view name) noexcept;

// The packs of table-backed patterns, in catalogue order.
MOVIMO_API std::span<const PackInfo> packs() noexcept;

// Writes the value at pips[i] into out[i] for every i. Throws
// std::invalid_argument when `pattern` is empty or `out` is not exactly as
// long as `pips`.
MOVIMO_API void fill(const PatternHandle& pattern, std::span<const std::int32_t> pips,
                     std::span<Offset3> out);

// Writes the values at the consecutive pips first_pip, first_pip + 1, ...
// into out, one per element. Throws std::invalid_argument when `pattern` is
// empty or the last pip would pass the largest 32-bit pip.
MOVIMO_API void fill(const PatternHandle& pattern, std::int32_t first_pip, std::span<Offset3> out);

}  // namespace movimo

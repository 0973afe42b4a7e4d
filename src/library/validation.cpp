#include "validation.h"

#include <algorithm>
#include <cstddef>

namespace movimo::internal {
namespace {

constexpr std::size_t kMaxIdentifierBytes = 128;

constexpr bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
constexpr bool is_identifier_tail(char c) {
  return is_lower(c) || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

bool is_identifier(std::string_view text) noexcept {
  return !text.empty() && text.size() <= kMaxIdentifierBytes && is_lower(text.front()) &&
         std::all_of(text.begin() + 1, text.end(), is_identifier_tail);
}

}  // namespace movimo::internal

#pragma once

// SHA-256 (FIPS 180-4) of a byte string: the source of the generator's
// reproducible pseudo-random control points.

#include <array>
#include <cstdint>
#include <string_view>

namespace movimo_gen {

using Digest = std::array<std::uint8_t, 32>;

Digest sha256(std::string_view message);

// Bytes [4·word, 4·word + 4) of a digest read big-endian, mapped linearly
// onto [-1, 1): 0 gives -1, 2^32 would give 1.
double digest_unit(const Digest& digest, int word);

}  // namespace movimo_gen

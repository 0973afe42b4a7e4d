// Building blocks of the pack generator: the SHA-256 that seeds the noise
// control points, the eased key paths of the authored tables, and the
// rounding of every stored value.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <random>
#include <string>
#include <string_view>

#include "curves.h"
#include "sha256.h"
#include "shaping.h"

namespace movimo_gen {
namespace {

std::string hex(const Digest& digest) {
  std::string text;
  for (std::uint8_t byte : digest) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

struct Vector {
  std::string message;
  std::string_view digest;
};

// Named by the start of the message, not by a dump of the struct's bytes.
void PrintTo(const Vector& v, std::ostream* out) { *out << v.message.substr(0, 8); }

class Sha256Test : public testing::TestWithParam<Vector> {};

// The FIPS 180-2 examples: one block, an empty message, a message whose
// padding needs a second block, and a million bytes.
INSTANTIATE_TEST_SUITE_P(
    Standard, Sha256Test,
    testing::Values(
        Vector{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        Vector{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        Vector{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
               "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        Vector{std::string(1000000, 'a'),
               "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}));

TEST_P(Sha256Test, MatchesTheStandardDigest) { EXPECT_EQ(hex(sha256(GetParam().message)), GetParam().digest); }

TEST(DigestUnit, MapsBigEndianWordsOntoMinusOneToOne) {
  Digest digest{};
  EXPECT_EQ(digest_unit(digest, 0), -1.0);
  digest[4] = 0x80;  // word 1 = 2^31
  EXPECT_EQ(digest_unit(digest, 1), 0.0);
  digest[8] = digest[9] = digest[10] = digest[11] = 0xff;
  EXPECT_LT(digest_unit(digest, 2), 1.0);
  EXPECT_GT(digest_unit(digest, 2), 0.999999999);
}

TEST(EasedKeys, PassesThroughEveryKeyHoldsAndWrapsAcrossTheSeam) {
  const Key keys[] = {{0, {0.5, 0.0, 0.0}}, {10, {0.5, 0.0, 0.0}}, {20, {-0.5, 0.25, 0.0}}};
  const Table table = eased_keys(40, keys);
  ASSERT_EQ(table.size(), 40u);
  for (int p = 0; p <= 10; ++p) EXPECT_EQ(table[p].x, 0.5) << p;  // a hold
  EXPECT_EQ(table[20].x, -0.5);
  EXPECT_EQ(table[20].y, 0.25);
  EXPECT_NEAR(table[15].x, 0.0, 1e-15);  // half way through a half cosine
  EXPECT_NEAR(table[30].x, 0.0, 1e-15);  // the last key eases back to the first
  EXPECT_DOUBLE_EQ(table[30].y, 0.125);
}

struct Rounding {
  double value;
  double rounded;
};

void PrintTo(const Rounding& r, std::ostream* out) { *out << std::hexfloat << r.value; }

class Round12Test : public testing::TestWithParam<Rounding> {};

// 1/8192 and 3/8192 have 13 decimals ending in 5: exact ties, which go to the
// even twelfth decimal; the doubles either side of them round away from the tie.
INSTANTIATE_TEST_SUITE_P(
    Cases, Round12Test,
    testing::Values(Rounding{1.0 / 8192, 0.000122070312}, Rounding{3.0 / 8192, 0.000366210938},
                    Rounding{-1.0 / 8192, -0.000122070312},
                    Rounding{std::nextafter(1.0 / 8192, 1.0), 0.000122070313},
                    Rounding{std::nextafter(3.0 / 8192, 0.0), 0.000366210937},
                    Rounding{0.82, 0.82}, Rounding{-1.0, -1.0}, Rounding{0.1 + 0.2, 0.3},
                    Rounding{4e-13, 0.0}, Rounding{-4e-13, 0.0}, Rounding{-0.0, 0.0},
                    Rounding{6e-13, 1e-12}));

TEST_P(Round12Test, RoundsToTheNearestTwelfthDecimal) {
  const double rounded = round12(GetParam().value);
  EXPECT_EQ(rounded, GetParam().rounded);
  EXPECT_FALSE(std::signbit(rounded) && rounded == 0.0) << "zero is stored as +0.0";
}

// Over values spread like table content, the result equals reading back the
// value printed with 12 decimals by glibc, which rounds exactly.
TEST(Round12, AgreesWithPrintingAndReadingBack) {
  std::mt19937_64 bits(12);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int i = 0; i < 200000; ++i) {
    const double value = i % 2 == 0 ? unit(bits) : std::ldexp(unit(bits), -(i % 40));
    char text[64];
    std::snprintf(text, sizeof text, "%.12f", value);
    const double expected = std::strtod(text, nullptr);
    ASSERT_EQ(round12(value), expected == 0.0 ? 0.0 : expected) << std::hexfloat << value;
  }
}

}  // namespace
}  // namespace movimo_gen

// The RAR library's checksums against published values and an independent
// implementation's digests.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "checksum.h"
#include "support/rar_builder.h"

namespace parevo {
namespace {

std::string Hex(const unrar::Blake2Digest& d) {
    std::string out;
    char b[3];
    for (std::uint8_t x : d) {
        std::snprintf(b, sizeof b, "%02x", x);
        out += b;
    }
    return out;
}

std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    return v;
}

TEST(RarChecksum, Crc32CheckValue) {
    EXPECT_EQ(unrar::Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(unrar::Crc32("", 0), 0u);
}

// The folding path takes whole 16-byte blocks from 64 bytes on; the table takes
// the rest. Every length and start around those edges, in one piece and in two.
TEST(RarChecksum, Crc32AgreesWithTheBitwiseDefinitionAtEveryLengthAndStart) {
    const std::vector<std::uint8_t> data = Pattern(4096 + 64);
    for (std::size_t start = 0; start < 16; ++start) {
        for (std::size_t n = 0; n < 600; n += (n < 200 ? 1 : 37)) {
            const std::uint8_t* p = data.data() + start;
            const std::uint32_t expected = test::Crc32(p, n);
            ASSERT_EQ(unrar::Crc32(p, n), expected) << start << " " << n;
            const std::size_t cut = n / 3;
            ASSERT_EQ(unrar::Crc32(p + cut, n - cut, unrar::Crc32(p, cut)), expected) << n;
        }
    }
    EXPECT_EQ(unrar::Crc32(data.data(), 4096), test::Crc32(data.data(), 4096));
}

// RFC 7693, appendix B.
TEST(RarChecksum, Blake2sOfAbc) {
    unrar::Blake2s h;
    h.Update(reinterpret_cast<const std::uint8_t*>("abc"), 3);
    EXPECT_EQ(Hex(h.Final()), "508c5e8c327c14e2e1a72ba34eeb452f37458b209ed63a294d999b4c86675982");
}

struct Blake2spCase {
    std::size_t length;
    const char* digest;  // as the reference implementation (libb2) gives it
};

void PrintTo(const Blake2spCase& c, std::ostream* os) {
    *os << c.length << " bytes";
}

class RarBlake2sp : public ::testing::TestWithParam<Blake2spCase> {};

// Lengths around a block (64), a stripe of eight blocks (512) and beyond,
// hashed in one piece and fed in uneven pieces.
TEST_P(RarBlake2sp, MatchesTheReferenceDigest) {
    const Blake2spCase& c = GetParam();
    const std::vector<std::uint8_t> data = Pattern(c.length);
    unrar::Blake2sp whole;
    whole.Update(data.data(), data.size());
    EXPECT_EQ(Hex(whole.Final()), c.digest);
    unrar::Blake2sp pieces;
    for (std::size_t i = 0; i < data.size(); i += 37) {
        pieces.Update(data.data() + i, std::min<std::size_t>(37, data.size() - i));
    }
    EXPECT_EQ(Hex(pieces.Final()), c.digest);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, RarBlake2sp,
    ::testing::Values(
        Blake2spCase{0, "dd0e891776933f43c7d032b08a917e25741f8aa9a12c12e1cac8801500f2ca4f"},
        Blake2spCase{1, "a6b9eecc25227ad788c99d3f236debc8da408849e9a5178978727a81457f7239"},
        Blake2spCase{64, "9ba0c37f1ab9fdd4b656b42702049eec67f76c1ef76c3722b7b1e2a019674230"},
        Blake2spCase{65, "8180a53baa5bdb2cfd292e8b084ce88dbd6b2b61b60193732e392b11f46ac605"},
        Blake2spCase{511, "ff3f4303d794d7fbfc6a4fee0d289f1649cc315e2fd5c2fa9180ce913fee1e31"},
        Blake2spCase{512, "08a65a68f54f72077155adc2e339db1dec6c860f640cb47584cb2f2d8977a8c1"},
        Blake2spCase{513, "f405ed3422923e4cd0d141ab4ff130914fff2eb9e7f49588a5c02387e5d343ac"},
        Blake2spCase{1000, "29ded360f74fde02697a0495c85859aa2c4968cce40fba406ff33bc55c3d246e"},
        Blake2spCase{4099, "35f90fa16fd3ef6d593c47b044ae7bc84c2057b58a05d97d43bfbd91dfe010ef"},
        Blake2spCase{70000, "8bc17424944a17f0150233db3822d1a1933931f0ac8ee02b6ca063c0b94a2405"}),
    [](const auto& info) { return "Bytes" + std::to_string(info.param.length); });

}  // namespace
}  // namespace parevo

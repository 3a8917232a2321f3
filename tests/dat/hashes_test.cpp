// The checksums: known answers, and runs of padding hashed without their bytes
// (CRC) or from a block (SHA) against the bytes themselves.
#include "dat/hashes.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

namespace parevo {
namespace {

TEST(Hashes, KnownAnswers) {
    Sha1 sha1;
    sha1.Update("abc", 3);
    EXPECT_EQ(ToHex(sha1.Digest().data(), 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
    Sha256 sha256;
    sha256.Update("abc", 3);
    EXPECT_EQ(ToHex(sha256.Digest().data(), 32),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
}

TEST(Hashes, RunsGiveWhatTheirBytesGive) {
    for (const std::uint8_t value : {0x00, 0xFF}) {
        for (const std::int64_t count :
             {0LL, 1LL, 2LL, 3LL, 64LL, 1000LL, (1LL << 20) - 1, 2 * (1LL << 20) + 5}) {
            const std::vector<std::uint8_t> bytes(static_cast<size_t>(count), value);
            const std::uint32_t crc = static_cast<std::uint32_t>(
                ::crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
            EXPECT_EQ(Crc32OfRun(value, count), crc) << int(value) << " x " << count;
            // After some other bytes, as an image and its padding.
            EXPECT_EQ(Crc32Combine(Crc32(0, "head", 4), crc, count),
                      Crc32(Crc32(0, "head", 4), bytes.data(), bytes.size()));
            Sha1 run, whole;
            Sha256 run256, whole256;
            run.Update("head", 4);
            whole.Update("head", 4);
            run.UpdateRun(value, count);
            whole.Update(bytes.data(), bytes.size());
            run256.UpdateRun(value, count);
            whole256.Update(bytes.data(), bytes.size());
            EXPECT_EQ(run.Digest(), whole.Digest());
            EXPECT_EQ(run256.Digest(), whole256.Digest());
        }
    }
}

}  // namespace
}  // namespace parevo

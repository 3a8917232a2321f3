// Member-name conversion, code page 437, the end-record scan, and the disk
// number of a spanned-set label.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "archive/zip_disks.h"
#include "archive/zip_format.h"
#include "archive/zip_names.h"

namespace parevo {
namespace {

TEST(ZipNames, OemRuleFollowsHostAndFormatVersion) {
    EXPECT_TRUE(UsesOemNames(0, 20));   // FAT
    EXPECT_TRUE(UsesOemNames(6, 10));   // HPFS
    EXPECT_TRUE(UsesOemNames(11, 50));  // NTFS with format 5.0
    EXPECT_FALSE(UsesOemNames(11, 20));
    EXPECT_FALSE(UsesOemNames(3, 30));  // Unix
    EXPECT_FALSE(UsesOemNames(10, 50));
}

TEST(ZipNames, OemNamesAreConvertedAndSeparatorsFollowTheStyle) {
    const std::string stored = "Pok\x82mon/\x84rger.nds";  // é, ä in code page 437
    EXPECT_EQ(ConvertMemberName(stored, true, 0, PathStyle::Posix),
              "Pok\xC3\xA9mon/\xC3\xA4rger.nds");
    // Without the OEM rule the bytes are taken as stored.
    EXPECT_EQ(ConvertMemberName(stored, false, 0, PathStyle::Posix), stored);
    // Windows style joins with "\"; POSIX turns a Windows tool's "\" into "/".
    EXPECT_EQ(ConvertMemberName("a/b/c.nds", false, 0, PathStyle::Windows), "a\\b\\c.nds");
    EXPECT_EQ(ConvertMemberName("a\\b/c.nds", false, 0, PathStyle::Posix), "a/b/c.nds");
}

TEST(ZipNames, NameFlaggedUtf8IsNeverOemConverted) {
    const std::string utf8 = "\xD0\xBF\xD1\x80\xD0\xB8/x.nds";  // "при/x.nds"
    EXPECT_EQ(ConvertMemberName(utf8, true, kZipFlagUtf8Names, PathStyle::Posix), utf8);
    EXPECT_EQ(ConvertMemberComment("\xC3\xA9", true, kZipFlagUtf8Names), "\xC3\xA9");
    EXPECT_EQ(ConvertMemberComment("\x82", true, 0), "\xC3\xA9");
}

std::vector<std::uint8_t> WithSignatureAt(size_t size, std::vector<size_t> positions) {
    std::vector<std::uint8_t> bytes(size, 0);
    for (const size_t p : positions) {
        bytes[p] = 0x50;
        bytes[p + 1] = 0x4B;
        bytes[p + 2] = 0x05;
        bytes[p + 3] = 0x06;
    }
    return bytes;
}

TEST(ZipNames, EndRecordScanTakesTheLastSignatureWithRoomForTheRecord) {
    auto bytes = WithSignatureAt(100, {10, 60});
    EXPECT_EQ(FindEndRecordSignature(bytes.data(), bytes.size()), 60u);
    // A signature closer than 22 bytes to the end cannot start the record.
    bytes = WithSignatureAt(100, {10, 80});
    EXPECT_EQ(FindEndRecordSignature(bytes.data(), bytes.size()), 10u);
    bytes = WithSignatureAt(100, {78});
    EXPECT_EQ(FindEndRecordSignature(bytes.data(), bytes.size()), 78u);
    bytes = WithSignatureAt(22, {0});
    EXPECT_EQ(FindEndRecordSignature(bytes.data(), bytes.size()), 0u);
    bytes = std::vector<std::uint8_t>(21, 0);
    EXPECT_FALSE(FindEndRecordSignature(bytes.data(), bytes.size()));
    bytes = std::vector<std::uint8_t>(5000, 0x50);
    EXPECT_FALSE(FindEndRecordSignature(bytes.data(), bytes.size()));
}

TEST(ZipDisks, DiskNumberComesFromPkbackLabels) {
    EXPECT_EQ(DiskNumberFromLabel("PKBACK# 001"), 1);
    EXPECT_EQ(DiskNumberFromLabel("PKBACK# 012"), 12);
    EXPECT_EQ(DiskNumberFromLabel("PKBACK# 7"), 7);
    EXPECT_EQ(DiskNumberFromLabel("PKBACK# 0012"), 1);  // characters 9 to 11 only
    EXPECT_EQ(DiskNumberFromLabel("PKBACK# ABC"), 0);
    EXPECT_EQ(DiskNumberFromLabel("PKBACK#"), 0);
    EXPECT_EQ(DiskNumberFromLabel("BACKUP 001"), 0);
    EXPECT_EQ(DiskNumberFromLabel(""), 0);
}

}  // namespace
}  // namespace parevo

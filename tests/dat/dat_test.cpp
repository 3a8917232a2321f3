// The DAT reader over real DAT files written by tests/support: every form gives
// the same entries, and every fault is an error naming the file and the line.
#include "dat/dat.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "support/dat_builder.h"
#include "support/rom_builder.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace parevo {
namespace {

using test::DatRow;
using test::RomBuilder;

std::vector<DatRow> Rows() {
    DatRow a =
        test::RowFor("Game A (Europe) (En,Fr)",
                     RomBuilder().Title("A").DataUpTo(5000).PadTo(8192).Build(), "NTR-AAAP-EUR");
    DatRow b =
        test::RowFor("Pokémon - Édition B (France)",
                     RomBuilder().Title("B").DataUpTo(3000).PadTo(4096, 0x00).Build(), "", false);
    DatRow missing{"Game C (Japan)", "Game C (Japan).nds", "", "", "", "", "", "", "nodump"};
    return {a, b, missing};
}

std::string Zipped(const std::string& member, const std::string& text, bool deflate) {
    test::ZipBuilder zip;
    if (deflate) {
        zip.Deflated(member, text);
    } else {
        zip.Stored(member, text);
    }
    const std::vector<std::uint8_t> bytes = zip.Build();
    return std::string(bytes.begin(), bytes.end());
}

struct Form {
    const char* name;
    std::function<std::string(const std::vector<DatRow>&)> write;
};

class DatFormTest : public ::testing::TestWithParam<Form> {};

TEST_P(DatFormTest, GivesEveryDumpedRomWithItsChecksums) {
    const test::TempDir dir;
    const std::vector<DatRow> rows = Rows();
    test::WriteText(dir / "nds.dat", GetParam().write(rows));
    const Dat dat = LoadDat(dir / "nds.dat");
    EXPECT_EQ(dat.Name(), "Test - Nintendo DS");
    ASSERT_EQ(dat.Entries().size(), 2u);  // the ROM nobody dumped is left out
    for (size_t i = 0; i < 2; ++i) {
        const DatEntry& entry = dat.Entries()[i];
        EXPECT_EQ(entry.game, rows[i].game);
        EXPECT_EQ(entry.rom, rows[i].rom);
        EXPECT_EQ(std::to_string(entry.size), rows[i].size);
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", entry.crc);
        EXPECT_EQ(crc, rows[i].crc);
        ASSERT_TRUE(entry.sha1);
        EXPECT_EQ(ToHex(entry.sha1->data(), 20), rows[i].sha1);
        EXPECT_EQ(entry.sha256 ? ToHex(entry.sha256->data(), 32) : "", rows[i].sha256);
        EXPECT_EQ(entry.serial, rows[i].serial);
        ASSERT_EQ(dat.Find(entry.size, entry.crc).size(), 1u);
        EXPECT_EQ(dat.Find(entry.size, entry.crc)[0], &entry);
        EXPECT_TRUE(dat.Find(entry.size, entry.crc ^ 1).empty());
    }
    EXPECT_EQ(dat.Sizes(), (std::vector<std::int64_t>{4096, 8192}));
    EXPECT_TRUE(dat.AnySha256());
    ASSERT_EQ(dat.WithGameCode("AAAP").size(), 1u);
    EXPECT_TRUE(dat.WithGameCode("NTR-").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DatFormTest,
    ::testing::Values(
        Form{"Logiqx", [](const auto& rows) { return test::LogiqxDat(rows); }},
        Form{"ClrMamePro", [](const auto& rows) { return test::ClrMameProDat(rows); }},
        Form{"LogiqxWithByteOrderMarkAndCrLf",
             [](const auto& rows) {
                 std::string text = "\xEF\xBB\xBF";
                 for (const char c : test::LogiqxDat(rows)) {
                     text += c == '\n' ? std::string("\r\n") : std::string(1, c);
                 }
                 return text;
             }},
        Form{"ZippedLogiqx",
             [](const auto& rows) { return Zipped("nds.dat", test::LogiqxDat(rows), true); }},
        Form{"ZippedClrMameProInAFolder",
             [](const auto& rows) {
                 test::ZipBuilder zip;
                 zip.Stored("dats/", "").Stored("dats/nds.dat", test::ClrMameProDat(rows));
                 const auto bytes = zip.Build();
                 return std::string(bytes.begin(), bytes.end());
             }}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadDat {
    const char* name;
    std::string bytes;
    std::string error;  // what follows `Cannot read DAT "<path>"`
};

std::string WithRom(const std::string& field, const std::string& value, bool text = false) {
    DatRow row = test::RowFor("Bad", RomBuilder().Build());
    if (field == "crc")
        row.crc = value;
    if (field == "sha1")
        row.sha1 = value;
    if (field == "sha256")
        row.sha256 = value;
    if (field == "md5")
        row.md5 = value;
    if (field == "size")
        row.size = value;
    return text ? test::ClrMameProDat({row}) : test::LogiqxDat({row});
}

class BadDatTest : public ::testing::TestWithParam<BadDat> {};

TEST_P(BadDatTest, IsAnErrorNamingTheFileAndTheLine) {
    const test::TempDir dir;
    test::WriteText(dir / "bad.dat", GetParam().bytes);
    try {
        LoadDat(dir / "bad.dat");
        FAIL() << "read";
    } catch (const DatError& e) {
        EXPECT_EQ(e.what(), "Cannot read DAT \"" + dir / "bad.dat" + "\"" + GetParam().error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BadDatTest,
    ::testing::Values(
        BadDat{"Text", "just some words\n",
               ": not a DAT file (neither Logiqx XML nor clrmamepro text)"},
        BadDat{"Empty", "", ": not a DAT file (neither Logiqx XML nor clrmamepro text)"},
        BadDat{"OtherRoot", "<?xml version=\"1.0\"?>\n<settings/>\n",
               ": line 2: not a DAT file: its root element is <settings>, not <datafile>"},
        BadDat{"BrokenXml", "<datafile>\n<game name=\"x\">\n</datafile>\n",
               ": line 3: mismatched tag"},
        BadDat{"Crc", WithRom("crc", "12345g78"),
               ": line 10: the crc \"12345g78\" of ROM \"Bad.nds\" is not 8 hexadecimal digits"},
        BadDat{"Sha1", WithRom("sha1", "abc"),
               ": line 10: the sha1 \"abc\" of ROM \"Bad.nds\" is not 40 hexadecimal digits"},
        BadDat{"Md5", WithRom("md5", std::string(33, 'a')),
               ": line 10: the md5 \"" + std::string(33, 'a') +
                   "\" of ROM \"Bad.nds\" is not 32 hexadecimal digits"},
        BadDat{"Size", WithRom("size", "-5"),
               ": line 10: the size \"-5\" of ROM \"Bad.nds\" is not a whole number of bytes"},
        BadDat{"TextSha256", WithRom("sha256", std::string(64, 'x'), true),
               ": line 10: the sha256 \"" + std::string(48, 'x') +
                   "...\" of ROM \"Bad.nds\" is not 64 hexadecimal digits"},
        BadDat{"UnclosedBlock", "clrmamepro (\n\tname \"x\"\n)\ngame (\n\tname \"y\"\n",
               ": line 4: the block opened here is not closed"},
        BadDat{"UnclosedQuote", "game (\n\tname \"y\n)\n",
               ": line 2: a quoted value is not closed"},
        BadDat{"TooDeep",
               [] {
                   std::string text = "game (";
                   for (int i = 0; i < 40; ++i) {
                       text += " key (";
                   }
                   return text + std::string(41, ')');
               }(),
               ": line 1: blocks are nested too deep"},
        BadDat{"ZipOfTwo",
               [] {
                   test::ZipBuilder zip;
                   zip.Stored("a.dat", "x").Stored("b.dat", "y");
                   const auto bytes = zip.Build();
                   return std::string(bytes.begin(), bytes.end());
               }(),
               ": the zip holds 2 files; a zipped DAT holds exactly one"},
        BadDat{"ZipDamaged",
               [] {
                   test::ZipMember member;
                   member.name = "nds.dat";
                   member.data = test::Bytes("<datafile/>");
                   member.crc = 0x12345678;  // not the member's
                   test::ZipBuilder zip;
                   zip.Add(member);
                   const auto bytes = zip.Build();
                   return std::string(bytes.begin(), bytes.end());
               }(),
               " (nds.dat in it): the zip's member is damaged (its CRC does not match)"},
        BadDat{"ZipInZip", Zipped("inner.zip", Zipped("nds.dat", "<datafile/>", false), false),
               " (inner.zip in it): it holds a zip archive, not a DAT"},
        BadDat{"BadDatInZip", Zipped("nds.dat", WithRom("crc", "xyz"), true),
               " (nds.dat in it): line 10: the crc \"xyz\" of ROM \"Bad.nds\" is not 8 "
               "hexadecimal digits"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Dat, ATooLargeFileIsRefusedUnread) {
    const test::TempDir dir;
    const std::string path = dir / "huge.dat";
    test::WriteText(path, "<datafile>");
    std::filesystem::resize_file(path, std::int64_t{2} << 30);  // a hole: no disk used
    try {
        LoadDat(path);
        FAIL() << "read";
    } catch (const DatError& e) {
        EXPECT_EQ(e.what(), "Cannot read DAT \"" + path +
                                "\": it is too large (2147483648 bytes; a DAT may hold at most "
                                "268435456)");
    }
}

}  // namespace
}  // namespace parevo

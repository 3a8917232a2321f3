#include "platform/paths.h"

#include <gtest/gtest.h>

namespace parevo {
namespace {

constexpr auto W = PathStyle::Windows;
constexpr auto P = PathStyle::Posix;

TEST(Paths, WindowsSeparatesAtBackslashSlashAndDriveColon) {
    EXPECT_EQ(FileNamePart(R"(C:\roms\a.nds)", W), "a.nds");
    EXPECT_EQ(FolderPart(R"(C:\roms\a.nds)", W), R"(C:\roms\)");
    EXPECT_EQ(FileNamePart("C:a.nds", W), "a.nds");
    EXPECT_EQ(FolderPart("C:a.nds", W), "C:");
    EXPECT_EQ(FileNamePart("C:/roms/b.nds", W), "b.nds");
    EXPECT_EQ(FileNamePart(R"(\\server\share\c.zip)", W), "c.zip");
    EXPECT_EQ(PathSeparator(W), '\\');
}

TEST(Paths, PosixSeparatesAtSlashOnly) {
    EXPECT_EQ(FileNamePart("/roms/a:b\\c.nds", P), "a:b\\c.nds");
    EXPECT_EQ(FolderPart("/roms/a:b\\c.nds", P), "/roms/");
    EXPECT_EQ(FolderPart("a.nds", P), "");
    EXPECT_EQ(PathSeparator(P), '/');
}

TEST(Paths, ExtensionIsFromTheLastDotOfTheFileName) {
    EXPECT_EQ(ExtensionOf("/x/game.nds", P), ".nds");
    EXPECT_EQ(ExtensionOf("/x/GAME.NDS", P), ".NDS");
    EXPECT_EQ(ExtensionOf("/x.y/game", P), "");
    EXPECT_EQ(ExtensionOf("/x/game.nds.bak", P), ".bak");
    EXPECT_EQ(ExtensionOf("/x/.nds", P), ".nds");
    EXPECT_EQ(ExtensionOf(R"(C:\x.y\game)", W), "");
}

TEST(Paths, ShortNameKeepsTwelveCharacters) {
    EXPECT_EQ(ShortName("abcdefghijkl.nds", W), "abcdefghijkl...");
    EXPECT_EQ(ShortName("abcdefgh.nds", W), "abcdefgh.nds");      // exactly 12
    EXPECT_EQ(ShortName("abcdefghi.nds", W), "abcdefghi.nd...");  // 13
    EXPECT_EQ(ShortName("abcdefgh.nds", P), "abcdefgh.nds");
    EXPECT_EQ(ShortName("abcdefghi.nds", P), "abcdefghi.nd...");
}

TEST(Paths, ShortNameNeverCutsAUtf8Character) {
    // Twelve two-byte characters stay whole; a thirteenth is cut before it.
    std::string twelve;
    for (int i = 0; i < 12; ++i) {
        twelve += "\xC3\xA9";
    }
    EXPECT_EQ(ShortName(twelve, P), twelve);
    EXPECT_EQ(ShortName(twelve + "x", P), twelve + "...");
    EXPECT_EQ(ShortName("\xE3\x83\x95"
                        "abcdefghijk.nds",
                        P),
              "\xE3\x83\x95"
              "abcdefghijk...");
}

}  // namespace
}  // namespace parevo

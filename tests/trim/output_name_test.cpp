#include "trim/output_name.h"

#include <gtest/gtest.h>

namespace parevo {
namespace {

NamingOptions Defaults() {
    return NamingOptions{};
}

std::string Win(const std::string& entry, const NamingOptions& options,
                const std::string& title = "", const std::string& rom = "") {
    return MakeOutputName(entry, rom.empty() ? entry : rom, title, options, PathStyle::Windows);
}

std::string Posix(const std::string& entry, const NamingOptions& options,
                  const std::string& title = "", const std::string& rom = "") {
    return MakeOutputName(entry, rom.empty() ? entry : rom, title, options, PathStyle::Posix);
}

TEST(MakeOutputName, TheWorkedExamplesInWindowsStyle) {
    const std::string entry = R"(C:\roms\0123 - Some Game (E).nds)";
    EXPECT_EQ(Win(entry, Defaults()), R"(C:\roms\0123 - Some Game (E)_trim.nds)");

    NamingOptions scene;
    scene.TrimSceneNumber = true;
    EXPECT_EQ(Win(entry, scene), R"(C:\roms\Some Game (E)_trim.nds)");

    NamingOptions header;
    header.HeaderRomName = true;
    EXPECT_EQ(Win(entry, header, "SOMEGAME"), R"(C:\roms\SOMEGAME_trim.nds)");
    header.TrimSceneNumber = true;
    EXPECT_EQ(Win(entry, header, "SOMEGAME"), R"(C:\roms\SOMEGAME_trim.nds)");

    NamingOptions custom;
    custom.CustomPath = true;
    custom.Path = R"(D:\out)";
    EXPECT_EQ(Win(entry, custom), R"(D:\out\0123 - Some Game (E)_trim.nds)");
}

TEST(MakeOutputName, TheSameCasesInPosixStyle) {
    const std::string entry = "/roms/0123 - Some Game (E).nds";
    EXPECT_EQ(Posix(entry, Defaults()), "/roms/0123 - Some Game (E)_trim.nds");
    NamingOptions scene;
    scene.TrimSceneNumber = true;
    EXPECT_EQ(Posix(entry, scene), "/roms/Some Game (E)_trim.nds");
    NamingOptions header;
    header.HeaderRomName = true;
    header.TrimSceneNumber = true;
    EXPECT_EQ(Posix(entry, header, "SOMEGAME"), "/roms/SOMEGAME_trim.nds");
    NamingOptions custom;
    custom.CustomPath = true;
    custom.Path = "/out";
    EXPECT_EQ(Posix(entry, custom), "/out/0123 - Some Game (E)_trim.nds");
    // A colon or backslash is part of a POSIX file name.
    EXPECT_EQ(Posix("/roms/a:b\\c.nds", Defaults()), "/roms/a:b\\c_trim.nds");
}

TEST(MakeOutputName, EmptyAppendTextGivesTheSourcePath) {
    NamingOptions options;
    options.AppendText = "";
    EXPECT_EQ(Win(R"(C:\roms\game.nds)", options), R"(C:\roms\game.nds)");
    EXPECT_EQ(Posix("/roms/game.nds", options), "/roms/game.nds");
    // For an archive the output lands on the extracted member.
    EXPECT_EQ(Win(R"(C:\roms\pack.zip)", options, "", R"(C:\roms\game.nds)"),
              R"(C:\roms\game.nds)");
    EXPECT_EQ(Posix("/roms/pack.rar", options, "", "/roms/sub/game.nds"), "/roms/game.nds");
}

TEST(MakeOutputName, SceneNumberRules) {
    NamingOptions scene;
    scene.TrimSceneNumber = true;
    EXPECT_EQ(Posix("/r/1234 - Title - Part 2.nds", scene), "/r/Title - Part 2_trim.nds");
    EXPECT_EQ(Posix("/r/Game - .nds", scene), "/r/_trim.nds");
    EXPECT_EQ(Posix("/r/No-Number.nds", scene), "/r/No-Number_trim.nds");
    EXPECT_EQ(Posix("/r/abc - x.nds", scene), "/r/x_trim.nds");  // not only digits
    EXPECT_EQ(Win(R"(C:\r\1234 - Title - Part 2.nds)", scene), R"(C:\r\Title - Part 2_trim.nds)");
}

TEST(MakeOutputName, EdgeCases) {
    NamingOptions header;
    header.HeaderRomName = true;
    EXPECT_EQ(Posix("/r/game.nds", header, ""), "/r/_trim.nds");
    // A file-name part shorter than four characters gives an empty base name.
    EXPECT_EQ(Posix("/r/.nds", Defaults()), "/r/_trim.nds");

    NamingOptions root;
    root.CustomPath = true;
    root.Path = R"(E:\)";
    EXPECT_EQ(Win(R"(C:\r\g.nds)", root), R"(E:\\g_trim.nds)");
    root.Path = "/mnt/";
    EXPECT_EQ(Posix("/r/g.nds", root), "/mnt//g_trim.nds");

    // No folder in the entry path: the output goes beside it.
    EXPECT_EQ(Posix("g.nds", Defaults()), "g_trim.nds");
}

}  // namespace
}  // namespace parevo

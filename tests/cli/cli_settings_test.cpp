// parevo-cli and the settings file: defaults from the file beside the
// executable (or one named), the command line winning, and nothing written.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_fixture.h"

namespace parevo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::string SettingsFile(const std::string& children) {
    return "<settings>\r\n" + children + "</settings>\r\n";
}

std::string Element(const std::string& name, const std::string& value) {
    return " <" + name + " value=\"" + value + "\" />\r\n";
}

class CliSettingsTest : public CliTest {
  protected:
    void SetUp() override {
        program = install / "bin/parevo-cli";
        ignoreSettings = false;
        // A copy of the program in a folder of its own, so its data/ folder is ours.
        fs::create_directory(install / "bin");
        fs::copy_file(std::string(PAREVO_BIN_DIR) + "/parevo-cli", program);
        test::RomBuilder()
            .Title("SOMEGAME")
            .DataUpTo(8600)
            .PadTo(10000)
            .WriteTo(dir / "1 - Game.nds");
    }

    void WriteSettings(const std::string& text) {
        fs::create_directories(install / "bin/data");
        test::WriteText(install / "bin/data/settings.xml", text);
    }

    // The output path a dry run reports for the one ROM.
    std::string DryRunOutput(std::vector<std::string> args) {
        args.push_back("--dry-run");
        args.push_back("1 - Game.nds");
        const Result r = Run(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const auto at = r.out.find("output:");
        if (at == std::string::npos) {
            return "<no output line>";
        }
        const auto start = r.out.find_first_not_of(' ', at + 7);
        return r.out.substr(start, r.out.find('\n', start) - start);
    }

    TempDir install;
};

TEST_F(CliSettingsTest, TheWindowsSettingsFileGivesTheDefaults) {
    EXPECT_EQ(DryRunOutput({}), "1 - Game_trim.nds");
    EXPECT_FALSE(fs::exists(install / "bin/data"));  // the command line creates nothing
    const std::string settings =
        SettingsFile(Element("scenetrim", "True") + Element("append", "_s") +
                     Element("useheadername", "False") + Element("safetrim", "False"));
    WriteSettings(settings);
    EXPECT_EQ(DryRunOutput({}), "Game_s.nds");

    const Result r = Run({"1 - Game.nds"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::ReadBytes(dir / "Game_s.nds").size(), 9000u);  // no safe-trim margin
    // Read, never written.
    EXPECT_EQ(test::ReadText(install / "bin/data/settings.xml"), settings);
}

TEST_F(CliSettingsTest, TheCommandLineWins) {
    WriteSettings(SettingsFile(Element("scenetrim", "True") + Element("append", "_s") +
                               Element("useheadername", "True")));
    EXPECT_EQ(DryRunOutput({"--append", "_c", "--no-trim-scene-number", "--no-header-name"}),
              "1 - Game_c.nds");
    EXPECT_EQ(DryRunOutput({"--no-settings"}), "1 - Game_trim.nds");
}

TEST_F(CliSettingsTest, AnotherSettingsFileByName) {
    WriteSettings(SettingsFile(Element("append", "_beside")));
    test::WriteText(dir / "mine.xml", SettingsFile(Element("append", "_mine")));
    EXPECT_EQ(DryRunOutput({"--settings", "mine.xml"}), "1 - Game_mine.nds");

    const Result missing = Run({"--settings", "nope.xml", "1 - Game.nds"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err, "error: settings file \"nope.xml\" does not exist\n");
    EXPECT_EQ(Run({"--settings", "mine.xml", "--no-settings", "1 - Game.nds"}).exitCode, 2);
}

TEST_F(CliSettingsTest, CustomFolderFromTheSettings) {
    fs::create_directory(dir / "out");
    WriteSettings(SettingsFile(Element("directory", dir / "out") + Element("checked", "True")));
    EXPECT_EQ(DryRunOutput({}), dir / "out/1 - Game_trim.nds");
    EXPECT_EQ(DryRunOutput({"--no-output-dir"}), "1 - Game_trim.nds");
}

TEST_F(CliSettingsTest, AnOutputFolderThatIsNotThereChangesNothing) {
    // An unplugged stick: with an empty append text the source itself would be
    // cut, though the user asked for the output elsewhere.
    const std::string stick = dir / "stick/trimmed";
    WriteSettings(SettingsFile(Element("checked", "True") + Element("directory", stick) +
                               Element("append", "")));
    const auto source = test::ReadBytes(dir / "1 - Game.nds");
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"1 - Game.nds"}, {"--dry-run", "1 - Game.nds"}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err, "error: output folder \"" + stick + "\" does not exist\n");
        EXPECT_EQ(r.out, "");
    }
    // A file where the folder should be.
    test::WriteText(dir / "stick", "");
    WriteSettings(SettingsFile(Element("checked", "True") + Element("directory", dir / "stick")));
    Result r = Run({"1 - Game.nds"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "error: output folder \"" + (dir / "stick") + "\" is not a folder\n");
    EXPECT_EQ(test::ReadBytes(dir / "1 - Game.nds"), source);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"1 - Game.nds", "stick"}));

    // The command line still decides.
    r = Run({"--no-output-dir", "1 - Game.nds"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "1 - Game_trim.nds"));
    fs::create_directory(dir / "out");
    EXPECT_EQ(Run({"--output-dir", "out", "1 - Game.nds"}).exitCode, 0);
    EXPECT_TRUE(fs::exists(dir / "out/1 - Game_trim.nds"));

    // Ticked, with no folder at all.
    WriteSettings(SettingsFile(Element("checked", "True") + Element("append", "")));
    r = Run({"1 - Game.nds"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "error: no output folder is chosen\n");
    EXPECT_EQ(test::ReadBytes(dir / "1 - Game.nds"), source);
}

TEST_F(CliSettingsTest, AUtf8DeclarationKeepsAccentsInFoldersAndNames) {
    // The ordinary first line of a hand-written file: names stay the UTF-8 the
    // system uses, so the folder is found and the output name is valid UTF-8.
    const std::string folder = dir / "Jeux-\xC3\xA9";
    fs::create_directory(folder);
    WriteSettings("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" +
                  SettingsFile(Element("directory", folder) + Element("checked", "True") +
                               Element("append", "_\xC3\xA9")));
    const Result r = Run({"1 - Game.nds"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::ReadBytes(folder + "/1 - Game_\xC3\xA9.nds").size(), 9100u);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"1 - Game.nds", "Jeux-\xC3\xA9"}));
}

TEST_F(CliSettingsTest, ASettingsFileThatFailsToConvertIsAnError) {
    WriteSettings(SettingsFile(Element("append", "_s") + Element("safetrim", "yes")));
    const Result r = Run({"1 - Game.nds"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "error: settings file \"" + (install / "bin/data/settings.xml") +
                         "\": Could not convert variant of type (String) into type (Boolean)\n");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"1 - Game.nds"});
    EXPECT_EQ(Run({"--no-settings", "1 - Game.nds"}).exitCode, 0);
}

#ifndef _WIN32
TEST_F(CliSettingsTest, ASettingsFileThatCannotBeReadIsAnError) {
    // Run with the defaults instead, and the user's folder, append text or byte
    // jump would quietly not apply.
    fs::create_directory(dir / "folder.xml");
    Result r = Run({"--settings", "folder.xml", "1 - Game.nds"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "error: settings file: Cannot open \"folder.xml\": Is a directory\n");
    ASSERT_EQ(::mkfifo((dir / "pipe.xml").c_str(), 0644), 0);
    r = Run({"--settings", "pipe.xml", "1 - Game.nds"}, 20);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "error: settings file: Cannot open \"pipe.xml\": not a regular file\n");
    // The settings file beside the program, too.
    fs::create_directories(install / "bin/data/settings.xml");
    r = Run({"1 - Game.nds"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"1 - Game.nds", "folder.xml", "pipe.xml"}));
}
#endif

}  // namespace
}  // namespace parevo

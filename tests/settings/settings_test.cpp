// The settings file through the option controls, and the application manager.
#include "settings/settings.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <string>

#include "settings/app_manager.h"
#include "settings/option_controls.h"
#include "settings/xml/xml_node.h"
#include "support/temp_dir.h"

namespace parevo {
namespace {

using test::TempDir;

// The plain controls, counting the runs of the CustomPath handler.
class CountingControls : public PlainOptionControls {
  public:
    void UpdateFolderTreeEnabled() override {
        ++clicks;
        PlainOptionControls::UpdateFolderTreeEnabled();
    }
    int clicks = 0;
};

std::string SettingsText(const std::string& children) {
    return "<settings>\r\n" + children + "</settings>\r\n";
}

std::string Element(const std::string& name, const std::string& value) {
    return " <" + name + " value=\"" + value + "\" />\r\n";
}

class SettingsTest : public ::testing::Test {
  protected:
    void Load(const std::string& text) {
        test::WriteText(file, text);
        Settings(controls).LoadFromFile(file);
    }
    std::string LoadError(const std::string& text) {
        try {
            Load(text);
        } catch (const ConversionError& e) {
            return e.what();
        }
        return "no error";
    }

    TempDir dir;
    std::string file = dir / "settings.xml";
    CountingControls controls;
};

constexpr const char* kConversion =
    "Could not convert variant of type (String) into type (Boolean)";

TEST_F(SettingsTest, SavesTheTenLineFileOfTheDefaults) {
    controls.SelectFolder("D:\\Roms\\Small");
    Settings(controls).SaveToFile(file);
    EXPECT_EQ(test::ReadText(file),
              "<settings>\r\n"
              " <directory value=\"D:\\Roms\\Small\" />\r\n"
              " <checked value=\"False\" />\r\n"
              " <safetrim value=\"True\" />\r\n"
              " <scenetrim value=\"False\" />\r\n"
              " <useheadername value=\"False\" />\r\n"
              " <deletesource value=\"False\" />\r\n"
              " <bytejump value=\"500\" />\r\n"
              " <append value=\"_trim\" />\r\n"
              "</settings>\r\n");
}

TEST_F(SettingsTest, SaveAndLoadRoundTrip) {
    controls.SelectFolder(dir.Path());
    controls.SetCustomPath(true);
    controls.SetSafeTrim(false);
    controls.SetTrimSceneNumber(true);
    controls.SetHeaderRomName(true);
    controls.SetDeleteSource(true);
    controls.SetByteJump(1234);
    controls.SetAppendText("a&amp;\"b\" <c>");
    Settings(controls).SaveToFile(file);

    CountingControls fresh;
    Settings(fresh).LoadFromFile(file);
    EXPECT_EQ(fresh.PathFolder(), dir.Path());
    EXPECT_TRUE(fresh.CustomPath());
    EXPECT_TRUE(fresh.PathEnabled());
    EXPECT_FALSE(fresh.SafeTrim());
    EXPECT_TRUE(fresh.TrimSceneNumber());
    EXPECT_TRUE(fresh.HeaderRomName());
    EXPECT_TRUE(fresh.DeleteSource());
    EXPECT_EQ(fresh.ByteJump(), 1234);
    // Escaped on writing, so neither the "&amp;" nor the quotes are lost.
    EXPECT_EQ(fresh.AppendText(), "a&amp;\"b\" <c>");
}

TEST_F(SettingsTest, TheDatFileIsWrittenOnlyWhenOneIsChosen) {
    controls.SelectFolder("D:\\Roms");
    Settings(controls).SaveToFile(file);
    const std::string withoutDat = test::ReadText(file);
    controls.SetDatFile("D:\\Dats\\Nintendo - DS (2024).zip");
    Settings(controls).SaveToFile(file);
    // A version that does not know the element passes it over.
    EXPECT_EQ(test::ReadText(file),
              withoutDat.substr(0, withoutDat.size() - 13) +
                  " <datfile value=\"D:\\Dats\\Nintendo - DS (2024).zip\" />\r\n</settings>\r\n");
    CountingControls fresh;
    Settings(fresh).LoadFromFile(file);
    EXPECT_EQ(fresh.DatFile(), "D:\\Dats\\Nintendo - DS (2024).zip");
    controls.SetDatFile("");
    Settings(controls).SaveToFile(file);
    EXPECT_EQ(test::ReadText(file), withoutDat);
}

TEST_F(SettingsTest, NothingAppliedWithoutAFileOrWithAnotherRoot) {
    Settings(controls).LoadFromFile(dir / "missing.xml");
    Load("");
    Load("<config>" + Element("safetrim", "False") + "</config>");
    Load("<!-- just a comment -->");
    EXPECT_TRUE(controls.SafeTrim());
    EXPECT_EQ(controls.ByteJump(), 500);
    EXPECT_EQ(controls.AppendText(), "_trim");
    EXPECT_EQ(controls.clicks, 0);
}

TEST_F(SettingsTest, NamesIgnoreLetterCaseButValueMustBeLowerCase) {
    Load("<SETTINGS>\r\n <SafeTrim value=\"False\" />\r\n <ByteJump value=\"7\" />\r\n</SETTINGS>");
    EXPECT_FALSE(controls.SafeTrim());
    EXPECT_EQ(controls.ByteJump(), 7);

    EXPECT_EQ(LoadError(SettingsText(" <directory VALUE=\"" + dir.Path() + "\" />\r\n" +
                                     " <safetrim VALUE=\"True\" />\r\n")),
              kConversion);
    EXPECT_EQ(controls.PathFolder(), "");  // directory without "value" is ignored
}

TEST_F(SettingsTest, ByteJumpConversions) {
    const std::pair<std::string, int> cases[] = {{"5000", 2000},
                                                 {"0", 1},
                                                 {"42", 42},
                                                 {"-5", 1},
                                                 {"+12", 12},
                                                 {"True", 1},
                                                 {"false", 1},
                                                 {"99999999999999999999", 2000},
                                                 // A fraction gives the nearest whole number.
                                                 {"1500.5", 1501},
                                                 {"42.4", 42},
                                                 {"-3.7", 1},
                                                 {"99999999999999999999.5", 2000}};
    for (const auto& [text, expected] : cases) {
        controls.SetByteJump(300);
        Load(SettingsText(Element("bytejump", text)));
        EXPECT_EQ(controls.ByteJump(), expected) << text;
    }
    EXPECT_EQ(LoadError(SettingsText(Element("bytejump", "abc"))), kConversion);
    EXPECT_EQ(LoadError(SettingsText(Element("bytejump", ""))), kConversion);
    EXPECT_EQ(LoadError(SettingsText(" <bytejump />\r\n")), kConversion);
}

TEST_F(SettingsTest, OnOffConversions) {
    for (const std::string on : {"true", "TRUE", "True", "1", "-3", "0.5"}) {
        controls.SetSafeTrim(false);
        Load(SettingsText(Element("safetrim", on)));
        EXPECT_TRUE(controls.SafeTrim()) << on;
    }
    for (const std::string off : {"False", "fAlSe", "0", "00", "0.0"}) {
        controls.SetSafeTrim(true);
        Load(SettingsText(Element("safetrim", off)));
        EXPECT_FALSE(controls.SafeTrim()) << off;
    }
    for (const std::string bad : {"yes", "", " 1", "1e3", "on"}) {
        EXPECT_EQ(LoadError(SettingsText(Element("deletesource", bad))), kConversion) << bad;
    }
    Load(SettingsText(Element("scenetrim", "True") + Element("useheadername", "1") +
                      Element("deletesource", "TRUE")));
    EXPECT_TRUE(controls.TrimSceneNumber());
    EXPECT_TRUE(controls.HeaderRomName());
    EXPECT_TRUE(controls.DeleteSource());
}

TEST_F(SettingsTest, CheckedRunsTheHandlerTwiceAndEnablesTheTree) {
    Load(SettingsText(Element("checked", "False")));
    EXPECT_FALSE(controls.CustomPath());
    EXPECT_FALSE(controls.PathEnabled());
    EXPECT_EQ(controls.clicks, 0);
    Load(SettingsText(Element("checked", "True")));
    EXPECT_TRUE(controls.CustomPath());
    EXPECT_TRUE(controls.PathEnabled());
    EXPECT_EQ(controls.clicks, 2);
    EXPECT_EQ(LoadError(SettingsText(Element("checked", "maybe"))), kConversion);
}

TEST_F(SettingsTest, AppendAndDirectory) {
    Load(SettingsText(Element("append", "")));
    EXPECT_EQ(controls.AppendText(), "");
    controls.SetAppendText("x");
    Load(SettingsText(" <append />\r\n"));
    EXPECT_EQ(controls.AppendText(), "");
    // Written by hand without escaping: the value ends at the double quote.
    Load(SettingsText(" <append value=\"a&amp;b\"c\" />\r\n"));
    EXPECT_EQ(controls.AppendText(), "a&b");

    std::filesystem::create_directory(dir / "roms");
    Load(SettingsText(Element("directory", dir / "roms")));
    EXPECT_EQ(controls.PathFolder(), dir / "roms");
    Load(SettingsText(Element("directory", dir / "deleted")));
    EXPECT_EQ(controls.PathFolder(), dir / "roms");
    Load(SettingsText(Element("directory", file)));  // a file, not a folder
    EXPECT_EQ(controls.PathFolder(), dir / "roms");
}

TEST_F(SettingsTest, OrderUnknownElementsAndRepeats) {
    Load(
        "<settings>text<!-- c --><append value=\"z\"/><unknown value=\"q\"/>"
        "<bytejump value=\"10\"><safetrim value=\"False\"/></bytejump>"
        "<bytejump value=\"20\"/></settings><safetrim value=\"False\"/>");
    EXPECT_EQ(controls.AppendText(), "z");
    EXPECT_EQ(controls.ByteJump(), 20);
    EXPECT_TRUE(controls.SafeTrim());  // not a direct child of the root
}

TEST_F(SettingsTest, ConversionErrorStopsAtTheFailingElement) {
    EXPECT_EQ(LoadError(SettingsText(Element("append", "first") + Element("safetrim", "False") +
                                     Element("scenetrim", "nope") + Element("bytejump", "9") +
                                     Element("useheadername", "True"))),
              kConversion);
    EXPECT_EQ(controls.AppendText(), "first");
    EXPECT_FALSE(controls.SafeTrim());
    EXPECT_FALSE(controls.TrimSceneNumber());
    EXPECT_EQ(controls.ByteJump(), 500);
    EXPECT_FALSE(controls.HeaderRomName());
}

TEST(OptionControls, ByteJumpField) {
    EXPECT_EQ(ReadByteJumpText("42"), 42);
    EXPECT_EQ(ReadByteJumpText("+42"), 42);
    EXPECT_EQ(ReadByteJumpText("5000"), 5000);  // as typed, not yet in range
    EXPECT_EQ(ReadByteJumpText("-3"), -3);
    EXPECT_EQ(ReadByteJumpText(""), 1);
    EXPECT_EQ(ReadByteJumpText("abc"), 1);
    EXPECT_EQ(ReadByteJumpText("12a"), 1);
    EXPECT_GT(ReadByteJumpText("99999999999999999999"), 2000);

    PlainOptionControls controls;
    controls.SetByteJump(0);
    EXPECT_EQ(controls.ByteJump(), 1);
    controls.SetByteJump(2001);
    EXPECT_EQ(controls.ByteJump(), 2000);
    // Typed and saved before leaving the field: written as typed, read back in range.
    controls.SetByteJumpText("5000");
    TempDir dir;
    Settings(controls).SaveToFile(dir / "s.xml");
    EXPECT_NE(test::ReadText(dir / "s.xml").find("<bytejump value=\"5000\" />"), std::string::npos);
    PlainOptionControls fresh;
    Settings(fresh).LoadFromFile(dir / "s.xml");
    EXPECT_EQ(fresh.ByteJump(), 2000);
}

TEST(OptionControls, ToTrimOptions) {
    PlainOptionControls controls;
    TrimOptions options = ToTrimOptions(controls);
    EXPECT_TRUE(options.SafeTrim);
    EXPECT_EQ(options.byteJump, 500);
    EXPECT_EQ(options.AppendText, "_trim");
    EXPECT_FALSE(options.CustomPath);
    controls.SetCustomPath(true);
    // Ticked with no folder chosen: the run refuses it, never writes beside the source.
    EXPECT_TRUE(ToTrimOptions(controls).CustomPath);
    EXPECT_EQ(ToTrimOptions(controls).Path, "");
    controls.SelectFolder("/out");
    controls.SetByteJumpText("0");
    controls.SetTrimSceneNumber(true);
    controls.SetHeaderRomName(true);
    controls.SetDeleteSource(true);
    options = ToTrimOptions(controls);
    EXPECT_TRUE(options.CustomPath);
    EXPECT_EQ(options.Path, "/out");
    EXPECT_EQ(options.byteJump, 1);
    EXPECT_TRUE(options.TrimSceneNumber);
    EXPECT_TRUE(options.HeaderRomName);
    EXPECT_TRUE(options.DeleteSource);
}

class AppManagerTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string exe = dir / "parevo";
    CountingControls controls;
    ConfigEnvironment env{"", dir / "home", ""};
};

TEST_F(AppManagerTest, FirstStartCreatesTheFolderAndSavesTheDefaults) {
    controls.SetHintPause(0);
    AppManager manager(exe, controls, env);
    EXPECT_EQ(manager.DataPath(), "");
    manager.Init();
    EXPECT_EQ(manager.DataPath(), dir / "data/");
    EXPECT_EQ(manager.SettingsFile(), dir / "data/settings.xml");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "data"));
    EXPECT_EQ(controls.HintPause(), 500);
    EXPECT_EQ(controls.HintShortPause(), 1);
    ASSERT_NE(manager.AppSettings(), nullptr);
    EXPECT_TRUE(controls.SafeTrim());

    controls.SetByteJump(77);
    std::filesystem::remove(dir / "data");  // gone again: made again at close
    manager.SavePreferences();
    EXPECT_EQ(manager.AppSettings(), nullptr);
    EXPECT_NE(test::ReadText(dir / "data/settings.xml").find("<bytejump value=\"77\" />"),
              std::string::npos);

    CountingControls next;
    AppManager second(exe, next, env);
    second.Init();
    EXPECT_EQ(next.ByteJump(), 77);
}

TEST_F(AppManagerTest, ConversionErrorReachesTheCallerOfInit) {
    std::filesystem::create_directory(dir / "data");
    test::WriteText(dir / "data/settings.xml", SettingsText(Element("safetrim", "yes")));
    AppManager manager(exe, controls, env);
    EXPECT_THROW(manager.Init(), ConversionError);
}

TEST_F(AppManagerTest, FailedSaveKeepsTheSettingsObject) {
    test::WriteText(dir / "data", "a file where the folder should be");
    AppManager manager(exe, controls, env);
    manager.Init();
    EXPECT_THROW(manager.SavePreferences(), FileCreateError);
    EXPECT_NE(manager.AppSettings(), nullptr);
    EXPECT_EQ(test::ReadText(dir / "data"), "a file where the folder should be");
}

#ifndef _WIN32
TEST(AppManager, DataFolderChoice) {
    TempDir dir;
    const ConfigEnvironment env{"", "/home/u", ""};
    EXPECT_EQ(ChooseDataPath(dir.Path() + "/", env), dir / "data/");
    // Not writable (here: not there at all) and no settings file: the user's folder.
    EXPECT_EQ(ChooseDataPath("/nonexistent-parevo/bin/", env), "/home/u/.config/parevo/");
    EXPECT_EQ(ChooseDataPath("/nonexistent-parevo/bin/", {"/xdg", "/home/u", ""}), "/xdg/parevo/");
    EXPECT_EQ(UserConfigFolder({"relative/xdg", "/home/u", ""}), "/home/u/.config/parevo/");
    EXPECT_EQ(UserConfigFolder({"", "", ""}), "");
    // With nowhere else to go, stay beside the executable.
    EXPECT_EQ(ChooseDataPath("/nonexistent-parevo/bin/", {"", "", ""}),
              "/nonexistent-parevo/bin/data/");

    TempDir install;
    TempDir home;
    std::filesystem::create_directory(install / "data");
    test::WriteText(install / "data/settings.xml", "<settings/>");
    EXPECT_EQ(ChooseDataPath(install.Path() + "/", {"", home.Path(), ""}), install / "data/");
    // A settings file shipped in a folder the user cannot write is no reason to
    // stay there: every save would fail.
    if (::geteuid() != 0) {
        std::filesystem::permissions(install / "data", std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
        EXPECT_EQ(ChooseDataPath(install.Path() + "/", {"", home.Path(), ""}),
                  home / ".config/parevo/");
        std::filesystem::permissions(install / "data", std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
    // The user's folder is made with its parents at first use.
    CountingControls controls;
    AppManager manager("/nonexistent-parevo/bin/parevo", controls, {"", home.Path(), ""});
    manager.Init();
    EXPECT_EQ(manager.DataPath(), home / ".config/parevo/");
    EXPECT_TRUE(std::filesystem::is_directory(home / ".config/parevo"));

    // An installed tree (its private library folder beside the programs' folder)
    // keeps its settings in the user's folder even where it could write beside
    // itself, as root can.
    TempDir tree;
    std::filesystem::create_directories(tree / "bin");
    std::filesystem::create_directories(tree / "lib/parevo");
    EXPECT_EQ(ChooseDataPath(tree / "bin/", {"", home.Path(), ""}), home / ".config/parevo/");
    std::filesystem::remove(tree / "lib/parevo");
    EXPECT_EQ(ChooseDataPath(tree / "bin/", {"", home.Path(), ""}), tree / "bin/data/");
}
#endif

}  // namespace
}  // namespace parevo

#include "platform/qt/qt_recycler.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

namespace parevo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Points HOME and XDG_DATA_HOME at a test folder for the life of the object.
class ScopedHome {
  public:
    ScopedHome(const std::string& home, const char* dataHome) {
        Save("HOME", m_home);
        Save("XDG_DATA_HOME", m_data);
        ::setenv("HOME", home.c_str(), 1);
        if (dataHome != nullptr) {
            ::setenv("XDG_DATA_HOME", dataHome, 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
    }
    ~ScopedHome() {
        Restore("HOME", m_home);
        Restore("XDG_DATA_HOME", m_data);
    }

  private:
    static void Save(const char* name, std::optional<std::string>& slot) {
        if (const char* v = std::getenv(name)) {
            slot = v;
        }
    }
    static void Restore(const char* name, const std::optional<std::string>& slot) {
        if (slot) {
            ::setenv(name, slot->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    std::optional<std::string> m_home;
    std::optional<std::string> m_data;
};

TEST(QtRecycler, MovesTheFileIntoTheTrashOfTheDataFolder) {
    TempDir home;
    TempDir work;
    test::WriteText(work / "game.nds", "rom");
    const std::string data = home / "data";
    ScopedHome scoped(home.Path(), data.c_str());

    QtRecycler recycler;
    const RecycleResult result = recycler.MoveToTrash(work / "game.nds");
    EXPECT_TRUE(result.ok) << result.reason;
    EXPECT_FALSE(fs::exists(work / "game.nds"));
    EXPECT_EQ(test::ReadText(data + "/Trash/files/game.nds"), "rom");
    EXPECT_TRUE(fs::exists(data + "/Trash/info/game.nds.trashinfo"));
}

TEST(QtRecycler, AHomeWithoutItsDataFolderStillGetsARealTrash) {
    TempDir home;  // no .local/share inside
    TempDir work;
    test::WriteText(work / "game.nds", "rom");
    ScopedHome scoped(home.Path(), nullptr);

    const fs::path previous = fs::current_path();
    fs::current_path(work.Path());
    QtRecycler recycler;
    const RecycleResult result = recycler.MoveToTrash(work / "game.nds");
    fs::current_path(previous);

    EXPECT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(test::ReadText(home / ".local/share/Trash/files/game.nds"), "rom");
    EXPECT_FALSE(fs::exists(work / "files"));
}

}  // namespace
}  // namespace parevo

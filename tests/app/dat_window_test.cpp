// The window's DAT and ROM information: the dialog for a list entry (an image,
// each member of an archive), the DAT chosen on the Advanced page, kept in the
// settings, and a run that checks its ROMs against it.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

#include "app/window_fixture.h"
#include "support/dat_builder.h"
#include "support/zip_builder.h"

namespace parevo::test {
namespace {

std::vector<std::uint8_t> Dump() {
    return RomBuilder()
        .Title("SOMEGAME")
        .HeaderField(0x0C, {'A', 'S', 'M', 'E', '0', '1', 0x00, 0x00, 0x00})
        .DeclaredUsedSize(0x9000)
        .DataUpTo(0x9000)
        .PadTo(0x20000)
        .Build();
}

class DatWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WriteBytes(dir / "game.nds", Dump());
        WriteText(dir / "nds.dat", LogiqxDat({RowFor("Some Game (Europe)", Dump(), "ASME")}));
    }

    // Opens the dialog for entry `row` through the list's context menu.
    RomInfoDialog* OpenInfo(MainWindow& window, int row) {
        auto* list = Find<QListWidget>(window, "DropGames");
        list->setCurrentRow(row);
        Find<QAction>(window, "RomInfoMenuItem")->trigger();
        // One closed before goes only later: the one showing is the new one.
        for (RomInfoDialog* dialog : window.findChildren<RomInfoDialog*>()) {
            if (dialog->isVisible()) {
                return dialog;
            }
        }
        return nullptr;
    }

    static QStringList Shown(const QWidget& dialog, const char* field) {
        QStringList texts;
        for (const QLabel* label : dialog.findChildren<QLabel*>(QString::fromLatin1(field))) {
            texts << label->text();
        }
        return texts;
    }
};

TEST_F(DatWindowTest, RomInformationShowsTheFieldsAndTheDatCheck) {
    ZipMember member;
    member.name = "roms/game.nds";
    member.data = Dump();
    member.data[0x5000] ^= 0x11;  // a bad dump
    ZipBuilder().Add(member).Stored("readme.txt", "x").WriteTo(dir / "pack.zip");
    auto window = MakeWindow();
    FirstTick(*window);
    window->AddFiles({Q(dir / "game.nds"), Q(dir / "pack.zip")});

    RomInfoDialog* dialog = OpenInfo(*window, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Shown(*dialog, "game_code"), QStringList{"ASME"});
    EXPECT_EQ(Shown(*dialog, "trim_keeps"), QStringList{"37672 bytes"});
    EXPECT_TRUE(Shown(*dialog, "dat").isEmpty());
    dialog->close();

    Find<QLineEdit>(*window, "DatFile")->setText(Q(dir / "nds.dat"));
    dialog = OpenInfo(*window, 1);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->findChild<QGroupBox*>()->title(), "pack.zip (roms/game.nds)");
    EXPECT_EQ(Shown(*dialog, "dat"),
              (QStringList{"no match", "bad dump: differs from \"Some Game (Europe)\""}));
    dialog->close();
    dialog = OpenInfo(*window, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Shown(*dialog, "dat"),
              QStringList{"verified: \"Some Game (Europe)\" (131072 bytes, as it is)"});
    // Nothing was left beside the archive.
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.nds", "nds.dat", "pack.zip"}));
}

TEST_F(DatWindowTest, ARunChecksAgainstTheChosenDatWhichTheSettingsKeep) {
    {
        auto window = MakeWindow();
        FirstTick(*window);
        window->SetDatFile(dir / "missing.dat");
        window->AddFiles({Q(dir / "game.nds")});
        window->TrimGames();
        ASSERT_EQ(prompter.messages.size(), 1u);
        EXPECT_EQ(prompter.messages[0].text,
                  "Cannot open \"" + dir / "missing.dat" + "\": No such file or directory");
        EXPECT_EQ(Find<QListWidget>(*window, "Log")->count(), 0);

        window->SetDatFile(dir / "nds.dat");
        window->TrimGames();
        auto* log = Find<QListWidget>(*window, "Log");
        ASSERT_EQ(log->count(), 3);
        EXPECT_EQ(log->item(2)->text(), "rom 1 of 1 -> verified \"Some Game (Europe)\"");
        window->close();
    }
    auto window = MakeWindow();
    FirstTick(*window);
    EXPECT_EQ(window->DatFile(), dir / "nds.dat");
}

}  // namespace
}  // namespace parevo::test

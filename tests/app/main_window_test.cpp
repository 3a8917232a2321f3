// The main window as a user meets it: its controls, the start and the close,
// the ROM list and the log, the byte jump field and the output folder.
#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <filesystem>

#include "app/hint_timing.h"
#include "app/widgets.h"
#include "app/window_fixture.h"

namespace parevo::test {
namespace {

namespace fs = std::filesystem;

// ---- The controls ----------------------------------------------------------------

struct ControlRow {
    const char* name;
    const char* parent;
    QRect rect;  // a width or height of 0: the natural size of the text
    const char* text;
    bool growsToText;  // wider when the font standing in for the layout's is wider
};

const ControlRow kControls[] = {
    {"Panel", "Form1", {6, 8, 449, 449}, nullptr, false},
    {"TntLabel3", "Panel", {8, 2, 0, 0}, "files to be trimmed (.nds, .zip & .rar):", false},
    {"DropGames", "Panel", {8, 16, 433, 177}, nullptr, false},
    {"TntLabel2", "Panel", {8, 194, 0, 0}, "log:", false},
    {"Log", "Panel", {8, 208, 433, 73}, nullptr, false},
    {"Label10", "Panel", {168, 344, 0, 0}, "Loading preferences...", false},
    {"OptionPages", "Form1", {12, 296, 437, 153}, nullptr, false},
    {"CustomPath", "PathPage", {0, 2, 17, 17}, "", false},
    {"Path", "PathPage", {18, 4, 248, 106}, nullptr, false},
    {"Progress", "PathPage", {272, 4, 153, 33}, nullptr, false},
    {"TrimGames", "PathPage", {272, 46, 153, 35}, "Trim Games", false},
    {"DeleteSource", "PathPage", {272, 88, 153, 17}, "Delete source after trim", true},
    {"SafeTrim", "OptionsPage", {10, 10, 60, 17}, "Safe trim", true},
    {"TntLabel", "OptionsPage", {10, 36, 0, 0}, "Byte jump size:", false},
    {"TntLabel5", "OptionsPage", {212, 12, 0, 0}, "Append text:", false},
    {"TrimSceneNumber", "OptionsPage", {210, 34, 111, 17}, "Trim scene number", true},
    {"HeaderRomName", "OptionsPage", {210, 58, 151, 17}, "Use name in rom header", true},
    {"DatFileLabel", "OptionsPage", {10, 90, 0, 0}, "DAT file:", false},
    {"DatFileButton", "OptionsPage", {338, 85, 82, 23}, "Choose…", true},
    {"Link", "Form1", {132, 464, 316, 12}, nullptr, false},
};

QString TextOf(const QWidget* w) {
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        return label->text();
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
        return button->text();
    }
    return QString();
}

class ControlsTest : public WindowTest {};

}  // namespace

// Stands in for the desktop's opener of addresses.
class UrlRecorder : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> opened;
  public slots:
    void open(const QUrl& url) { opened << url; }
};

namespace {

TEST_F(ControlsTest, EveryControlHasItsNameParentPlaceAndText) {
    auto window = MakeWindow();
    EXPECT_EQ(window->objectName(), "Form1");
    EXPECT_EQ(window->windowTitle(), "Parevo v1.3 | NDS Rom Trimmer - 9.10.07");
    EXPECT_EQ(window->size(), QSize(461, 481));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window is not resizable";

    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.name);
        QWidget* w = Find<QWidget>(*window, row.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), row.parent);
        EXPECT_EQ(w->pos(), row.rect.topLeft());
        if (row.rect.width() == 0) {
            EXPECT_EQ(w->size(), w->sizeHint()) << "natural size";
        } else {
            EXPECT_EQ(w->height(), row.rect.height());
            if (row.growsToText) {
                EXPECT_EQ(w->width(), std::max(row.rect.width(), w->sizeHint().width()));
            } else {
                EXPECT_EQ(w->width(), row.rect.width());
            }
        }
        if (row.text != nullptr) {
            EXPECT_EQ(TextOf(w), QString::fromUtf8(row.text));
        }
    }

    // The two fields beside their labels: at their place, or just clear of a
    // label that the standing-in font made wider.
    auto* byteJump = Find<QSpinBox>(*window, "byteJump");
    auto* appendText = Find<QLineEdit>(*window, "AppendText");
    EXPECT_EQ(byteJump->y(), 30);
    EXPECT_GE(byteJump->x(), 86);
    EXPECT_EQ(byteJump->size(), QSize(73, 22));
    EXPECT_EQ(appendText->y(), 8);
    EXPECT_GE(appendText->x(), 276);
    EXPECT_EQ(appendText->size(), QSize(73, 21));
    auto* datFile = Find<QLineEdit>(*window, "DatFile");
    EXPECT_EQ(datFile->y(), 86);
    EXPECT_GE(datFile->x(), 60);
    EXPECT_EQ(datFile->size(), QSize(270, 21));
    EXPECT_LE(datFile->geometry().right(), Find<QWidget>(*window, "DatFileButton")->x());

    auto* pages = Find<QTabWidget>(*window, "OptionPages");
    ASSERT_EQ(pages->count(), 2);
    EXPECT_EQ(pages->widget(0)->objectName(), "PathPage");
    EXPECT_EQ(pages->tabText(0), "Basic Options");
    EXPECT_EQ(pages->widget(1)->objectName(), "OptionsPage");
    EXPECT_EQ(pages->tabText(1), "Advanced Options");
    EXPECT_EQ(pages->currentIndex(), 0);

    // The status line: right-aligned, its right edge at 438.
    auto* status = Find<QLabel>(*window, "ProgressText");
    EXPECT_EQ(status->text(), "drag & drop files above");
    EXPECT_EQ(status->parentWidget()->objectName(), "Panel");
    EXPECT_EQ(status->geometry().right() + 1, 438);
    EXPECT_EQ(status->y(), 194);
    EXPECT_EQ(status->height(), 13);
    EXPECT_TRUE(status->alignment() & Qt::AlignRight);

    // Non-visual parts.
    auto* timer = window->findChild<QTimer*>(QStringLiteral("Timer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 100);
    EXPECT_TRUE(timer->isActive());
    auto* menu = Find<QMenu>(*window, "RomsMenu");
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->objectName(), "ClearlistMenuItem");
    EXPECT_EQ(menu->actions()[0]->text(), "Clear list");
    EXPECT_TRUE(menu->actions()[0]->shortcut().isEmpty());
    EXPECT_EQ(menu->actions()[1]->objectName(), "RomInfoMenuItem");
    EXPECT_EQ(menu->actions()[1]->text(), "ROM information…");
    EXPECT_FALSE(window->Zip().ShowProgressDialog());
    EXPECT_TRUE(window->Rar().CanProgress());
    EXPECT_EQ(window->Rar().Mode(), RarMode::Extract);
    EXPECT_EQ(window->Rar().OverrideEvent(), OverridePolicy::Always);
    EXPECT_FALSE(window->Rar().PromptForPass());
    EXPECT_FALSE(window->Rar().PromptForVolumn());
}

TEST_F(ControlsTest, DefaultsAreThoseOfTheLayout) {
    auto window = MakeWindow();
    EXPECT_FALSE(Find<QCheckBox>(*window, "CustomPath")->isChecked());
    EXPECT_FALSE(Find<QTreeView>(*window, "Path")->isEnabled());
    EXPECT_TRUE(Find<QLabel>(*window, "PathText")->text().isEmpty());
    EXPECT_EQ(Find<Gauge>(*window, "Progress")->Progress(), 0);
    EXPECT_FALSE(Find<QPushButton>(*window, "TrimGames")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>(*window, "DeleteSource")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(*window, "SafeTrim")->isChecked());
    auto* byteJump = Find<QSpinBox>(*window, "byteJump");
    EXPECT_EQ(byteJump->value(), 500);
    EXPECT_EQ(byteJump->minimum(), 1);
    EXPECT_EQ(byteJump->maximum(), 2000);
    EXPECT_EQ(Find<QLineEdit>(*window, "AppendText")->text(), "_trim");
    EXPECT_FALSE(Find<QCheckBox>(*window, "TrimSceneNumber")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(*window, "HeaderRomName")->isChecked());
    EXPECT_EQ(Find<QListWidget>(*window, "DropGames")->count(), 0);
    EXPECT_EQ(Find<QListWidget>(*window, "Log")->count(), 0);
    // The options as the run reads them.
    const TrimOptions options = ToTrimOptions(*window);
    EXPECT_TRUE(options.SafeTrim);
    EXPECT_EQ(options.byteJump, 500);
    EXPECT_EQ(options.AppendText, "_trim");
    EXPECT_FALSE(options.CustomPath);
    EXPECT_FALSE(options.DeleteSource);
}

TEST_F(ControlsTest, FontsAreTheLayoutsOrTheDesktopsAtTheSamePointSize) {
    auto window = MakeWindow();
    EXPECT_EQ(window->font().pointSize(), 8);
    EXPECT_EQ(Find<QWidget>(*window, "DropGames")->font().pointSize(), 8);
    EXPECT_EQ(Find<QWidget>(*window, "TrimGames")->font().pointSize(), 10);
    const QFont link = Find<QLabel>(*window, "Link")->font();
    EXPECT_EQ(link.pointSize(), 8);
    EXPECT_TRUE(link.bold());
    EXPECT_TRUE(link.underline());
    // A missing family is not left to the font matcher's guess.
    const QFont standIn = UiFont(QStringLiteral("No Such Family 1234"), 9);
    EXPECT_EQ(standIn.family(), QGuiApplication::font().family());
    EXPECT_EQ(standIn.pointSize(), 9);
}

TEST_F(ControlsTest, NoTextIsClippedAndNoControlsOverlap) {
    auto window = MakeWindow();
    const QStringList pages{QStringLiteral("PathPage"), QStringLiteral("OptionsPage")};
    for (const QString& pageName : pages) {
        QWidget* page = window->findChild<QWidget*>(pageName);
        ASSERT_NE(page, nullptr);
        const QList<QWidget*> controls = page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* a : controls) {
            if (!TextOf(a).isEmpty()) {
                EXPECT_GE(a->width(), a->sizeHint().width()) << a->objectName().toStdString();
            }
            for (QWidget* b : controls) {
                if (a < b && a->objectName() != "PathText" && b->objectName() != "PathText") {
                    EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                        << a->objectName().toStdString() << " / " << b->objectName().toStdString();
                }
            }
        }
    }
    auto* link = Find<QLabel>(*window, "Link");
    EXPECT_LE(link->sizeHint().width(), link->width());
}

TEST_F(ControlsTest, HintsAreTheLayoutsLinesAndOnlyWhereGiven) {
    auto window = MakeWindow();
    EXPECT_EQ(Find<QWidget>(*window, "CustomPath")->toolTip(),
              "by default, roms are saved to the same directory\n"
              "they are trimmed from.  If you would like to use a\n"
              "custom directory, check this and pick a path.");
    EXPECT_EQ(Find<QWidget>(*window, "SafeTrim")->toolTip(),
              "leave extra space after the end of the rom\n"
              "to make sure overtrimming does not occur.  This\n"
              "acts as a second level of protection in addition\n"
              "to the already robust and safe trimming method.");
    EXPECT_EQ(Find<QWidget>(*window, "byteJump")->toolTip(),
              "\"jump\" distance while looking for game data in rom.\n"
              "The larger the jump used, the faster the game data\n"
              "will be found, but at the cost of less of a trim; approx.\n"
              "the size of the jump in bytes.");
    EXPECT_EQ(Find<QWidget>(*window, "AppendText")->toolTip(),
              "specify text to append to the end of the filename.\n"
              "If blank, the output file will overwrite the source\n"
              "unless you have specified a different directory to save to.");
    EXPECT_EQ(Find<QWidget>(*window, "TrimSceneNumber")->toolTip(),
              "trim scene number from the rom filename before saving.");
    for (const char* name : {"DeleteSource", "HeaderRomName", "DropGames", "Log", "TrimGames",
                             "Path", "Progress", "Link"}) {
        EXPECT_TRUE(Find<QWidget>(*window, name)->toolTip().isEmpty()) << name;
    }
}

TEST_F(ControlsTest, KeyboardOrderFollowsTheLayout) {
    auto window = MakeWindow();
    const QStringList expected{
        "Log",          "DropGames",  "OptionPages",     "Path",     "TrimGames", "CustomPath",
        "DeleteSource", "AppendText", "TrimSceneNumber", "SafeTrim", "byteJump",  "HeaderRomName",
        "Link"};
    QStringList chain;
    QWidget* w = Find<QWidget>(*window, "Log");
    for (int guard = 0; guard < 200 && w != nullptr; ++guard) {
        const QString name = w->objectName();
        if (expected.contains(name) && !chain.contains(name)) {
            chain << name;
        }
        w = w->nextInFocusChain();
        if (w == Find<QWidget>(*window, "Log")) {
            break;
        }
    }
    EXPECT_EQ(chain, expected);

    // And with the keys: Tab goes from the tree to the button, Shift+Tab back.
    FirstTick(*window);
    window->AddFiles({Q(Rom("a.nds"))});
    NextTick(*window);
    window->activateWindow();
    window->SetCustomPath(true);
    auto* path = Find<QWidget>(*window, "Path");
    path->setFocus();
    QTest::keyClick(path, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Find<QWidget>(*window, "TrimGames"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), path);
}

TEST_F(ControlsTest, EveryControlHasANameForScreenReaders) {
    auto window = MakeWindow();
    for (const char* name :
         {"DropGames", "Log", "ProgressText", "CustomPath", "Path", "Progress", "TrimGames",
          "DeleteSource", "SafeTrim", "byteJump", "AppendText", "TrimSceneNumber", "HeaderRomName",
          "Link", "TntLabel3", "TntLabel2", "TntLabel", "TntLabel5", "OptionPages"}) {
        QAccessibleInterface* a =
            QAccessible::queryAccessibleInterface(Find<QWidget>(*window, name));
        ASSERT_NE(a, nullptr) << name;
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << name;
    }
    QAccessibleInterface* box =
        QAccessible::queryAccessibleInterface(Find<QWidget>(*window, "CustomPath"));
    EXPECT_TRUE(box->text(QAccessible::Name).contains("output folder"));
    // The entries, their marks and the log lines reach the reader.
    window->AddFiles({Q(dir / "a.nds")});
    window->AddLog("a line");
    QAccessibleInterface* list =
        QAccessible::queryAccessibleInterface(Find<QWidget>(*window, "DropGames"));
    ASSERT_GT(list->childCount(), 0);
    QAccessibleInterface* entry = list->child(0);
    EXPECT_EQ(entry->text(QAccessible::Name), "a.nds");
    EXPECT_TRUE(entry->state().checkable);
    EXPECT_FALSE(entry->state().checked);
    QAccessibleInterface* log =
        QAccessible::queryAccessibleInterface(Find<QWidget>(*window, "Log"));
    ASSERT_GT(log->childCount(), 0);
    EXPECT_EQ(log->child(0)->text(QAccessible::Name), "a line");
}

TEST_F(ControlsTest, TheLinkLooksLikeOneAndOpensTheAddress) {
    auto window = MakeWindow();
    auto* link = Find<QLabel>(*window, "Link");
    EXPECT_TRUE(link->text().startsWith("Parevo v1.3"));
    EXPECT_TRUE(link->text().endsWith("(click for website)"));
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_TRUE(link->autoFillBackground());

    // The desktop's opener, replaced for the address's scheme.
    UrlRecorder opener;
    const QString scheme = QUrl(MainWindow::WebsiteUrl()).scheme();
    QDesktopServices::setUrlHandler(scheme, &opener, "open");
    QTest::mouseClick(link, Qt::LeftButton);
    // Without a mouse: Return or Space on the focused link.
    QTest::keyClick(link, Qt::Key_Return);
    QTest::keyClick(link, Qt::Key_Space);
    QTest::keyClick(link, Qt::Key_A);  // any other key does nothing
    QDesktopServices::unsetUrlHandler(scheme);
    ASSERT_EQ(opener.opened.size(), 3);
    EXPECT_EQ(opener.opened[0], QUrl(MainWindow::WebsiteUrl()));
    EXPECT_EQ(opener.opened[2], QUrl(MainWindow::WebsiteUrl()));
    EXPECT_EQ(link->focusPolicy(), Qt::TabFocus);
}

// ---- Start and close ----------------------------------------------------------------

class StartTest : public WindowTest {
  protected:
    std::string SettingsFile() { return exe / "data/settings.xml"; }
};

TEST_F(StartTest, PreferencesLoadOnTheFirstTickThenThePagesShow) {
    auto window = MakeWindow();
    auto* pages = Find<QWidget>(*window, "OptionPages");
    auto* loading = Find<QLabel>(*window, "Label10");
    EXPECT_TRUE(BeforeFirstTick(*window));
    EXPECT_FALSE(pages->isVisible());
    EXPECT_TRUE(loading->isVisible());
    EXPECT_FALSE(fs::exists(exe / "data"));

    FirstTick(*window);
    EXPECT_TRUE(pages->isVisible());
    EXPECT_TRUE(
        pages->geometry().contains(loading->geometry().translated(loading->parentWidget()->pos())))
        << "the pages cover the loading text";
    EXPECT_TRUE(fs::is_directory(exe / "data")) << "made at the first tick";
    ASSERT_NE(window->LoadedAppManager(), nullptr);
    EXPECT_EQ(window->LoadedAppManager()->SettingsFile(), SettingsFile());
    // The hint delays the preferences set.
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 500);
    EXPECT_EQ(window->HintShortPause(), 1);
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(StartTest, TrimGamesFollowsTheListOnTheTicks) {
    auto window = MakeWindow();
    auto* button = Find<QPushButton>(*window, "TrimGames");
    FirstTick(*window);
    EXPECT_FALSE(button->isEnabled());
    window->AddFiles({Q(dir / "a.nds")});
    NextTick(*window);
    EXPECT_TRUE(button->isEnabled());
    Find<QMenu>(*window, "RomsMenu")->actions()[0]->trigger();
    NextTick(*window);
    EXPECT_FALSE(button->isEnabled());
}

TEST_F(StartTest, ALoadErrorIsShownOnceAndTheStartGoesOn) {
    fs::create_directories(exe / "data");
    WriteText(SettingsFile(),
              "<settings>\r\n <bytejump value=\"42\" />\r\n <safetrim value=\"yes\" />\r\n"
              " <append value=\"_x\" />\r\n</settings>\r\n");
    auto window = MakeWindow();
    FirstTick(*window);
    for (int i = 0; i < 3; ++i) {
        NextTick(*window);
    }
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text,
              "Could not convert variant of type (String) into type (Boolean)\n\nSettings file: " +
                  SettingsFile());
    EXPECT_EQ(prompter.messages[0].caption, "Parevo");
    EXPECT_EQ(prompter.messages[0].buttons, DialogButtons::Ok);
    // What came before the bad value stands; the rest keeps the defaults.
    EXPECT_EQ(window->ByteJump(), 42);
    EXPECT_EQ(window->AppendText(), "_trim");
    EXPECT_TRUE(Find<QWidget>(*window, "OptionPages")->isVisible());
    EXPECT_FALSE(BeforeFirstTick(*window));
}

TEST_F(StartTest, AFileThatCouldNotBeReadIsReplacedAtCloseOnlyWhenTheUserSaysSo) {
    fs::create_directories(exe / "data");
    const std::string broken =
        "<settings>\r\n <safetrim value=\"yes\" />\r\n <append value=\"_mine\" "
        "/>\r\n</settings>\r\n";
    for (const DialogResult answer : {DialogResult::No, DialogResult::Yes}) {
        WriteText(SettingsFile(), broken);
        prompter.messages.clear();
        auto window = MakeWindow();
        FirstTick(*window);
        prompter.answer = answer;
        EXPECT_TRUE(window->close());
        ASSERT_EQ(prompter.messages.size(), 2u);
        EXPECT_EQ(prompter.messages[1].buttons, DialogButtons::YesNo);
        EXPECT_NE(prompter.messages[1].text.find(SettingsFile()), std::string::npos);
        if (answer == DialogResult::No) {
            EXPECT_EQ(ReadText(SettingsFile()), broken) << "the user's file is kept as it was";
        } else {
            EXPECT_NE(ReadText(SettingsFile()).find("_trim"), std::string::npos);
        }
        prompter.answer = DialogResult::Ok;
    }
}

TEST_F(StartTest, AnOutputFolderThatIsNotThereStaysChosenAndIsSavedBack) {
    // The settings name a folder on a stick that is not plugged in.
    fs::create_directories(exe / "data");
    const std::string gone = dir / "usb-stick/trimmed";
    WriteText(SettingsFile(), "<settings>\r\n <checked value=\"True\" />\r\n <directory value=\"" +
                                  gone + "\" />\r\n <append value=\"\" />\r\n</settings>\r\n");
    auto window = MakeWindow();
    FirstTick(*window);
    NextTick(*window);
    EXPECT_TRUE(window->CustomPath());
    EXPECT_EQ(window->PathFolder(), gone);
    EXPECT_EQ(Find<QLabel>(*window, "PathText")->text(), Q("Save Path: " + gone));
    EXPECT_FALSE(Find<QTreeView>(*window, "Path")->currentIndex().isValid());

    // A run says so and cuts nothing: no fall-back to the source's folder.
    const std::string rom = Rom("game.nds");
    const auto before = ReadBytes(rom);
    window->AddFiles({Q(rom)});
    NextTick(*window);
    Find<QPushButton>(*window, "TrimGames")->click();
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, "output folder \"" + gone + "\" does not exist");
    EXPECT_EQ(ReadBytes(rom), before);

    // The close writes the folder back as it was named.
    EXPECT_TRUE(window->close());
    EXPECT_NE(ReadText(SettingsFile()).find(gone), std::string::npos);

    // Once the user picks a folder in the tree, that one is the output folder.
    auto again = MakeWindow();
    FirstTick(*again);
    again->SelectFolder(dir.Path());
    EXPECT_EQ(again->PathFolder(), dir.Path());
}

TEST_F(StartTest, ACloseBeforeTheFirstTickLeavesTheSettingsFileAlone) {
    fs::create_directories(exe / "data");
    const std::string before = "<settings>\r\n <append value=\"_kept\" />\r\n</settings>\r\n";
    WriteText(SettingsFile(), before);
    auto window = MakeWindow();
    ASSERT_TRUE(BeforeFirstTick(*window));
    EXPECT_TRUE(window->close());
    EXPECT_EQ(ReadText(SettingsFile()), before);
    EXPECT_TRUE(prompter.messages.empty());
    // And no tick comes after the close to load anything.
    QTest::qWait(250);
    EXPECT_TRUE(BeforeFirstTick(*window));
}

TEST_F(StartTest, ACloseSavesAndAFailedSaveKeepsTheWindowOpen) {
    auto window = MakeWindow();
    FirstTick(*window);
    // A folder where the file should be: the save cannot replace it.
    fs::create_directories(SettingsFile());
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_NE(prompter.messages[0].text.find("settings.xml"), std::string::npos)
        << prompter.messages[0].text;
    EXPECT_NE(window->LoadedAppManager(), nullptr);

    // A further close tries again.
    fs::remove(SettingsFile());
    EXPECT_TRUE(window->close());
    EXPECT_EQ(window->LoadedAppManager(), nullptr);
    const std::string written = ReadText(SettingsFile());
    EXPECT_EQ(written.substr(0, 24), "<settings>\r\n <directory ");
    EXPECT_NE(written.find(" <append value=\"_trim\" />\r\n</settings>\r\n"), std::string::npos);
}

TEST_F(StartTest, OptionsSurviveARestartAndTheCommandLineReadsTheSameFile) {
    const std::string out = dir / "out";
    fs::create_directories(out);
    {
        auto window = MakeWindow();
        FirstTick(*window);
        window->SetSafeTrim(false);
        window->SetTrimSceneNumber(true);
        window->SetHeaderRomName(true);
        window->SetDeleteSource(true);
        window->SetByteJump(1234);
        window->SetAppendText("_small");
        window->SelectFolder(out);
        window->SetCustomPath(true);
        ASSERT_TRUE(window->close());
    }
    {
        auto window = MakeWindow();
        FirstTick(*window);
        EXPECT_FALSE(window->SafeTrim());
        EXPECT_TRUE(window->TrimSceneNumber());
        EXPECT_TRUE(window->HeaderRomName());
        EXPECT_TRUE(window->DeleteSource());
        EXPECT_EQ(window->ByteJump(), 1234);
        EXPECT_EQ(window->AppendText(), "_small");
        EXPECT_TRUE(window->CustomPath());
        EXPECT_EQ(window->PathFolder(), out);
        EXPECT_TRUE(Find<QWidget>(*window, "Path")->isEnabled());
        window->close();
    }
    // parevo-cli takes its defaults from that file.
    RomBuilder().Title("SOMEGAME").DataUpTo(8600).PadTo(10000).WriteTo(dir / "0042 - Game.nds");
    QProcess cli;
    cli.setWorkingDirectory(Q(dir.Path()));
    cli.start(QStringLiteral(PAREVO_BIN_DIR "/parevo-cli"),
              {"--settings", Q(exe / "data/settings.xml"), "--keep-source", "--dry-run",
               "0042 - Game.nds"});
    ASSERT_TRUE(cli.waitForFinished(30000));
    const QString printed = QString::fromUtf8(cli.readAllStandardOutput());
    EXPECT_TRUE(printed.contains(Q(out + "/SOMEGAME_small.nds"))) << printed.toStdString();
}

// ---- ROM list and log ------------------------------------------------------------

class ListTest : public WindowTest {
  protected:
    static QStringList Texts(const QListWidget* list) {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i) {
            texts << list->item(i)->text();
        }
        return texts;
    }
    static int Marked(const QListWidget* list) {
        int n = 0;
        for (int i = 0; i < list->count(); ++i) {
            n += list->item(i)->checkState() == Qt::Checked ? 1 : 0;
        }
        return n;
    }
    static int Selected(const QListWidget* list) {
        const auto items = list->selectedItems();
        return items.isEmpty() ? -1 : list->row(items.first());
    }
};

TEST_F(ListTest, DropsAddOneUntickedEntryPerPathInOrder) {
    auto window = MakeWindow();
    auto* list = Find<QListWidget>(*window, "DropGames");
    fs::create_directories(dir / "a folder");
    const std::string longName = std::string(300, 'n') + ".nds";
    const std::string deep = dir / (std::string(120, 'd') + "/" + std::string(120, 'e'));
    const QStringList paths{Q(dir / "b.nds"),          Q(dir / "a.zip"), Q(dir / "notes.txt"),
                            Q(dir / "a folder"),       Q(dir / "b.nds"), Q(deep + "/" + longName),
                            Q(dir / "späť ゲーム.nds")};
    // Dropped anywhere: on the window, over the list, over the option pages.
    Drop(*window, paths.mid(0, 3), QPoint(200, 100));
    Drop(*window, paths.mid(3), QPoint(200, 400));

    EXPECT_EQ(Texts(list), (QStringList{"b.nds", "a.zip", "notes.txt", "a folder", "b.nds",
                                        Q(longName), "späť ゲーム.nds"}));
    for (int i = 0; i < list->count(); ++i) {
        EXPECT_EQ(window->EntryPath(i), paths[i].toStdString()) << "kept whole";
        EXPECT_EQ(list->item(i)->checkState(), Qt::Unchecked);
    }
    EXPECT_EQ(Selected(list), -1) << "a drop selects nothing";
    EXPECT_TRUE(Find<QListWidget>(*window, "Log")->count() == 0) << "and writes no log line";

    // A drop on a control is the window's: no control takes drops itself.
    for (QWidget* w : window->findChildren<QWidget*>()) {
        EXPECT_FALSE(w->acceptDrops())
            << w->objectName().toStdString() << " " << w->metaObject()->className();
    }
    // Only local files count.
    Drop(*window, {QStringLiteral("https://example.org/x.nds")});
    EXPECT_EQ(list->count(), 7);
}

TEST_F(ListTest, ADropKeepsTheMarksOfTheEntriesThere) {
    auto window = MakeWindow();
    auto* list = Find<QListWidget>(*window, "DropGames");
    window->AddFiles({Q(Rom("a.nds"))});
    window->TrimGames();
    ASSERT_EQ(Marked(list), 1);
    Drop(*window, {Q(dir / "b.nds")});
    EXPECT_EQ(list->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(list->item(1)->checkState(), Qt::Unchecked);
}

TEST_F(ListTest, TheDeleteKeyRemovesTheSelectedEntryAndSelectsTheOneAbove) {
    auto window = MakeWindow();
    auto* list = Find<QListWidget>(*window, "DropGames");
    window->AddFiles({"/r/1.nds", "/r/2.nds", "/r/3.nds", "/r/4.nds", "/r/5.nds"});

    list->setCurrentRow(2);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(Texts(list), (QStringList{"1.nds", "2.nds", "4.nds", "5.nds"}));
    EXPECT_EQ(Selected(list), 1);

    // The first: the new first entry is selected.
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(Texts(list), (QStringList{"2.nds", "4.nds", "5.nds"}));
    EXPECT_EQ(Selected(list), 0);

    // Nothing selected: nothing is removed and nothing becomes selected.
    list->clearSelection();
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(Selected(list), -1);

    // The Down key moves the selection like in any list.
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(Selected(list), 1);

    // The only entry: the list ends empty, nothing selected.
    list->clear();
    window->AddFiles({"/r/only.nds"});
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(Selected(list), -1);
}

TEST_F(ListTest, AnyToggleByTheUserClearsEveryMark) {
    auto window = MakeWindow();
    auto* list = Find<QListWidget>(*window, "DropGames");
    window->AddFiles({Q(Rom("a.nds")), Q(Rom("b.nds")), Q(Rom("c.nds"))});
    window->TrimGames();
    ASSERT_EQ(Marked(list), 3);

    // The space bar on the selected entry toggles its box: off, and so are all.
    list->setFocus();
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(Marked(list), 0);

    // Ticking an unticked box cannot set a mark either.
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(Marked(list), 0);

    // A click on a box, as the mouse gives it.
    window->TrimGames();
    ASSERT_EQ(Marked(list), 3);
    const QRect row = list->visualItemRect(list->item(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(row.left() + 9, row.center().y()));
    EXPECT_EQ(Marked(list), 0);
}

TEST_F(ListTest, ClearListEmptiesTheListAndLeavesTheLog) {
    auto window = MakeWindow();
    auto* list = Find<QListWidget>(*window, "DropGames");
    auto* menu = Find<QMenu>(*window, "RomsMenu");
    QAction* clear = menu->actions()[0];
    clear->trigger();
    EXPECT_EQ(list->count(), 0);

    window->AddFiles({"/r/1.nds", "/r/2.nds"});
    window->AddLog("kept");
    // The menu is the list's context menu.
    emit list->customContextMenuRequested(QPoint(10, 10));
    EXPECT_TRUE(WaitUntil([&] { return menu->isVisible(); }));
    menu->hide();
    clear->trigger();
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(Find<QListWidget>(*window, "Log")->count(), 1);
}

TEST_F(ListTest, AddLogAppendsAndShowsTheNewestLine) {
    auto window = MakeWindow();
    auto* log = Find<QListWidget>(*window, "Log");
    for (int i = 1; i <= 40; ++i) {
        window->AddLog("line " + std::to_string(i) + " ä");
        ASSERT_EQ(log->count(), i);
        EXPECT_EQ(Selected(log), i - 1);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(log->item(39)->text(), "line 40 ä");
    const QRect last = log->visualItemRect(log->item(39));
    EXPECT_TRUE(log->viewport()->rect().contains(last)) << "the last line is in view";
    EXPECT_FALSE(log->viewport()->rect().intersects(log->visualItemRect(log->item(0))));
}

TEST_F(ListTest, CommandLineFilesAreFullPathsInOrder) {
    EXPECT_EQ(CommandLinePaths({"a.nds", "/abs/b.zip", "../c.rar", ""}, "/home/u/roms"),
              (QStringList{"/home/u/roms/a.nds", "/abs/b.zip", "/home/u/c.rar"}));
}

// ---- The byte jump field -------------------------------------------------------------

class ByteJumpTest : public WindowTest {
  protected:
    void SetUp() override {
        window = MakeWindow();
        FirstTick(*window);
        Find<QTabWidget>(*window, "OptionPages")->setCurrentIndex(1);
        window->activateWindow();
        box = Find<ByteJumpBox>(*window, "byteJump");
        box->Beep = [this] { ++beeps; };
        other = Find<QLineEdit>(*window, "AppendText");
    }
    // Types into the emptied field, then leaves it.
    void TypeAndLeave(const QString& typed) {
        box->setFocus();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, typed);
        other->setFocus();
    }
    QString Shown() const { return box->findChild<QLineEdit*>()->text(); }

    std::unique_ptr<MainWindow> window;
    ByteJumpBox* box = nullptr;
    QLineEdit* other = nullptr;
    int beeps = 0;
};

TEST_F(ByteJumpTest, ATypedNumberIsBroughtIntoRangeWhenTheFieldIsLeft) {
    TypeAndLeave("0");
    EXPECT_EQ(Shown(), "1");
    EXPECT_EQ(window->ByteJump(), 1);
    TypeAndLeave("2001");
    EXPECT_EQ(Shown(), "2000");
    EXPECT_EQ(window->ByteJump(), 2000);
    TypeAndLeave("-5");
    EXPECT_EQ(window->ByteJump(), 1);
    TypeAndLeave("+42");
    EXPECT_EQ(window->ByteJump(), 42);
    TypeAndLeave("");
    EXPECT_EQ(window->ByteJump(), 1) << "an empty field reads as 1";
    EXPECT_EQ(Shown(), "1");
    EXPECT_EQ(beeps, 0);
}

TEST_F(ByteJumpTest, WhileTypingTheFieldReadsAsTyped) {
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "2500");
    EXPECT_EQ(window->ByteJump(), 2500) << "not yet brought into range";
    EXPECT_EQ(ToTrimOptions(*window).byteJump, 2000) << "the run never sees it out of range";
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(window->ByteJump(), 1) << "no number reads as 1";
}

TEST_F(ByteJumpTest, OtherCharactersAreRefusedWithABeep) {
    const QString decimal = box->locale().decimalPoint();
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "1a2 x");
    EXPECT_EQ(Shown(), "12");
    EXPECT_EQ(beeps, 3);
    QTest::keyClicks(box, decimal + "5");
    EXPECT_EQ(Shown(), "12" + decimal + "5") << "the decimal separator is taken";
    EXPECT_EQ(beeps, 3);
    EXPECT_EQ(window->ByteJump(), 1) << "and a fraction is no whole number";
    // Editing keys are not characters to refuse.
    QTest::keyClick(box, Qt::Key_Home);
    QTest::keyClick(box, Qt::Key_Delete);
    EXPECT_EQ(beeps, 3);
}

TEST_F(ByteJumpTest, ArrowsAndTheProgramStayInRange) {
    window->SetByteJump(1999);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(window->ByteJump(), 2000);
    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(window->ByteJump(), 2000) << "Up at 2000 stays";
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(window->ByteJump(), 1999);
    window->SetByteJump(5000);
    EXPECT_EQ(Shown(), "2000");
    window->SetByteJump(0);
    EXPECT_EQ(Shown(), "1");
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(window->ByteJump(), 1);
    // Set by the program while something out of range is typed: shown set.
    box->selectAll();
    QTest::keyClicks(box, "9999");
    window->SetByteJump(500);
    EXPECT_EQ(Shown(), "500");
}

// ---- Output folder ----------------------------------------------------------------

class FolderTest : public WindowTest {};

TEST_F(FolderTest, TheBoxEnablesTheTreeAndTheLabelFollowsOnTheNextTick) {
    auto window = MakeWindow();
    FirstTick(*window);
    auto* box = Find<QCheckBox>(*window, "CustomPath");
    auto* tree = Find<QTreeView>(*window, "Path");
    auto* label = Find<QLabel>(*window, "PathText");
    NextTick(*window);
    EXPECT_EQ(label->text(), "Currently using rom location for output path.");
    EXPECT_FALSE(tree->isEnabled());
    // The start folder is the Desktop.
    const QString desktop = QDir::homePath() + "/Desktop";
    EXPECT_EQ(Q(window->PathFolder()), desktop);

    box->click();
    EXPECT_TRUE(tree->isEnabled()) << "at once";
    NextTick(*window);
    EXPECT_EQ(label->text(), "Save Path: " + desktop);
    EXPECT_EQ(label->size(), label->sizeHint());

    // Another folder: the label follows.
    const std::string chosen = dir / "out folder";
    fs::create_directories(chosen);
    window->SelectFolder(chosen);
    NextTick(*window);
    EXPECT_EQ(label->text(), "Save Path: " + Q(chosen));
    EXPECT_EQ(tree->currentIndex().data().toString(), "out folder");
    EXPECT_TRUE(tree->isExpanded(tree->currentIndex().parent())) << "its ancestors are open";
    EXPECT_TRUE(WaitUntil([&] {
        return tree->viewport()->rect().intersects(tree->visualRect(tree->currentIndex()));
    })) << "and it is scrolled into view";

    // Off and on again: the same folder, kept while the tree was disabled.
    box->click();
    EXPECT_FALSE(tree->isEnabled());
    NextTick(*window);
    EXPECT_EQ(label->text(), "Currently using rom location for output path.");
    box->click();
    NextTick(*window);
    EXPECT_EQ(label->text(), "Save Path: " + Q(chosen));

    // The root of the file system is a folder like any other.
    window->SelectFolder("/");
    NextTick(*window);
    EXPECT_EQ(label->text(), "Save Path: /");
}

TEST_F(FolderTest, TheTreeShowsFoldersOnlyFromTheRootDown) {
    auto window = MakeWindow();
    auto* tree = Find<QTreeView>(*window, "Path");
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    ASSERT_NE(model, nullptr);
    fs::create_directories(dir / "sub");
    WriteText(dir / "file.nds", "x");
    const QModelIndex folder = model->index(Q(dir.Path()));
    ASSERT_TRUE(WaitUntil([&] {
        model->fetchMore(folder);
        return model->rowCount(folder) >= 1;
    }));
    QTest::qWait(100);
    ASSERT_EQ(model->rowCount(folder), 1);
    EXPECT_EQ(model->index(0, 0, folder).data().toString(), "sub");
    // The top is the root of the file system, open; home and Desktop lie below.
    ASSERT_EQ(model->rowCount(tree->rootIndex()), 1);
    const QModelIndex top = model->index(0, 0, tree->rootIndex());
    EXPECT_EQ(model->filePath(top), "/");
    EXPECT_TRUE(tree->isExpanded(top));
    EXPECT_FALSE(tree->rootIsDecorated());
    EXPECT_EQ(tree->indentation(), 19);
    EXPECT_FALSE(model->isReadOnly()) << "folders can be renamed in place";
}

TEST_F(FolderTest, AFolderThatIsGoneIsNotSelected) {
    auto window = MakeWindow();
    const std::string before = window->PathFolder();
    window->SelectFolder(dir / "never made");
    EXPECT_EQ(window->PathFolder(), before);
}

}  // namespace
}  // namespace parevo::test

#include "main_window_test.moc"

// "Trim Games" over real files and archives, read by the real extraction
// libraries; what the window shows while and after it runs; and the same
// files and log lines as parevo-cli for the same input.
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <map>

#include "app/widgets.h"
#include "app/window_fixture.h"
#include "support/rar_builder.h"
#include "support/zip_builder.h"

namespace parevo::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> RomBytes(const std::string& title, std::int64_t dataEnd = 8600,
                                   std::int64_t size = 10000) {
    return RomBuilder().Title(title).DataUpTo(dataEnd).PadTo(size).Build();
}

std::string AsText(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Every text the status line shows, in the order it was painted (by the label,
// or by the panel under it when the text went blank).
class PaintedTexts : public QObject {
  public:
    explicit PaintedTexts(QLabel* label) : m_label(label) {
        label->installEventFilter(this);
        label->parentWidget()->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint &&
            (texts.isEmpty() || texts.back() != m_label->text())) {
            texts << m_label->text();
            rightEdges << m_label->geometry().right() + 1;
        }
        return false;
    }
    QStringList texts;
    QList<int> rightEdges;

  private:
    QLabel* m_label;
};

class RunTest : public WindowTest {
  protected:
    void SetUp() override {
        window = MakeWindow();
        FirstTick(*window);
        list = Find<QListWidget>(*window, "DropGames");
        log = Find<QListWidget>(*window, "Log");
        gauge = Find<Gauge>(*window, "Progress");
    }

    QStringList Lines() const {
        QStringList lines;
        for (int i = 0; i < log->count(); ++i) {
            lines << log->item(i)->text();
        }
        return lines;
    }
    std::vector<bool> Marks() const {
        std::vector<bool> marks;
        for (int i = 0; i < list->count(); ++i) {
            marks.push_back(list->item(i)->checkState() == Qt::Checked);
        }
        return marks;
    }
    std::string ZipWithoutRom(const std::string& name) {
        ZipBuilder().Stored("readme.txt", "hello").WriteTo(dir / name);
        return dir / name;
    }
    std::string ZipWithRom(const std::string& name, const std::string& member) {
        ZipBuilder().Deflated(member, AsText(RomBytes("ZIPPED"))).WriteTo(dir / name);
        return dir / name;
    }

    std::unique_ptr<MainWindow> window;
    QListWidget* list = nullptr;
    QListWidget* log = nullptr;
    Gauge* gauge = nullptr;
};

TEST_F(RunTest, AZipWithoutARomInTheMiddleIsMarkedAndCountedLikeTheOthers) {
    window->AddFiles({Q(Rom("a.nds")), Q(ZipWithoutRom("empty.zip")), Q(Rom("c.nds"))});
    auto* status = Find<QLabel>(*window, "ProgressText");
    window->TrimGames();

    EXPECT_EQ(Marks(), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(gauge->MaxValue(), 3);
    EXPECT_EQ(gauge->Progress(), 3);
    EXPECT_EQ(gauge->text(), "100%");
    const QStringList lines = Lines();
    ASSERT_EQ(lines.size(), 5) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("rom (a.nds) 1 of 3 -> trimming 2kb (20.00%), searched in "));
    EXPECT_TRUE(lines[1].startsWith("rom 1 of 3 -> saved a_trim.nds to disk in "));
    EXPECT_EQ(lines[2], "rom (empty.zip) 2 of 3 -> no nds file found in zip; aborting..");
    EXPECT_TRUE(lines[3].startsWith("rom (c.nds) 3 of 3 -> trimming "));
    EXPECT_TRUE(lines[4].startsWith("rom 3 of 3 -> saved c_trim.nds to disk in "));
    EXPECT_EQ(ReadBytes(dir / "a_trim.nds").size(), 9100u);
    EXPECT_EQ(ReadBytes(dir / "c_trim.nds").size(), 9100u);
    EXPECT_EQ(list->count(), 3) << "kept without DeleteSource";
    EXPECT_EQ(status->text(), "trim complete, file saved.");
    EXPECT_EQ(status->geometry().right() + 1, 438);
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(RunTest, MarksAreClearedAtTheStartAndSetEntryByEntry) {
    window->AddFiles({Q(Rom("a.nds")), Q(Rom("b.nds")), Q(Rom("c.nds"))});
    window->TrimGames();
    ASSERT_EQ(Marks(), (std::vector<bool>{true, true, true}));

    // What the list and the gauge show when each log line arrives.
    std::vector<std::vector<bool>> marksAtLine;
    std::vector<int> gaugeAtLine;
    QObject::connect(log->model(), &QAbstractItemModel::rowsInserted, [&] {
        marksAtLine.push_back(Marks());
        gaugeAtLine.push_back(gauge->Progress());
    });
    log->clear();
    window->TrimGames();
    ASSERT_EQ(marksAtLine.size(), 6u);
    EXPECT_EQ(marksAtLine[0], (std::vector<bool>{false, false, false}));
    EXPECT_EQ(marksAtLine[2], (std::vector<bool>{true, false, false}));
    EXPECT_EQ(marksAtLine[4], (std::vector<bool>{true, true, false}));
    EXPECT_EQ(gaugeAtLine, (std::vector<int>{0, 0, 1, 1, 2, 2}));
    EXPECT_EQ(Marks(), (std::vector<bool>{true, true, true}));
}

TEST_F(RunTest, AnErrorEndsTheRunAtItsEntryAndIsShownInABoxWithOk) {
    window->SetDeleteSource(true);
    window->AddFiles({Q(Rom("a.nds")), Q(dir / "missing.nds"), Q(Rom("c.nds"))});
    window->TrimGames();

    EXPECT_EQ(Marks(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(gauge->MaxValue(), 3);
    EXPECT_EQ(gauge->Progress(), 1);
    EXPECT_EQ(list->count(), 3) << "not emptied, even with DeleteSource";
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].caption, "Parevo");
    EXPECT_EQ(prompter.messages[0].buttons, DialogButtons::Ok);
    EXPECT_EQ(prompter.messages[0].icon, DialogIcon::Error);
    EXPECT_NE(prompter.messages[0].text.find("missing.nds"), std::string::npos)
        << prompter.messages[0].text;
    EXPECT_FALSE(fs::exists(dir / "c_trim.nds")) << "later entries are not processed";
    EXPECT_TRUE(fs::exists(dir / "c.nds"));
    EXPECT_FALSE(window->Running());

    // The window stays usable, and the next run starts from the first entry.
    delete list->takeItem(1);
    Rom("a.nds");  // the first run sent it to the trash
    window->SetDeleteSource(false);
    window->TrimGames();
    EXPECT_EQ(Marks(), (std::vector<bool>{true, true}));
    EXPECT_EQ(gauge->Progress(), 2);
}

TEST_F(RunTest, DeleteSourceEmptiesTheListAfterARunThatReachedItsEnd) {
    WriteText(dir / "notes.txt", "not a rom");
    window->AddFiles({Q(Rom("a.nds")), Q(dir / "notes.txt"), Q(Rom("b.nds"))});
    window->SetDeleteSource(true);
    window->TrimGames();
    EXPECT_EQ(list->count(), 0) << "every entry goes, the passed-over one included";
    EXPECT_EQ(gauge->Progress(), 3);
    EXPECT_FALSE(fs::exists(dir / "a.nds"));
    EXPECT_FALSE(fs::exists(dir / "b.nds"));
    EXPECT_TRUE(fs::exists(dir / "notes.txt"));
    EXPECT_TRUE(fs::exists(dir / "a_trim.nds"));
    const std::string trash = std::string(std::getenv("XDG_DATA_HOME")) + "/Trash/files";
    EXPECT_TRUE(fs::exists(trash + "/a.nds")) << "moved to the trash, not deleted";
    EXPECT_TRUE(Lines().contains("rom 3 of 3 -> deleted b.nds"));
}

TEST_F(RunTest, AnEmptyListGivesAGaugeOf0Of0AndNoLogLine) {
    window->TrimGames();
    EXPECT_EQ(gauge->MaxValue(), 0);
    EXPECT_EQ(gauge->Progress(), 0);
    EXPECT_EQ(gauge->text(), "0%") << "an empty bar, not a busy indicator";
    EXPECT_EQ(log->count(), 0);
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(RunTest, TheStatusLineShowsEachTextAtOnceWithItsRightEdgeFixed) {
    auto* status = Find<QLabel>(*window, "ProgressText");
    PaintedTexts painted(status);
    // A long padding and a small jump: the search reports as it goes.
    RomBuilder().Title("BIG").DataUpTo(4000).PadTo(400000).WriteTo(dir / "big.nds");
    ZipWithRom("pack.zip", "game.nds");
    RarBuilder()
        .AddText("readme.txt", "hi")
        .AddFile("inner.nds", RomBytes("RARRED"))
        .WriteTo(dir / "pack.rar");
    window->AddFiles({Q(dir / "big.nds"), Q(dir / "pack.zip"), Q(dir / "pack.rar")});
    window->SetByteJump(7);
    window->TrimGames();
    ASSERT_TRUE(prompter.messages.empty()) << prompter.messages[0].text;

    const QStringList& t = painted.texts;
    // The search's count shows as it starts (later counts at most once a frame).
    EXPECT_TRUE(t.contains("7 bytes jumped. sanity check: $FF $FF $FF"))
        << t.join('|').toStdString();
    EXPECT_TRUE(t.contains("saving to disk..."));
    EXPECT_TRUE(t.contains("trim complete, file saved."));
    EXPECT_TRUE(t.contains("extracting .nds file... ")) << "the zip's text, one blank at the end";
    EXPECT_TRUE(t.contains("extracting .nds file...")) << "the RAR component's text";
    EXPECT_TRUE(t.contains("")) << "the RAR component blanks it around opening and closing";
    for (int edge : painted.rightEdges) {
        EXPECT_EQ(edge, 438);
    }
    // Both archives were extracted and their ROMs trimmed beside them.
    EXPECT_TRUE(fs::exists(dir / "game_trim.nds"));
    EXPECT_TRUE(fs::exists(dir / "inner_trim.nds"));
    EXPECT_TRUE(Lines().contains("rom (pack.rar) 3 of 3 -> found .nds file.."));
}

TEST_F(RunTest, AnEncryptedZipMemberAsksForItsPasswordMasked) {
    ZipMember member;
    member.name = "secret.nds";
    const auto rom = RomBytes("SECRET");
    member.data.assign(rom.begin(), rom.end());
    member.password = "pw";
    ZipBuilder().Add(member).WriteTo(dir / "locked.zip");
    prompter.textAnswer = InputResult{true, "pw"};
    window->AddFiles({Q(dir / "locked.zip")});
    window->TrimGames();
    ASSERT_FALSE(prompter.questions.empty());
    EXPECT_TRUE(prompter.questions[0].masked);
    EXPECT_EQ(prompter.questions[0].caption, "Parevo");
    EXPECT_TRUE(fs::exists(dir / "secret_trim.nds"));
}

TEST_F(RunTest, AnArchiveThatIsGoneIsAnErrorAndNoFileIsMade) {
    window->AddFiles({Q(dir / "gone.zip")});
    window->TrimGames();
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_NE(prompter.messages[0].text.find("gone.zip"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "gone.zip"));
    EXPECT_EQ(gauge->Progress(), 0);
}

TEST_F(RunTest, InputDuringARunWaitsOrIsRefused) {
    ZipWithRom("pack.zip", "game.nds");
    window->AddFiles({Q(dir / "pack.zip"), Q(Rom("b.nds"))});
    list->setCurrentRow(0);
    NextTick(*window);

    // All of this arrives while the run lets the window handle its events.
    std::map<std::string, bool> enabledDuringRun;
    bool closed = true;
    QTimer::singleShot(0, window.get(), [&] {
        ASSERT_TRUE(window->Running());
        for (const char* name : {"TrimGames", "CustomPath", "Path", "DeleteSource", "SafeTrim",
                                 "byteJump", "AppendText", "TrimSceneNumber", "HeaderRomName"}) {
            enabledDuringRun[name] = Find<QWidget>(*window, name)->isEnabled();
        }
        QTest::keyClick(list, Qt::Key_Delete);
        Find<QMenu>(*window, "RomsMenu")->actions()[0]->trigger();
        window->TrimGames();
        Drop(*window, {Q(dir / "late.nds")});
        list->setCurrentRow(1);
        QTest::keyClick(list, Qt::Key_Space);  // would toggle a mark
        closed = window->close();
    });
    window->TrimGames();

    for (const auto& [name, enabled] : enabledDuringRun) {
        EXPECT_FALSE(enabled) << name;
    }
    EXPECT_EQ(enabledDuringRun.size(), 9u);
    EXPECT_FALSE(closed) << "the close waits for the run";
    EXPECT_EQ(list->count(), 2);
    EXPECT_EQ(Marks(), (std::vector<bool>{true, true}));
    EXPECT_EQ(Lines().filter("-> saved").size(), 2) << "one run, not two";
    EXPECT_TRUE(fs::exists(dir / "game_trim.nds"));
    // After the run the deferred close happens, and saves.
    EXPECT_TRUE(WaitUntil([&] { return !window->isVisible(); }));
    EXPECT_EQ(window->LoadedAppManager(), nullptr);
    EXPECT_TRUE(fs::exists(exe / "data/settings.xml"));
}

TEST_F(RunTest, OptionsAreEditableAgainAfterTheRun) {
    window->AddFiles({Q(Rom("a.nds"))});
    window->SetCustomPath(false);
    window->TrimGames();
    for (const char* name : {"TrimGames", "CustomPath", "DeleteSource", "SafeTrim", "byteJump",
                             "AppendText", "TrimSceneNumber", "HeaderRomName"}) {
        EXPECT_TRUE(Find<QWidget>(*window, name)->isEnabled()) << name;
    }
    EXPECT_FALSE(Find<QWidget>(*window, "Path")->isEnabled()) << "follows its box";
    EXPECT_TRUE(list->item(0)->flags() & Qt::ItemIsUserCheckable);
}

// ---- The window and parevo-cli agree --------------------------------------------------

// The log lines with what differs between two runs of the same input taken out:
// elapsed times and the folder the files are in.
QStringList Normalised(QStringList lines, const std::string& folder) {
    static const QRegularExpression time(QStringLiteral("in \\d+\\.\\d\\ds"));
    for (QString& line : lines) {
        line.replace(QString::fromStdString(folder), QStringLiteral("<dir>"));
        line.replace(time, QStringLiteral("in <t>s"));
    }
    return lines;
}

std::map<std::string, std::vector<std::uint8_t>> Files(const std::string& folder) {
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_regular_file()) {
            files[fs::relative(e.path(), folder).string()] = ReadBytes(e.path().string());
        }
    }
    return files;
}

class AgreementTest : public RunTest {
  protected:
    // The same inputs, in a folder of their own.
    std::vector<std::string> Inputs(const std::string& folder) {
        fs::create_directories(folder);
        RomBuilder().Title("SOMEGAME").DataUpTo(8600).PadTo(10000).WriteTo(folder + "/plain.nds");
        RomBuilder()
            .Title("SCENE")
            .DataUpTo(30001)
            .PadTo(70000, 0x00)
            .WriteTo(folder + "/0042 - Scene Game (E).nds");
        ZipBuilder()
            .Deflated("inner/zipped.nds", AsText(RomBytes("ZIPPED")))
            .WriteTo(folder + "/pack.zip");
        ZipBuilder().Stored("readme.txt", "hi").WriteTo(folder + "/empty.zip");
        RarBuilder().AddFile("rarred.nds", RomBytes("RARRED")).WriteTo(folder + "/pack.rar");
        WriteText(folder + "/notes.txt", "not a rom");
        return {folder + "/plain.nds", folder + "/pack.zip",
                folder + "/empty.zip", folder + "/0042 - Scene Game (E).nds",
                folder + "/notes.txt", folder + "/pack.rar"};
    }

    QStringList RunCli(const std::vector<std::string>& files, const QStringList& options) {
        QProcess cli;
        QStringList args{"--no-settings"};
        args << options;
        for (const std::string& f : files) {
            args << Q(f);
        }
        cli.start(QStringLiteral(PAREVO_BIN_DIR "/parevo-cli"), args);
        EXPECT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        QStringList lines = QString::fromUtf8(cli.readAllStandardOutput()).split('\n');
        lines.removeAll(QString());
        return lines;
    }
};

TEST_F(AgreementTest, SameFilesAndLogLinesAsTheCommandLine) {
    struct Case {
        const char* label;
        QStringList cliOptions;
        std::function<void(MainWindow&)> setWindow;
    };
    const std::vector<Case> cases{
        {"defaults", {}, [](MainWindow&) {}},
        {"named from the header, scene number cut, no safe trim, jump 7, no append",
         {"--header-name", "--trim-scene-number", "--no-safe-trim", "--byte-jump", "7",
          "--append="},
         [](MainWindow& w) {
             w.SetHeaderRomName(true);
             w.SetTrimSceneNumber(true);
             w.SetSafeTrim(false);
             w.SetByteJump(7);
             w.SetAppendText("");
         }},
        {"scene number cut",
         {"--trim-scene-number", "--append", "_s"},
         [](MainWindow& w) {
             w.SetTrimSceneNumber(true);
             w.SetAppendText("_s");
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string winDir = dir / ("window" + std::to_string(n));
        const std::string cliDir = dir / ("cli" + std::to_string(n));
        ++n;
        fs::remove_all(exe / "data");  // each window starts from the defaults
        const auto windowFiles = Inputs(winDir);
        const auto cliFiles = Inputs(cliDir);

        auto w = MakeWindow();
        FirstTick(*w);
        c.setWindow(*w);
        QStringList paths;
        for (const std::string& f : windowFiles) {
            paths << Q(f);
        }
        w->AddFiles(paths);
        w->TrimGames();
        ASSERT_TRUE(prompter.messages.empty()) << prompter.messages[0].text;
        auto* wlog = Find<QListWidget>(*w, "Log");
        QStringList windowLines;
        for (int i = 0; i < wlog->count(); ++i) {
            windowLines << wlog->item(i)->text();
        }
        w->close();

        const QStringList cliLines = RunCli(cliFiles, c.cliOptions);
        EXPECT_EQ(Normalised(windowLines, winDir), Normalised(cliLines, cliDir));
        EXPECT_GE(windowLines.size(), 8);
        const auto a = Files(winDir);
        const auto b = Files(cliDir);
        EXPECT_EQ(a, b);
        EXPECT_GT(a.size(), 8u) << "outputs and extracted members were written";
    }
}

}  // namespace
}  // namespace parevo::test

#pragma once
// A real main window under the offscreen platform, with its settings beside a
// test "executable" in a fresh folder, message boxes recorded instead of shown,
// and the desktop's trash inside the test home (see app_test_main.cpp).

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "platform/prompter.h"
#include "support/rom_builder.h"
#include "support/temp_dir.h"

namespace parevo::test {

struct RecordedMessage {
    std::string caption;
    std::string text;
    DialogButtons buttons;
    DialogIcon icon;
};

struct RecordedQuestion {
    std::string caption;
    std::string prompt;
    bool masked;
};

class RecordingPrompter final : public Prompter {
  public:
    DialogResult ShowMessage(const std::string& caption, const std::string& text,
                             DialogButtons buttons, DialogIcon icon, int) override {
        messages.push_back({caption, text, buttons, icon});
        if (onMessage) {
            onMessage();
        }
        return answer;
    }
    InputResult AskText(const std::string& caption, const std::string& prompt, const std::string&,
                        bool masked) override {
        questions.push_back({caption, prompt, masked});
        return textAnswer;
    }

    std::vector<RecordedMessage> messages;
    std::vector<RecordedQuestion> questions;
    DialogResult answer = DialogResult::Ok;
    InputResult textAnswer;
    std::function<void()> onMessage;  // runs while the "box" is open
};

// Processes events until `done` holds or five seconds pass; true when it held.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class WindowTest : public ::testing::Test {
  protected:
    // A window whose settings live in `exe` (the folder of the "executable").
    std::unique_ptr<MainWindow> MakeWindow() {
        WindowServices services;
        services.executablePath = exe / "parevo";
        services.config = ConfigEnvironment{exe / "config", exe.Path(), {}};
        services.prompter = &prompter;
        auto window = std::make_unique<MainWindow>(services);
        window->show();
        return window;
    }

    // Whether the first tick has come: it shows the option pages.
    static bool BeforeFirstTick(const MainWindow& window) {
        return window.findChild<QWidget*>(QStringLiteral("OptionPages"))->isHidden();
    }

    // The first tick, as the timer gives it.
    static void FirstTick(MainWindow& window) {
        ASSERT_TRUE(WaitUntil([&] { return !BeforeFirstTick(window); }));
    }

    // One more tick of the window's own timer.
    static void NextTick(MainWindow& window) {
        auto* timer = window.findChild<QTimer*>(QStringLiteral("Timer"));
        ASSERT_NE(timer, nullptr);
        bool ticked = false;
        QMetaObject::Connection c =
            QObject::connect(timer, &QTimer::timeout, [&] { ticked = true; });
        EXPECT_TRUE(WaitUntil([&] { return ticked; }));
        QObject::disconnect(c);
        QCoreApplication::processEvents();
    }

    template <typename T>
    static T* Find(const QWidget& window, const char* name) {
        T* found = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    static void Drop(QWidget& target, const QStringList& paths, QPoint at = QPoint(50, 50)) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& path : paths) {
            urls << (path.startsWith(QLatin1String("http")) ? QUrl(path)
                                                            : QUrl::fromLocalFile(path));
        }
        mime.setUrls(urls);
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &enter);
        QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &drop);
    }

    std::string Rom(const std::string& name, std::int64_t dataEnd = 8600) {
        RomBuilder().Title("SOMEGAME").DataUpTo(dataEnd).PadTo(10000).WriteTo(dir / name);
        return dir / name;
    }

    static QString Q(const std::string& text) { return QString::fromStdString(text); }

    TempDir dir;  // the ROMs and archives
    TempDir exe;  // the "executable"'s folder, with data/settings.xml
    RecordingPrompter prompter;
};

}  // namespace parevo::test

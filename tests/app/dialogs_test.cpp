// The real boxes: the Qt prompter's message and input boxes, the window's error
// box, and the zip component's progress dialog. Each box is found and closed by
// the test while it is open; one that is never found is closed after a deadline,
// so no test waits for a person.
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <functional>

#include "app/progress_dialog.h"
#include "app/qt_prompter.h"
#include "app/window_fixture.h"

namespace parevo::test {
namespace {

// Runs `handle` on the first modal dialog that opens; rejects whatever is still
// open after five seconds.
class WhenModal {
  public:
    explicit WhenModal(std::function<void(QWidget*)> handle) : m_handle(std::move(handle)) {
        m_poll.setInterval(10);
        QObject::connect(&m_poll, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && !m_done) {
                m_done = true;
                m_handle(modal);
            }
        });
        m_poll.start();
        m_deadline.setSingleShot(true);
        QObject::connect(&m_deadline, &QTimer::timeout, [] {
            while (QWidget* modal = QApplication::activeModalWidget()) {
                if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                    dialog->reject();
                } else {
                    modal->close();
                }
            }
        });
        m_deadline.start(5000);
    }
    bool Handled() const { return m_done; }

  private:
    std::function<void(QWidget*)> m_handle;
    QTimer m_poll;
    QTimer m_deadline;
    bool m_done = false;
};

// What a message box showed, read while it was open.
struct SeenBox {
    QString caption;
    QString text;
    QStringList buttons;  // sorted, without their "&"
    QString defaultButton;
    QMessageBox::Icon icon = QMessageBox::NoIcon;

    explicit SeenBox(QMessageBox* box = nullptr) {
        if (box == nullptr) {
            return;
        }
        caption = box->windowTitle();
        text = box->text();
        for (QAbstractButton* b : box->buttons()) {
            buttons << b->text().remove('&');
        }
        buttons.sort();
        if (box->defaultButton() != nullptr) {
            defaultButton = box->defaultButton()->text().remove('&');
        }
        icon = box->icon();
    }
};

TEST(QtPrompterTest, AMessageBoxHasTheCaptionTextButtonsAndDefaultAsked) {
    QtPrompter prompter;
    SeenBox seen;
    WhenModal closer([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        seen = SeenBox(box);
        box->button(QMessageBox::No)->click();
    });
    const DialogResult r = prompter.ShowMessage("Parevo", "Extract the damaged file?",
                                                DialogButtons::YesNoCancel, DialogIcon::Warning, 1);
    EXPECT_TRUE(closer.Handled());
    EXPECT_EQ(r, DialogResult::No);
    EXPECT_EQ(seen.caption, "Parevo");
    EXPECT_EQ(seen.text, "Extract the damaged file?");
    EXPECT_EQ(seen.buttons, (QStringList{"Cancel", "No", "Yes"}));
    EXPECT_EQ(seen.defaultButton, "No");
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
}

TEST(QtPrompterTest, AMessageBoxClosedWithoutAButtonBacksOut) {
    QtPrompter prompter;
    WhenModal closer([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    EXPECT_EQ(prompter.ShowMessage("Parevo", "Insert the last disk", DialogButtons::OkCancel,
                                   DialogIcon::None),
              DialogResult::Cancel);
}

TEST(QtPrompterTest, APasswordIsTypedMaskedAndReturned) {
    QtPrompter prompter;
    QLineEdit::EchoMode echo = QLineEdit::Normal;
    QString label;
    WhenModal closer([&](QWidget* w) {
        auto* dialog = qobject_cast<QInputDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        echo = dialog->textEchoMode();
        label = dialog->labelText();
        auto* edit = dialog->findChild<QLineEdit*>();
        QTest::keyClicks(edit, "s3cret");
        dialog->accept();
    });
    const InputResult r = prompter.AskText("Parevo", "Enter password for game.nds", "", true);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, "s3cret");
    EXPECT_EQ(echo, QLineEdit::Password);
    EXPECT_EQ(label, "Enter password for game.nds");

    WhenModal canceller([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    EXPECT_FALSE(prompter.AskText("Parevo", "again", "", false).ok);
}

class ErrorBoxTest : public WindowTest {};

TEST_F(ErrorBoxTest, ARunErrorIsARealBoxWithOkCaptionedWithTheTitle) {
    WindowServices services;
    services.executablePath = exe / "parevo";
    services.config = ConfigEnvironment{exe / "config", exe.Path(), {}};
    MainWindow window(services);  // its own, real message boxes
    window.show();
    window.AddFiles({Q(dir / "missing.nds")});
    SeenBox seen;
    WhenModal closer([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        seen = SeenBox(box);
        box->button(QMessageBox::Ok)->click();
    });
    window.TrimGames();
    EXPECT_TRUE(closer.Handled());
    EXPECT_EQ(seen.caption, "Parevo");
    EXPECT_TRUE(seen.text.contains("missing.nds")) << seen.text.toStdString();
    EXPECT_EQ(seen.buttons, QStringList{"OK"});
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

TEST(ProgressDialogTest, TheDialogIsLaidOutCentredAndCancels) {
    QWidget owner;
    owner.resize(461, 481);
    owner.show();
    int cancelled = 0;
    const ProgressDialogFactory factory = QtProgressDialogFactory("Parevo", &owner);
    std::unique_ptr<ProgressDialog> form = factory([&] { ++cancelled; });
    auto* qt = dynamic_cast<QtProgressDialog*>(form.get());
    ASSERT_NE(qt, nullptr);
    ProgressDialogWidget& dialog = qt->Dialog();
    EXPECT_EQ(dialog.size(), QSize(300, 100));
    EXPECT_EQ(dialog.windowTitle(), "Parevo");
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dialog.Label()->geometry().topLeft(), QPoint(10, 15));
    EXPECT_EQ(dialog.Label()->width(), 280);
    EXPECT_EQ(dialog.Label()->text(), "wait ...");
    EXPECT_EQ(dialog.Bar()->geometry().topLeft(), QPoint(10, 35));
    EXPECT_EQ(dialog.Bar()->width(), 280);
    EXPECT_EQ(dialog.CancelButton()->text(), "&Cancel");
    EXPECT_EQ(dialog.CancelButton()->geometry().topLeft(), QPoint((300 - 75) / 2, 60));
    EXPECT_TRUE(dialog.CancelButton()->isDefault());
    EXPECT_EQ(dialog.geometry().center(), owner.frameGeometry().center());

    form->Show();
    EXPECT_TRUE(dialog.isVisible());
    form->SetLabel("extracting game.nds");
    form->SetBarMax(10);
    form->SetBarPosition(4);
    EXPECT_EQ(dialog.Label()->text(), "extracting game.nds");
    EXPECT_EQ(dialog.Bar()->maximum(), 10);
    EXPECT_EQ(dialog.Bar()->value(), 4);
    dialog.CancelButton()->click();
    EXPECT_EQ(cancelled, 1);
    form->Hide();
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace parevo::test

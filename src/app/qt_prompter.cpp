#include "app/qt_prompter.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <vector>

namespace parevo {

QString FromNarrow(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToNarrow(const QString& text) {
    return text.toUtf8().toStdString();
}

namespace {

struct ButtonChoice {
    QMessageBox::StandardButton button;
    DialogResult result;
};

std::vector<ButtonChoice> ButtonsOf(DialogButtons buttons) {
    switch (buttons) {
        case DialogButtons::Ok:
            return {{QMessageBox::Ok, DialogResult::Ok}};
        case DialogButtons::OkCancel:
            return {{QMessageBox::Ok, DialogResult::Ok},
                    {QMessageBox::Cancel, DialogResult::Cancel}};
        case DialogButtons::YesNo:
            return {{QMessageBox::Yes, DialogResult::Yes}, {QMessageBox::No, DialogResult::No}};
        case DialogButtons::YesNoCancel:
            return {{QMessageBox::Yes, DialogResult::Yes},
                    {QMessageBox::No, DialogResult::No},
                    {QMessageBox::Cancel, DialogResult::Cancel}};
    }
    return {{QMessageBox::Ok, DialogResult::Ok}};
}

QMessageBox::Icon IconOf(DialogIcon icon) {
    switch (icon) {
        case DialogIcon::Information:
            return QMessageBox::Information;
        case DialogIcon::Question:
            return QMessageBox::Question;
        case DialogIcon::Warning:
            return QMessageBox::Warning;
        case DialogIcon::Error:
            return QMessageBox::Critical;
        case DialogIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// What closing the box without a button means: the last choice that backs out.
DialogResult EscapeResult(DialogButtons buttons) {
    switch (buttons) {
        case DialogButtons::Ok:
            return DialogResult::Ok;
        case DialogButtons::YesNo:
            return DialogResult::No;
        case DialogButtons::OkCancel:
        case DialogButtons::YesNoCancel:
            break;
    }
    return DialogResult::Cancel;
}

}  // namespace

DialogResult QtPrompter::ShowMessage(const std::string& caption, const std::string& text,
                                     DialogButtons buttons, DialogIcon icon, int defaultButton) {
    QMessageBox box(IconOf(icon), FromNarrow(caption), FromNarrow(text), QMessageBox::NoButton,
                    m_parent);
    const std::vector<ButtonChoice> choices = ButtonsOf(buttons);
    for (size_t i = 0; i < choices.size(); ++i) {
        QPushButton* button = box.addButton(choices[i].button);
        if (static_cast<int>(i) == defaultButton) {
            box.setDefaultButton(button);
        }
    }
    box.exec();
    const auto clicked = box.standardButton(box.clickedButton());
    for (const ButtonChoice& choice : choices) {
        if (choice.button == clicked) {
            return choice.result;
        }
    }
    return EscapeResult(buttons);
}

InputResult QtPrompter::AskText(const std::string& caption, const std::string& prompt,
                                const std::string& initial, bool masked) {
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(FromNarrow(caption));
    dialog.setLabelText(FromNarrow(prompt));
    dialog.setTextValue(FromNarrow(initial));
    dialog.setTextEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
    InputResult result;
    result.ok = dialog.exec() == QDialog::Accepted;
    result.text = ToNarrow(dialog.textValue());
    return result;
}

}  // namespace parevo

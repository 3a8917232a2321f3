#include "platform/batch_prompter.h"

namespace parevo {

DialogResult BatchPrompter::ShowMessage(const std::string&, const std::string& text,
                                        DialogButtons buttons, DialogIcon, int) {
    if (m_notify) {
        m_notify(text);
    }
    switch (buttons) {
        case DialogButtons::YesNoCancel:
            return DialogResult::No;
        case DialogButtons::YesNo:
            return DialogResult::Yes;
        case DialogButtons::OkCancel:
            return DialogResult::Cancel;
        case DialogButtons::Ok:
            break;
    }
    return DialogResult::Ok;
}

InputResult BatchPrompter::AskText(const std::string&, const std::string& prompt,
                                   const std::string&, bool) {
    if (m_notify) {
        m_notify(prompt);
    }
    if (m_password.empty()) {
        return {false, {}};
    }
    return {true, m_password};
}

}  // namespace parevo

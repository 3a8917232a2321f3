#pragma once
// The questions of the extraction components, and the window's error reports,
// as real message and input boxes.

#include <QPointer>
#include <QWidget>

#include "platform/prompter.h"

namespace parevo {

class QtPrompter final : public Prompter {
  public:
    // The boxes are centred over `parent` (the main window), when there is one.
    explicit QtPrompter(QWidget* parent = nullptr) : m_parent(parent) {}

    DialogResult ShowMessage(const std::string& caption, const std::string& text,
                             DialogButtons buttons, DialogIcon icon,
                             int defaultButton = 0) override;
    InputResult AskText(const std::string& caption, const std::string& prompt,
                        const std::string& initial, bool masked) override;

  private:
    QPointer<QWidget> m_parent;
};

// Text of the core (the system's narrow encoding) for the screen, and back.
QString FromNarrow(const std::string& text);
std::string ToNarrow(const QString& text);

}  // namespace parevo

#pragma once
// The question seam: message boxes and one-line input boxes. The window shows
// real dialogs; the command line answers without a person; tests record.

#include <string>

namespace parevo {

enum class DialogButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class DialogIcon { None, Information, Question, Warning, Error };
enum class DialogResult { Ok, Cancel, Yes, No };

struct InputResult {
    bool ok = false;   // closed with OK (or the equivalent)
    std::string text;  // what the box held when it closed
};

class Prompter {
  public:
    virtual ~Prompter() = default;
    // defaultButton: 0-based index of the button that Enter presses.
    virtual DialogResult ShowMessage(const std::string& caption, const std::string& text,
                                     DialogButtons buttons, DialogIcon icon,
                                     int defaultButton = 0) = 0;
    // masked: show "*" for each character (passwords).
    virtual InputResult AskText(const std::string& caption, const std::string& prompt,
                                const std::string& initial, bool masked) = 0;
};

}  // namespace parevo

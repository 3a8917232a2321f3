#pragma once
// Recording fakes for the zip component's seams.

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive/zip_component.h"
#include "platform/drive_info.h"
#include "platform/prompter.h"

namespace parevo::test {

struct Question {
    std::string caption;
    std::string text;
    DialogButtons buttons = DialogButtons::Ok;
    DialogIcon icon = DialogIcon::None;
    int defaultButton = 0;
    bool input = false;
    bool masked = false;
};

class RecordingPrompter : public Prompter {
  public:
    std::vector<Question> asked;
    std::deque<DialogResult> messageAnswers;  // empty: OK
    std::deque<InputResult> inputAnswers;     // empty: cancelled

    DialogResult ShowMessage(const std::string& caption, const std::string& text,
                             DialogButtons buttons, DialogIcon icon,
                             int defaultButton = 0) override {
        asked.push_back({caption, text, buttons, icon, defaultButton, false, false});
        if (messageAnswers.empty()) {
            return DialogResult::Ok;
        }
        const DialogResult answer = messageAnswers.front();
        messageAnswers.pop_front();
        return answer;
    }
    InputResult AskText(const std::string& caption, const std::string& prompt,
                        const std::string& initial, bool masked) override {
        Question q{caption, prompt, DialogButtons::OkCancel, DialogIcon::None, 0, true, masked};
        q.text = prompt + (initial.empty() ? "" : " [" + initial + "]");
        asked.push_back(q);
        if (inputAnswers.empty()) {
            return {};
        }
        const InputResult answer = inputAnswers.front();
        inputAnswers.pop_front();
        return answer;
    }
};

// Drives with chosen labels: a path is on a removable disk when a label is set
// for it; the label can be changed between questions ("the user inserts a disk").
class FakeDrives : public DriveInfo {
  public:
    bool reachable = true;
    std::map<std::string, std::string> labels;

    bool IsReachable(const std::string&) override { return reachable; }
    bool IsRemovable(const std::string& path) override { return labels.count(path) != 0; }
    std::optional<std::string> VolumeLabel(const std::string& path) override {
        const auto it = labels.find(path);
        if (it == labels.end()) {
            return std::nullopt;
        }
        return it->second;
    }
};

}  // namespace parevo::test

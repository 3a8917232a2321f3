// The command line's prompter: every question answered without a person.
#include <gtest/gtest.h>

#include "platform/batch_prompter.h"

namespace parevo {
namespace {

TEST(BatchPrompter, AnswersEachKindOfQuestionSafely) {
    std::vector<std::string> said;
    BatchPrompter prompter("pw", [&](const std::string& text) { said.push_back(text); });
    EXPECT_EQ(
        prompter.ShowMessage("c", "damaged?", DialogButtons::YesNoCancel, DialogIcon::Question, 1),
        DialogResult::No);
    EXPECT_EQ(prompter.ShowMessage("c", "go on?", DialogButtons::YesNo, DialogIcon::Question),
              DialogResult::Yes);
    EXPECT_EQ(
        prompter.ShowMessage("c", "insert disk", DialogButtons::OkCancel, DialogIcon::Information),
        DialogResult::Cancel);
    EXPECT_EQ(prompter.ShowMessage("c", "note", DialogButtons::Ok, DialogIcon::Information),
              DialogResult::Ok);
    const InputResult password = prompter.AskText("c", "password?", "", true);
    EXPECT_TRUE(password.ok);
    EXPECT_EQ(password.text, "pw");
    EXPECT_EQ(said,
              (std::vector<std::string>{"damaged?", "go on?", "insert disk", "note", "password?"}));

    BatchPrompter none;
    const InputResult nothing = none.AskText("c", "password?", "", true);
    EXPECT_FALSE(nothing.ok);
    EXPECT_TRUE(nothing.text.empty());
}

}  // namespace
}  // namespace parevo

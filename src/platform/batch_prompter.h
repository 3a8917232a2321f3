#pragma once
// The prompter for runs without a person (the command line). It answers every
// question the way that loses nothing and waits for no one:
//   Yes/No/Cancel (a damaged member: extract anyway?)      -> No
//   Yes/No        (no password: go on with the others?)    -> Yes
//   OK/Cancel     (insert another disk of a spanned set)   -> Cancel
//   OK            (a plain message)                        -> OK
//   input box     (a password)                             -> the given password, or none
// Every message text is handed to an optional sink so the caller can print it.

#include <functional>
#include <string>

#include "platform/prompter.h"

namespace parevo {

class BatchPrompter : public Prompter {
  public:
    // An empty password means none: a password question is answered empty.
    explicit BatchPrompter(std::string password = {},
                           std::function<void(const std::string&)> notify = {})
        : m_password(std::move(password)), m_notify(std::move(notify)) {}

    DialogResult ShowMessage(const std::string& caption, const std::string& text,
                             DialogButtons buttons, DialogIcon icon,
                             int defaultButton = 0) override;
    InputResult AskText(const std::string& caption, const std::string& prompt,
                        const std::string& initial, bool masked) override;

  private:
    std::string m_password;
    std::function<void(const std::string&)> m_notify;
};

}  // namespace parevo

#pragma once
// The message formatter. Message templates use the runtime's format syntax, which
// is not printf: "%x" prints upper-case hex without leading zeros, and "%02f" means
// "width 2, default precision 2" with the user's decimal separator.
//
// Supported: %s %d %x %f %%, each with optional "-" (left-justify), width and
// ".precision". Any other conversion, a missing argument, or an argument of the
// wrong kind throws std::invalid_argument: those are programming errors.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace parevo {

class FormatArg {
  public:
    FormatArg(const char* s) : m_value(std::string(s)) {}
    FormatArg(std::string s) : m_value(std::move(s)) {}
    FormatArg(std::string_view s) : m_value(std::string(s)) {}
    FormatArg(int v) : m_value(static_cast<std::int64_t>(v)) {}
    FormatArg(unsigned v) : m_value(static_cast<std::int64_t>(v)) {}
    FormatArg(long v) : m_value(static_cast<std::int64_t>(v)) {}
    FormatArg(long long v) : m_value(static_cast<std::int64_t>(v)) {}
    FormatArg(unsigned long v) : m_value(static_cast<std::int64_t>(v)) {}
    FormatArg(double v) : m_value(v) {}

    const std::variant<std::string, std::int64_t, double>& Value() const { return m_value; }

  private:
    std::variant<std::string, std::int64_t, double> m_value;
};

// The decimal separator of the user's regional settings, read once.
char UserDecimalSeparator();

std::string Format(std::string_view templ, std::initializer_list<FormatArg> args,
                   char decimalSeparator);

inline std::string Format(std::string_view templ, std::initializer_list<FormatArg> args) {
    return Format(templ, args, UserDecimalSeparator());
}

}  // namespace parevo

#pragma once
// Reading numbers typed by people or stored in files.

#include <string_view>

namespace parevo {

// An optionally signed decimal whole number, the whole text and nothing else;
// false when the text is none. A number too large for the type becomes its
// largest (or smallest) value.
bool ParseWholeNumber(std::string_view text, long long& value);

}  // namespace parevo

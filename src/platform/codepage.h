#pragma once
// Code-page conversions for text stored in archives. Results are in the system's
// narrow encoding: UTF-8 on Linux and macOS, the ANSI code page on Windows.

#include <string>
#include <string_view>

namespace parevo {

// Text in the OEM code page (code page 437 where the system has none, as on
// Linux and macOS) to the narrow encoding.
std::string OemToNarrow(std::string_view oem);

// UTF-8 text to the narrow encoding (unchanged where that is UTF-8).
std::string Utf8ToNarrow(std::string_view utf8);

// Wide text of at most `size` characters, ending at the first zero, to the
// narrow encoding.
std::string WideToNarrow(const wchar_t* text, size_t size);

}  // namespace parevo

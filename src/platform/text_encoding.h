#pragma once
// Every conversion between text encodings, and the few character rules that
// depend on them. Narrow text is the system's narrow encoding: UTF-8 on Linux and
// macOS, the ANSI code page on Windows. Compiled into the core and into both
// run-time libraries, so all of them read and write names alike.

#include <cstddef>
#include <string>
#include <string_view>

namespace parevo {

// Text in the OEM code page (code page 437 where the system has none, as on
// Linux and macOS) to the narrow encoding.
std::string OemToNarrow(std::string_view oem);

// UTF-8 text to the narrow encoding (unchanged where that is UTF-8).
std::string Utf8ToNarrow(std::string_view utf8);

// Wide text of at most `size` characters, ending at the first zero, to the
// narrow encoding; what is no character becomes U+FFFD.
std::string WideToNarrow(const wchar_t* text, std::size_t size);
std::string WideToNarrow(const std::wstring& text);
std::wstring NarrowToWide(std::string_view text);

// UTF-8 to wide characters; a byte that starts no valid sequence becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view utf8);
// Wide characters to UTF-8 (surrogate pairs joined where wchar_t is 16 bits).
std::string WideToUtf8(const std::wstring& text);
// UTF-16 to UTF-8, surrogate pairs joined; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF).
bool IsUtf8(std::string_view text);

// A name stored by an archiver without its Unicode form, as UTF-8: such names
// are in the OEM code page, unless they already read as UTF-8, as a Unix tool
// writes them.
std::string StoredNameToUtf8(std::string_view stored);

// UTF-8 text in Windows-1252 (the settings file's 8-bit text on Windows); what
// cannot be decoded or has no place in that code page becomes 0xBF.
std::string Utf8ToWindows1252(std::string_view text);

// The text of an XML document declared UTF-8, in the narrow encoding: on Windows
// translated to Windows-1252 as above; where narrow text is UTF-8 already (Linux,
// macOS) kept as it is, so a folder or an append text written with accents
// names the same file.
std::string XmlUtf8ToNarrow(std::string_view text);

// The first `limit` characters of narrow text: bytes in an ANSI code page,
// characters (never cut inside one) where the narrow encoding is UTF-8.
std::string FirstCharacters(std::string_view text, std::size_t limit);
// The first `limit` UTF-8 characters, whatever the system.
std::string FirstUtf8Characters(std::string_view text, std::size_t limit);

// Equal when only the case of the ASCII letters differs.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
char AsciiLower(char c);
char AsciiUpper(char c);

}  // namespace parevo

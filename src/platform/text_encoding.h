#pragma once
// Every conversion between text encodings, and the few character rules that
// depend on them. Narrow text is UTF-8 on every system: on Windows the program
// runs with UTF-8 as its code page and converts to UTF-16 at every system call,
// so a name outside the ANSI code page is a name like any other. Compiled into
// the core and into both run-time libraries, so all of them read and write
// names alike.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace parevo {

// Text in the OEM code page (code page 437 where the system has none, as on
// Linux and macOS) to the narrow encoding.
std::string OemToNarrow(std::string_view oem);

// UTF-8 text to the narrow encoding (unchanged: kept for the callers' sake).
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

// Windows-1252 text in UTF-8.
std::string Windows1252ToUtf8(std::string_view text);

// The text of an XML document in the narrow encoding. UTF-8 stays as it is;
// on Windows, undeclared text that is no UTF-8 is the Windows-1252 of settings
// files written by earlier versions, and is translated.
std::string XmlTextToNarrow(std::string_view text, bool declaredUtf8);

// The first `limit` characters of narrow text: bytes in an ANSI code page,
// characters (never cut inside one) where the narrow encoding is UTF-8.
std::string FirstCharacters(std::string_view text, std::size_t limit);
// The first `limit` UTF-8 characters, whatever the system.
std::string FirstUtf8Characters(std::string_view text, std::size_t limit);

// A narrow path as the standard library's path, and back. UTF-8 on every system:
// on Windows the library's own conversion would use another code page.
std::filesystem::path PathOf(std::string_view narrow);
std::string NarrowOf(const std::filesystem::path& path);

// Equal when only the case of the ASCII letters differs.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
char AsciiLower(char c);
char AsciiUpper(char c);

}  // namespace parevo

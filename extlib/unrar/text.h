#pragma once
// Names cross the interface in two forms: the system's narrow encoding (UTF-8 on
// Linux and macOS, the ANSI code page on Windows) and wide characters.

#include <string>

namespace unrar {

std::wstring NarrowToWide(const std::string& text);
std::string WideToNarrow(const std::wstring& text);
// libarchive hands names over as UTF-8.
std::wstring Utf8ToWide(const std::string& text);
std::string Utf8ToNarrow(const std::string& text);

bool IsUtf8(const std::string& text);
// A RAR 4 name stored without its Unicode form, as UTF-8: such names are in the
// OEM code page (437 where the system has none), unless they already read as
// UTF-8, as a Unix tool writes them.
std::string StoredNameToUtf8(const std::string& stored);

}  // namespace unrar

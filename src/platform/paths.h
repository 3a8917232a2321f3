#pragma once
// Splitting and joining paths held as 8-bit text. Windows separates with "\", "/"
// and the drive colon and joins with "\"; POSIX separates and joins with "/" only,
// because ":" and "\" are ordinary characters in a POSIX file name.

#include <string>
#include <string_view>

namespace parevo {

enum class PathStyle { Windows, Posix };

constexpr PathStyle NativePathStyle() {
#ifdef _WIN32
    return PathStyle::Windows;
#else
    return PathStyle::Posix;
#endif
}

constexpr char PathSeparator(PathStyle style) {
    return style == PathStyle::Windows ? '\\' : '/';
}

bool IsPathDelimiter(char c, PathStyle style);

// Index of the first character of the file-name part (after the last delimiter).
size_t FileNameStart(std::string_view path, PathStyle style);

// The text after the last delimiter.
std::string FileNamePart(std::string_view path, PathStyle style = NativePathStyle());

// The text up to and including the last delimiter (empty when there is none).
std::string FolderPart(std::string_view path, PathStyle style = NativePathStyle());

// From the last dot of the file-name part to the end, dot included; empty without a dot.
std::string ExtensionOf(std::string_view path, PathStyle style = NativePathStyle());

// Display form of a file name in log lines: at most 12 characters, then "...".
// On POSIX names are UTF-8, so characters are counted, not bytes, and a name is
// never cut inside a character.
std::string ShortName(std::string_view fileName, PathStyle style = NativePathStyle());

}  // namespace parevo

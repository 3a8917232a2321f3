#include "platform/paths.h"

#include "platform/text_encoding.h"

namespace parevo {

bool IsPathDelimiter(char c, PathStyle style) {
    if (style == PathStyle::Windows) {
        return c == '\\' || c == '/' || c == ':';
    }
    return c == '/';
}

size_t FileNameStart(std::string_view path, PathStyle style) {
    for (size_t i = path.size(); i > 0; --i) {
        if (IsPathDelimiter(path[i - 1], style)) {
            return i;
        }
    }
    return 0;
}

std::string FileNamePart(std::string_view path, PathStyle style) {
    return std::string(path.substr(FileNameStart(path, style)));
}

std::string FolderPart(std::string_view path, PathStyle style) {
    return std::string(path.substr(0, FileNameStart(path, style)));
}

std::string ExtensionOf(std::string_view path, PathStyle style) {
    const std::string_view name = path.substr(FileNameStart(path, style));
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

std::string ShortName(std::string_view fileName, PathStyle style) {
    constexpr size_t kLimit = 12;
    // Windows names are ANSI bytes; POSIX names are UTF-8, counted in characters.
    const std::string first = style == PathStyle::Windows ? std::string(fileName.substr(0, kLimit))
                                                          : FirstUtf8Characters(fileName, kLimit);
    return first.size() < fileName.size() ? first + "..." : first;
}

}  // namespace parevo

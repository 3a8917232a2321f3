#include "platform/paths.h"

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
    if (style == PathStyle::Windows) {
        if (fileName.size() <= kLimit) {
            return std::string(fileName);
        }
        return std::string(fileName.substr(0, kLimit)) + "...";
    }
    // Count UTF-8 characters: every byte that is not a continuation byte starts one.
    size_t characters = 0;
    for (size_t i = 0; i < fileName.size(); ++i) {
        if ((static_cast<unsigned char>(fileName[i]) & 0xC0) != 0x80) {
            if (characters == kLimit) {
                return std::string(fileName.substr(0, i)) + "...";
            }
            ++characters;
        }
    }
    return std::string(fileName);
}

}  // namespace parevo

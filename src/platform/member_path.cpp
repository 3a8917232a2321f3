#include "platform/member_path.h"

#include <array>

#include "platform/text_encoding.h"

namespace parevo {

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A device name that Windows opens instead of a file, whatever the folder.
bool IsReservedDeviceName(std::string_view part) {
    const std::string_view stem = part.substr(0, part.find('.'));
    static constexpr std::array<std::string_view, 4> kPlain = {"con", "prn", "aux", "nul"};
    for (const std::string_view name : kPlain) {
        if (SameTextIgnoringCase(stem, name)) {
            return true;
        }
    }
    return stem.size() == 4 &&
           (SameTextIgnoringCase(stem.substr(0, 3), "com") ||
            SameTextIgnoringCase(stem.substr(0, 3), "lpt")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

std::optional<std::vector<std::string>> MemberPathParts(std::string_view name, PathStyle style) {
    if (name.empty() || IsSeparator(name.front()) || name.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    if (name.size() >= 2 && name[1] == ':' && IsAsciiLetter(name[0])) {
        return std::nullopt;
    }
    const bool windows = style == PathStyle::Windows;
    if (windows && name.find(':') != std::string_view::npos) {
        return std::nullopt;
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !IsSeparator(name[i])) {
            continue;
        }
        const std::string_view part = name.substr(start, i - start);
        start = i + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            return std::nullopt;
        }
        if (windows && (part.back() == '.' || part.back() == ' ' || IsReservedDeviceName(part))) {
            return std::nullopt;
        }
        parts.emplace_back(part);
    }
    if (parts.empty()) {
        return std::nullopt;
    }
    return parts;
}

bool MemberStaysInFolder(std::string_view name, PathStyle style) {
    return MemberPathParts(name, style).has_value();
}

}  // namespace parevo

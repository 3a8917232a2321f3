#include "member_path.h"

#include <system_error>

namespace fs = std::filesystem;

namespace unzdll {

namespace {
bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}
}  // namespace

std::optional<std::vector<std::string>> SafeMemberPath(const std::string& name) {
    if (name.empty() || IsSeparator(name[0]) || name.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const auto letter = static_cast<unsigned char>(name[0]);
    if (name.size() >= 2 && name[1] == ':' &&
        ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z'))) {
        return std::nullopt;
    }
#ifdef _WIN32
    if (name.find(':') != std::string::npos) {
        return std::nullopt;
    }
#endif
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || IsSeparator(name[i])) {
            const std::string part = name.substr(start, i - start);
            if (part == "..") {
                return std::nullopt;
            }
            if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            start = i + 1;
        }
    }
    if (parts.empty()) {
        return std::nullopt;
    }
    return parts;
}

std::optional<fs::path> MakeFolders(const fs::path& target, const std::vector<std::string>& parts,
                                    bool isFolder) {
    fs::path path = target;
    const size_t folders = isFolder ? parts.size() : parts.size() - 1;
    for (size_t i = 0; i < folders; ++i) {
        path /= parts[i];
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(path, ec);
        if (!fs::exists(status)) {
            if (!fs::create_directory(path, ec) && ec) {
                return std::nullopt;
            }
        } else if (!fs::is_directory(status)) {
            return std::nullopt;
        }
    }
    if (!isFolder) {
        path /= parts.back();
    }
    return path;
}

}  // namespace unzdll

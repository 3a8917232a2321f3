#include "target_folders.h"

#include <system_error>

#include "platform/text_encoding.h"

namespace fs = std::filesystem;

namespace unzdll {

std::optional<fs::path> MakeFolders(const fs::path& target, const std::vector<std::string>& parts,
                                    bool isFolder) {
    fs::path path = target;
    const size_t folders = isFolder ? parts.size() : parts.size() - 1;
    for (size_t i = 0; i < folders; ++i) {
        path /= parevo::PathOf(parts[i]);
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
        path /= parevo::PathOf(parts.back());
    }
    return path;
}

}  // namespace unzdll

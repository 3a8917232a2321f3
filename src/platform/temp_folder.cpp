#include "platform/temp_folder.h"

#include <cstdio>
#include <filesystem>
#include <random>

#include "platform/errors.h"

namespace parevo {

namespace {

namespace fs = std::filesystem;

// A new folder in `parent` that only its owner may enter; empty when none can be made.
std::string MakeFolderIn(const fs::path& parent, std::error_code& error) {
    static std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".parevo-%08x%08x.tmp", random(), random());
        const fs::path folder = parent / name;
        if (fs::create_directory(folder, error)) {
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, error);
            return (folder / "").string();
        }
        if (error) {
            return std::string();
        }
    }
    error = std::make_error_code(std::errc::file_exists);
    return std::string();
}

}  // namespace

TempFolder::TempFolder(const std::string& parent) {
    std::error_code error;
    m_path = MakeFolderIn(parent.empty() ? fs::path(".") : fs::path(parent), error);
    if (m_path.empty()) {
        const fs::path system = fs::temp_directory_path(error);
        if (!error) {
            m_path = MakeFolderIn(system, error);
        }
    }
    if (m_path.empty()) {
        throw IoError(
            DescribeIoFailure("Cannot create a temporary folder in", parent, error.message()));
    }
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(fs::path(m_path), ignored);
}

}  // namespace parevo

#include "platform/drive_info.h"
#include "platform/text_encoding.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace parevo {

namespace {

#ifdef _WIN32

// "C:\" or "\\server\share\" of a path; empty when it has neither.
std::string DriveRoot(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') {
        return path.substr(0, 2) + "\\";
    }
    if (path.size() > 2 && (path[0] == '\\' || path[0] == '/') &&
        (path[1] == '\\' || path[1] == '/')) {
        size_t slashes = 0;
        for (size_t i = 2; i < path.size(); ++i) {
            if (path[i] == '\\' || path[i] == '/') {
                if (++slashes == 2) {
                    return path.substr(0, i) + "\\";
                }
            }
        }
        return path + "\\";
    }
    return {};
}

class WindowsDriveInfo : public DriveInfo {
  public:
    bool IsReachable(const std::string& path) override {
        const std::wstring root = NarrowToWide(DriveRoot(path));
        const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS);
        const BOOL ok = GetVolumeInformationW(root.empty() ? nullptr : root.c_str(), nullptr, 0,
                                              nullptr, nullptr, nullptr, nullptr, 0);
        SetErrorMode(old);
        return ok != FALSE;
    }
    bool IsRemovable(const std::string& path) override {
        const std::wstring root = NarrowToWide(DriveRoot(path));
        return GetDriveTypeW(root.empty() ? nullptr : root.c_str()) == DRIVE_REMOVABLE;
    }
    std::optional<std::string> VolumeLabel(const std::string& path) override {
        const std::wstring root = NarrowToWide(DriveRoot(path));
        wchar_t label[MAX_PATH + 1] = {};
        const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS);
        const BOOL ok = GetVolumeInformationW(root.empty() ? nullptr : root.c_str(), label,
                                              MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0);
        SetErrorMode(old);
        if (!ok) {
            return std::nullopt;
        }
        return WideToNarrow(label);
    }
};

#else

class PosixDriveInfo : public DriveInfo {
  public:
    // There are no drive letters: the nearest folder of the path that exists
    // must be searchable, or nothing below it can be read or created.
    bool IsReachable(const std::string& path) override {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path folder = fs::absolute(PathOf(path), ec);
        if (ec) {
            return false;
        }
        folder = folder.parent_path();
        while (!fs::is_directory(folder, ec)) {
            if (!folder.has_relative_path()) {
                return false;
            }
            folder = folder.parent_path();
        }
        return ::access(folder.c_str(), X_OK) == 0;
    }
    bool IsRemovable(const std::string&) override { return false; }
    std::optional<std::string> VolumeLabel(const std::string&) override { return std::nullopt; }
};

#endif

}  // namespace

DriveInfo& SystemDriveInfo() {
#ifdef _WIN32
    static WindowsDriveInfo info;
#else
    static PosixDriveInfo info;
#endif
    return info;
}

}  // namespace parevo

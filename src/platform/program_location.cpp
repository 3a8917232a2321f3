#include "platform/program_location.h"

#include <filesystem>
#include <system_error>

#include "platform/paths.h"
#include "platform/text_encoding.h"

#ifdef _WIN32
#include <windows.h>
#endif
#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace parevo {

std::string RunningExecutablePath() {
#if defined(_WIN32)
    std::wstring buffer(32768, L'\0');
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return n > 0 && n < buffer.size() ? WideToNarrow(buffer.substr(0, n)) : std::string();
#elif defined(__APPLE__)
    char buffer[4096];
    uint32_t size = sizeof buffer;
    return _NSGetExecutablePath(buffer, &size) == 0 ? std::string(buffer) : std::string();
#else
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.string();
#endif
}

std::string RunningExecutableFolder() {
    const std::string path = RunningExecutablePath();
    return path.empty() ? std::string() : FolderPart(path);
}

bool IsInstalledTree(const std::string& exeFolder) {
#ifdef _WIN32
    // The installer leaves its uninstaller beside the programs; a copy unpacked
    // from the zip (onto a stick, say) has none.
    std::error_code ec;
    return !exeFolder.empty() &&
           std::filesystem::is_regular_file(PathOf(exeFolder + "uninstall.exe"), ec);
#else
    std::error_code ec;
    return !exeFolder.empty() &&
           std::filesystem::is_directory(exeFolder + kPrivateLibraryFolder, ec);
#endif
}

}  // namespace parevo

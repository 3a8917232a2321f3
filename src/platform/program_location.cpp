#include "platform/program_location.h"

#include <filesystem>
#include <system_error>

#include "platform/paths.h"

#ifdef _WIN32
#include <windows.h>
#endif
#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace parevo {

std::string RunningExecutablePath() {
#if defined(_WIN32)
    char buffer[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
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
    (void)exeFolder;
    return false;  // Windows keeps the libraries beside the programs
#else
    std::error_code ec;
    return !exeFolder.empty() &&
           std::filesystem::is_directory(exeFolder + kPrivateLibraryFolder, ec);
#endif
}

}  // namespace parevo

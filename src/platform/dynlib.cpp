#include "platform/dynlib.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>

#include <filesystem>
#endif

namespace parevo {

namespace {

#ifndef _WIN32
// The folder of the running program, with a trailing separator; empty when
// unknown.
std::string ExecutableFolder() {
#if defined(__linux__)
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        return self.parent_path().string() + "/";
    }
#endif
    return {};
}
#endif

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& fileName) {
#ifndef _WIN32
    // A bare name is looked for beside the program first, as Windows does: the
    // system's search uses the RUNPATH of whichever object calls dlopen, and under
    // a sanitizer that is the sanitizer's runtime, not the program.
    if (fileName.find('/') == std::string::npos) {
        const std::string folder = ExecutableFolder();
        std::error_code ec;
        if (!folder.empty() && std::filesystem::is_regular_file(folder + fileName, ec)) {
            if (void* handle = ::dlopen((folder + fileName).c_str(), RTLD_NOW | RTLD_LOCAL)) {
                return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
            }
        }
    }
#endif
#ifdef _WIN32
    // No critical-error or fault pop-ups while Windows looks for the file.
    const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    HMODULE handle = LoadLibraryA(fileName.c_str());
    SetErrorMode(old);
#else
    void* handle = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (handle == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(reinterpret_cast<void*>(handle)));
}

DynamicLibrary::~DynamicLibrary() {
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(m_handle));
#else
    ::dlclose(m_handle);
#endif
}

void* DynamicLibrary::Symbol(const char* name) const {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(m_handle), name));
#else
    return ::dlsym(m_handle, name);
#endif
}

std::string SharedLibraryFileName(const std::string& windowsStem, const std::string& posixStem) {
#if defined(_WIN32)
    (void)posixStem;
    return windowsStem + ".dll";
#elif defined(__APPLE__)
    (void)windowsStem;
    return "lib" + posixStem + ".dylib";
#else
    (void)windowsStem;
    return "lib" + posixStem + ".so";
#endif
}

}  // namespace parevo

#include "platform/dynlib.h"

#include "platform/program_location.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>

#include <filesystem>
#endif

namespace parevo {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& fileName) {
#ifndef _WIN32
    // A bare name is looked for beside the program first, as Windows does, then
    // in an installed tree's private library folder: the system's search uses the
    // RUNPATH of whichever object calls dlopen, and under a sanitizer that is the
    // sanitizer's runtime, not the program.
    if (fileName.find('/') == std::string::npos) {
        const std::string folder = RunningExecutableFolder();
        for (const std::string& where : {folder, folder + kPrivateLibraryFolder}) {
            std::error_code ec;
            if (folder.empty() || !std::filesystem::is_regular_file(where + fileName, ec)) {
                continue;
            }
            if (void* handle = ::dlopen((where + fileName).c_str(), RTLD_NOW | RTLD_LOCAL)) {
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

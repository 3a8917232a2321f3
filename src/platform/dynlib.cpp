#include "platform/dynlib.h"

#include "platform/program_location.h"
#include "platform/text_encoding.h"

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
    // Only the program's own folder (and the system's, for what the library
    // needs itself) is searched: never the current folder or PATH, where anyone
    // may have left a file of that name. No critical-error pop-ups meanwhile.
    const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const bool bare = fileName.find_first_of("\\/:") == std::string::npos;
    HMODULE handle =
        LoadLibraryExW(NarrowToWide(fileName).c_str(), nullptr,
                       bare ? LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                            : LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
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

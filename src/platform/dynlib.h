#pragma once
// Run-time loading of a shared library by its file name, through the system's
// library search (beside the executable first, by RUNPATH $ORIGIN on Linux).

#include <memory>
#include <string>

namespace parevo {

class DynamicLibrary {
  public:
    // Loads `fileName` (a bare name searches the usual places); none on failure.
    static std::unique_ptr<DynamicLibrary> Load(const std::string& fileName);
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The address of an exported symbol, or null.
    void* Symbol(const char* name) const;

    template <typename F>
    F Function(const char* name) const {
        return reinterpret_cast<F>(Symbol(name));
    }

  private:
    explicit DynamicLibrary(void* handle) : m_handle(handle) {}
    void* m_handle;
};

// The platform's file name for a library called `stem`: "stem.dll" on Windows,
// "libstem.so" on Linux, "libstem.dylib" on macOS.
std::string SharedLibraryFileName(const std::string& windowsStem, const std::string& posixStem);

}  // namespace parevo

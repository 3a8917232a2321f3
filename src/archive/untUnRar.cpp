#include "archive/untUnRar.h"

#include <type_traits>

#ifdef __linux__
#include <unistd.h>

#include <climits>
#endif

namespace parevo {
namespace {

// A bare name is looked for beside the program by its RUNPATH. When dlopen is
// wrapped (the address sanitizer's wrapper becomes the caller, whose RUNPATH
// is not the program's), that search misses; the program's own folder is then
// tried by its full path, which is the same place.
std::unique_ptr<DynamicLibrary> LoadBesideProgram(const std::string& fileName) {
    std::unique_ptr<DynamicLibrary> library = DynamicLibrary::Load(fileName);
#ifdef __linux__
    if (library == nullptr && fileName.find('/') == std::string::npos) {
        char self[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        if (n > 0) {
            std::string folder(self, static_cast<std::size_t>(n));
            folder.erase(folder.rfind('/') + 1);
            library = DynamicLibrary::Load(folder + fileName);
        }
    }
#endif
    return library;
}

}  // namespace

std::string UnRarLibraryFileName() {
    return SharedLibraryFileName("unrar", "unrar");
}

UnRarLibrary::UnRarLibrary(const std::string& fileName) {
    std::unique_ptr<DynamicLibrary> library = LoadBesideProgram(fileName);
    if (library == nullptr) {
        return;
    }
    UnRarFunctions f;
    bool complete = true;
    auto look = [&](auto& slot, const char* name) {
        slot = library->Function<std::remove_reference_t<decltype(slot)>>(name);
        complete = complete && slot != nullptr;
    };
    look(f.RAROpenArchive, "RAROpenArchive");
    look(f.RAROpenArchiveEx, "RAROpenArchiveEx");
    look(f.RARCloseArchive, "RARCloseArchive");
    look(f.RARReadHeader, "RARReadHeader");
    look(f.RARReadHeaderEx, "RARReadHeaderEx");
    look(f.RARProcessFile, "RARProcessFile");
    look(f.RARSetCallback, "RARSetCallback");
    look(f.RARSetChangeVolProc, "RARSetChangeVolProc");
    look(f.RARSetProcessDataProc, "RARSetProcessDataProc");
    look(f.RARSetPassword, "RARSetPassword");
    look(f.RARGetDllVersion, "RARGetDllVersion");
    if (!complete) {
        return;  // a library lacking an entry point counts as not loaded
    }
    m_functions = f;
    m_library = std::move(library);
}

}  // namespace parevo

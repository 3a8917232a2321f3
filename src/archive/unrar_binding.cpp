#include "archive/unrar_binding.h"

#include <type_traits>

namespace parevo {

std::string UnRarLibraryFileName() {
    return SharedLibraryFileName("unrar", "unrar");
}

UnRarLibrary::UnRarLibrary(const std::string& fileName) {
    std::unique_ptr<DynamicLibrary> library = DynamicLibrary::Load(fileName);
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
#ifdef _WIN32
    look(f.RARProcessFileW, "RARProcessFileW");
#endif
    if (!complete) {
        return;  // a library lacking an entry point counts as not loaded
    }
    m_functions = f;
    m_library = std::move(library);
}

}  // namespace parevo

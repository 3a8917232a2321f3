#pragma once
// The binding to the RAR extraction library, loaded at run time
// by its bare name. The records and codes are the vendor's published interface
// (archive/unrar_interface.h), so the vendor's library of the same name works too.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/unrar_interface.h"
#include "platform/dynlib.h"

namespace parevo {

using RarLParam = UNRAR_LPARAM;
using UnRarCallback = UNRARCALLBACK;

// The entry points the component calls, looked up by name.
struct UnRarFunctions {
    void*(UNRAR_CALL* RAROpenArchive)(RAROpenArchiveData*) = nullptr;
    void*(UNRAR_CALL* RAROpenArchiveEx)(RAROpenArchiveDataEx*) = nullptr;
    int(UNRAR_CALL* RARCloseArchive)(void*) = nullptr;
    int(UNRAR_CALL* RARReadHeader)(void*, RARHeaderData*) = nullptr;
    int(UNRAR_CALL* RARReadHeaderEx)(void*, RARHeaderDataEx*) = nullptr;
    int(UNRAR_CALL* RARProcessFile)(void*, int, char*, char*) = nullptr;
    void(UNRAR_CALL* RARSetCallback)(void*, UnRarCallback, RarLParam) = nullptr;
    void(UNRAR_CALL* RARSetChangeVolProc)(void*, int(UNRAR_CALL*)(char*, int)) = nullptr;
    void(UNRAR_CALL* RARSetProcessDataProc)(void*, int(UNRAR_CALL*)(unsigned char*, int)) = nullptr;
    void(UNRAR_CALL* RARSetPassword)(void*, char*) = nullptr;
    int(UNRAR_CALL* RARGetDllVersion)() = nullptr;
    // Windows: the wide forms, so names outside the ANSI code page reach the library whole.
    int(UNRAR_CALL* RARProcessFileW)(void*, int, wchar_t*, wchar_t*) = nullptr;
};

// "unrar.dll" on Windows, "libunrar.so" on Linux, "libunrar.dylib" on macOS.
std::string UnRarLibraryFileName();

// One loaded copy of the library. Loaded() is false when the file could not be
// loaded or lacks any of the eleven entry points; the functions are then all null.
class UnRarLibrary {
  public:
    explicit UnRarLibrary(const std::string& fileName = UnRarLibraryFileName());
    UnRarLibrary(const UnRarLibrary&) = delete;
    UnRarLibrary& operator=(const UnRarLibrary&) = delete;

    bool Loaded() const { return m_library != nullptr; }
    const UnRarFunctions& Functions() const { return m_functions; }

  private:
    std::unique_ptr<DynamicLibrary> m_library;
    UnRarFunctions m_functions;
};

}  // namespace parevo

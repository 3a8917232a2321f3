#pragma once
// Unit untUnRar: the binding to the RAR extraction library, loaded at run time
// by its bare name. The records and codes mirror the vendor's published
// interface byte for byte, so the vendor's library of the same name works too.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/dynlib.h"

namespace parevo {

#ifdef _WIN32
#define PAREVO_UNRAR_CALL __stdcall
using RarLParam = std::intptr_t;
#else
#define PAREVO_UNRAR_CALL
using RarLParam = long;
#endif

// Results.
constexpr int ERAR_SUCCESS = 0;
constexpr int ERAR_END_ARCHIVE = 10;
constexpr int ERAR_NO_MEMORY = 11;
constexpr int ERAR_BAD_DATA = 12;
constexpr int ERAR_BAD_ARCHIVE = 13;
constexpr int ERAR_UNKNOWN_FORMAT = 14;
constexpr int ERAR_EOPEN = 15;
constexpr int ERAR_ECREATE = 16;
constexpr int ERAR_ECLOSE = 17;
constexpr int ERAR_EREAD = 18;
constexpr int ERAR_EWRITE = 19;
constexpr int ERAR_SMALL_BUF = 20;
constexpr int ERAR_UNKNOWN = 21;
constexpr int ERAR_MISSING_PASSWORD = 22;
constexpr int ERAR_EREFERENCE = 23;
constexpr int ERAR_BAD_PASSWORD = 24;

// Open modes and per-entry operations.
constexpr unsigned RAR_OM_LIST = 0;
constexpr unsigned RAR_OM_EXTRACT = 1;
constexpr int RAR_SKIP = 0;
constexpr int RAR_TEST = 1;
constexpr int RAR_EXTRACT = 2;

// Callback messages and volume modes.
constexpr unsigned UCM_CHANGEVOLUME = 0;
constexpr unsigned UCM_PROCESSDATA = 1;
constexpr unsigned UCM_NEEDPASSWORD = 2;
constexpr unsigned UCM_CHANGEVOLUMEW = 3;
constexpr unsigned UCM_NEEDPASSWORDW = 4;
constexpr int RAR_VOL_ASK = 0;
constexpr int RAR_VOL_NOTIFY = 1;

// Header flags of interface versions that report them as bits of their own.
constexpr unsigned RHDF_SPLITBEFORE = 0x01;
constexpr unsigned RHDF_SPLITAFTER = 0x02;
constexpr unsigned RHDF_ENCRYPTED = 0x04;
constexpr unsigned RHDF_DIRECTORY = 0x20;

using UnRarCallback = int(PAREVO_UNRAR_CALL*)(unsigned msg, RarLParam userData, RarLParam p1,
                                              RarLParam p2);

#pragma pack(push, 1)

struct RAROpenArchiveData {
    char* ArcName;        // 0
    unsigned OpenMode;    // 8 (on 64-bit)
    unsigned OpenResult;  // 12
    char* CmtBuf;         // 16
    unsigned CmtBufSize;  // 24
    unsigned CmtSize;     // 28
    unsigned CmtState;    // 32
};

struct RAROpenArchiveDataEx {
    char* ArcName;
    wchar_t* ArcNameW;
    unsigned OpenMode;
    unsigned OpenResult;
    char* CmtBuf;
    unsigned CmtBufSize;
    unsigned CmtSize;
    unsigned CmtState;
    unsigned Flags;
    UnRarCallback Callback;
    RarLParam UserData;
    unsigned OpFlags;
    wchar_t* CmtBufW;
    wchar_t* MarkOfTheWeb;
    unsigned Reserved[23];
};

struct RARHeaderData {
    char ArcName[260];   // 0
    char FileName[260];  // 260
    unsigned Flags;      // 520
    unsigned PackSize;
    unsigned UnpSize;
    unsigned HostOS;
    unsigned FileCRC;
    unsigned FileTime;
    unsigned UnpVer;
    unsigned Method;
    unsigned FileAttr;
    char* CmtBuf;  // 556
    unsigned CmtBufSize;
    unsigned CmtSize;
    unsigned CmtState;
};

struct RARHeaderDataEx {
    char ArcName[1024];
    wchar_t ArcNameW[1024];
    char FileName[1024];
    wchar_t FileNameW[1024];
    unsigned Flags;  // 2048 + 2048 * sizeof(wchar_t)
    unsigned PackSize;
    unsigned PackSizeHigh;
    unsigned UnpSize;
    unsigned UnpSizeHigh;
    unsigned HostOS;
    unsigned FileCRC;
    unsigned FileTime;
    unsigned UnpVer;
    unsigned Method;
    unsigned FileAttr;
    char* CmtBuf;
    unsigned CmtBufSize;
    unsigned CmtSize;
    unsigned CmtState;
    unsigned DictSize;
    unsigned HashType;
    char Hash[32];
    unsigned RedirType;
    wchar_t* RedirName;
    unsigned RedirNameSize;
    unsigned DirTarget;
    unsigned MtimeLow;
    unsigned MtimeHigh;
    unsigned CtimeLow;
    unsigned CtimeHigh;
    unsigned AtimeLow;
    unsigned AtimeHigh;
    wchar_t* ArcNameEx;
    unsigned ArcNameExSize;
    wchar_t* FileNameEx;
    unsigned FileNameExSize;
    unsigned Reserved[982];
};

#pragma pack(pop)

static_assert(sizeof(unsigned) == 4);
static_assert(sizeof(RAROpenArchiveData) == 2 * sizeof(void*) + 5 * 4);
static_assert(offsetof(RAROpenArchiveData, CmtBuf) == sizeof(void*) + 8);
static_assert(offsetof(RAROpenArchiveDataEx, OpenMode) == 2 * sizeof(void*));
static_assert(offsetof(RAROpenArchiveDataEx, Callback) == 3 * sizeof(void*) + 24);
static_assert(offsetof(RAROpenArchiveDataEx, Reserved) ==
              6 * sizeof(void*) + sizeof(RarLParam) + 28);
static_assert(sizeof(RAROpenArchiveDataEx) == offsetof(RAROpenArchiveDataEx, Reserved) + 23 * 4);
static_assert(offsetof(RARHeaderData, FileName) == 260);
static_assert(offsetof(RARHeaderData, Flags) == 520);
static_assert(offsetof(RARHeaderData, CmtBuf) == 556);
static_assert(sizeof(RARHeaderData) == 556 + sizeof(void*) + 12);
static_assert(offsetof(RARHeaderDataEx, FileName) == 1024 + 1024 * sizeof(wchar_t));
static_assert(offsetof(RARHeaderDataEx, Flags) == 2048 + 2048 * sizeof(wchar_t));
static_assert(offsetof(RARHeaderDataEx, CmtBuf) == offsetof(RARHeaderDataEx, Flags) + 11 * 4);
static_assert(offsetof(RARHeaderDataEx, Hash) ==
              offsetof(RARHeaderDataEx, CmtBuf) + sizeof(void*) + 5 * 4);
static_assert(offsetof(RARHeaderDataEx, RedirName) == offsetof(RARHeaderDataEx, Hash) + 32 + 4);
static_assert(offsetof(RARHeaderDataEx, ArcNameEx) ==
              offsetof(RARHeaderDataEx, RedirName) + sizeof(void*) + 8 * 4);
static_assert(offsetof(RARHeaderDataEx, Reserved) ==
              offsetof(RARHeaderDataEx, ArcNameEx) + 2 * sizeof(void*) + 2 * 4);
static_assert(sizeof(RARHeaderDataEx) == offsetof(RARHeaderDataEx, Reserved) + 982 * 4);

// The entry points the component calls, looked up by name.
struct UnRarFunctions {
    void*(PAREVO_UNRAR_CALL* RAROpenArchive)(RAROpenArchiveData*) = nullptr;
    void*(PAREVO_UNRAR_CALL* RAROpenArchiveEx)(RAROpenArchiveDataEx*) = nullptr;
    int(PAREVO_UNRAR_CALL* RARCloseArchive)(void*) = nullptr;
    int(PAREVO_UNRAR_CALL* RARReadHeader)(void*, RARHeaderData*) = nullptr;
    int(PAREVO_UNRAR_CALL* RARReadHeaderEx)(void*, RARHeaderDataEx*) = nullptr;
    int(PAREVO_UNRAR_CALL* RARProcessFile)(void*, int, char*, char*) = nullptr;
    void(PAREVO_UNRAR_CALL* RARSetCallback)(void*, UnRarCallback, RarLParam) = nullptr;
    void(PAREVO_UNRAR_CALL* RARSetChangeVolProc)(void*,
                                                 int(PAREVO_UNRAR_CALL*)(char*, int)) = nullptr;
    void(PAREVO_UNRAR_CALL* RARSetProcessDataProc)(void*, int(PAREVO_UNRAR_CALL*)(unsigned char*,
                                                                                  int)) = nullptr;
    void(PAREVO_UNRAR_CALL* RARSetPassword)(void*, char*) = nullptr;
    int(PAREVO_UNRAR_CALL* RARGetDllVersion)() = nullptr;
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

#pragma once
// The RAR vendor's extraction-library interface (version 10): records, codes and
// entry points, laid out byte for byte as the vendor publishes them, so that this
// library and the vendor's own are interchangeable.

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#define UNRAR_CALL __stdcall
#define UNRAR_EXPORT extern "C" __declspec(dllexport)
typedef std::intptr_t UNRAR_LPARAM;
#else
#define UNRAR_CALL
#define UNRAR_EXPORT extern "C" __attribute__((visibility("default")))
typedef long UNRAR_LPARAM;
#endif

constexpr unsigned ERAR_SUCCESS = 0;
constexpr unsigned ERAR_END_ARCHIVE = 10;
constexpr unsigned ERAR_NO_MEMORY = 11;
constexpr unsigned ERAR_BAD_DATA = 12;
constexpr unsigned ERAR_BAD_ARCHIVE = 13;
constexpr unsigned ERAR_UNKNOWN_FORMAT = 14;
constexpr unsigned ERAR_EOPEN = 15;
constexpr unsigned ERAR_ECREATE = 16;
constexpr unsigned ERAR_ECLOSE = 17;
constexpr unsigned ERAR_EREAD = 18;
constexpr unsigned ERAR_EWRITE = 19;
constexpr unsigned ERAR_SMALL_BUF = 20;
constexpr unsigned ERAR_UNKNOWN = 21;
constexpr unsigned ERAR_MISSING_PASSWORD = 22;
constexpr unsigned ERAR_EREFERENCE = 23;
constexpr unsigned ERAR_BAD_PASSWORD = 24;
constexpr unsigned ERAR_LARGE_DICT = 25;

constexpr unsigned RAR_OM_LIST = 0;
constexpr unsigned RAR_OM_EXTRACT = 1;
constexpr unsigned RAR_OM_LIST_INCSPLIT = 2;
constexpr int RAR_SKIP = 0;
constexpr int RAR_TEST = 1;
constexpr int RAR_EXTRACT = 2;
constexpr int RAR_VOL_ASK = 0;
constexpr int RAR_VOL_NOTIFY = 1;
constexpr int RAR_DLL_VERSION = 10;
constexpr unsigned RAR_HASH_NONE = 0;
constexpr unsigned RAR_HASH_CRC32 = 1;
constexpr unsigned RAR_HASH_BLAKE2 = 2;
constexpr unsigned RHDF_SPLITBEFORE = 0x01;
constexpr unsigned RHDF_SPLITAFTER = 0x02;
constexpr unsigned RHDF_ENCRYPTED = 0x04;
constexpr unsigned RHDF_SOLID = 0x10;
constexpr unsigned RHDF_DIRECTORY = 0x20;
constexpr unsigned UCM_CHANGEVOLUME = 0;
constexpr unsigned UCM_PROCESSDATA = 1;
constexpr unsigned UCM_NEEDPASSWORD = 2;
constexpr unsigned UCM_CHANGEVOLUMEW = 3;
constexpr unsigned UCM_NEEDPASSWORDW = 4;
constexpr unsigned UCM_LARGEDICT = 5;
constexpr unsigned ROADF_VOLUME = 0x0001;
constexpr unsigned ROADF_COMMENT = 0x0002;
constexpr unsigned ROADF_LOCK = 0x0004;
constexpr unsigned ROADF_SOLID = 0x0008;
constexpr unsigned ROADF_NEWNUMBERING = 0x0010;
constexpr unsigned ROADF_SIGNED = 0x0020;
constexpr unsigned ROADF_RECOVERY = 0x0040;
constexpr unsigned ROADF_ENCHEADERS = 0x0080;
constexpr unsigned ROADF_FIRSTVOLUME = 0x0100;
constexpr unsigned ROADOF_KEEPBROKEN = 0x0001;
constexpr unsigned ROADOF_SHARED = 0x0002;

typedef int(UNRAR_CALL* UNRARCALLBACK)(unsigned msg, UNRAR_LPARAM userData, UNRAR_LPARAM p1,
                                       UNRAR_LPARAM p2);
typedef int(UNRAR_CALL* CHANGEVOLPROC)(char* arcName, int mode);
typedef int(UNRAR_CALL* PROCESSDATAPROC)(unsigned char* addr, int size);

#pragma pack(push, 1)

struct RAROpenArchiveData {
    char* ArcName;
    unsigned OpenMode;
    unsigned OpenResult;
    char* CmtBuf;
    unsigned CmtBufSize;
    unsigned CmtSize;
    unsigned CmtState;
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
    UNRARCALLBACK Callback;
    UNRAR_LPARAM UserData;
    unsigned OpFlags;
    wchar_t* CmtBufW;
    wchar_t* MarkOfTheWeb;
    unsigned Reserved[23];
};

struct RARHeaderData {
    char ArcName[260];
    char FileName[260];
    unsigned Flags;
    unsigned PackSize;
    unsigned UnpSize;
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
};

struct RARHeaderDataEx {
    char ArcName[1024];
    wchar_t ArcNameW[1024];
    char FileName[1024];
    wchar_t FileNameW[1024];
    unsigned Flags;
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
static_assert(offsetof(RARHeaderData, Flags) == 520);
static_assert(offsetof(RARHeaderData, CmtBuf) == 556);
static_assert(offsetof(RARHeaderDataEx, Flags) == 2048 + 2048 * sizeof(wchar_t));
static_assert(offsetof(RARHeaderDataEx, CmtBuf) == offsetof(RARHeaderDataEx, Flags) + 44);
static_assert(offsetof(RARHeaderDataEx, Hash) ==
              offsetof(RARHeaderDataEx, CmtBuf) + sizeof(void*) + 20);
static_assert(offsetof(RARHeaderDataEx, Reserved) + 982 * 4 == sizeof(RARHeaderDataEx));
static_assert(offsetof(RAROpenArchiveDataEx, Callback) ==
              2 * sizeof(void*) + 8 + sizeof(void*) + 16);
static_assert(sizeof(RAROpenArchiveDataEx) ==
              offsetof(RAROpenArchiveDataEx, MarkOfTheWeb) + sizeof(void*) + 23 * 4);

UNRAR_EXPORT void* UNRAR_CALL RAROpenArchive(RAROpenArchiveData* data);
UNRAR_EXPORT void* UNRAR_CALL RAROpenArchiveEx(RAROpenArchiveDataEx* data);
UNRAR_EXPORT int UNRAR_CALL RARCloseArchive(void* handle);
UNRAR_EXPORT int UNRAR_CALL RARReadHeader(void* handle, RARHeaderData* header);
UNRAR_EXPORT int UNRAR_CALL RARReadHeaderEx(void* handle, RARHeaderDataEx* header);
UNRAR_EXPORT int UNRAR_CALL RARProcessFile(void* handle, int operation, char* destPath,
                                           char* destName);
UNRAR_EXPORT int UNRAR_CALL RARProcessFileW(void* handle, int operation, wchar_t* destPath,
                                            wchar_t* destName);
UNRAR_EXPORT void UNRAR_CALL RARSetCallback(void* handle, UNRARCALLBACK callback,
                                            UNRAR_LPARAM userData);
UNRAR_EXPORT void UNRAR_CALL RARSetChangeVolProc(void* handle, CHANGEVOLPROC proc);
UNRAR_EXPORT void UNRAR_CALL RARSetProcessDataProc(void* handle, PROCESSDATAPROC proc);
UNRAR_EXPORT void UNRAR_CALL RARSetPassword(void* handle, char* password);
UNRAR_EXPORT int UNRAR_CALL RARGetDllVersion();

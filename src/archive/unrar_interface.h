#pragma once
// The RAR vendor's extraction-library interface (version 10): records, codes and
// calling convention, laid out byte for byte as the vendor publishes them. Both
// sides use this one description: the component's binding and our library, so
// that our library and the vendor's own are interchangeable.

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#define UNRAR_CALL __stdcall
typedef std::intptr_t UNRAR_LPARAM;
#else
#define UNRAR_CALL
typedef long UNRAR_LPARAM;
#endif

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
constexpr int ERAR_LARGE_DICT = 25;

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
static_assert(offsetof(RAROpenArchiveData, CmtBuf) == sizeof(void*) + 8);
static_assert(offsetof(RAROpenArchiveDataEx, OpenMode) == 2 * sizeof(void*));
static_assert(offsetof(RAROpenArchiveDataEx, Callback) == 3 * sizeof(void*) + 24);
static_assert(offsetof(RAROpenArchiveDataEx, Reserved) ==
              6 * sizeof(void*) + sizeof(UNRAR_LPARAM) + 28);
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

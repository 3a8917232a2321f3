#pragma once
// The unzip library's interface: the command record the zip component hands to
// UnzDllExec, the callback record the library calls back with, their action
// codes and versions. Both sides include this one description.

#include <cstddef>
#include <cstdint>

namespace parevo {

// Field order and meaning are fixed; the offsets in the comments are those of a
// 32-bit build, where every field is 4 bytes. Pointer fields are pointer-sized,
// so a 64-bit build has its own offsets (asserted below).

struct UnzipCallbackInfo;
using UnzipCallbackFn = std::int32_t (*)(UnzipCallbackInfo* info);

// One element of the name array.
struct UnzipFileSpec {
    const char* FileSpec = nullptr;  // 0  zero-terminated member name
    std::int32_t Reserved[17] = {};  // 4
};

struct UnzipCommand {
    std::int32_t Handle = 0;             // 0
    void* Caller = nullptr;              // 4  the calling component, handed back
    std::int32_t Version = 0;            // 8  interface version (160)
    UnzipCallbackFn Callback = nullptr;  // 12
    std::int32_t Reserved16 = 0;         // 16
    std::int32_t Reserved20 = 0;         // 20
    const char* Password = nullptr;      // 24 null when none
    std::int32_t Reserved28 = 0;         // 28
    std::int32_t Reserved32 = 0;         // 32
    std::int32_t Reserved36 = 0;         // 36
    std::int32_t Option40 = 0;           // 40 -1
    std::int32_t Reserved44 = 0;         // 44
    std::int32_t Option48 = 0;           // 48 -1
    std::int32_t Reserved52 = 0;         // 52
    std::int32_t FlatFolders = 0;        // 56 0: members keep their folder part
    std::int32_t Reserved60 = 0;         // 60
    std::int32_t FileSpecCount = 0;      // 64
    const char* ZipFileName = nullptr;   // 68
    UnzipFileSpec* FileSpecs = nullptr;  // 72
    std::int32_t Reserved76[7] = {};     // 76
    std::int32_t Option104 = 0;          // 104 3
    const char* ExtractDir = nullptr;    // 108 absolute, ends in a separator
    std::int32_t Reserved112[8] = {};    // 112
    std::int32_t Option144 = 0;          // 144 7
};

struct UnzipCallbackInfo {
    std::int32_t Reserved0 = 0;   // 0
    void* Caller = nullptr;       // 4  UnzipCommand::Caller
    std::int32_t Reserved8 = 0;   // 8
    std::int32_t Reserved12 = 0;  // 12
    std::int32_t ActionCode = 0;  // 16 0 to 11
    std::int32_t Answer = 0;      // 20
    std::int32_t Value = 0;       // 24
    char Text[512] = {};          // 28
};

// Action codes of the callback.
enum UnzipAction : std::int32_t {
    UZ_BEGIN_FILE = 1,
    UZ_PROGRESS = 2,
    UZ_END_BATCH = 3,
    UZ_BATCH_COUNT = 5,
    UZ_BATCH_BYTES = 6,
    UZ_PASSWORD = 8,
    UZ_CRC_ERROR = 9,
    UZ_OVERWRITE = 10,
    UZ_SKIPPED = 11,
};

// The first password request for a member carries this try count.
constexpr std::int32_t kUnzipPasswordTries = 3;
constexpr std::int32_t kUnzipInterfaceVersion = 160;
constexpr std::int32_t kUnzipMinimumLibraryVersion = 160;

using UnzDllExecFn = std::int32_t (*)(UnzipCommand* command);
using GetUnzDllVersionFn = std::int32_t (*)();

#define PAREVO_FIELD_AT(type, field, off32, off64) \
    static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (off32) : (off64)))
PAREVO_FIELD_AT(UnzipFileSpec, Reserved, 4, 8);
static_assert(sizeof(UnzipFileSpec) == (sizeof(void*) == 4 ? 72 : 80));
PAREVO_FIELD_AT(UnzipCommand, Caller, 4, 8);
PAREVO_FIELD_AT(UnzipCommand, Version, 8, 16);
PAREVO_FIELD_AT(UnzipCommand, Callback, 12, 24);
PAREVO_FIELD_AT(UnzipCommand, Password, 24, 40);
PAREVO_FIELD_AT(UnzipCommand, Option40, 40, 60);
PAREVO_FIELD_AT(UnzipCommand, Option48, 48, 68);
PAREVO_FIELD_AT(UnzipCommand, FlatFolders, 56, 76);
PAREVO_FIELD_AT(UnzipCommand, FileSpecCount, 64, 84);
PAREVO_FIELD_AT(UnzipCommand, ZipFileName, 68, 88);
PAREVO_FIELD_AT(UnzipCommand, FileSpecs, 72, 96);
PAREVO_FIELD_AT(UnzipCommand, Option104, 104, 132);
PAREVO_FIELD_AT(UnzipCommand, ExtractDir, 108, 136);
PAREVO_FIELD_AT(UnzipCommand, Option144, 144, 176);
static_assert(sizeof(UnzipCommand) == (sizeof(void*) == 4 ? 148 : 184));
PAREVO_FIELD_AT(UnzipCallbackInfo, Caller, 4, 8);
PAREVO_FIELD_AT(UnzipCallbackInfo, ActionCode, 16, 24);
PAREVO_FIELD_AT(UnzipCallbackInfo, Answer, 20, 28);
PAREVO_FIELD_AT(UnzipCallbackInfo, Value, 24, 32);
PAREVO_FIELD_AT(UnzipCallbackInfo, Text, 28, 36);
#undef PAREVO_FIELD_AT

}  // namespace parevo

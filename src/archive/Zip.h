#pragma once
// TZip: reads a zip archive's central directory itself and extracts chosen
// members through the unzip library, loaded at run time by its bare name. The
// library calls back for every step; the component turns those calls into its
// events and answers the library's questions through the prompter seam.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/zip_names.h"
#include "platform/drive_info.h"
#include "platform/dynlib.h"
#include "platform/errors.h"
#include "platform/prompter.h"

namespace parevo {

static_assert(std::endian::native == std::endian::little,
              "the zip records are read straight into little-endian structs");

// The component's errors; what() is the message text.
class ZipException : public Error {
  public:
    using Error::Error;
};

// ---- On-disk records (little-endian, packed) -------------------------------

#pragma pack(push, 1)
// The fixed part of a central-directory file header.
struct TZipCentralHeader {
    std::uint32_t Signature;          // 0  0x02014B50
    std::uint8_t FormatVersion;       // 4  version made by, low byte
    std::uint8_t HostSystem;          // 5  version made by, high byte
    std::uint16_t VersionNeeded;      // 6
    std::uint16_t Flag;               // 8  general-purpose flags
    std::uint16_t CompressionMethod;  // 10
    std::uint16_t ModifTime;          // 12
    std::uint16_t ModifDate;          // 14
    std::uint32_t CRC32;              // 16
    std::uint32_t ComprSize;          // 20
    std::uint32_t UncomprSize;        // 24
    std::uint16_t FileNameLen;        // 28
    std::uint16_t ExtraLen;           // 30
    std::uint16_t FileComLen;         // 32
    std::uint16_t DiskStart;          // 34
    std::uint16_t IntFileAtt;         // 36
    std::uint32_t ExtFileAtt;         // 38
    std::uint32_t RelOffLocal;        // 42
};

// The fixed part of the end-of-central-directory record.
struct TZipEndRecord {
    std::uint32_t Signature;       // 0  0x06054B50
    std::uint16_t ThisDiskNo;      // 4
    std::uint16_t CentralDiskNo;   // 6  disk where the directory starts
    std::uint16_t CentralEntries;  // 8  entries on this disk
    std::uint16_t TotalEntries;    // 10
    std::uint32_t CentralSize;     // 12
    std::uint32_t CentralOffset;   // 16
    std::uint16_t ZipCommentLen;   // 20
};
#pragma pack(pop)
static_assert(sizeof(TZipCentralHeader) == 46);
static_assert(offsetof(TZipCentralHeader, CRC32) == 16);
static_assert(offsetof(TZipCentralHeader, RelOffLocal) == 42);
static_assert(sizeof(TZipEndRecord) == 22);
static_assert(offsetof(TZipEndRecord, CentralOffset) == 16);

// One central-directory entry.
struct TFileInfo {
    TZipCentralHeader Header{};  // the 46 bytes as stored
    bool Encrypted = false;      // flag bit 0
    std::string FileName;        // converted name, the system's separators
    std::string ExtraField;      // raw bytes
    std::string FileComment;
};

// The end record.
struct TEOCHInfo {
    TZipEndRecord Record{kZipEndRecordSignature, 0, 0, 0, 0, 0, 0, 0};
    std::string Comment;                  // as stored
    std::int64_t EndRecordPosition = -1;  // -1 while not found
};

// ---- Records exchanged with the unzip library ------------------------------
// Field order and meaning are fixed; the offsets in the comments are those of a
// 32-bit build, where every field is 4 bytes. Pointer fields are pointer-sized,
// so a 64-bit build has its own offsets (asserted below).

struct TUnzipCallbackInfo;
using TUnzipCallback = std::int32_t (*)(TUnzipCallbackInfo* info);

// One element of the name array.
struct TUnzipFileData {
    const char* FileSpec = nullptr;  // 0  zero-terminated member name
    std::int32_t Reserved[17] = {};  // 4
};

struct TUnzipCommand {
    std::int32_t Handle = 0;              // 0
    void* Caller = nullptr;               // 4  the calling component, handed back
    std::int32_t Version = 0;             // 8  interface version (160)
    TUnzipCallback Callback = nullptr;    // 12
    std::int32_t Reserved16 = 0;          // 16
    std::int32_t Reserved20 = 0;          // 20
    const char* Password = nullptr;       // 24 null when none
    std::int32_t Reserved28 = 0;          // 28
    std::int32_t Reserved32 = 0;          // 32
    std::int32_t Reserved36 = 0;          // 36
    std::int32_t Option40 = 0;            // 40 -1
    std::int32_t Reserved44 = 0;          // 44
    std::int32_t Option48 = 0;            // 48 -1
    std::int32_t Reserved52 = 0;          // 52
    std::int32_t FlatFolders = 0;         // 56 0: members keep their folder part
    std::int32_t Reserved60 = 0;          // 60
    std::int32_t FileSpecCount = 0;       // 64
    const char* ZipFileName = nullptr;    // 68
    TUnzipFileData* FileSpecs = nullptr;  // 72
    std::int32_t Reserved76[7] = {};      // 76
    std::int32_t Option104 = 0;           // 104 3
    const char* ExtractDir = nullptr;     // 108 absolute, ends in a separator
    std::int32_t Reserved112[8] = {};     // 112
    std::int32_t Option144 = 0;           // 144 7
};

struct TUnzipCallbackInfo {
    std::int32_t Reserved0 = 0;   // 0
    void* Caller = nullptr;       // 4  TUnzipCommand::Caller
    std::int32_t Reserved8 = 0;   // 8
    std::int32_t Reserved12 = 0;  // 12
    std::int32_t ActionCode = 0;  // 16 0 to 11
    std::int32_t Answer = 0;      // 20
    std::int32_t Value = 0;       // 24
    char Text[512] = {};          // 28
};

// Action codes of the callback.
enum TUnzipAction : std::int32_t {
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

using UnzDllExecFn = std::int32_t (*)(TUnzipCommand* command);
using GetUnzDllVersionFn = std::int32_t (*)();

#define PAREVO_FIELD_AT(type, field, off32, off64) \
    static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (off32) : (off64)))
PAREVO_FIELD_AT(TUnzipFileData, Reserved, 4, 8);
static_assert(sizeof(TUnzipFileData) == (sizeof(void*) == 4 ? 72 : 80));
PAREVO_FIELD_AT(TUnzipCommand, Caller, 4, 8);
PAREVO_FIELD_AT(TUnzipCommand, Version, 8, 16);
PAREVO_FIELD_AT(TUnzipCommand, Callback, 12, 24);
PAREVO_FIELD_AT(TUnzipCommand, Password, 24, 40);
PAREVO_FIELD_AT(TUnzipCommand, Option40, 40, 60);
PAREVO_FIELD_AT(TUnzipCommand, Option48, 48, 68);
PAREVO_FIELD_AT(TUnzipCommand, FlatFolders, 56, 76);
PAREVO_FIELD_AT(TUnzipCommand, FileSpecCount, 64, 84);
PAREVO_FIELD_AT(TUnzipCommand, ZipFileName, 68, 88);
PAREVO_FIELD_AT(TUnzipCommand, FileSpecs, 72, 96);
PAREVO_FIELD_AT(TUnzipCommand, Option104, 104, 132);
PAREVO_FIELD_AT(TUnzipCommand, ExtractDir, 108, 136);
PAREVO_FIELD_AT(TUnzipCommand, Option144, 144, 176);
static_assert(sizeof(TUnzipCommand) == (sizeof(void*) == 4 ? 148 : 184));
PAREVO_FIELD_AT(TUnzipCallbackInfo, Caller, 4, 8);
PAREVO_FIELD_AT(TUnzipCallbackInfo, ActionCode, 16, 24);
PAREVO_FIELD_AT(TUnzipCallbackInfo, Answer, 20, 28);
PAREVO_FIELD_AT(TUnzipCallbackInfo, Value, 24, 32);
PAREVO_FIELD_AT(TUnzipCallbackInfo, Text, 28, 36);
#undef PAREVO_FIELD_AT

// ---- The progress dialog seam ----------------------------------------------

// The small dialog shown during an extraction when ShowProgressDialog is set:
// a label, a bar and a Cancel button. The window draws it; tests record it.
class TProgressForm {
  public:
    virtual ~TProgressForm() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    // Sets the label's text and centres it again.
    virtual void SetLabel(const std::string& text) = 0;
    virtual void SetBarMax(int maximum) = 0;
    virtual void SetBarPosition(int position) = 0;
};
// Creates the dialog; its Cancel button calls `onCancel`.
using ProgressFormFactory =
    std::function<std::unique_ptr<TProgressForm>(std::function<void()> onCancel)>;

// ---- The component ---------------------------------------------------------

class TZip {
  public:
    using TZEDBeginFileEvent =
        std::function<void(TZip* sender, const std::string& Filename, std::int32_t FileSize,
                           std::int32_t BatchCount, std::int32_t TotalBytesInBatch)>;
    using TProgressEvent = std::function<void(TZip* sender, const std::string& Filename,
                                              std::int32_t BytesDone, std::int32_t TotalBytes)>;
    using TZEDEndBatchEvent =
        std::function<void(TZip* sender, std::int32_t SkippedCount, std::int32_t BatchCount,
                           std::int32_t TotalBytesInBatch)>;
    using TNotifyEvent = std::function<void(TZip* sender)>;

    // The prompter and drive seams must outlive the component.
    explicit TZip(Prompter& prompter, DriveInfo& drives = SystemDriveInfo());
    ~TZip();
    TZip(const TZip&) = delete;
    TZip& operator=(const TZip&) = delete;

    const std::string& ZipFileName() const { return m_zipFileName; }
    // Forgets the earlier archive and reads this one's directory. Throws ZipException.
    void SetZipFileName(const std::string& path);

    const std::string& Password() const { return m_password; }
    void SetPassword(const std::string& password) { m_password = password; }

    int Count() const { return static_cast<int>(m_entries.size()); }
    // A copy of entry `index` (0-based); throws ZipException "Index range error".
    TFileInfo GetEntry(int index) const;
    const TEOCHInfo& EndRecord() const { return m_endRecord; }

    // Names of the members the next Extract asks for, spelt as the entries' FileName.
    std::vector<std::string>& FileSpecs() { return m_fileSpecs; }

    bool ShowProgressDialog() const { return m_showProgressDialog; }
    void SetShowProgressDialog(bool show) { m_showProgressDialog = show; }
    const std::string& ExtractDir() const { return m_extractDir; }
    void SetExtractDir(const std::string& folder) { m_extractDir = folder; }
    bool Cancelled() const { return m_cancelled; }
    // Members of the last Extract whose file on disk was kept because it is not
    // older than the member, spelt as the library named them.
    const std::vector<std::string>& KeptFiles() const { return m_keptFiles; }

    // Extracts the members named in FileSpecs; returns the library's result, 0
    // when nothing was attempted. Throws ZipException.
    std::int32_t Extract();

    // The file name the library is loaded by; the platform's form of "UnzDll"
    // unless changed (before the first Extract).
    const std::string& LibraryFileName() const { return m_libraryFileName; }
    void SetLibraryFileName(const std::string& fileName) { m_libraryFileName = fileName; }

    // Caption of every message and input box.
    std::string Caption = "Parevo";
    // Lets the window handle pending messages; called after every callback.
    std::function<void()> ProcessMessages;
    // Makes the progress dialog; unset, no dialog is shown even when asked for.
    ProgressFormFactory CreateProgressForm;

    TZEDBeginFileEvent OnZEDBeginFileEvent;
    TProgressEvent OnZEDProgressEvent;
    TZEDEndBatchEvent OnZEDEndBatchEvent;
    TProgressEvent OnMergeProgress;  // never fired
    TProgressEvent OnSpanProgress;   // never fired
    TNotifyEvent OnContentsChanged;

    // The library's callback; `info->Caller` is the component.
    static std::int32_t UnzipCallback(TUnzipCallbackInfo* info);

  private:
    class DirectoryReader;

    void ReadDirectory();
    bool LoadUnzDll();
    std::string TargetFolder() const;
    std::int32_t HandleCallback(TUnzipCallbackInfo& info);
    void AskPassword(TUnzipCallbackInfo& info);
    void AskDamaged(TUnzipCallbackInfo& info);
    void HideDialog();
    void ShowDialogAgain();
    void CancelFromDialog();

    Prompter& m_prompter;
    DriveInfo& m_drives;
    std::string m_zipFileName;
    std::string m_password;
    std::vector<TFileInfo> m_entries;
    std::vector<std::string> m_fileSpecs;
    TEOCHInfo m_endRecord;
    bool m_oemNames = false;
    bool m_cancelled = false;
    std::vector<std::string> m_keptFiles;
    bool m_showProgressDialog = true;
    std::string m_extractDir;
    std::string m_libraryFileName;
    std::unique_ptr<DynamicLibrary> m_library;
    UnzDllExecFn m_exec = nullptr;
    std::unique_ptr<TProgressForm> m_dialog;
    std::exception_ptr m_pendingError;  // raised by a handler inside the library call

    // Progress state of the running batch.
    std::string m_filename;
    std::int32_t m_batchCount = 0;
    std::int32_t m_totalBytesInBatch = 0;
    std::int64_t m_bytesDone = 0;  // 64-bit: a batch of 2 GiB or more must not wrap
    std::int32_t m_skippedCount = 0;
    float m_factor = 1.0f;
};

}  // namespace parevo

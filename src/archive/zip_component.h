#pragma once
// ZipComponent: reads a zip archive's central directory itself and extracts chosen
// members through the unzip library, loaded at run time by its bare name. The
// library calls back for every step; the component turns those calls into its
// events and answers the library's questions through the prompter seam.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/unzip_interface.h"
#include "archive/zip_format.h"
#include "archive/zip_names.h"
#include "platform/drive_info.h"
#include "platform/dynlib.h"
#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/prompter.h"

namespace parevo {

// The component's errors; what() is the message text.
class ZipException : public Error {
  public:
    using Error::Error;
};

// One central-directory entry.
struct ZipEntry {
    ZipCentralHeader Header{};  // the 46 bytes as stored
    bool Encrypted = false;     // flag bit 0
    std::string FileName;       // converted name, the system's separators
    std::string ExtraField;     // raw bytes
    std::string FileComment;
};

// The end record.
struct ZipEndInfo {
    ZipEndRecord Record{kZipEndRecordSignature, 0, 0, 0, 0, 0, 0, 0};
    std::string Comment;                  // as stored
    std::int64_t EndRecordPosition = -1;  // -1 while not found
};

// ---- The progress dialog seam ----------------------------------------------

// The small dialog shown during an extraction when ShowProgressDialog is set:
// a label, a bar and a Cancel button. The window draws it; tests record it.
class ProgressDialog {
  public:
    virtual ~ProgressDialog() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    // Sets the label's text and centres it again.
    virtual void SetLabel(const std::string& text) = 0;
    virtual void SetBarMax(int maximum) = 0;
    virtual void SetBarPosition(int position) = 0;
};
// Creates the dialog; its Cancel button calls `onCancel`.
using ProgressDialogFactory =
    std::function<std::unique_ptr<ProgressDialog>(std::function<void()> onCancel)>;

// ---- The component ---------------------------------------------------------

class ZipComponent {
  public:
    using BeginFileEvent =
        std::function<void(ZipComponent* sender, const std::string& Filename, std::int32_t FileSize,
                           std::int32_t BatchCount, std::int32_t TotalBytesInBatch)>;
    using ProgressEvent = std::function<void(ZipComponent* sender, const std::string& Filename,
                                             std::int32_t BytesDone, std::int32_t TotalBytes)>;
    using EndBatchEvent =
        std::function<void(ZipComponent* sender, std::int32_t SkippedCount, std::int32_t BatchCount,
                           std::int32_t TotalBytesInBatch)>;
    using NotifyEvent = std::function<void(ZipComponent* sender)>;

    // The prompter and drive seams must outlive the component.
    explicit ZipComponent(Prompter& prompter, DriveInfo& drives = SystemDriveInfo());
    ~ZipComponent();
    ZipComponent(const ZipComponent&) = delete;
    ZipComponent& operator=(const ZipComponent&) = delete;

    const std::string& ZipFileName() const { return m_zipFileName; }
    // Forgets the earlier archive and reads this one's directory. Throws ZipException.
    void SetZipFileName(const std::string& path);

    const std::string& Password() const { return m_password; }
    void SetPassword(const std::string& password) { m_password = password; }

    int Count() const { return static_cast<int>(m_entries.size()); }
    // A copy of entry `index` (0-based); throws ZipException "Index range error".
    ZipEntry GetEntry(int index) const;
    const ZipEndInfo& EndRecord() const { return m_endRecord; }

    // Names of the members the next Extract asks for, spelt as the entries' FileName.
    std::vector<std::string>& FileSpecs() { return m_fileSpecs; }

    bool ShowProgressDialog() const { return m_showProgressDialog; }
    void SetShowProgressDialog(bool show) { m_showProgressDialog = show; }
    const std::string& ExtractDir() const { return m_extractDir; }
    void SetExtractDir(const std::string& folder) { m_extractDir = folder; }
    bool Cancelled() const { return m_cancelled; }

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
    ProgressDialogFactory CreateProgressDialog;

    BeginFileEvent OnBeginFile;
    ProgressEvent OnProgress;
    EndBatchEvent OnEndBatch;
    ProgressEvent OnMergeProgress;  // never fired
    ProgressEvent OnSpanProgress;   // never fired
    NotifyEvent OnContentsChanged;

    // The library's callback; `info->Caller` is the component.
    static std::int32_t UnzipCallback(UnzipCallbackInfo* info);

  private:
    void ReadDirectory();
    // The end record, asking for the last disk of a spanned set while it is not
    // found; false when the user cancels.
    bool FindEndRecordAskingForDisks(std::unique_ptr<InputFile>& file, ZipEndRecordHit& hit);
    // The directory's entries, asking for the next disk where it goes on.
    void ReadEntries(std::unique_ptr<InputFile>& file);
    bool LoadUnzDll();
    std::string TargetFolder() const;
    std::int32_t HandleCallback(UnzipCallbackInfo& info);
    void AskPassword(UnzipCallbackInfo& info);
    void AskDamaged(UnzipCallbackInfo& info);
    void HideDialog();
    void ShowDialogAgain();
    void CancelFromDialog();

    Prompter& m_prompter;
    DriveInfo& m_drives;
    std::string m_zipFileName;
    std::string m_password;
    std::vector<ZipEntry> m_entries;
    std::vector<std::string> m_fileSpecs;
    ZipEndInfo m_endRecord;
    bool m_oemNames = false;
    bool m_cancelled = false;
    bool m_showProgressDialog = true;
    std::string m_extractDir;
    std::string m_libraryFileName;
    std::unique_ptr<DynamicLibrary> m_library;
    UnzDllExecFn m_exec = nullptr;
    std::unique_ptr<ProgressDialog> m_dialog;
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

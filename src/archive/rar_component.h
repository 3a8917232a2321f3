#pragma once
// RarComponent lists or extracts a RAR archive through the RAR library (see
// unrar_binding.h). It raises nothing of its own: everything it has to
// say goes out through its events, with French texts and the library's codes.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/unrar_binding.h"
#include "platform/prompter.h"

namespace parevo {

// What Extract does with the archive: write its members, or only list them.
enum class RarMode { Extract, List };
// When OnRarStatus reports: the archive opened, about to open, closed, or a
// password was set.
enum class RarStatus { Open, BeforeOpen, AfterClose, Password };
// What happens to a member whose file is already there: always replaced, never
// replaced, or OnOverride decides.
enum class OverridePolicy { Always, Never, Ask };

struct RarMemberHeader {
    std::string ArcName;
    std::string FileName;
    bool ContinuedOnNext = false;
    bool ContinuedFromPrev = false;
    bool Encrypted = false;
    bool IsFolder = false;
    std::int32_t DictionarySize = 0;  // KiB
    std::uint32_t PackSize = 0;
    std::uint32_t UnpSize = 0;
    std::string HostOS;
    std::string FileCRC;
    double FileTime = 0;  // days since 1899-12-30, the time of day as the fraction
    std::int32_t UnpVerMajor = 0;
    std::int32_t UnpVerMinor = 0;
    std::string Method;
    bool AttrArchive = false;
    bool AttrCompressed = false;
    bool AttrDirectory = false;
    bool AttrHidden = false;
    bool AttrNormal = false;
    bool AttrOffline = false;
    bool AttrReadOnly = false;
    bool AttrSystem = false;
    bool AttrTemporary = false;
};

class RarComponent;

using RarCommentEvent = std::function<void(RarComponent& sender, const std::string& comment)>;
using RarErrorEvent =
    std::function<void(RarComponent& sender, const std::string& message, std::int32_t messageID)>;
using RarHeaderEvent =
    std::function<void(RarComponent& sender, RarMemberHeader hdrData, std::int32_t status)>;
using RarOverrideEvent =
    std::function<void(RarComponent& sender, const std::string& fileName, bool& canOverride)>;
using RarPasswordEvent = std::function<void(RarComponent& sender, std::string& password)>;
using RarProgressEvent =
    std::function<void(RarComponent& sender, std::uint32_t filesProcessed, std::uint32_t fileCount,
                       std::uint32_t sizeProcessed, std::uint32_t sizeCount)>;
using RarStatusEvent =
    std::function<void(RarComponent& sender, const std::string& message, RarStatus status)>;
// arcName: the library's zero-terminated volume-name buffer, which the handler may rewrite.
using RarVolumeChangeEvent =
    std::function<void(RarComponent& sender, char* arcName, std::int32_t mode)>;

// The date-time of an MS-DOS date and time, as a day count from 1899-12-30 with
// the time of day as the fraction; false for a date or time that does not exist.
bool DosDateTimeToDateTime(std::uint16_t dosDate, std::uint16_t dosTime, double& dateTime);

class RarComponent {
  public:
    // Loads the library (by its bare platform name unless told otherwise).
    explicit RarComponent(const std::string& libraryFileName = UnRarLibraryFileName());
    ~RarComponent();
    RarComponent(const RarComponent&) = delete;
    RarComponent& operator=(const RarComponent&) = delete;

    // One run over the archive FileName() in the current Mode().
    void Extract();

    const std::string& ArchivComment() const { return m_archivComment; }
    std::uint32_t CommentSize() const { return m_commentSize; }
    bool CanProgress() const { return m_canProgress; }
    void SetCanProgress(bool v) { m_canProgress = v; }
    const std::string& Directory() const { return m_directory; }
    void SetDirectory(const std::string& v) { m_directory = v; }
    std::int32_t DllVersion() const { return m_dllVersion; }
    bool DllLoaded() const { return m_dllLoaded; }
    std::vector<std::string>& FileList() { return m_fileList; }
    const std::vector<std::string>& FileList() const { return m_fileList; }
    void SetFileList(const std::vector<std::string>& v) { m_fileList = v; }
    const std::string& FileName() const { return m_fileName; }
    void SetFileName(const std::string& v) { m_fileName = v; }
    RarMode Mode() const { return m_mode; }
    void SetMode(RarMode v);
    OverridePolicy OverrideEvent() const { return m_overrideEvent; }
    void SetOverrideEvent(OverridePolicy v) { m_overrideEvent = v; }
    const std::string& Password() const { return m_password; }
    void SetPassword(const std::string& v) { m_password = v; }
    bool PromptForPass() const { return m_promptForPass; }
    void SetPromptForPass(bool v) { m_promptForPass = v; }
    bool PromptForVolumn() const { return m_promptForVolumn; }
    void SetPromptForVolumn(bool v) { m_promptForVolumn = v; }
    bool StopProcessing() const { return m_stopProcessing; }
    void SetStopProcessing(bool v) { m_stopProcessing = v; }

    // Where the two prompt dialogs are shown; none answers as a cancelled dialog.
    void SetPrompter(Prompter* prompter) { m_prompter = prompter; }

    RarCommentEvent OnComment;
    RarErrorEvent OnError;
    RarHeaderEvent OnFileProcessing;
    RarOverrideEvent OnOverride;
    RarPasswordEvent OnPassword;
    RarProgressEvent OnProgress;
    RarStatusEvent OnRarStatus;
    RarVolumeChangeEvent OnVolChange;

  private:
    static int UNRAR_CALL CallbackEntry(unsigned msg, RarLParam userData, RarLParam p1,
                                        RarLParam p2);
    int Callback(unsigned msg, RarLParam p1, RarLParam p2);

    bool CountingPass();
    template <typename Entry>
    bool Pass(unsigned openMode, Entry entry);
    void PrepareOpenRecord(unsigned openMode);
    void* Open();
    void OpenReport();
    void Close(void* handle);
    template <typename Body>
    void WithClose(void* handle, Body body);
    void StartReading(void* handle);
    int ReadHeader(void* handle);
    void HeaderEvents(int r);
    void FillHeaderData();
    int ProcessEntry(void* handle, int operation);
    int ProcessFile(void* handle, int operation);
    void RethrowPending();
    void Status(const std::string& message, RarStatus status);
    void Error(const std::string& message, std::int32_t id);
    bool IsFolderEntry() const;

    UnRarLibrary m_library;
    bool m_dllLoaded = false;
    std::int32_t m_dllVersion = 0;
    Prompter* m_prompter = nullptr;

    std::string m_archivComment;
    std::uint32_t m_commentSize = 0;
    bool m_canProgress = false;
    std::string m_directory;
    std::vector<std::string> m_fileList;
    std::string m_fileName;
    RarMode m_mode = RarMode::Extract;
    int m_operation = RAR_SKIP;
    OverridePolicy m_overrideEvent = OverridePolicy::Always;
    std::string m_password;
    bool m_promptForPass = false;
    bool m_promptForVolumn = false;
    bool m_stopProcessing = false;

    RAROpenArchiveData m_openData{};
    std::string m_openName;  // the text the open record points at
    std::vector<char> m_commentBuffer;
    std::string m_directoryText;  // the text handed to the library per entry
    std::unique_ptr<RARHeaderDataEx> m_header;
    RarMemberHeader m_hdrData;
    std::uint32_t m_filesProcessed = 0;
    std::uint32_t m_sizeProcessed = 0;
    std::uint32_t m_fileCount = 0;
    std::uint32_t m_sizeCount = 0;
    // An exception thrown by a handler inside the library's callback waits here
    // until the library call returns: it must not unwind through the library.
    std::exception_ptr m_pending;
};

// The member-name filter of the window's RarFileProcessing handler: true when
// the extension (from the last dot after the last "\", "/" or ":") is exactly ".nds".
bool IsRomMemberName(std::string_view memberName);

// Appends the member's name, unchanged, to `fileList` when IsRomMemberName.
void CollectRomMember(const RarMemberHeader& hdrData, std::vector<std::string>& fileList);

}  // namespace parevo

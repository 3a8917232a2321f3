#include "archive/rar_component.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/file_io.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"

namespace parevo {
namespace {

// The component the library's callback reaches: the one whose run is going on.
RarComponent* g_currentRar = nullptr;

constexpr std::size_t kCommentBufferSize = 65536;
constexpr std::size_t kDialogTextLimit = 120;  // the dialogs' edit boxes hold this many characters
constexpr std::size_t kDestPrefixLimit = 255;

// A zero-terminated text inside a fixed buffer, never read past its end.
std::string BoundedText(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}

const char* ProcessErrorText(int code) {
    switch (code) {
        case ERAR_BAD_DATA:
            return "données corrompues";
        case ERAR_BAD_ARCHIVE:
            return "Archive défectueuse";
        case ERAR_UNKNOWN_FORMAT:
            return "format inconnu";
        case ERAR_EOPEN:
            return "Volumn-Error";
        case ERAR_ECREATE:
            return "Erreur à la création du fichier";
        case ERAR_ECLOSE:
            return "Erreur à la fermeture du fichier";
        case ERAR_EREAD:
            return "Erreur de lecture";
        case ERAR_EWRITE:
            return "Erreur d'écriture";
        default:
            return nullptr;
    }
}

std::string OpenFailureReason(unsigned code) {
    switch (code) {
        case ERAR_NO_MEMORY:
            return "Mémoire insuffisante";
        case ERAR_BAD_DATA:
            return "données corrompues";
        case ERAR_BAD_ARCHIVE:
            return "Archive défectueuse";
        case ERAR_UNKNOWN_FORMAT:
            return "format inconnu";
        case ERAR_EOPEN:
            return "fichier introuvable ou illisible";
        case ERAR_MISSING_PASSWORD:
            return "mot de passe manquant";
        case ERAR_BAD_PASSWORD:
            return "mot de passe incorrect";
        default:
            return Format("code %d", {code}, '.');
    }
}

}  // namespace

bool DosDateTimeToDateTime(std::uint16_t dosDate, std::uint16_t dosTime, double& dateTime) {
    using namespace std::chrono;
    const year_month_day ymd{year(1980 + (dosDate >> 9)), month((dosDate >> 5) & 0x0F),
                             day(dosDate & 0x1F)};
    const unsigned hour = dosTime >> 11;
    const unsigned minute = (dosTime >> 5) & 0x3F;
    const unsigned second = (dosTime & 0x1F) * 2;
    if (!ymd.ok() || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    const auto days = (sys_days(ymd) - sys_days(year(1899) / December / 30)).count();
    dateTime = static_cast<double>(days) + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    return true;
}

RarComponent::RarComponent(const std::string& libraryFileName)
    : m_library(libraryFileName), m_header(std::make_unique<RARHeaderDataEx>()) {
    m_dllLoaded = m_library.Loaded();
    if (m_dllLoaded) {
        m_dllVersion = m_library.Functions().RARGetDllVersion();
    }
}

RarComponent::~RarComponent() {
    if (g_currentRar == this) {
        g_currentRar = nullptr;
    }
}

void RarComponent::SetMode(RarMode v) {
    m_mode = v;
    m_operation = v == RarMode::List ? RAR_TEST : RAR_EXTRACT;
}

void RarComponent::Status(const std::string& message, RarStatus status) {
    if (OnRarStatus) {
        OnRarStatus(*this, message, status);
    }
}

void RarComponent::Error(const std::string& message, std::int32_t id) {
    if (OnError) {
        OnError(*this, message, id);
    }
}

void RarComponent::RethrowPending() {
    if (m_pending) {
        std::exception_ptr e = std::move(m_pending);
        m_pending = nullptr;
        std::rethrow_exception(e);
    }
}

void RarComponent::Extract() {
    m_stopProcessing = false;
    if (!m_dllLoaded) {
        Error("UnRar.Dll not loaded", 0);
        return;
    }
    m_filesProcessed = 0;
    m_sizeProcessed = 0;
    m_pending = nullptr;
    g_currentRar = this;
    std::memset(static_cast<void*>(m_header.get()), 0, sizeof(RARHeaderDataEx));
    if (m_canProgress && !CountingPass()) {
        return;
    }
    Pass(m_mode == RarMode::List ? RAR_OM_LIST : RAR_OM_EXTRACT,
         [this](void* handle, int r, bool secondFailureInARow) {
             HeaderEvents(r);
             if (m_stopProcessing || secondFailureInARow) {
                 return false;
             }
             const int pr = r == ERAR_SUCCESS ? ProcessEntry(handle, m_operation) : 0;
             if (const char* text = ProcessErrorText(pr)) {
                 Error(text, pr);
             }
             return !m_stopProcessing && pr == 0;
         });
}

bool RarComponent::CountingPass() {
    m_fileCount = 0;
    m_sizeCount = 0;
    return Pass(RAR_OM_EXTRACT, [this](void* handle, int r, bool secondFailureInARow) {
        if (m_stopProcessing) {
            return false;
        }
        if (r != ERAR_SUCCESS) {
            return !secondFailureInARow;
        }
        const int pr = ProcessFile(handle, RAR_SKIP);
        if (pr == 0 && (m_header->Flags & RHDF_SPLITBEFORE) == 0) {
            ++m_fileCount;
            m_sizeCount += m_header->UnpSize;
        }
        return !m_stopProcessing && pr == 0;
    });
}

// One pass over the archive: opens it, reads header after header and hands each
// result to `entry`, which says whether to go on; the archive is closed however
// the pass ends. A damaged archive can report the same failure for ever, so
// `entry` is told when a failing header is the second in a row. False when the
// archive could not be opened.
template <typename Entry>
bool RarComponent::Pass(unsigned openMode, Entry entry) {
    PrepareOpenRecord(openMode);
    if (m_stopProcessing) {
        return true;
    }
    void* handle = Open();
    if (handle == nullptr) {
        return false;
    }
    WithClose(handle, [&] {
        if (m_stopProcessing) {
            return;
        }
        StartReading(handle);
        int failedInARow = 0;
        for (;;) {
            const int r = ReadHeader(handle);
            if (r == ERAR_END_ARCHIVE) {
                break;
            }
            failedInARow = r == ERAR_SUCCESS ? 0 : failedInARow + 1;
            if (!entry(handle, r, failedInARow == 2)) {
                break;
            }
        }
    });
    return true;
}

void RarComponent::PrepareOpenRecord(unsigned openMode) {
    m_openName = m_fileName;
    m_commentBuffer.assign(kCommentBufferSize, '\0');
    m_openData = RAROpenArchiveData{};
    m_openData.ArcName = m_openName.data();
    m_openData.OpenMode = openMode;
    m_openData.OpenResult = 0;
    m_openData.CmtBuf = m_commentBuffer.data();
    m_openData.CmtBufSize = static_cast<unsigned>(m_commentBuffer.size());
    m_openData.CmtState = 0;
}

void* RarComponent::Open() {
    Status("", RarStatus::BeforeOpen);
#ifdef _WIN32
    // The wide name: the narrow one would be read in the ANSI code page.
    std::wstring wideName = NarrowToWide(m_openName);
    RAROpenArchiveDataEx ex{};
    ex.ArcName = m_openData.ArcName;
    ex.ArcNameW = wideName.data();
    ex.OpenMode = m_openData.OpenMode;
    ex.CmtBuf = m_openData.CmtBuf;
    ex.CmtBufSize = m_openData.CmtBufSize;
    void* handle = m_library.Functions().RAROpenArchiveEx(&ex);
    m_openData.OpenResult = ex.OpenResult;
    m_openData.CmtSize = ex.CmtSize;
    m_openData.CmtState = ex.CmtState;
#else
    void* handle = m_library.Functions().RAROpenArchive(&m_openData);
#endif
    // From here a handler that throws must not leave the archive open.
    try {
        Status("", RarStatus::Open);
        OpenReport();
    } catch (...) {
        if (handle != nullptr) {
            try {
                Close(handle);
            } catch (...) {
                // The first failure is the one that travels on.
            }
        }
        throw;
    }
    if (handle == nullptr) {
        // Without a handle there is nothing to read or close: the run ends here.
        Error(Format("Impossible d'ouvrir l'archive \"%s\" : %s",
                     {m_fileName, OpenFailureReason(m_openData.OpenResult)}, '.'),
              static_cast<std::int32_t>(m_openData.OpenResult));
    }
    return handle;
}

// The comment state the library left in the open record.
void RarComponent::OpenReport() {
    switch (m_openData.CmtState) {
        case 0:
            m_archivComment.clear();
            m_commentSize = 0;
            break;
        case 1:
            m_archivComment = BoundedText(m_commentBuffer.data(), m_commentBuffer.size());
            m_commentSize = static_cast<std::uint32_t>(m_archivComment.size());
            if (OnComment) {
                OnComment(*this, m_archivComment);
            }
            break;
        case ERAR_NO_MEMORY:
            Error("Mémoire insuffisante", ERAR_NO_MEMORY);
            break;
        case ERAR_BAD_DATA:
            Error("données corrompues", ERAR_BAD_DATA);
            break;
        case ERAR_UNKNOWN_FORMAT:
            Error("format inconnu", ERAR_UNKNOWN_FORMAT);
            break;
        case ERAR_SMALL_BUF:
            Error("buffer trop petit", ERAR_SMALL_BUF);
            break;
        default:
            break;
    }
}

void RarComponent::Close(void* handle) {
    if (m_library.Functions().RARCloseArchive(handle) == ERAR_ECLOSE) {
        Error("Erreur lors de la fermeture", ERAR_ECLOSE);
    }
    Status("", RarStatus::AfterClose);
}

// Runs `body` and closes the archive however it ends; an exception from a
// handler goes on once the archive is closed.
template <typename Body>
void RarComponent::WithClose(void* handle, Body body) {
    try {
        body();
    } catch (...) {
        try {
            Close(handle);
        } catch (...) {
            // The first failure is the one that travels on.
        }
        throw;
    }
    Close(handle);
}

void RarComponent::StartReading(void* handle) {
    m_library.Functions().RARSetCallback(handle, &RarComponent::CallbackEntry, 0);
    if (!m_password.empty()) {
        m_library.Functions().RARSetPassword(handle, m_password.data());
    }
}

int RarComponent::ReadHeader(void* handle) {
    const int r = m_library.Functions().RARReadHeaderEx(handle, m_header.get());
    RethrowPending();
    return r;
}

int RarComponent::ProcessFile(void* handle, int operation) {
#ifdef _WIN32
    std::wstring directory = NarrowToWide(m_directory);
    const int r =
        m_library.Functions().RARProcessFileW(handle, operation, directory.data(), nullptr);
#else
    m_directoryText = m_directory;
    const int r =
        m_library.Functions().RARProcessFile(handle, operation, m_directoryText.data(), nullptr);
#endif
    RethrowPending();
    return r;
}

bool RarComponent::IsFolderEntry() const {
    // Libraries of interface 6 and later report folders with a bit of their own;
    // earlier ones with the dictionary bits all set.
    if (m_dllVersion >= 6) {
        return (m_header->Flags & RHDF_DIRECTORY) != 0;
    }
    return (m_header->Flags & 0xE0) == 0xE0;
}

void RarComponent::HeaderEvents(int r) {
    if (r == ERAR_BAD_DATA) {
        Error("Entête de fichier corrompu", ERAR_BAD_DATA);
        return;
    }
    if (!OnFileProcessing && !OnProgress) {
        return;
    }
    FillHeaderData();
    if (OnFileProcessing) {
        OnFileProcessing(*this, m_hdrData, r);
    }
    if (OnProgress) {
        ++m_filesProcessed;
        ++m_sizeProcessed;
        OnProgress(*this, m_filesProcessed, m_fileCount, m_sizeProcessed, m_sizeCount);
    }
}

void RarComponent::FillHeaderData() {
    const RARHeaderDataEx& h = *m_header;
    RarMemberHeader& d = m_hdrData;
    d.ArcName = BoundedText(h.ArcName, sizeof(h.ArcName));
    d.FileName = WideToNarrow(h.FileNameW, 1024);
    d.ContinuedOnNext = (h.Flags & RHDF_SPLITAFTER) != 0;
    d.ContinuedFromPrev = (h.Flags & RHDF_SPLITBEFORE) != 0;
    d.Encrypted = (h.Flags & RHDF_ENCRYPTED) != 0;
    d.IsFolder = IsFolderEntry();
    if (m_dllVersion >= 6) {
        d.DictionarySize = static_cast<std::int32_t>(h.DictSize);
    } else {
        d.DictionarySize = d.IsFolder ? 0 : 64 << ((h.Flags >> 5) & 7);
    }
    d.PackSize = h.PackSize;
    d.UnpSize = h.UnpSize;
    static const char* const kHosts[] = {"DOS", "IBM OS/2", "Windows", "Unix"};
    if (h.HostOS <= 3) {
        d.HostOS = kHosts[h.HostOS];
    }
    d.FileCRC = Format("%x", {h.FileCRC}, '.');
    double time = 0;
    if (DosDateTimeToDateTime(static_cast<std::uint16_t>(h.FileTime >> 16),
                              static_cast<std::uint16_t>(h.FileTime & 0xFFFF), time)) {
        d.FileTime = time;
    }
    d.UnpVerMajor = static_cast<std::int32_t>(h.UnpVer / 10);
    d.UnpVerMinor = static_cast<std::int32_t>(h.UnpVer % 10);
    static const char* const kMethods[] = {
        "pas de compression", "la plus rapide", "rapide", "normale", "bonne", "la meilleure"};
    if (h.Method >= 0x30 && h.Method <= 0x35) {
        d.Method = kMethods[h.Method - 0x30];
    }
    d.AttrArchive = (h.FileAttr & 0x20) != 0;
    d.AttrCompressed = (h.FileAttr & 0x800) != 0;
    d.AttrDirectory = (h.FileAttr & 0x10) != 0;
    d.AttrHidden = (h.FileAttr & 0x02) != 0;
    d.AttrNormal = (h.FileAttr & 0x80) != 0;
    d.AttrOffline = (h.FileAttr & 0x1000) != 0;
    d.AttrReadOnly = (h.FileAttr & 0x01) != 0;
    d.AttrSystem = (h.FileAttr & 0x04) != 0;
    d.AttrTemporary = (h.FileAttr & 0x100) != 0;
}

int RarComponent::ProcessEntry(void* handle, int operation) {
    if (m_overrideEvent == OverridePolicy::Always) {
        return ProcessFile(handle, operation);
    }
    const std::string target = m_directory.substr(0, kDestPrefixLimit) +
                               PathSeparator(NativePathStyle()) +
                               WideToNarrow(m_header->FileNameW, 1024);
    int op = operation;
    const bool listed =
        std::any_of(m_fileList.begin(), m_fileList.end(),
                    [&](const std::string& name) { return SameTextIgnoringCase(name, target); });
    if (!m_fileList.empty() && !listed) {
        op = RAR_SKIP;
    } else if (IsFolderEntry()) {
        op = operation;
    } else if (operation == RAR_EXTRACT && FileExists(target)) {
        if (m_overrideEvent == OverridePolicy::Never) {
            op = RAR_SKIP;
        } else {
            bool canOverride = false;
            if (OnOverride) {
                OnOverride(*this, target, canOverride);
            }
            op = canOverride ? operation : RAR_SKIP;
        }
    }
    return ProcessFile(handle, op);
}

int UNRAR_CALL RarComponent::CallbackEntry(unsigned msg, RarLParam, RarLParam p1, RarLParam p2) {
    RarComponent* rar = g_currentRar;
    if (rar == nullptr) {
        return -1;
    }
    if (rar->m_pending) {
        return -1;  // a handler failed: the library is to stop
    }
    try {
        return rar->Callback(msg, p1, p2);
    } catch (...) {
        rar->m_pending = std::current_exception();
        return -1;
    }
}

int RarComponent::Callback(unsigned msg, RarLParam p1, RarLParam p2) {
    int result = 0;
    if (msg == UCM_CHANGEVOLUME && p2 == RAR_VOL_ASK) {
        char* buffer = reinterpret_cast<char*>(p1);
        if (OnVolChange) {
            OnVolChange(*this, buffer, 0);
        } else if (m_promptForVolumn) {
            const std::string current = BoundedText(m_header->ArcName, sizeof(m_header->ArcName));
            InputResult answer{false, current};
            if (m_prompter != nullptr) {
                answer = m_prompter->AskText("Archive suivante : ...", "", current, false);
            }
            const std::string text = FirstCharacters(answer.text, kDialogTextLimit);
            std::memcpy(buffer, text.c_str(), text.size() + 1);
            result = answer.ok && text != current ? 0 : -1;
        }
        if (buffer[0] == '\0') {
            result = -1;
        }
    } else if (msg == UCM_PROCESSDATA) {
        result = m_stopProcessing ? -1 : 0;
    } else if (msg == UCM_NEEDPASSWORD) {
        std::string text = m_password;
        if (OnPassword) {
            OnPassword(*this, text);
        } else if (m_promptForPass) {
            text.clear();
            if (m_prompter != nullptr) {
                text = m_prompter->AskText("Mot de passe : ...", "", "", true).text;
            }
            text = FirstCharacters(text, kDialogTextLimit);
        } else {
            Error("Pas de mot de passe!", 0);
        }
        const std::size_t size = p2 > 0 ? static_cast<std::size_t>(p2) : 0;
        if (size > 0) {
            const std::size_t n = std::min(text.size(), size - 1);
            char* buffer = reinterpret_cast<char*>(p1);
            std::memcpy(buffer, text.data(), n);
            buffer[n] = '\0';
        }
        Status("Le mot de passe utilisé est : " + m_password, RarStatus::Password);
    }
    if (m_stopProcessing) {
        result = -1;
    }
    return result;
}

bool IsRomMemberName(std::string_view memberName) {
    return ExtensionOf(memberName, PathStyle::Windows) == ".nds";
}

void CollectRomMember(const RarMemberHeader& hdrData, std::vector<std::string>& fileList) {
    if (IsRomMemberName(hdrData.FileName)) {
        fileList.push_back(hdrData.FileName);
    }
}

}  // namespace parevo

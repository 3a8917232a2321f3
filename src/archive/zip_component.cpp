#include "archive/zip_component.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "archive/zip_disks.h"
#include "archive/zip_names.h"
#include "platform/file_io.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace parevo {

namespace {

constexpr int kProgressBarMax = 65535;
constexpr std::uint16_t kMaxDiskNumber = 1000;

std::string NotValidZip(const std::string& path) {
    return Format("\"%s\"\nis not a valid Zip file.", {path});
}

// The record's text, which the library zero-terminates within its 512 bytes.
std::string RecordText(const UnzipCallbackInfo& info) {
    return std::string(info.Text, strnlen(info.Text, sizeof info.Text));
}

}  // namespace

ZipComponent::ZipComponent(Prompter& prompter, DriveInfo& drives)
    : m_prompter(prompter),
      m_drives(drives),
      m_libraryFileName(SharedLibraryFileName("UnzDll", "unzdll")) {}

ZipComponent::~ZipComponent() = default;

void ZipComponent::SetZipFileName(const std::string& path) {
    m_password.clear();
    m_oemNames = false;
    m_endRecord = ZipEndInfo{};
    m_entries.clear();
    m_zipFileName = path;

    if (!path.empty()) {
        if (!m_drives.IsReachable(path)) {
            throw ZipException("Unable to access the selected drive!");
        }
        if (!FileExists(path)) {
            // An empty archive: the end record alone. "x" never replaces a file
            // that appeared meanwhile.
            bool written = false;
#ifdef _WIN32
            std::FILE* out = _wfopen(NarrowToWide(path).c_str(), L"wbx");
#else
            std::FILE* out = std::fopen(path.c_str(), "wbx");
#endif
            if (out != nullptr) {
                written = std::fwrite(&m_endRecord.Record, sizeof m_endRecord.Record, 1, out) == 1;
                written = std::fclose(out) == 0 && written;
                if (!written) {
                    std::error_code ec;
                    std::filesystem::remove(PathOf(path), ec);
                }
            }
            if (!written) {
                throw ZipException(Format("Unable to create \n\"%s\"", {path}));
            }
        }
        ReadDirectory();
    }
    if (OnContentsChanged) {
        OnContentsChanged(this);
    }
}

namespace {

ZipReadAt ReaderOf(const InputFile& file) {
    return [&file](std::int64_t offset, void* buffer, std::size_t size) {
        return file.ReadAt(offset, buffer, size);
    };
}

}  // namespace

void ZipComponent::ReadDirectory() {
    auto file = std::make_unique<InputFile>(m_zipFileName);
    ZipEndRecordHit hit;
    if (!FindEndRecordAskingForDisks(file, hit)) {
        return;
    }

    // The record and the archive comment are inside the tail already read.
    m_endRecord.EndRecordPosition = hit.position;
    const size_t at = static_cast<size_t>(hit.position - hit.tailStart);
    std::memcpy(&m_endRecord.Record, hit.tail.data() + at, kZipEndRecordSize);
    const ZipEndRecord& record = m_endRecord.Record;
    if (record.ThisDiskNo > kMaxDiskNumber || record.CentralDiskNo > kMaxDiskNumber) {
        throw ZipException(NotValidZip(m_zipFileName));
    }
    if (at + kZipEndRecordSize + record.ZipCommentLen <= hit.tail.size()) {
        m_endRecord.Comment = hit.tail.substr(at + kZipEndRecordSize, record.ZipCommentLen);
    }
    if (record.TotalEntries == 0) {
        return;
    }
    if (record.ThisDiskNo != record.CentralDiskNo) {
        if (!AskForDisk(m_prompter, m_drives, Caption, m_zipFileName, record.CentralDiskNo)) {
            return;
        }
        file = std::make_unique<InputFile>(m_zipFileName);
    }
    try {
        ReadEntries(file);
    } catch (...) {
        m_entries.clear();
        throw;
    }
}

bool ZipComponent::FindEndRecordAskingForDisks(std::unique_ptr<InputFile>& file,
                                               ZipEndRecordHit& hit) {
    while (true) {
        hit = FindEndRecord(file->Size(), ReaderOf(*file));
        if (hit.position >= 0) {
            return true;
        }
        m_endRecord.EndRecordPosition = -1;
        const int disk = GetDiskNumber(m_drives, m_zipFileName);
        if (disk <= 0) {
            throw ZipException(NotValidZip(m_zipFileName));
        }
        if (!AskForLastDisk(m_prompter, Caption, disk)) {
            return false;
        }
        file = std::make_unique<InputFile>(m_zipFileName);
    }
}

void ZipComponent::ReadEntries(std::unique_ptr<InputFile>& file) {
    const ZipEndRecord& record = m_endRecord.Record;
    // In a single-file archive the directory ends where the end record starts,
    // which also finds it behind data put in front of the archive.
    const std::int64_t start = record.ThisDiskNo != 0
                                   ? static_cast<std::int64_t>(record.CentralOffset)
                                   : m_endRecord.EndRecordPosition - record.CentralSize;
    const ZipException badHeader("Error reading CentralFileHeader.");
    if (start < 0) {
        throw badHeader;
    }
    ZipDirectoryReader reader(ReaderOf(*file), start);
    m_entries.reserve(record.TotalEntries);
    std::string name;
    std::string comment;
    for (int i = 0; i < record.TotalEntries;) {
        ZipEntry entry;
        const auto result = reader.Next(entry.Header, name, entry.ExtraField, comment);
        if (result == ZipDirectoryReader::Result::End) {
            // The directory goes on on the next disk of a spanned set.
            const int disk = GetDiskNumber(m_drives, m_zipFileName);
            if (record.ThisDiskNo == 0 || disk == 0 || record.ThisDiskNo < disk ||
                !AskForDisk(m_prompter, m_drives, Caption, m_zipFileName, disk + 1)) {
                throw badHeader;
            }
            file = std::make_unique<InputFile>(m_zipFileName);
            reader.Reopen(ReaderOf(*file), 0);
            continue;
        }
        if (result == ZipDirectoryReader::Result::Bad) {
            throw badHeader;
        }
        if (i == 0) {
            m_oemNames = UsesOemNames(entry.Header.HostSystem, entry.Header.FormatVersion);
        }
        entry.FileName = ConvertMemberName(name, m_oemNames, entry.Header.Flag);
        entry.FileComment = ConvertMemberComment(comment, m_oemNames, entry.Header.Flag);
        entry.Encrypted = (entry.Header.Flag & kZipFlagEncrypted) != 0;
        m_entries.push_back(std::move(entry));
        ++i;
    }
}

ZipEntry ZipComponent::GetEntry(int index) const {
    if (index < 0 || index >= Count()) {
        throw ZipException("Index range error");
    }
    return m_entries[static_cast<size_t>(index)];
}

bool ZipComponent::LoadUnzDll() {
    if (m_exec != nullptr) {
        return true;
    }
    std::unique_ptr<DynamicLibrary> library = DynamicLibrary::Load(m_libraryFileName);
    if (!library) {
        return false;
    }
    const auto exec = library->Function<UnzDllExecFn>("UnzDllExec");
    const auto version = library->Function<GetUnzDllVersionFn>("GetUnzDllVersion");
    if (exec == nullptr || version == nullptr) {
        return false;
    }
    if (version() < kUnzipMinimumLibraryVersion) {
        throw ZipException("Error - invalid version of ZipDll.dll or UnzDll.dll");
    }
    m_library = std::move(library);
    m_exec = exec;
    return true;
}

std::string ZipComponent::TargetFolder() const {
    namespace fs = std::filesystem;
    const std::string folder = m_extractDir.empty() ? FolderPart(m_zipFileName) : m_extractDir;
    std::error_code ec;
    fs::path absolute = fs::absolute(folder.empty() ? fs::path(".") : PathOf(folder), ec);
    if (ec) {
        ThrowIoError("Cannot use folder", folder, ec.value());
    }
    std::string result = NarrowOf(absolute.lexically_normal());
    if (result.empty() || !IsPathDelimiter(result.back(), NativePathStyle())) {
        result += PathSeparator(NativePathStyle());
    }
    // The folder is handed to the library instead of being made the current
    // folder; the same failure is reported when it could not have been.
#ifdef _WIN32
    if (!fs::is_directory(absolute, ec)) {
        ThrowIoError("Cannot use folder", result, ENOENT);
    }
#else
    if (::access(result.c_str(), X_OK) != 0) {
        ThrowIoError("Cannot use folder", result, errno);
    }
    if (!fs::is_directory(absolute, ec)) {
        ThrowIoError("Cannot use folder", result, ENOTDIR);
    }
#endif
    return result;
}

std::int32_t ZipComponent::Extract() {
    m_cancelled = false;
    if (m_entries.empty()) {
        return 0;
    }
    if (m_endRecord.Record.ThisDiskNo != 0) {
        m_prompter.ShowMessage(Caption,
                               "Cannot Add, Delete or Extract from a multiple disk Zip file...\n"
                               "Merge this Zip file onto the hard disk before retrying.",
                               DialogButtons::Ok, DialogIcon::Information);
        return 0;
    }
    if (!m_extractDir.empty() && !FolderExists(m_extractDir)) {
        m_prompter.ShowMessage(
            Caption,
            Format("Unable to extract files to:\n\"%s\"\nThis folder does not exist.",
                   {m_extractDir}),
            DialogButtons::Ok, DialogIcon::Information);
        return 0;
    }
    if (!LoadUnzDll()) {
        throw ZipException(Format("Unable to load %s", {"\"" + m_libraryFileName + "\"."}));
    }
    const std::string target = TargetFolder();

    // The command points into these copies, which an event handler cannot move.
    const std::vector<std::string> specs = m_fileSpecs;
    const std::string archive = m_zipFileName;
    const std::string password = m_password;
    std::vector<UnzipFileSpec> names(specs.size());
    for (size_t i = 0; i < specs.size(); ++i) {
        names[i].FileSpec = specs[i].c_str();
    }
    auto command = std::make_unique<UnzipCommand>();
    command->Caller = this;
    command->Version = kUnzipInterfaceVersion;
    command->Callback = &ZipComponent::UnzipCallback;
    command->Password = password.empty() ? nullptr : password.c_str();
    command->Option40 = -1;
    command->Option48 = -1;
    command->FileSpecCount = static_cast<std::int32_t>(specs.size());
    command->ZipFileName = archive.c_str();
    command->FileSpecs = names.empty() ? nullptr : names.data();
    command->Option104 = 3;
    command->ExtractDir = target.c_str();
    command->Option144 = 7;

    m_pendingError = nullptr;
    std::int32_t result = 0;
    {
        // The dialog goes away however the call ends.
        struct DialogGuard {
            std::unique_ptr<ProgressDialog>& dialog;
            ~DialogGuard() { dialog.reset(); }
        } guard{m_dialog};
        if (m_showProgressDialog && CreateProgressDialog) {
            m_dialog = CreateProgressDialog([this] { CancelFromDialog(); });
            if (m_dialog) {
                m_dialog->Show();
            }
            if (ProcessMessages) {
                ProcessMessages();
            }
        }
        result = m_exec(command.get());
    }
    m_fileSpecs.clear();
    if (m_pendingError) {
        std::rethrow_exception(std::exchange(m_pendingError, nullptr));
    }
    return result;
}

std::int32_t ZipComponent::UnzipCallback(UnzipCallbackInfo* info) {
    if (info == nullptr || info->Caller == nullptr) {
        return -1;
    }
    return static_cast<ZipComponent*>(info->Caller)->HandleCallback(*info);
}

std::int32_t ZipComponent::HandleCallback(UnzipCallbackInfo& info) {
    // An exception must not unwind through the library's frames: it stops the
    // run and is raised again once the library has returned.
    try {
        if (!m_cancelled) {
            switch (info.ActionCode) {
                case UZ_BEGIN_FILE:
                    m_filename = RecordText(info);
                    if (OnBeginFile) {
                        OnBeginFile(this, m_filename, info.Value, m_batchCount,
                                    m_totalBytesInBatch);
                    }
                    if (m_dialog) {
                        m_dialog->SetLabel(m_filename);
                    }
                    break;
                case UZ_PROGRESS:
                    m_bytesDone += info.Value;
                    if (OnProgress) {
                        OnProgress(this, m_filename, info.Value, m_totalBytesInBatch);
                    }
                    if (m_dialog) {
                        const double position =
                            std::trunc(static_cast<double>(m_bytesDone) * m_factor);
                        m_dialog->SetBarPosition(
                            static_cast<int>(std::clamp(position, 0.0, double{kProgressBarMax})));
                    }
                    break;
                case UZ_END_BATCH:
                    if (OnEndBatch) {
                        OnEndBatch(this, m_skippedCount, m_batchCount, m_totalBytesInBatch);
                    }
                    HideDialog();
                    break;
                case UZ_BATCH_COUNT:
                    m_batchCount = info.Value;
                    break;
                case UZ_BATCH_BYTES:
                    m_totalBytesInBatch = info.Value;
                    m_bytesDone = 0;
                    m_skippedCount = 0;
                    m_factor = info.Value == 0 ? 1.0f : 65535.0f / static_cast<float>(info.Value);
                    if (m_dialog) {
                        m_dialog->SetBarMax(kProgressBarMax);
                    }
                    break;
                case UZ_PASSWORD:
                    AskPassword(info);
                    break;
                case UZ_CRC_ERROR:
                    AskDamaged(info);
                    break;
                case UZ_OVERWRITE:
                    // Replace the file on disk only when it is older than the member.
                    info.Value = info.Answer & 1;
                    break;
                case UZ_SKIPPED:
                    ++m_skippedCount;
                    break;
                default:
                    break;
            }
        }
    } catch (...) {
        m_pendingError = std::current_exception();
        m_cancelled = true;
    }
    const std::int32_t result = m_cancelled ? -1 : 0;
    if (ProcessMessages) {
        try {
            ProcessMessages();
        } catch (...) {
            if (!m_pendingError) {
                m_pendingError = std::current_exception();
            }
            m_cancelled = true;
        }
    }
    return result;
}

void ZipComponent::AskPassword(UnzipCallbackInfo& info) {
    HideDialog();
    const std::string prompt =
        info.Value == kUnzipPasswordTries
            ? Format("A new password is required for \"%s\"", {RecordText(info)})
            : std::string("Password is invalid, please retry ...");
    const InputResult entered = m_prompter.AskText(Caption, prompt, "", true);
    if (entered.ok && !entered.text.empty()) {
        const size_t length = std::min(entered.text.size(), sizeof info.Text - 1);
        std::memcpy(info.Text, entered.text.data(), length);
        info.Text[length] = '\0';
        info.Answer = 1;
        if (info.Value > 0) {
            --info.Value;
        }
    } else {
        const DialogResult goOn =
            m_prompter.ShowMessage(Caption,
                                   "No password was entered so the file will not be extracted...\n"
                                   "Do you wish to continue extracting other files?",
                                   DialogButtons::YesNo, DialogIcon::Question);
        if (goOn != DialogResult::Yes) {
            m_cancelled = true;
        }
        info.Answer = 0;
        info.Value = 0;
    }
    ShowDialogAgain();
}

void ZipComponent::AskDamaged(UnzipCallbackInfo& info) {
    HideDialog();
    const DialogResult answer = m_prompter.ShowMessage(
        Caption,
        Format("\"%s\" may be corrupted (CRC error).\nExtract this file anyway? ...",
               {RecordText(info)}),
        DialogButtons::YesNoCancel, DialogIcon::Question, 1);
    if (answer == DialogResult::Yes) {
        info.Answer = 1;
    } else if (answer == DialogResult::Cancel) {
        m_cancelled = true;
    } else {
        info.Answer = 0;
    }
    ShowDialogAgain();
}

void ZipComponent::HideDialog() {
    if (m_dialog) {
        m_dialog->Hide();
    }
}

void ZipComponent::ShowDialogAgain() {
    if (m_dialog && !m_cancelled) {
        m_dialog->Show();
    }
}

void ZipComponent::CancelFromDialog() {
    m_cancelled = true;
    HideDialog();
}

}  // namespace parevo

// The unzip library: extracts the members a UnzipCommand names, on libzip,
// calling the component back for every step. Loaded at run time by bare name.

#include <zip.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "archive/unzip_interface.h"
#include "archive/zip_format.h"
#include "archive/zip_names.h"
#include "platform/member_path.h"
#include "platform/pending_file.h"
#include "platform/stdio_file.h"
#include "platform/text_encoding.h"
#include "target_folders.h"

#ifdef _WIN32
#define UNZDLL_EXPORT extern "C" __declspec(dllexport)
#else
#define UNZDLL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace fs = std::filesystem;
using namespace parevo;

namespace {

constexpr std::int32_t kLibraryVersion = 160;
// Bounded memory: members are streamed through one buffer of this size.
constexpr size_t kCopyBufferSize = 256 * 1024;

std::int32_t Clamp32(std::uint64_t value) {
    return static_cast<std::int32_t>(std::min<std::uint64_t>(value, INT32_MAX));
}

// What the component's reader would see of the archive: the raw names, flags and
// the OEM rule of the first entry, and how many bytes stand in front of it.
struct DirectoryFacts {
    std::int64_t prefix = 0;
    bool oemNames = false;
    std::vector<std::string> rawNames;
    std::vector<std::uint16_t> flags;
};

std::optional<DirectoryFacts> ReadDirectoryFacts(std::FILE* file) {
    if (SeekFile(file, 0, SEEK_END) != 0) {
        return std::nullopt;
    }
    const std::int64_t size = TellFile(file);
    const ZipReadAt read = [file](std::int64_t offset, void* buffer, size_t count) -> size_t {
        return SeekFile(file, offset, SEEK_SET) == 0 ? std::fread(buffer, 1, count, file) : 0;
    };
    const ZipEndRecordHit hit = FindEndRecord(size, read);
    if (hit.position < 0) {
        return std::nullopt;
    }
    ZipEndRecord record;
    std::memcpy(&record, hit.tail.data() + (hit.position - hit.tailStart), kZipEndRecordSize);
    const std::int64_t cdStart = hit.position - record.CentralSize;
    if (record.ThisDiskNo != 0 || cdStart < 0 ||
        cdStart < static_cast<std::int64_t>(record.CentralOffset)) {
        return std::nullopt;
    }
    DirectoryFacts facts;
    facts.prefix = cdStart - record.CentralOffset;
    ZipDirectoryReader reader(read, cdStart);
    ZipCentralHeader header;
    std::string name;
    std::string extra;
    std::string comment;
    for (int i = 0; i < record.TotalEntries; ++i) {
        if (reader.Next(header, name, extra, comment) != ZipDirectoryReader::Result::Entry) {
            return std::nullopt;
        }
        if (i == 0) {
            facts.oemNames = UsesOemNames(header.HostSystem, header.FormatVersion);
        }
        facts.rawNames.push_back(name);
        facts.flags.push_back(header.Flag);
    }
    return facts;
}

struct ZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileCloser>;

// libzip takes the open file over; it closes it with the archive.
ZipPtr OpenArchive(StdioFile file, std::int64_t prefix) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source =
        zip_source_filep_create(file.get(), static_cast<zip_uint64_t>(prefix), -1, &error);
    zip_error_fini(&error);
    if (source == nullptr) {
        return nullptr;
    }
    file.release();
    zip_error_init(&error);
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    zip_error_fini(&error);
    if (archive == nullptr) {
        zip_source_free(source);
    }
    return ZipPtr(archive);
}

// A member's new file beside its destination, put in place only when complete
// (with no name at all until then where the system allows it), so a failed,
// refused or killed extraction leaves no partial file behind and an existing
// file stays as it was. What is not committed is discarded.
class MemberFile {
  public:
    MemberFile() = default;
    MemberFile(const MemberFile&) = delete;
    MemberFile& operator=(const MemberFile&) = delete;
    ~MemberFile();

    bool Create(const fs::path& destination);
    bool Write(const char* data, size_t size);
    // Gives the file the member's modification time and puts it in place.
    bool Commit(std::time_t mtime);

  private:
    fs::path m_destination;
#ifdef _WIN32
    PendingFile m_file;
#else
    int m_folder = -1;
    PendingFile m_file;
#endif
};

#ifdef _WIN32
MemberFile::~MemberFile() = default;

bool MemberFile::Create(const fs::path& destination) {
    m_destination = destination;
    const fs::path folder = destination.parent_path();
    return m_file.Create(folder.empty() ? std::wstring(L".") : folder.wstring());
}

bool MemberFile::Write(const char* data, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!WriteFile(static_cast<HANDLE>(m_file.Handle()), data, chunk, &written, nullptr) ||
            written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool MemberFile::Commit(std::time_t mtime) {
    // Seconds since 1970 in the 100 ns units since 1601 of a FILETIME.
    const std::uint64_t ticks = (static_cast<std::uint64_t>(mtime) + 11644473600ULL) * 10000000ULL;
    FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SetFileTime(static_cast<HANDLE>(m_file.Handle()), nullptr, nullptr, &time);
    std::error_code ec;
    const fs::path full = fs::absolute(m_destination, ec);
    return !ec && m_file.Commit(full.wstring());
}
#else
MemberFile::~MemberFile() {
    m_file.Discard();
    if (m_folder >= 0) {
        ::close(m_folder);
    }
}

bool MemberFile::Create(const fs::path& destination) {
    m_destination = destination;
    m_folder = ::open(destination.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_folder >= 0 && m_file.Create(m_folder);
}

bool MemberFile::Write(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(m_file.Descriptor(), data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool MemberFile::Commit(std::time_t mtime) {
    const timespec times[2] = {{0, UTIME_OMIT}, {mtime, 0}};
    ::futimens(m_file.Descriptor(), times);
    return m_file.Commit(m_destination.filename().string());
}
#endif

std::optional<std::time_t> ModificationTime(const fs::path& path) {
    std::error_code ec;
    const auto time = fs::last_write_time(path, ec);
    if (ec) {
        return std::nullopt;
    }
    return std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(time));
}

class Session {
  public:
    explicit Session(const UnzipCommand& command) : m_command(command) {
        if (command.Password != nullptr && command.Password[0] != '\0') {
            m_password = command.Password;
        }
    }

    std::int32_t Run();

  private:
    enum class Outcome { Written, Skipped, Stopped };

    // One callback; false when the component answered -1.
    bool Call(std::int32_t action, std::int32_t value, const std::string& text = {},
              std::int32_t answer = 0) {
        m_info = UnzipCallbackInfo{};
        m_info.Caller = m_command.Caller;
        m_info.ActionCode = action;
        m_info.Answer = answer;
        m_info.Value = value;
        const size_t length = std::min(text.size(), sizeof m_info.Text - 1);
        std::memcpy(m_info.Text, text.data(), length);
        if (m_command.Callback(&m_info) == -1) {
            m_stopped = true;
        }
        return !m_stopped;
    }

    Outcome Extract(zip_t* archive, zip_uint64_t index, const std::string& name);
    ZipFilePtr OpenMember(zip_t* archive, zip_uint64_t index, const std::string& name,
                          bool encrypted);
    Outcome Copy(zip_file_t* member, const fs::path& destination, const std::string& name,
                 std::time_t mtime, zip_uint64_t sizeLimit);

    const UnzipCommand& m_command;
    UnzipCallbackInfo m_info;
    std::string m_password;  // the last one that opened a member
    bool m_stopped = false;
    fs::path m_target;
};

std::int32_t Session::Run() {
    std::vector<std::string> requested;
    for (std::int32_t i = 0; i < m_command.FileSpecCount && m_command.FileSpecs != nullptr; ++i) {
        const char* spec = m_command.FileSpecs[i].FileSpec;
        requested.emplace_back(spec != nullptr ? spec : "");
    }

    ZipPtr archive;
    std::vector<std::string> names;
    if (m_command.ZipFileName != nullptr && m_command.ExtractDir != nullptr) {
        m_target = parevo::PathOf(m_command.ExtractDir);
        // The archive is opened once: its directory is read, and libzip reads the
        // members, through this one open file, so both see the same file. A FIFO
        // or a device is refused without waiting on it.
        StdioFile file = OpenRegularFile(m_command.ZipFileName);
        const auto facts = file ? ReadDirectoryFacts(file.get()) : std::nullopt;
        if (facts) {
            archive = OpenArchive(std::move(file), facts->prefix);
            // libzip numbers the entries in directory order; insist on it.
            if (archive && zip_get_num_entries(archive.get(), 0) ==
                               static_cast<zip_int64_t>(facts->rawNames.size())) {
                for (size_t i = 0; i < facts->rawNames.size(); ++i) {
                    const char* raw = zip_get_name(archive.get(), i, ZIP_FL_ENC_RAW);
                    const bool same = raw != nullptr && facts->rawNames[i] == raw;
                    names.push_back(same ? ConvertMemberName(facts->rawNames[i], facts->oemNames,
                                                             facts->flags[i])
                                         : std::string());
                }
            }
        }
    }

    // The members to write, in the order asked for; a name without a member is
    // skipped.
    std::vector<std::optional<zip_uint64_t>> jobs;
    std::int32_t count = 0;
    std::uint64_t bytes = 0;
    for (const std::string& wanted : requested) {
        std::optional<zip_uint64_t> index;
        if (!wanted.empty()) {
            const auto it = std::find(names.begin(), names.end(), wanted);
            if (it != names.end()) {
                index = static_cast<zip_uint64_t>(it - names.begin());
                zip_stat_t stat;
                if (zip_stat_index(archive.get(), *index, 0, &stat) == 0 &&
                    (stat.valid & ZIP_STAT_SIZE) != 0) {
                    bytes += stat.size;
                }
                ++count;
            }
        }
        jobs.push_back(index);
    }

    std::int32_t written = 0;
    if (!Call(UZ_BATCH_COUNT, count) || !Call(UZ_BATCH_BYTES, Clamp32(bytes))) {
        return written;
    }
    for (size_t i = 0; i < jobs.size(); ++i) {
        Outcome outcome = Outcome::Skipped;
        if (jobs[i]) {
            outcome = Extract(archive.get(), *jobs[i], requested[i]);
        }
        if (outcome == Outcome::Written) {
            ++written;
        } else if (outcome == Outcome::Skipped) {
            Call(UZ_SKIPPED, 0, requested[i]);
        }
        if (m_stopped) {
            return written;
        }
    }
    Call(UZ_END_BATCH, written);
    return written;
}

Session::Outcome Session::Extract(zip_t* archive, zip_uint64_t index, const std::string& name) {
    const auto parts = MemberPathParts(name);
    if (!parts) {
        return Outcome::Skipped;
    }
    zip_stat_t stat;
    if (zip_stat_index(archive, index, 0, &stat) != 0) {
        return Outcome::Skipped;
    }
    const bool isFolder = name.back() == '/' || name.back() == '\\';
    if (!Call(UZ_BEGIN_FILE, Clamp32((stat.valid & ZIP_STAT_SIZE) ? stat.size : 0), name)) {
        return Outcome::Stopped;
    }
    const std::optional<fs::path> destination = unzdll::MakeFolders(m_target, *parts, isFolder);
    if (!destination) {
        return Outcome::Skipped;
    }
    if (isFolder) {
        return Outcome::Written;
    }

    const std::time_t mtime = (stat.valid & ZIP_STAT_MTIME) ? stat.mtime : 0;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(*destination, ec);
    if (fs::exists(status)) {
        if (fs::is_directory(status)) {
            return Outcome::Skipped;
        }
        const auto onDisk = ModificationTime(*destination);
        const std::int32_t older = onDisk && *onDisk < mtime ? 1 : 0;
        if (!Call(UZ_OVERWRITE, 0, name, older)) {
            return Outcome::Stopped;
        }
        if (m_info.Value == 0) {
            return Outcome::Skipped;
        }
    }

    const bool encrypted =
        (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
    ZipFilePtr member = OpenMember(archive, index, name, encrypted);
    if (!member) {
        return m_stopped ? Outcome::Stopped : Outcome::Skipped;
    }
    const zip_uint64_t sizeLimit =
        (stat.valid & ZIP_STAT_SIZE) ? stat.size : std::numeric_limits<zip_uint64_t>::max();
    return Copy(member.get(), *destination, name, mtime, sizeLimit);
}

ZipFilePtr Session::OpenMember(zip_t* archive, zip_uint64_t index, const std::string& name,
                               bool encrypted) {
    if (!encrypted) {
        return ZipFilePtr(zip_fopen_index(archive, index, 0));
    }
    auto tryOpen = [&](const std::string& password, bool& wrong) {
        zip_file_t* file = zip_fopen_index_encrypted(archive, index, 0, password.c_str());
        const int code = zip_error_code_zip(zip_get_error(archive));
        wrong = file == nullptr && (code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_NOPASSWD);
        zip_error_clear(archive);
        return ZipFilePtr(file);
    };
    bool wrong = true;
    if (!m_password.empty()) {
        ZipFilePtr file = tryOpen(m_password, wrong);
        if (file || !wrong) {
            return file;
        }
    }
    // Ask, with a try counter the component counts down.
    std::int32_t tries = kUnzipPasswordTries;
    while (tries > 0) {
        if (!Call(UZ_PASSWORD, tries, name)) {
            return nullptr;
        }
        if (m_info.Answer != 1) {
            return nullptr;
        }
        const std::string password(m_info.Text, strnlen(m_info.Text, sizeof m_info.Text));
        tries = m_info.Value;
        ZipFilePtr file = tryOpen(password, wrong);
        if (file) {
            m_password = password;
            return file;
        }
        if (!wrong) {
            return nullptr;
        }
    }
    return nullptr;
}

Session::Outcome Session::Copy(zip_file_t* member, const fs::path& destination,
                               const std::string& name, std::time_t mtime, zip_uint64_t sizeLimit) {
    MemberFile out;
    if (!out.Create(destination)) {
        return Outcome::Skipped;
    }

    std::vector<char> buffer(kCopyBufferSize);
    bool damaged = false;
    zip_uint64_t written = 0;
    while (!damaged) {
        const zip_int64_t got = zip_fread(member, buffer.data(), buffer.size());
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (zip_error_code_zip(zip_file_get_error(member)) != ZIP_ER_CRC) {
                return Outcome::Skipped;
            }
            damaged = true;
            break;
        }
        // Data past the size the headers declare is damage, not content: a
        // member that inflates without end must not fill the disk. What fits is
        // kept for the question below, the rest never written.
        auto size = static_cast<zip_uint64_t>(got);
        if (size > sizeLimit - written) {
            size = sizeLimit - written;
            damaged = true;
        }
        if (size == 0) {
            continue;
        }
        if (!out.Write(buffer.data(), static_cast<size_t>(size))) {
            return Outcome::Skipped;
        }
        written += size;
        if (!Call(UZ_PROGRESS, static_cast<std::int32_t>(size), name)) {
            return Outcome::Stopped;
        }
    }
    if (damaged) {
        if (!Call(UZ_CRC_ERROR, 0, name)) {
            return Outcome::Stopped;
        }
        if (m_info.Answer != 1) {
            return Outcome::Skipped;
        }
    }
    return out.Commit(mtime) ? Outcome::Written : Outcome::Skipped;
}

}  // namespace

UNZDLL_EXPORT std::int32_t GetUnzDllVersion() {
    return kLibraryVersion;
}

UNZDLL_EXPORT std::int32_t UnzDllExec(UnzipCommand* command) {
    if (command == nullptr || command->Callback == nullptr) {
        return 0;
    }
    try {
        Session session(*command);
        return session.Run();
    } catch (...) {
        // Nothing may unwind into the caller, which may not be C++.
        return 0;
    }
}

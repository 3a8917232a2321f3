// Windows implementation of the file wrappers. Paths are in the ANSI code page,
// as the rest of the program holds them.
#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/errors.h"
#include "platform/file_io.h"

namespace parevo {

namespace {

std::string SystemReason(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string reason =
        length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}

[[noreturn]] void ThrowWin(const std::string& action, const std::string& path, DWORD code) {
    throw IoError(action + " \"" + path + "\": " + SystemReason(code));
}

class Handle {
  public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return m_h; }
    bool Valid() const { return m_h != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (Valid()) {
            CloseHandle(m_h);
        }
        m_h = h;
    }

  private:
    HANDLE m_h;
};

std::optional<FileStamp> StampOfHandle(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandle(h, &info) ||
        !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
        return std::nullopt;
    }
    return FileStamp{
        {info.dwVolumeSerialNumber,
         (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow},
        basic.ChangeTime.QuadPart,
        static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                  info.nFileSizeLow)};
}

void SetFileLength(HANDLE h, std::int64_t length, const std::string& path) {
    LARGE_INTEGER size;
    size.QuadPart = length;
    // Extending through the end-of-file mark reads back as zeros.
    if (!SetFilePointerEx(h, size, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) {
        ThrowWin("Cannot write", path, GetLastError());
    }
}

OVERLAPPED At(std::int64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    return at;
}

}  // namespace

InputFile::InputFile(const std::string& path) : m_path(path), m_handle(-1) {
    // Others may write meanwhile (so that ResizeFile can reopen it for writing);
    // RequireUnchanged tells when they did.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        ThrowWin("Cannot open", path, GetLastError());
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        throw IoError(DescribeIoFailure("Cannot open", path, kNotARegularFile));
    }
    const std::optional<FileStamp> stamp = StampOfHandle(h);
    if (!stamp) {
        const DWORD code = GetLastError();
        CloseHandle(h);
        ThrowWin("Cannot open", path, code);
    }
    m_opened = *stamp;
    m_handle = reinterpret_cast<std::intptr_t>(h);
}

InputFile::~InputFile() {
    if (m_handle != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    }
}

std::int64_t InputFile::Size() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(m_handle), &size)) {
        ThrowWin("Cannot read", m_path, GetLastError());
    }
    return size.QuadPart;
}

size_t InputFile::ReadAt(std::int64_t offset, void* buffer, size_t count) const {
    size_t done = 0;
    while (done < count) {
        OVERLAPPED at = At(offset + static_cast<std::int64_t>(done));
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
        if (!ReadFile(reinterpret_cast<HANDLE>(m_handle), static_cast<char*>(buffer) + done, want,
                      &got, &at)) {
            const DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF) {
                break;
            }
            ThrowWin("Cannot read", m_path, code);
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

size_t InputFile::ReadCachedAt(std::int64_t, void*, size_t) const {
    return 0;  // no read that waits for nothing on a handle like this one
}

void InputFile::Prefetch(std::int64_t, std::int64_t) const {
    // Windows has no such hint for a file handle: the cache manager reads ahead
    // of each handle on its own, from the pattern of that handle's last reads,
    // and the search's reads are large (a chunk of 1 MiB each).
}

std::unique_ptr<InputFile> InputFile::OpenAgain() const {
    // A handle to the file object's file itself, opened for forward reading.
    HANDLE h = ReOpenFile(reinterpret_cast<HANDLE>(m_handle), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          FILE_FLAG_SEQUENTIAL_SCAN);
    if (h == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    const std::optional<FileStamp> stamp = StampOfHandle(h);
    if (!stamp || stamp->identity != m_opened.identity) {
        CloseHandle(h);
        return nullptr;
    }
    return std::unique_ptr<InputFile>(
        new InputFile(m_path, reinterpret_cast<std::intptr_t>(h), m_opened));
}

FileStamp InputFile::Stamp() const {
    const std::optional<FileStamp> stamp = StampOfHandle(reinterpret_cast<HANDLE>(m_handle));
    if (!stamp) {
        ThrowWin("Cannot read", m_path, GetLastError());
    }
    return *stamp;
}

void InputFile::RequireUnchanged() const {
    if (IdentityOf(m_path) != m_opened.identity) {
        throw IoError(DescribeIoFailure("Cannot trim", m_path, kReplacedWhileSearched));
    }
    if (Stamp() != m_opened) {
        throw IoError(DescribeIoFailure("Cannot trim", m_path, kChangedWhileSearched));
    }
}

std::optional<FileStamp> StampOf(const std::string& path) {
    Handle h(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid()) {
        return std::nullopt;
    }
    return StampOfHandle(h.Get());
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path) {
    return KindOf(path) == FileKind::Folder;
}

FileKind KindOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return FileKind::Missing;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return FileKind::Folder;
    }
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? FileKind::Other : FileKind::Regular;
}

struct PendingOutput::State {
    char tempName[MAX_PATH] = {};
    bool keep = false;
    Handle out;
    ~State() {
        out.Reset();
        if (!keep && tempName[0] != '\0') {
            DeleteFileA(tempName);
        }
    }
};

PendingOutput::PendingOutput(const std::string& outputPath)
    : m_outputPath(outputPath), m_state(std::make_unique<State>()) {
    std::string folder = std::filesystem::path(outputPath).parent_path().string();
    if (folder.empty()) {
        folder = ".";
    }
    if (GetTempFileNameA(folder.c_str(), "prv", 0, m_state->tempName) == 0) {
        m_state->tempName[0] = '\0';
        ThrowWin("Cannot create", outputPath, GetLastError());
    }
    m_state->out.Reset(CreateFileA(m_state->tempName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_state->out.Valid()) {
        ThrowWin("Cannot create", outputPath, GetLastError());
    }
}

PendingOutput::~PendingOutput() = default;

void PendingOutput::CopyRange(const InputFile& source, std::int64_t from, std::int64_t count) {
    std::vector<char> buffer(1 << 20);
    while (count > 0) {
        const size_t want = static_cast<size_t>(std::min<std::int64_t>(count, buffer.size()));
        const size_t got = source.ReadAt(from, buffer.data(), want);
        if (got == 0) {
            return;  // the source got shorter since it was measured; zeros follow
        }
        OVERLAPPED to = At(from);
        DWORD written = 0;
        if (!WriteFile(m_state->out.Get(), buffer.data(), static_cast<DWORD>(got), &written, &to) ||
            written != got) {
            ThrowWin("Cannot write", m_outputPath, GetLastError());
        }
        from += static_cast<std::int64_t>(got);
        count -= static_cast<std::int64_t>(got);
    }
}

void PendingOutput::SetLength(std::int64_t length) {
    SetFileLength(m_state->out.Get(), length, m_outputPath);
}

void PendingOutput::Fill(std::int64_t from, std::int64_t count, std::uint8_t value) {
    constexpr std::int64_t kBlock = 1 << 20;
    const std::vector<char> block(static_cast<size_t>(std::min(count, kBlock)),
                                  static_cast<char>(value));
    while (count > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::int64_t>(count, kBlock));
        OVERLAPPED to = At(from);
        DWORD written = 0;
        if (!WriteFile(m_state->out.Get(), block.data(), piece, &written, &to) ||
            written != piece) {
            ThrowWin("Cannot write", m_outputPath, GetLastError());
        }
        from += piece;
        count -= piece;
    }
}

void PendingOutput::Commit(Durability durability) {
    if (durability == Durability::Synced && !FlushFileBuffers(m_state->out.Get())) {
        ThrowWin("Cannot write", m_outputPath, GetLastError());
    }
    m_state->out.Reset();
    if (!MoveFileExA(m_state->tempName, m_outputPath.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ThrowWin("Cannot create", m_outputPath, GetLastError());
    }
    m_state->keep = true;
}

void SyncFile(const std::string& path) {
    Handle h(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid() || !FlushFileBuffers(h.Get())) {
        ThrowWin("Cannot write", path, GetLastError());
    }
}

void ResizeFile(const InputFile& file, std::int64_t length) {
    // A second handle to the very file that was searched, never to whatever has
    // taken its name since.
    Handle h(ReOpenFile(reinterpret_cast<HANDLE>(file.NativeHandle()), GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0));
    if (!h.Valid()) {
        ThrowWin("Cannot open", file.Path(), GetLastError());
    }
    file.RequireUnchanged();
    SetFileLength(h.Get(), length, file.Path());
}

}  // namespace parevo

#endif  // _WIN32

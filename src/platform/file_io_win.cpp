// Windows implementation of the file wrappers. Paths are UTF-8, as the rest of
// the program holds them, and reach the system as UTF-16 through the wide calls.
#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <vector>

#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/pending_file.h"
#include "platform/text_encoding.h"

namespace parevo {

namespace {

std::wstring Wide(const std::string& path) {
    return NarrowToWide(path);
}

std::string SystemReason(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string reason = length > 0 && text != nullptr ? WideToNarrow(std::wstring(text, length))
                                                       : "error " + std::to_string(code);
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
    if (path.find('\0') != std::string::npos) {
        throw IoError("Cannot open \"" + path + "\": the name holds a NUL character");
    }
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ,
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
    Handle h(CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid()) {
        return std::nullopt;
    }
    return StampOfHandle(h.Get());
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path) {
    return KindOf(path) == FileKind::Folder;
}

FileKind KindOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return FileKind::Missing;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return FileKind::Folder;
    }
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? FileKind::Other : FileKind::Regular;
}

struct PendingOutput::State {
    PendingFile file;
    HANDLE Out() const { return static_cast<HANDLE>(file.Handle()); }
};

namespace {

std::wstring FolderOf(const std::string& path) {
    const std::filesystem::path parent = PathOf(path).parent_path();
    return parent.empty() ? L"." : parent.wstring();
}

}  // namespace

PendingOutput::PendingOutput(const std::string& outputPath, const InputFile* /*permissionsOf*/)
    : m_outputPath(outputPath), m_state(std::make_unique<State>()) {
    // Who may read a file follows its folder on Windows: nothing to take over.
    if (!m_state->file.Create(FolderOf(outputPath))) {
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
        if (!WriteFile(m_state->Out(), buffer.data(), static_cast<DWORD>(got), &written, &to) ||
            written != got) {
            ThrowWin("Cannot write", m_outputPath, GetLastError());
        }
        from += static_cast<std::int64_t>(got);
        count -= static_cast<std::int64_t>(got);
    }
}

void PendingOutput::SetLength(std::int64_t length) {
    SetFileLength(m_state->Out(), length, m_outputPath);
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
    const bool replaces = GetFileAttributesW(Wide(m_outputPath).c_str()) != INVALID_FILE_ATTRIBUTES;
    if ((durability == Durability::Synced || replaces) && !FlushFileBuffers(m_state->Out())) {
        ThrowWin("Cannot write", m_outputPath, GetLastError());
    }
    if (!m_state->file.Commit(Wide(m_outputPath))) {
        ThrowWin("Cannot create", m_outputPath, GetLastError());
    }
}

StagingFolder::StagingFolder(const std::string& folder) : m_parent(folder), m_handle(-1) {
    const std::wstring parent = folder.empty() ? L"." : Wide(folder);
    for (int attempt = 0; attempt < 100 && m_handle == -1; ++attempt) {
        static std::random_device random;
        wchar_t name[40];
        swprintf(name, 40, L".parevo-%08x%08x.tmp", random(), random());
        const std::wstring path = parent + L"\\" + name;
        if (!CreateDirectoryW(path.c_str(), nullptr)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS) {
                continue;
            }
            ThrowWin("Cannot create", folder.empty() ? "." : folder, GetLastError());
        }
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
        // Held without delete sharing, so no leftover remover takes it away.
        HANDLE h =
            CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            RemoveDirectoryW(path.c_str());
            ThrowWin("Cannot create", folder.empty() ? "." : folder, error);
        }
        m_handle = reinterpret_cast<std::intptr_t>(h);
        m_name = WideToNarrow(name);
        m_path = (folder.empty() ? std::string(".") : folder) + "\\" + m_name + "\\";
    }
    if (m_handle == -1) {
        ThrowWin("Cannot create", folder.empty() ? "." : folder, ERROR_ALREADY_EXISTS);
    }
}

StagingFolder::~StagingFolder() {
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    std::error_code ec;
    std::filesystem::remove_all(PathOf(m_path), ec);
}

std::vector<std::string> StagingFolder::Files() const {
    std::vector<std::string> files;
    std::error_code ec;
    const std::filesystem::path root = PathOf(m_path);
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec)) {
            files.push_back(NarrowOf(it->path().lexically_relative(root)));
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

namespace {

// What is at `path`, not following a link or junction.
Spot SpotOf(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Spot::Free
                                                                              : Spot::Blocked;
    }
    if ((attributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return Spot::Blocked;
    }
    return Spot::File;
}

// Walks the folders of `relative` under `folder`, making missing ones when
// `make`; the full wide path of the file, or none when the way is blocked.
// `missing` is set when, without `make`, a folder on the way is not there.
std::optional<std::wstring> Way(const std::string& folder, const std::string& relative, bool make,
                                bool& missing) {
    missing = false;
    std::filesystem::path at = folder.empty() ? std::filesystem::path(L".") : PathOf(folder);
    std::vector<std::filesystem::path> parts;
    for (const auto& part : PathOf(relative)) {
        parts.push_back(part);
    }
    if (parts.empty()) {
        return std::nullopt;
    }
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        at /= parts[i];
        const DWORD attributes = GetFileAttributesW(at.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!make) {
                missing = true;
                return std::nullopt;
            }
            if (!CreateDirectoryW(at.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                return std::nullopt;
            }
            continue;
        }
        // A link or junction on the way could lead out of the folder.
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return std::nullopt;
        }
    }
    return (at / parts.back()).wstring();
}

}  // namespace

Spot SpotAt(const std::string& folder, const std::string& relative) {
    bool missing = false;
    const std::optional<std::wstring> path = Way(folder, relative, false, missing);
    if (!path) {
        return missing ? Spot::Free : Spot::Blocked;
    }
    return SpotOf(*path);
}

Spot MoveIntoSpot(const std::string& from, const std::string& folder, const std::string& relative) {
    bool missing = false;
    const std::optional<std::wstring> path = Way(folder, relative, true, missing);
    if (!path) {
        return Spot::Blocked;
    }
    if (const Spot spot = SpotOf(*path); spot != Spot::Free) {
        return spot;
    }
    // Without MOVEFILE_REPLACE_EXISTING the move never replaces anything.
    if (!MoveFileExW(Wide(from).c_str(), path->c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            return SpotOf(*path);
        }
        ThrowWin("Cannot create", WideToNarrow(*path), error);
    }
    return Spot::Free;
}

void RemoveLeftovers(const std::string& folder) {
    RemoveLeftovers(folder.empty() ? std::wstring(L".") : Wide(folder));
}

void SyncFile(const std::string& path) {
    Handle h(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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
    // Nothing to cut: the file stays as it is, its times included.
    if (length == file.OpenedStamp().size) {
        return;
    }
    SetFileLength(h.Get(), length, file.Path());
}

}  // namespace parevo

#endif  // _WIN32

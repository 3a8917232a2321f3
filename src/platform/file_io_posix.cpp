// POSIX implementation of the file wrappers.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/pending_file.h"
#include "platform/unique_fd.h"

namespace parevo {

namespace {

// A path holding a NUL byte would name another file at the system boundary.
void RequireNoNul(const char* action, const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        throw IoError(std::string(action) + " \"" + path + "\": the name holds a NUL character");
    }
}

void WriteAllAt(int fd, const char* data, size_t count, std::int64_t offset,
                const std::string& outputPath) {
    while (count > 0) {
        const ssize_t written = ::pwrite(fd, data, count, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowIoError("Cannot write", outputPath, errno);
        }
        data += written;
        offset += written;
        count -= static_cast<size_t>(written);
    }
}

void CopyWithBuffer(const InputFile& source, std::int64_t from, std::int64_t count, int out,
                    const std::string& outputPath) {
    std::vector<char> buffer(1 << 20);
    while (count > 0) {
        const size_t chunk = static_cast<size_t>(std::min<std::int64_t>(count, buffer.size()));
        const size_t got = source.ReadAt(from, buffer.data(), chunk);
        if (got == 0) {
            return;  // the source got shorter since it was measured; zeros follow
        }
        WriteAllAt(out, buffer.data(), got, from, outputPath);
        from += static_cast<std::int64_t>(got);
        count -= static_cast<std::int64_t>(got);
    }
}

// Copies bytes [from, from + count) of the source to the same offsets of `out`,
// inside the kernel where it can, through a buffer where it cannot. Both offsets
// are explicit, so neither file's position moves.
void CopyRangeTo(const InputFile& source, std::int64_t from, std::int64_t count, int out,
                 const std::string& outputPath) {
#ifndef __linux__
    CopyWithBuffer(source, from, count, out, outputPath);
#else
    const int in = static_cast<int>(source.NativeHandle());
    loff_t inOffset = from;
    loff_t outOffset = from;
    while (count > 0) {
        const size_t chunk = static_cast<size_t>(std::min<std::int64_t>(count, 1 << 30));
        const ssize_t copied = ::copy_file_range(in, &inOffset, out, &outOffset, chunk, 0);
        if (copied < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP ||
                errno == EPERM || errno == ETXTBSY) {
                CopyWithBuffer(source, inOffset, count, out, outputPath);
                return;
            }
            ThrowIoError("Cannot write", outputPath, errno);
        }
        if (copied == 0) {
            // Some file systems stop early without an error; a buffered copy
            // tells a real end of the source from that.
            CopyWithBuffer(source, inOffset, count, out, outputPath);
            return;
        }
        count -= copied;
    }
#endif
}

FileStamp StampFrom(const struct stat& st) {
#ifdef __APPLE__
    const std::int64_t changed = st.st_ctimespec.tv_sec * 1'000'000'000LL + st.st_ctimespec.tv_nsec;
#else
    const std::int64_t changed = st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec;
#endif
    return FileStamp{{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)},
                     changed,
                     static_cast<std::int64_t>(st.st_size)};
}

bool FlushData(int fd) {
#ifdef __APPLE__
    return ::fsync(fd) == 0;
#else
    return ::fdatasync(fd) == 0;
#endif
}

std::string FolderOf(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

}  // namespace

InputFile::InputFile(const std::string& path) : m_path(path), m_handle(-1) {
    RequireNoNul("Cannot open", path);
    // Without O_NONBLOCK, opening a FIFO waits for a writer, for ever if none comes.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) {
        ThrowIoError("Cannot open", path, errno);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        ThrowIoError("Cannot open", path, errno);
    }
    if (S_ISDIR(st.st_mode)) {
        ThrowIoError("Cannot open", path, EISDIR);
    }
    if (!S_ISREG(st.st_mode)) {
        throw IoError(DescribeIoFailure("Cannot open", path, kNotARegularFile));
    }
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    m_opened = StampFrom(st);
    m_handle = fd.Release();
}

InputFile::~InputFile() {
    if (m_handle >= 0) {
        ::close(static_cast<int>(m_handle));
    }
}

std::int64_t InputFile::Size() const {
    return Stamp().size;
}

FileStamp InputFile::Stamp() const {
    struct stat st {};
    if (::fstat(static_cast<int>(m_handle), &st) != 0) {
        ThrowIoError("Cannot read", m_path, errno);
    }
    return StampFrom(st);
}

size_t InputFile::ReadAt(std::int64_t offset, void* buffer, size_t count) const {
    size_t done = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (done < count) {
        const ssize_t got = ::pread(static_cast<int>(m_handle), bytes + done, count - done,
                                    static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowIoError("Cannot read", m_path, errno);
        }
        if (got == 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
    return done;
}

size_t InputFile::ReadCachedAt(std::int64_t offset, void* buffer, size_t count) const {
#if defined(__linux__) && defined(RWF_NOWAIT)
    iovec piece{buffer, count};
    const ssize_t got =
        ::preadv2(static_cast<int>(m_handle), &piece, 1, static_cast<off_t>(offset), RWF_NOWAIT);
    return got > 0 ? static_cast<size_t>(got) : 0;
#else
    (void)offset;
    (void)buffer;
    (void)count;
    return 0;
#endif
}

void InputFile::Prefetch(std::int64_t offset, std::int64_t count) const {
    if (count <= 0) {
        return;
    }
    // The kernel queues the reads and returns; its own read-ahead follows only
    // forward reads, and the search also reads backwards.
#if defined(POSIX_FADV_WILLNEED)
    ::posix_fadvise(static_cast<int>(m_handle), static_cast<off_t>(offset),
                    static_cast<off_t>(count), POSIX_FADV_WILLNEED);
#elif defined(F_RDADVISE)
    radvisory advice{};
    advice.ra_offset = static_cast<off_t>(offset);
    advice.ra_count = static_cast<int>(std::min<std::int64_t>(count, 1 << 30));
    ::fcntl(static_cast<int>(m_handle), F_RDADVISE, &advice);
#else
    (void)offset;
#endif
}

std::unique_ptr<InputFile> InputFile::OpenAgain() const {
#ifdef __linux__
    // The link in /proc leads to the open file itself, never to whatever its
    // path names now; a handle that is another file all the same is refused.
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", static_cast<int>(m_handle));
    UniqueFd fd(::open(self, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        StampFrom(st).identity != m_opened.identity) {
        return nullptr;
    }
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    // Read in order: the system reads ahead of this handle twice as far.
    ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::unique_ptr<InputFile>(new InputFile(m_path, fd.Release(), m_opened));
#else
    return nullptr;
#endif
}

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return StampFrom(st);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return path.find('\0') == std::string::npos && ::stat(path.c_str(), &st) == 0 &&
           !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path) {
    return KindOf(path) == FileKind::Folder;
}

FileKind KindOf(const std::string& path) {
    struct stat st {};
    if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &st) != 0) {
        return FileKind::Missing;
    }
    return S_ISREG(st.st_mode)   ? FileKind::Regular
           : S_ISDIR(st.st_mode) ? FileKind::Folder
                                 : FileKind::Other;
}

struct PendingOutput::State {
    UniqueFd folder;
    PendingFile file;
};

PendingOutput::PendingOutput(const std::string& outputPath, const InputFile* permissionsOf)
    : m_outputPath(outputPath), m_state(std::make_unique<State>()) {
    RequireNoNul("Cannot create", outputPath);
    m_state->folder.Reset(::open(FolderOf(outputPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (m_state->folder.Get() < 0 || !m_state->file.Create(m_state->folder.Get())) {
        ThrowIoError("Cannot create", outputPath, errno);
    }
    struct stat st {};
    if (permissionsOf != nullptr &&
        (::fstat(static_cast<int>(permissionsOf->NativeHandle()), &st) != 0 ||
         ::fchmod(m_state->file.Descriptor(), st.st_mode & 0777) != 0)) {
        ThrowIoError("Cannot create", outputPath, errno);
    }
}

PendingOutput::~PendingOutput() = default;

void PendingOutput::CopyRange(const InputFile& source, std::int64_t from, std::int64_t count) {
    CopyRangeTo(source, from, count, m_state->file.Descriptor(), m_outputPath);
}

void PendingOutput::SetLength(std::int64_t length) {
    if (::ftruncate(m_state->file.Descriptor(), static_cast<off_t>(length)) != 0) {
        ThrowIoError("Cannot write", m_outputPath, errno);
    }
}

void PendingOutput::Fill(std::int64_t from, std::int64_t count, std::uint8_t value) {
    constexpr std::int64_t kBlock = 1 << 20;
    const std::vector<char> block(static_cast<size_t>(std::min(count, kBlock)),
                                  static_cast<char>(value));
    for (; count > 0;) {
        const size_t piece = static_cast<size_t>(std::min<std::int64_t>(count, kBlock));
        WriteAllAt(m_state->file.Descriptor(), block.data(), piece, from, m_outputPath);
        from += static_cast<std::int64_t>(piece);
        count -= static_cast<std::int64_t>(piece);
    }
}

void PendingOutput::Commit(Durability durability) {
    State& state = *m_state;
    const std::string name = std::filesystem::path(m_outputPath).filename().string();
    struct stat st {};
    const bool replaces =
        ::fstatat(state.folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if ((durability == Durability::Synced || replaces) && !FlushData(state.file.Descriptor())) {
        ThrowIoError("Cannot write", m_outputPath, errno);
    }
    if (!state.file.Commit(name)) {
        ThrowIoError("Cannot create", m_outputPath, errno);
    }
    if (durability == Durability::Synced) {
        // The new name itself lives in the folder: make it last as well.
        ::fsync(state.folder.Get());
    }
}

StagingFolder::StagingFolder(const std::string& folder) : m_parent(folder), m_handle(-1) {
    RequireNoNul("Cannot create", folder);
    const UniqueFd parent(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const int fd = parent.Get() < 0 ? -1 : CreateHiddenFolder(parent.Get(), m_name);
    if (fd < 0) {
        ThrowIoError("Cannot create", folder.empty() ? "." : folder, errno);
    }
    m_handle = fd;
    m_path = (std::filesystem::path(folder.empty() ? "." : folder) / m_name).string() + "/";
}

StagingFolder::~StagingFolder() {
    const UniqueFd parent(
        ::open(m_parent.empty() ? "." : m_parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The lock is held until the folder is gone, so no one else takes it apart.
    if (parent.Get() >= 0 &&
        IdentityAt(parent.Get(), m_name) == IdentityOfDescriptor(static_cast<int>(m_handle))) {
        RemoveTree(parent.Get(), m_name);
    }
    ::close(static_cast<int>(m_handle));
}

std::vector<std::string> StagingFolder::Files() const {
    std::vector<std::string> files;
    std::error_code ec;
    const std::filesystem::path root(m_path);
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec)) {
            files.push_back(it->path().lexically_relative(root).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

namespace {

// Opens the folders of `relative` under `folder` one by one, following no link,
// and making those that are missing when `make`. The descriptor of the last
// folder, and the file name, or -1 when the way is blocked (or, without
// `make`, not there yet: then `missing` is set).
int OpenWay(const std::string& folder, const std::string& relative, bool make, std::string& name,
            bool& missing) {
    missing = false;
    const std::filesystem::path path(relative);
    UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> parts;
    for (const auto& part : path) {
        parts.push_back(part.string());
    }
    if (parts.empty() || dir.Get() < 0) {
        return -1;
    }
    name = parts.back();
    parts.pop_back();
    for (const std::string& part : parts) {
        int next =
            ::openat(dir.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (!make) {
                missing = true;
                return -1;
            }
            if (::mkdirat(dir.Get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
                return -1;
            }
            next =
                ::openat(dir.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            return -1;
        }
        dir.Reset(next);
    }
    return dir.Release();
}

Spot SpotIn(int dir, const std::string& name) {
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? Spot::Free : Spot::Blocked;
    }
    return S_ISREG(st.st_mode) ? Spot::File : Spot::Blocked;
}

// Moves `from` to `name` in `dir` unless something has that name.
bool MoveWithoutReplacing(const std::string& from, int dir, const std::string& name) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
#endif
    // A link fails where the name is taken; where there are no links (FAT),
    // the name is checked before the rename.
    if (::linkat(AT_FDCWD, from.c_str(), dir, name.c_str(), 0) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    if (SpotIn(dir, name) != Spot::Free) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(AT_FDCWD, from.c_str(), dir, name.c_str()) == 0;
}

}  // namespace

Spot SpotAt(const std::string& folder, const std::string& relative) {
    std::string name;
    bool missing = false;
    const UniqueFd dir(OpenWay(folder, relative, false, name, missing));
    if (dir.Get() < 0) {
        return missing ? Spot::Free : Spot::Blocked;
    }
    return SpotIn(dir.Get(), name);
}

Spot MoveIntoSpot(const std::string& from, const std::string& folder, const std::string& relative) {
    RequireNoNul("Cannot create", relative);
    std::string name;
    bool missing = false;
    const UniqueFd dir(OpenWay(folder, relative, true, name, missing));
    if (dir.Get() < 0) {
        return Spot::Blocked;
    }
    if (const Spot spot = SpotIn(dir.Get(), name); spot != Spot::Free) {
        return spot;
    }
    if (!MoveWithoutReplacing(from, dir.Get(), name)) {
        if (errno == EEXIST) {
            return SpotIn(dir.Get(), name);
        }
        ThrowIoError("Cannot create", (std::filesystem::path(folder) / relative).string(), errno);
    }
    return Spot::Free;
}

void RemoveLeftovers(const std::string& folder) {
    if (folder.find('\0') != std::string::npos) {
        return;
    }
    const UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    if (dir.Get() >= 0) {
        RemoveLeftovers(dir.Get());
    }
}

void SyncFile(const std::string& path) {
    RequireNoNul("Cannot write", path);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0 || ::fsync(fd.Get()) != 0) {
        ThrowIoError("Cannot write", path, errno);
    }
    UniqueFd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) {
        ::fsync(dir.Get());
    }
}

void InputFile::RequireUnchanged() const {
    if (IdentityOf(m_path) != m_opened.identity) {
        throw IoError(DescribeIoFailure("Cannot trim", m_path, kReplacedWhileSearched));
    }
    if (Stamp() != m_opened) {
        throw IoError(DescribeIoFailure("Cannot trim", m_path, kChangedWhileSearched));
    }
}

void ResizeFile(const InputFile& file, std::int64_t length) {
    const std::string& path = file.Path();
    // The length is the open file's: cut that file, through a handle checked to
    // be the same file, never whatever has taken its name since.
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) {
        ThrowIoError("Cannot open", path, errno);
    }
    if (IdentityOfDescriptor(fd.Get()) != file.OpenedStamp().identity) {
        throw IoError(DescribeIoFailure("Cannot trim", path, kReplacedWhileSearched));
    }
    file.RequireUnchanged();
    // Nothing to cut: the file stays as it is, its times included.
    if (length == file.OpenedStamp().size) {
        return;
    }
    if (::ftruncate(fd.Get(), static_cast<off_t>(length)) != 0) {
        ThrowIoError("Cannot write", path, errno);
    }
    if (const int err = fd.Close(); err != 0) {
        ThrowIoError("Cannot write", path, err);
    }
}

}  // namespace parevo

#endif  // !_WIN32

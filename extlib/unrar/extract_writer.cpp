#include "extract_writer.h"

#include "platform/member_path.h"
#include "platform/pending_file.h"
#include "platform/text_encoding.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string_view>

namespace unrar {
namespace {

#ifndef _WIN32
using parevo::UniqueFd;
#endif

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

#ifndef _WIN32
// Opens base/parts[0..count), creating missing folders, through no symbolic link.
int OpenFolders(const ExtractTarget& target, std::size_t count) {
    const char* base = target.base.empty() ? "." : target.base.c_str();
    UniqueFd dir(::open(base, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() < 0 && errno == ENOENT) {
        // The caller's folder is the caller's choice: made as needed, like the
        // folders inside it.
        std::error_code ec;
        std::filesystem::create_directories(base, ec);
        dir.Reset(::open(base, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (dir.Get() < 0) {
        return -1;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const char* part = target.parts[i].c_str();
        if (::mkdirat(dir.Get(), part, 0777) != 0 && errno != EEXIST) {
            return -1;
        }
        const int next = ::openat(dir.Get(), part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            return -1;  // a file, or a link, where a folder should be
        }
        dir.Reset(next);
    }
    return dir.Release();
}
#endif

}  // namespace

ExtractTarget ExtractTarget::Under(const std::string& destPath, const std::string& memberName) {
    ExtractTarget t;
    t.base = destPath;
    if (auto parts = parevo::MemberPathParts(memberName)) {
        t.parts = std::move(*parts);
        t.valid = true;
    }
    return t;
}

ExtractTarget ExtractTarget::Exact(const std::string& path) {
    ExtractTarget t;
    std::size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1])) {
        --cut;
    }
    t.base = path.substr(0, cut);
    if (cut < path.size()) {
        t.parts.push_back(path.substr(cut));
        t.valid = true;
    }
    return t;
}

#ifdef _WIN32
// Windows: the same rules through std::filesystem on wide paths; a folder on
// the way that is a link or junction is refused.
namespace {
namespace fs = std::filesystem;

bool WalkFolders(const ExtractTarget& target, std::size_t count, fs::path& folder) {
    folder = target.base.empty() ? fs::path(L".") : parevo::PathOf(target.base);
    std::error_code ec;
    fs::create_directories(folder, ec);
    for (std::size_t i = 0; i < count; ++i) {
        folder /= parevo::PathOf(target.parts[i]);
        if (fs::is_symlink(fs::symlink_status(folder, ec))) {
            return false;
        }
        fs::create_directory(folder, ec);
        if (!fs::is_directory(fs::symlink_status(folder, ec))) {
            return false;
        }
    }
    return true;
}
}  // namespace

bool CreateFolders(const ExtractTarget& target, bool includeLast) {
    fs::path folder;
    return target.valid && WalkFolders(target, target.parts.size() - (includeLast ? 0 : 1), folder);
}

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Create(const ExtractTarget& target) {
    fs::path folder;
    if (!target.valid || !WalkFolders(target, target.parts.size() - 1, folder)) {
        return false;
    }
    std::error_code ec;
    const fs::path final = fs::absolute(folder / parevo::PathOf(target.parts.back()), ec);
    if (ec || fs::is_symlink(fs::symlink_status(final, ec)) ||
        IsKept(parevo::IdentityOfPath(final.wstring(), false))) {
        return false;
    }
    if (!m_file.Create(folder.wstring())) {
        return false;
    }
    m_final = parevo::NarrowOf(final);
    return true;
}

bool OutputFile::Write(std::int64_t offset, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
        at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!WriteFile(static_cast<HANDLE>(m_file.Handle()), p, chunk, &written, &at) ||
            written == 0) {
            return false;
        }
        p += written;
        offset += written;
        size -= written;
    }
    return true;
}

CommitResult OutputFile::Commit(std::uint64_t fileTime) {
    if (m_file.Handle() == nullptr) {
        return CommitResult::Failed;
    }
    if (fileTime != 0) {
        const FILETIME time{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
        SetFileTime(static_cast<HANDLE>(m_file.Handle()), nullptr, nullptr, &time);
    }
    const std::wstring final = parevo::PathOf(m_final).wstring();
    if (IsKept(parevo::IdentityOfPath(final, false))) {
        Discard();
        return CommitResult::Refused;
    }
    if (!m_file.Commit(final)) {
        Discard();
        return CommitResult::Failed;
    }
    return CommitResult::Done;
}

void OutputFile::Discard() {
    m_file.Discard();
}

#else
bool CreateFolders(const ExtractTarget& target, bool includeLast) {
    if (!target.valid) {
        return false;
    }
    UniqueFd dir(OpenFolders(target, target.parts.size() - (includeLast ? 0 : 1)));
    return dir.Get() >= 0;
}

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Create(const ExtractTarget& target) {
    if (!target.valid) {
        return false;
    }
    m_dir = OpenFolders(target, target.parts.size() - 1);
    if (m_dir < 0) {
        return false;
    }
    m_final = target.parts.back();
    if (IsKept(parevo::IdentityAt(m_dir, m_final))) {
        ::close(m_dir);
        m_dir = -1;
        return false;
    }
    // No name until it is complete where the system allows it (a hidden one
    // elsewhere): a killed extraction leaves nothing behind.
    m_fd = parevo::CreatePendingFile(m_dir, m_temp);
    if (m_fd < 0) {
        ::close(m_dir);
        m_dir = -1;
        return false;
    }
    return true;
}

bool OutputFile::Write(std::int64_t offset, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd, p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        offset += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

CommitResult OutputFile::Commit(std::uint64_t fileTime) {
    if (m_fd < 0) {
        return CommitResult::Failed;
    }
    if (fileTime != 0) {
        constexpr std::uint64_t kUnixEpoch =
            116444736000000000ULL;  // 1970 in 100 ns units since 1601
        const std::int64_t since1970 = static_cast<std::int64_t>(fileTime - kUnixEpoch);
        timespec times[2] = {{0, UTIME_OMIT}, {0, 0}};
        times[1].tv_sec = static_cast<time_t>(since1970 / 10000000);
        times[1].tv_nsec = static_cast<long>(since1970 % 10000000) * 100;
        if (times[1].tv_nsec < 0) {
            times[1].tv_sec -= 1;
            times[1].tv_nsec += 1000000000L;
        }
        ::futimens(m_fd, times);
    }
    if (IsKept(parevo::IdentityAt(m_dir, m_final))) {
        Discard();
        return CommitResult::Refused;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (!parevo::CommitPendingFile(m_dir, fd, m_temp, m_final)) {
        Discard();
        return CommitResult::Failed;
    }
    ::close(m_dir);
    m_dir = -1;
    return CommitResult::Done;
}

void OutputFile::Discard() {
    parevo::DiscardPendingFile(m_dir, m_fd, m_temp);
    m_fd = -1;
    if (m_dir >= 0) {
        ::close(m_dir);
        m_dir = -1;
    }
}

#endif

bool OutputFile::IsKept(const std::optional<parevo::FileIdentity>& id) const {
    return id && std::find(m_keep.begin(), m_keep.end(), *id) != m_keep.end();
}

}  // namespace unrar

#include "platform/pending_file.h"

namespace parevo {

bool IsTemporaryName(const std::string& name) {
    const std::string prefix = ".parevo-";
    const std::string suffix = ".tmp";
    return name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) &&
           name.ends_with(suffix);
}

}  // namespace parevo

#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>
#include <vector>

#include "platform/file_identity.h"
#include "platform/unique_fd.h"

namespace parevo {

namespace {

constexpr int kNameAttempts = 100;
constexpr char kPrefix[] = ".parevo-";
constexpr char kSuffix[] = ".tmp";

// Set once linking an unnamed file has failed (no /proc, a kernel that wants a
// privilege for it): later files get a hidden name from the start.
std::atomic<bool> g_cannotLinkUnnamed{false};

std::string RandomHiddenName() {
    static std::mutex mutex;
    static std::random_device random;
    const std::lock_guard lock(mutex);
    char name[40];
    std::snprintf(name, sizeof name, "%s%08x%08x%s", kPrefix, random(), random(), kSuffix);
    return name;
}

// A lock held for as long as the descriptor is open tells a running writer's
// file from one a killed run left.
bool Lock(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// Whether `name` in `folder` is still the file open as `fd`.
bool StillNamed(int folder, const std::string& name, int fd) {
    const auto named = IdentityAt(folder, name);
    return named && named == IdentityOfDescriptor(fd);
}

// Saves errno across the clean-up after a failure.
bool Fail(int folder, int fd, std::string& hiddenName) {
    const int error = errno;
    DiscardPendingFile(folder, fd, hiddenName);
    errno = error;
    return false;
}

// Makes a hidden name with `make` (which creates it exclusively and returns
// its descriptor) and locks it. A leftover remover in another program may take
// the file between its creation and the lock; then another name is tried.
template <class Make>
int CreateLockedName(int folder, std::string& hiddenName, Make make) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = RandomHiddenName();
        const int fd = make(name);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return -1;
        }
        if (Lock(fd) && StillNamed(folder, name, fd)) {
            hiddenName = name;
            return fd;
        }
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
}

int CreateNamed(int folder, std::string& hiddenName) {
    return CreateLockedName(folder, hiddenName, [folder](const std::string& name) {
        return ::openat(folder, name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC,
                        0666);
    });
}

#ifdef O_TMPFILE
// An unnamed file is useless unless it can be given a name: through
// /proc/self/fd, or failing that through AT_EMPTY_PATH.
bool MayNameUnnamedFiles() {
    return !g_cannotLinkUnnamed && (::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0);
}

bool LinkUnnamed(int folder, int fd, const std::string& name) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    return ::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0;
}

// Copies the whole of the unnamed `from` into `to`, a new file of the same
// folder, and flushes it: the copy is the file now.
bool CopyAll(int from, int to) {
    std::vector<char> buffer(1 << 20);
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return ::fdatasync(to) == 0;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t written =
                ::pwrite(to, buffer.data() + done, static_cast<size_t>(got - done), offset + done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return false;
            }
            done += written;
        }
        offset += got;
    }
}

// Gives the unnamed file `fd` a hidden name, or, where the system refuses to
// link it, moves its bytes into a new hidden file. Returns the descriptor that
// now holds the file (`fd` itself, or the copy with `fd` closed), or -1.
int NameUnnamed(int folder, int fd, std::string& hiddenName) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string hidden = RandomHiddenName();
        if (LinkUnnamed(folder, fd, hidden)) {
            hiddenName = hidden;
            return fd;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    if (errno == EEXIST) {
        ::close(fd);
        errno = EEXIST;
        return -1;
    }
    g_cannotLinkUnnamed = true;
    const int copy = CreateNamed(folder, hiddenName);
    if (copy < 0 || !CopyAll(fd, copy)) {
        const int error = errno;
        ::close(fd);
        DiscardPendingFile(folder, copy, hiddenName);
        errno = error;
        return -1;
    }
    ::close(fd);
    return copy;
}
#endif

bool IsLeftover(const char* name) {
    const std::string text(name);
    return IsTemporaryName(text);
}

bool RemoveContents(int dir) {
    const int copy = ::dup(dir);
    DIR* stream = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (stream == nullptr) {
        if (copy >= 0) {
            ::close(copy);
        }
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(stream)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(stream);
    bool ok = true;
    for (const std::string& name : names) {
        ok = RemoveTree(dir, name) && ok;
    }
    return ok;
}

}  // namespace

void RemoveLeftovers(int folder) {
    const int copy = ::dup(folder);
    DIR* stream = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (stream == nullptr) {
        if (copy >= 0) {
            ::close(copy);
        }
        return;
    }
    std::vector<std::string> leftovers;
    while (const dirent* entry = ::readdir(stream)) {
        if (IsLeftover(entry->d_name)) {
            leftovers.emplace_back(entry->d_name);
        }
    }
    ::closedir(stream);
    for (const std::string& name : leftovers) {
        UniqueFd fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        // Locked: another program is writing it. A link or a socket is no leftover.
        struct stat st {};
        if (fd.Get() < 0 || !Lock(fd.Get()) || ::fstat(fd.Get(), &st) != 0 ||
            !StillNamed(folder, name, fd.Get())) {
            continue;
        }
        if (S_ISREG(st.st_mode)) {
            ::unlinkat(folder, name.c_str(), 0);
        } else if (S_ISDIR(st.st_mode)) {
            RemoveContents(fd.Get());
            ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
        }
    }
}

int CreatePendingFile(int folder, std::string& hiddenName) {
    hiddenName.clear();
#ifdef O_TMPFILE
    if (MayNameUnnamedFiles()) {
        const int fd = ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Locked as well: it has a hidden name for a moment when it replaces a file.
            Lock(fd);
            return fd;
        }
        // This file system (or kernel) has no unnamed files: a hidden name then.
    }
#endif
    return CreateNamed(folder, hiddenName);
}

bool CommitPendingFile(int folder, int fd, std::string& hiddenName, const std::string& name) {
    if (fd < 0) {
        errno = EBADF;
        return Fail(folder, fd, hiddenName);
    }
#ifdef O_TMPFILE
    if (hiddenName.empty()) {
        // Where nothing has the name yet, the complete file takes it at once.
        if (LinkUnnamed(folder, fd, name)) {
            if (::close(fd) != 0) {
                const int error = errno;
                ::unlinkat(folder, name.c_str(), 0);
                errno = error;
                return false;
            }
            return true;
        }
        // A link cannot replace a file, a rename can: the complete file is
        // linked under a hidden name first, and renamed over the target.
        fd = NameUnnamed(folder, fd, hiddenName);
        if (fd < 0) {
            return Fail(folder, -1, hiddenName);
        }
    }
#endif
    if (::close(fd) != 0) {
        return Fail(folder, -1, hiddenName);
    }
    if (::renameat(folder, hiddenName.c_str(), folder, name.c_str()) != 0) {
        return Fail(folder, -1, hiddenName);
    }
    hiddenName.clear();
    return true;
}

void DiscardPendingFile(int folder, int fd, std::string& hiddenName) {
    // The name goes first, while the lock still tells others to keep off.
    if (!hiddenName.empty()) {
        ::unlinkat(folder, hiddenName.c_str(), 0);
        hiddenName.clear();
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

int CreateHiddenFolder(int folder, std::string& name) {
    return CreateLockedName(folder, name, [folder](const std::string& candidate) {
        if (::mkdirat(folder, candidate.c_str(), 0700) != 0) {
            return -1;
        }
        const int fd =
            ::openat(folder, candidate.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            ::unlinkat(folder, candidate.c_str(), AT_REMOVEDIR);
        }
        return fd;
    });
}

bool RemoveTree(int folder, const std::string& name) {
    if (::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT) {
        return true;
    }
    if (errno != EISDIR && errno != EPERM) {
        return false;
    }
    UniqueFd dir(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.Get() < 0) {
        return false;
    }
    const bool emptied = RemoveContents(dir.Get());
    return ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 && emptied;
}

bool PendingFile::Create(int folder) {
    Discard();
    m_folder = folder;
    m_fd = CreatePendingFile(folder, m_hiddenName);
    return m_fd >= 0;
}

bool PendingFile::Commit(const std::string& name) {
    const int fd = m_fd;
    m_fd = -1;
    return CommitPendingFile(m_folder, fd, m_hiddenName, name);
}

void PendingFile::Discard() {
    DiscardPendingFile(m_folder, m_fd, m_hiddenName);
    m_fd = -1;
}

}  // namespace parevo

#endif  // !_WIN32

#include "platform/pending_file.h"

#ifndef _WIN32

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace parevo {

namespace {

constexpr int kNameAttempts = 100;

std::string RandomHiddenName() {
    static std::random_device random;
    char name[32];
    std::snprintf(name, sizeof name, ".parevo-%08x%08x.tmp", random(), random());
    return name;
}

#ifdef O_TMPFILE
// An unnamed file is useless unless it can be given a name: through
// /proc/self/fd, or failing that through AT_EMPTY_PATH, which wants a privilege.
bool CanNameUnnamedFiles() {
    return ::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
}

bool LinkUnnamed(int folder, int fd, const std::string& name) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    return errno == ENOENT && ::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0;
}
#endif

// Saves errno across the clean-up after a failure.
bool Fail(int folder, int fd, std::string& hiddenName) {
    const int error = errno;
    DiscardPendingFile(folder, fd, hiddenName);
    errno = error;
    return false;
}

}  // namespace

int CreatePendingFile(int folder, std::string& hiddenName, PendingNaming naming) {
    hiddenName.clear();
#ifdef O_TMPFILE
    if (naming == PendingNaming::Unnamed && CanNameUnnamedFiles()) {
        const int fd = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        // This file system (or kernel) has no unnamed files: a hidden name then.
    }
#else
    (void)naming;
#endif
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = RandomHiddenName();
        const int fd = ::openat(folder, name.c_str(),
                                O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            hiddenName = name;
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

bool CommitPendingFile(int folder, int fd, std::string& hiddenName, const std::string& name) {
    if (fd < 0) {
        errno = EBADF;
        return Fail(folder, fd, hiddenName);
    }
#ifdef O_TMPFILE
    // A link cannot replace a file, a rename can: the complete file is linked
    // under a hidden name first, and renamed over the target right after.
    for (int attempt = 0; hiddenName.empty() && attempt < kNameAttempts; ++attempt) {
        const std::string hidden = RandomHiddenName();
        if (LinkUnnamed(folder, fd, hidden)) {
            hiddenName = hidden;
        } else if (errno != EEXIST) {
            return Fail(folder, fd, hiddenName);
        }
    }
    if (hiddenName.empty()) {
        errno = EEXIST;
        return Fail(folder, fd, hiddenName);
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
    if (fd >= 0) {
        ::close(fd);
    }
    if (!hiddenName.empty()) {
        ::unlinkat(folder, hiddenName.c_str(), 0);
        hiddenName.clear();
    }
}

bool PendingFile::Create(int folder, PendingNaming naming) {
    Discard();
    m_folder = folder;
    m_fd = CreatePendingFile(folder, m_hiddenName, naming);
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

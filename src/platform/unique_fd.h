#pragma once
// An owned POSIX file descriptor, closed when it goes; shared by the core and
// the run-time libraries so that no error path leaks one.

#ifndef _WIN32

#include <unistd.h>

#include <cerrno>

namespace parevo {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    // Gives up ownership: the caller closes the descriptor.
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes and reports the close's own error, which may be a deferred write error.
    int Close() {
        const int fd = Release();
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }
    void Reset(int fd = -1) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

  private:
    int m_fd;
};

}  // namespace parevo

#endif  // !_WIN32

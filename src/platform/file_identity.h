#pragma once
// Which file a path or an open file is, whatever the path that leads there:
// device and inode on POSIX, volume serial number and file index on Windows.
// Shared by the core and the RAR library, which both refuse to replace or
// recycle a file by identity rather than by name.

#include <cstdint>
#include <optional>
#include <string>

namespace parevo {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    std::uint64_t indexHigh = 0;  // the upper half of a 128-bit file ID (Windows)
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at `path`, through symbolic links; none when nothing
// can be found there (or the path holds a NUL byte).
std::optional<FileIdentity> IdentityOf(const std::string& path);

#ifdef _WIN32
// The identity of an open file handle (a HANDLE).
std::optional<FileIdentity> IdentityOfHandle(void* handle);
// The entry at `path` itself when `follow` is off: a link there is not followed.
std::optional<FileIdentity> IdentityOfPath(const std::wstring& path, bool follow);
#else
// The identity of an open file descriptor.
std::optional<FileIdentity> IdentityOfDescriptor(int fd);
// The entry `name` in the folder open as `dir` itself: a link there is not followed.
std::optional<FileIdentity> IdentityAt(int dir, const std::string& name);
#endif

}  // namespace parevo

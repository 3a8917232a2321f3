#include "platform/file_identity.h"

#ifdef _WIN32
#include <windows.h>

#include <cstring>

#include "platform/text_encoding.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace parevo {

#ifdef _WIN32

std::optional<FileIdentity> IdentityOfHandle(void* handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    // The 128-bit file ID where the file system has one (ReFS needs all of it);
    // the 64-bit file index elsewhere.
    FILE_ID_INFO id;
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        static_assert(sizeof id.FileId.Identifier == 16);
        std::memcpy(&low, id.FileId.Identifier, 8);
        std::memcpy(&high, id.FileId.Identifier + 8, 8);
        return FileIdentity{id.VolumeSerialNumber, low, high};
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        return std::nullopt;
    }
    return FileIdentity{
        info.dwVolumeSerialNumber,
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, 0};
}

std::optional<FileIdentity> IdentityOfPath(const std::wstring& path, bool follow) {
    const HANDLE handle = CreateFileW(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
        nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    const std::optional<FileIdentity> id = IdentityOfHandle(handle);
    CloseHandle(handle);
    return id;
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return IdentityOfPath(NarrowToWide(path), true);
}

#else

namespace {

FileIdentity IdentityFrom(const struct stat& st) {
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return IdentityFrom(st);
}

std::optional<FileIdentity> IdentityOfDescriptor(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    return IdentityFrom(st);
}

std::optional<FileIdentity> IdentityAt(int dir, const std::string& name) {
    struct stat st {};
    if (name.find('\0') != std::string::npos ||
        ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return IdentityFrom(st);
}

#endif

}  // namespace parevo

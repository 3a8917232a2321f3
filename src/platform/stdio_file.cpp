#include "platform/stdio_file.h"

#include "platform/text_encoding.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace parevo {

StdioFile OpenRegularFile(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        return nullptr;
    }
#ifdef _WIN32
    StdioFile file(_wfopen(NarrowToWide(path).c_str(), L"rb"));
    if (file != nullptr && GetFileType(reinterpret_cast<HANDLE>(
                               _get_osfhandle(_fileno(file.get())))) != FILE_TYPE_DISK) {
        file.reset();
    }
    return file;
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    std::FILE* file = nullptr;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) {
        file = ::fdopen(fd, "rb");
    }
    if (file == nullptr) {
        ::close(fd);
    }
    return StdioFile(file);
#endif
}

std::optional<FileIdentity> IdentityOfFile(std::FILE* file) {
    if (file == nullptr) {
        return std::nullopt;
    }
#ifdef _WIN32
    return IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
#else
    return IdentityOfDescriptor(::fileno(file));
#endif
}

int SeekFile(std::FILE* file, std::int64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(file, offset, whence);
#else
    return ::fseeko(file, static_cast<off_t>(offset), whence);
#endif
}

std::int64_t TellFile(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ::ftello(file);
#endif
}

}  // namespace parevo

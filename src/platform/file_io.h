#pragma once
// Thin RAII wrappers over the system's file handles: positioned reads, file
// identity, and a replace-by-rename writer. Paths are 8-bit text in the system's
// narrow encoding. Every failure throws IoError naming the file and the reason.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/file_identity.h"

namespace parevo {

class InputFile {
  public:
    // Opens a regular file for reading; throws IoError ("Cannot open ...") on
    // failure. A FIFO or a device is refused without waiting on it.
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& Path() const { return m_path; }
    std::int64_t Size() const;
    // Reads up to `count` bytes at `offset`; fewer only at the end of the file.
    size_t ReadAt(std::int64_t offset, void* buffer, size_t count) const;
    std::intptr_t NativeHandle() const { return m_handle; }

  private:
    std::string m_path;
    std::intptr_t m_handle;
};

// True when both paths name one existing file (also through "." parts, letter
// case on a case-insensitive disk, or hard links).
bool SameFile(const std::string& a, const std::string& b);

// What tells one version of a file from the next: its identity and the time its
// inode last changed. Writing, truncating or replacing the file changes it.
struct FileStamp {
    FileIdentity identity;
    std::int64_t changeTimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `path`, or none when nothing can be found there.
std::optional<FileStamp> StampOf(const std::string& path);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

enum class FileKind { Missing, Regular, Folder, Other };
// What `path` names, through symbolic links. Other: a FIFO, a device, a socket.
FileKind KindOf(const std::string& path);

// Whether a write must be on the disk before it counts as done: when the source
// is about to leave its place, the output has to survive a crash.
enum class Durability { Cached, Synced };

// Writes `length` bytes to `outputPath`: the first min(length, size) bytes of
// `source`, then zeros. The bytes go to a temporary file in the output's folder
// that replaces the output only once complete; on failure the temporary file is
// removed and the output path is left as it was.
void WriteFilePrefix(const InputFile& source, std::int64_t length, const std::string& outputPath,
                     Durability durability = Durability::Cached);

// Makes a file written earlier (and its name) last through a crash.
void SyncFile(const std::string& path);

#ifndef _WIN32
// Creates a new file under a random name in `folder`, with the mode any new file
// gets (0666 less the umask, which is never changed), and returns its descriptor,
// or -1 with errno. `path` receives the file's path.
int CreateTemporaryFile(const std::string& folder, std::string& path);
#endif

// Cuts or zero-extends the file at `path` to `length` bytes, in place.
void ResizeFile(const std::string& path, std::int64_t length);

}  // namespace parevo

#pragma once
// Thin RAII wrappers over the system's file handles: positioned reads, file
// identity, and a replace-by-rename writer. Paths are 8-bit text in the system's
// narrow encoding. Every failure throws IoError naming the file and the reason.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_identity.h"

namespace parevo {

// What tells one version of a file from the next: its identity, its size and
// the time its inode last changed. Writing, truncating or replacing the file
// changes it.
struct FileStamp {
    FileIdentity identity;
    std::int64_t changeTimeNs = 0;
    std::int64_t size = 0;
    bool operator==(const FileStamp&) const = default;
};

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
    // Safe to call from two threads at once: it moves no file position.
    size_t ReadAt(std::int64_t offset, void* buffer, size_t count) const;
    // Reads what of these bytes the system's cache holds now, from `offset` on,
    // without waiting for the disk: fewer bytes (0 where the system cannot tell)
    // mean the rest is not there yet. Never an error: ReadAt meets it.
    size_t ReadCachedAt(std::int64_t offset, void* buffer, size_t count) const;
    // Asks the system to start reading these bytes into its cache and returns at
    // once: a hint for a reader that will want them next, never an error.
    void Prefetch(std::int64_t offset, std::int64_t count) const;
    // A second handle to this very file (whatever its path names now), with a
    // read-ahead of its own: a second reader going forwards keeps the system's
    // read-ahead going. None where the system cannot give one.
    std::unique_ptr<InputFile> OpenAgain() const;
    std::intptr_t NativeHandle() const { return m_handle; }

    // The open file as it is now, and as it was when it was opened.
    FileStamp Stamp() const;
    const FileStamp& OpenedStamp() const { return m_opened; }
    // Throws IoError ("Cannot trim ...") when the file was written to, cut or
    // unlinked since it was opened, or when its path now names another file:
    // what was found in one version must not be applied to another.
    void RequireUnchanged() const;

  private:
    InputFile(std::string path, std::intptr_t handle, FileStamp opened)
        : m_path(std::move(path)), m_handle(handle), m_opened(opened) {}

    std::string m_path;
    std::intptr_t m_handle;
    FileStamp m_opened;
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

// A new file for `outputPath`: created in the output's folder, filled, and then
// either put in place over the output path (Commit) or discarded (the
// destructor discards what was not committed). Until Commit the output path is
// left as it was; where the system allows, the file has no name at all until
// then, so a run killed half-way leaves nothing behind (see pending_file.h).
class PendingOutput {
  public:
    // Throws IoError ("Cannot create ...") when the file cannot be made. With
    // `permissionsOf`, the file gets that file's permission bits (a trimmed
    // image keeps who may read it), where the system has such bits.
    explicit PendingOutput(const std::string& outputPath, const InputFile* permissionsOf = nullptr);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Copies `count` bytes of `source` from `from` to the same offset of this
    // file, fewer when the source ends first. The pieces of a prefix may come
    // from two threads, one after the other, never at once.
    void CopyRange(const InputFile& source, std::int64_t from, std::int64_t count);
    // Cuts the file or extends it with zeros to `length` bytes.
    void SetLength(std::int64_t length);
    // Writes `count` bytes of `value` at `from`, in large blocks from memory:
    // padding of 0xFF cannot be had from SetLength, which extends with zeros.
    void Fill(std::int64_t from, std::int64_t count, std::uint8_t value);
    // Puts the file in place of the output path, replacing what is there. The
    // data is flushed first when asked, and always when a file is replaced: a
    // crash must never leave an empty file where a good one was.
    void Commit(Durability durability);

  private:
    struct State;  // the platform's handles
    std::string m_outputPath;
    std::unique_ptr<State> m_state;
};

// A hidden folder of its own inside `folder`, for files that must not show
// until it is decided where they go (the members of an archive, say). It is
// locked while it exists, so RemoveLeftovers passes it over, and removed with
// whatever is left in it when it goes.
class StagingFolder {
  public:
    // Throws IoError ("Cannot create ...") when the folder cannot be made.
    explicit StagingFolder(const std::string& folder);
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    // Its path, ending in a separator.
    const std::string& Path() const { return m_path; }
    // The regular files in it and in its folders, as paths relative to it with
    // the system's separators, sorted.
    std::vector<std::string> Files() const;

  private:
    std::string m_parent;
    std::string m_name;
    std::string m_path;
    std::intptr_t m_handle;  // holds the lock
};

// What is at `relative` (folders and name, the system's separators) under
// `folder`, looked at without following any link: nothing yet (Free), a regular
// file (File), or something else in the way: a folder, a link, a device, or a
// part of the way that is no folder (Blocked).
enum class Spot { Free, File, Blocked };
Spot SpotAt(const std::string& folder, const std::string& relative);

// Moves the file `from` to `relative` under `folder` when that spot is free,
// making the folders on the way; it never replaces anything and follows no
// link. Returns the spot as it found it: Free means the file was moved.
// Throws IoError when a free spot could not be taken.
Spot MoveIntoSpot(const std::string& from, const std::string& folder, const std::string& relative);

// Removes the hidden temporary files and folders that killed runs left in
// `folder`, never one that another running program is writing. Never an error:
// what cannot be removed stays.
void RemoveLeftovers(const std::string& folder);

// Makes a file written earlier (and its name) last through a crash.
void SyncFile(const std::string& path);

// Cuts or zero-extends the open `file` to `length` bytes, in place; a file of
// that length already is left untouched. Throws
// IoError when its path now names another file, or when it was written to since
// it was opened: the length was found for the file as it was.
void ResizeFile(const InputFile& file, std::int64_t length);

}  // namespace parevo

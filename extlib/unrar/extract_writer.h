#pragma once
// Writing an entry under the destination folder. Names from the archive are
// never trusted: absolute names, drive letters and ".." parts are refused, and
// no folder or file on the way is reached through a symbolic link. The data
// goes to a temporary file beside the target that replaces it only once whole,
// so a failed extraction leaves an existing file as it was.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_identity.h"
#include "platform/pending_file.h"

namespace unrar {

struct ExtractTarget {
    bool valid = false;
    std::string base;                // the caller's folder ("" = the current folder)
    std::vector<std::string> parts;  // folders inside it, then the entry's own name

    // An archive member's name ('/' separators) under the caller's folder.
    static ExtractTarget Under(const std::string& destPath, const std::string& memberName);
    // A full path the caller chose.
    static ExtractTarget Exact(const std::string& path);
};

// Creates the folders of `target` (and its last part too when `includeLast`).
bool CreateFolders(const ExtractTarget& target, bool includeLast);

class DataSink {
  public:
    virtual ~DataSink() = default;
    virtual bool Write(std::int64_t offset, const void* data, std::size_t size) = 0;
};

enum class CommitResult { Done, Refused, Failed };

// The archive's own volumes are never replaced: a member named like one of them
// (or a destination name the caller chose) is refused, both before anything is
// written and again at the moment the file would be moved into place, since a
// volume may be opened while the member's data is read.
class OutputFile : public DataSink {
  public:
    explicit OutputFile(const std::vector<parevo::FileIdentity>& keep) : m_keep(keep) {}
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False when the folders or the temporary file cannot be made, or when the
    // target is one of the files to keep.
    bool Create(const ExtractTarget& target);
    bool Write(std::int64_t offset, const void* data, std::size_t size) override;
    // Sets the modification time (100 ns units since 1601; 0 leaves the time of
    // writing) and moves the file into place; Refused (and the temporary file
    // removed) when the target is one of the files to keep.
    CommitResult Commit(std::uint64_t fileTime);
    void Discard();

  private:
    bool IsKept(const std::optional<parevo::FileIdentity>& id) const;

    const std::vector<parevo::FileIdentity>& m_keep;
#ifdef _WIN32
    parevo::PendingFile m_file;
    std::string m_final;  // the full path
#else
    int m_dir = -1;  // the folder the file goes into
    int m_fd = -1;
    std::string m_temp;  // names inside m_dir
    std::string m_final;
#endif
};

}  // namespace unrar

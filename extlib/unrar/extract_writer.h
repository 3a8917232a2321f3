#pragma once
// Writing an entry under the destination folder. Names from the archive are
// never trusted: absolute names, drive letters and ".." parts are refused, and
// no folder or file on the way is reached through a symbolic link. The data
// goes to a temporary file beside the target that replaces it only once whole,
// so a failed extraction leaves an existing file as it was.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

class OutputFile : public DataSink {
  public:
    OutputFile() = default;
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const ExtractTarget& target);
    bool Write(std::int64_t offset, const void* data, std::size_t size) override;
    // Sets the modification time and moves the file into place.
    bool Commit(std::int64_t mtime, long mtimeNsec);
    void Discard();

  private:
    int m_dir = -1;  // POSIX: the folder the file goes into
    int m_fd = -1;
    std::string m_temp;  // POSIX: names inside m_dir; Windows: full paths
    std::string m_final;
};

}  // namespace unrar

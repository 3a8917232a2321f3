#pragma once
// A new file that takes its name only once it is complete, for every file the
// program and its two run-time libraries write (trimmed images, the settings
// file, extracted members). On Linux it is made with O_TMPFILE and has no name
// at all while it is written, so a run that is killed (or loses power) half-way
// leaves nothing behind; the finished file is linked under a hidden name and
// renamed over its target at once. Where the system or the file system has no
// unnamed files, it is written under a hidden name, ".parevo-<random>.tmp",
// beside its target from the start. POSIX only: on Windows each writer keeps its
// own named temporary file.

#ifndef _WIN32

#include <string>

namespace parevo {

enum class PendingNaming {
    Unnamed,  // no name until Commit, where the system allows it; else Hidden
    Hidden,   // a hidden name from the start
};

// Creates the file in the folder open as `folder`, with the mode any new file
// gets there (0666 less the umask), and returns its descriptor, or -1 with errno.
// `hiddenName` receives the file's name in the folder, or stays empty for an
// unnamed file. `folder` must stay open until the file is committed or discarded.
int CreatePendingFile(int folder, std::string& hiddenName,
                      PendingNaming naming = PendingNaming::Unnamed);

// Gives the complete file the name `name` in `folder`, replacing what is there,
// and closes `fd` (a failed close is reported before the file takes the name).
// False with errno when it cannot; nothing then remains of the file.
bool CommitPendingFile(int folder, int fd, std::string& hiddenName, const std::string& name);

// Closes `fd` and removes the file's hidden name, if it has one.
void DiscardPendingFile(int folder, int fd, std::string& hiddenName);

// The three steps as one object: what is not committed is discarded.
class PendingFile {
  public:
    PendingFile() = default;
    ~PendingFile() { Discard(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // False with errno when the file cannot be made.
    bool Create(int folder, PendingNaming naming = PendingNaming::Unnamed);
    int Descriptor() const { return m_fd; }
    // The file's name while it is written; empty for an unnamed file.
    const std::string& HiddenName() const { return m_hiddenName; }
    // False with errno when it cannot; the file is discarded then.
    bool Commit(const std::string& name);
    void Discard();

  private:
    int m_folder = -1;
    int m_fd = -1;
    std::string m_hiddenName;
};

}  // namespace parevo

#endif  // !_WIN32

#pragma once
// A new file that takes its name only once it is complete, for every file the
// program and its two run-time libraries write (trimmed images, the settings
// file, extracted members). Where the system allows it the file has no name
// while it is written, so a killed run leaves nothing; elsewhere (FAT and exFAT
// cards, for one) it is a hidden ".parevo-<random>.tmp" beside its target,
// locked while it is written, so that the next run writing into that folder
// can remove what a killed run left. On Windows the file is a hidden
// ".parevo-<random>.tmp" that the system deletes when it is closed, unless it
// was committed: a killed run leaves nothing there either.

#include <string>

namespace parevo {

// Whether `name` is one of the program's hidden temporary names.
bool IsTemporaryName(const std::string& name);

#ifdef _WIN32

// A new hidden file in a folder that takes its name only when complete.
class PendingFile {
  public:
    PendingFile() = default;
    ~PendingFile() { Discard(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Creates the file in `folder` (wide, without a trailing separator; empty
    // for the current folder). False with GetLastError() when it cannot.
    bool Create(const std::wstring& folder);
    // The file's HANDLE, open for reading and writing.
    void* Handle() const { return m_handle; }
    // Gives the complete file the name `target` (a full path), replacing what
    // is there. False with GetLastError() when it cannot; nothing then remains
    // of the file.
    bool Commit(const std::wstring& target);
    void Discard();

  private:
    void* m_handle = nullptr;
    std::wstring m_path;
};

// Removes the hidden files and folders killed runs left in `folder`, never
// one that another running program holds open.
void RemoveLeftovers(const std::wstring& folder);

#else

// Creates the file in the folder open as `folder`, with the mode any new file
// gets there (0666 less the umask), and returns its descriptor (open for
// reading and writing), or -1 with errno. `hiddenName` receives the file's name
// in the folder, or stays empty for an unnamed file. `folder` must stay open
// until the file is committed or discarded.
int CreatePendingFile(int folder, std::string& hiddenName);

// Gives the complete file the name `name` in `folder`, replacing what is there,
// and closes `fd` (a failed close is reported before the file keeps the name).
// False with errno when it cannot; nothing then remains of the file.
bool CommitPendingFile(int folder, int fd, std::string& hiddenName, const std::string& name);

// Closes `fd` and removes the file's hidden name, if it has one.
void DiscardPendingFile(int folder, int fd, std::string& hiddenName);

// Removes the hidden files and folders that killed runs left in the folder open
// as `folder`: those whose lock can be taken, never one another running
// program is writing.
void RemoveLeftovers(int folder);

// A hidden, locked folder of its own in the folder open as `folder`, for work
// that must not show until it is done; -1 with errno when it cannot be made.
// `name` receives its name. The lock holds while the descriptor is open.
int CreateHiddenFolder(int folder, std::string& name);

// Removes the folder `name` in `folder` with everything in it, following no
// link. False with errno when something could not be removed.
bool RemoveTree(int folder, const std::string& name);

// The three steps as one object: what is not committed is discarded.
class PendingFile {
  public:
    PendingFile() = default;
    ~PendingFile() { Discard(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // False with errno when the file cannot be made.
    bool Create(int folder);
    int Descriptor() const { return m_fd; }
    // False with errno when it cannot; the file is discarded then.
    bool Commit(const std::string& name);
    void Discard();

  private:
    int m_folder = -1;
    int m_fd = -1;
    std::string m_hiddenName;
};

#endif

}  // namespace parevo

#pragma once
// A private folder for files that must not outlive the task that needs them
// (archive members read for their information), removed with everything in it
// when the object goes.

#include <string>

namespace parevo {

class TempFolder {
  public:
    // Makes a hidden folder ".parevo-<random>.tmp" in `parent`, on the same disk
    // as the files it will hold; where `parent` takes no new folder, in the
    // system's temporary folder. Throws IoError when neither can be made.
    explicit TempFolder(const std::string& parent);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's path, ending in a separator.
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

}  // namespace parevo

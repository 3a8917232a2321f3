#pragma once
// A fresh temporary folder per test, removed with everything in it afterwards.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/text_encoding.h"

namespace parevo::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path of `name` inside the folder.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    // File names in the folder, sorted (hidden files included).
    std::vector<std::string> List() const;

  private:
    std::string m_path;
};

std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

}  // namespace parevo::test

#pragma once
// Where a member may be written: never outside the target folder.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace unzdll {

// The folder parts and file name of a member name, or none when the name is
// empty, absolute, starts with a drive letter, holds a ".." part or a zero byte
// (or, on Windows, a colon anywhere). "." and empty parts are dropped.
std::optional<std::vector<std::string>> SafeMemberPath(const std::string& name);

// Creates the member's folders under `target` and gives the path to write. None
// when an existing part is not a real folder (a link, for one), since writing
// through it could leave `target`. With `isFolder`, every part is a folder.
std::optional<std::filesystem::path> MakeFolders(const std::filesystem::path& target,
                                                 const std::vector<std::string>& parts,
                                                 bool isFolder);

}  // namespace unzdll

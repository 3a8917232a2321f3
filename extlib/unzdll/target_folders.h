#pragma once
// Where a member may be written: never outside the target folder, never through
// a link.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace unzdll {

// Creates the member's folders under `target` and gives the path to write. None
// when an existing part is not a real folder (a link, for one), since writing
// through it could leave `target`. With `isFolder`, every part is a folder.
// `parts` come from MemberPathParts.
std::optional<std::filesystem::path> MakeFolders(const std::filesystem::path& target,
                                                 const std::vector<std::string>& parts,
                                                 bool isFolder);

}  // namespace unzdll

#pragma once
// The .nds members of a zip or RAR archive, extracted into a folder of the
// caller's (a TempFolder): for looking at them (information, a DAT check)
// without leaving files beside the archive.

#include <string>
#include <vector>

namespace parevo {

class ZipComponent;
class RarComponent;

struct ArchiveImage {
    std::string member;  // its name in the archive
    std::string path;    // where it was extracted; missing when it could not be
};

// Whether `path` names a zip or RAR archive by its extension, in any letter case.
bool IsArchivePath(const std::string& path);

// Extracts the .nds members (any letter case) of `archive` into `folder`, which
// must exist, through the components as they are configured; members whose
// names would leave the folder are left out. Errors of the components propagate.
std::vector<ArchiveImage> ExtractArchiveImages(const std::string& archive,
                                               const std::string& folder, ZipComponent& zip,
                                               RarComponent& rar);

}  // namespace parevo

#pragma once
// The drive seam: whether a path's drive can be reached, and the removable-disk
// facts that identify one disk of a zip archive spanned over several disks.

#include <optional>
#include <string>

namespace parevo {

class DriveInfo {
  public:
    virtual ~DriveInfo() = default;
    // True when the drive (Windows) or the nearest existing folder (POSIX) of
    // `path` answers.
    virtual bool IsReachable(const std::string& path) = 0;
    // True when `path` lies on a removable disk.
    virtual bool IsRemovable(const std::string& path) = 0;
    // The volume label of the disk `path` lies on, when one can be read.
    virtual std::optional<std::string> VolumeLabel(const std::string& path) = 0;
};

// The running system's drives. On POSIX no disk is removable in this sense, so
// no archive is ever taken for one disk of a spanned set.
DriveInfo& SystemDriveInfo();

}  // namespace parevo

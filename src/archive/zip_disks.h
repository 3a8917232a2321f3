#pragma once
// Support routines of the zip component: which disk of a spanned set a path is
// on, and the prompts that ask the user for another disk.

#include <string>

#include "platform/drive_info.h"
#include "platform/prompter.h"

namespace parevo {

// The disk number in a "PKBACK# nnn" volume label (characters 9 to 11); 0 for
// any other label or when those characters are no number.
int DiskNumberFromLabel(const std::string& label);

// The disk number of the file at `path`: 0 unless the file exists on a removable
// disk whose label reads "PKBACK# nnn".
int GetDiskNumber(DriveInfo& drives, const std::string& path);

// The file at `path` is disk `diskNumber` of a spanned set but not its last:
// asks for the last disk. True when the user pressed OK.
bool AskForLastDisk(Prompter& prompter, const std::string& caption, int diskNumber);

// Asks for disk `diskNumber` until the disk at `path` is that one. False when
// the user cancels.
bool AskForDisk(Prompter& prompter, DriveInfo& drives, const std::string& caption,
                const std::string& path, int diskNumber);

}  // namespace parevo

#pragma once
// How a zip member's stored name becomes the name the program uses. Shared by
// the directory reader (ZipComponent) and the unzip library, so that a name the reader
// lists is exactly the name the library looks for.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/paths.h"

namespace parevo {

// Whether an archive's names are in the OEM code page, decided by the first
// directory entry's "version made by": host FAT (0) or HPFS (6), or NTFS (11)
// with format version 5.0.
bool UsesOemNames(std::uint8_t hostSystem, std::uint8_t formatVersion);

// The program's name for a member: a name flagged as UTF-8 is UTF-8; otherwise
// it is OEM text when `oemNames` is set and taken as stored when not. Folder
// separators then become the style's own ("\" on Windows; on POSIX a "\" that a
// Windows tool wrote becomes "/").
std::string ConvertMemberName(std::string_view stored, bool oemNames, std::uint16_t generalFlags,
                              PathStyle style = NativePathStyle());

// A member comment, by the same encoding rule, separators untouched.
std::string ConvertMemberComment(std::string_view stored, bool oemNames,
                                 std::uint16_t generalFlags);

}  // namespace parevo

#pragma once
// How a zip member's stored name becomes the name the program uses. Shared by
// the directory reader (TZip) and the unzip library, so that a name the reader
// lists is exactly the name the library looks for.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/paths.h"

namespace parevo {

constexpr std::uint32_t kZipEndRecordSignature = 0x06054B50;
constexpr std::uint32_t kZipCentralHeaderSignature = 0x02014B50;
constexpr size_t kZipEndRecordSize = 22;
constexpr size_t kZipCentralHeaderSize = 46;
// The end record lies within the archive's last 65,535 bytes (a comment is
// at most 65,535 bytes long, less the record itself).
constexpr size_t kZipEndRecordSearchSpan = 65535;
// General-purpose flag bits.
constexpr std::uint16_t kZipFlagEncrypted = 0x0001;
constexpr std::uint16_t kZipFlagUtf8Names = 0x0800;

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

// The offset in `tail` of the last end-record signature that leaves room for the
// 22-byte record, scanning backwards from the 22nd-last byte; none without one.
std::optional<size_t> FindEndRecordSignature(const std::uint8_t* tail, size_t size);

inline std::uint16_t ReadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace parevo

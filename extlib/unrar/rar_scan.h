#pragma once
// A walk over one RAR volume's block headers (RAR 4 and RAR 5), checking each
// header's CRC and sizes as the vendor's library does. It gives the sequence of
// file headers that the header reads report, where that sequence ends (the end
// of the archive, or the code of the damage met), and every field the interface
// reports; the decoder (libarchive) only supplies the members' data.
//
// Like the vendor's library, the walk looks for the main header first: blocks
// before it are passed over, and the header reads start after it. A header whose
// CRC does not match, whose fields run past its end, or that starts past the end
// of the volume ends the sequence with ERAR_BAD_DATA; a header that claims a
// size no file system can hold ends it with ERAR_EREAD.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace unrar {

struct ScannedFile {
    // UTF-8 for RAR 5 names and RAR 4 names with their Unicode form; the stored
    // bytes otherwise (`storedName`), whose code page the caller decides.
    std::string name;
    bool storedName = false;
    unsigned flags = 0;  // RHDF_* as the header says
    std::uint64_t packSize = 0;
    std::uint64_t unpSize = 0;
    bool unpSizeKnown = true;
    unsigned hostOS = 0;
    unsigned fileCRC = 0;
    bool hasCRC = false;
    bool hasBlake2 = false;
    std::array<std::uint8_t, 32> blake2{};
    unsigned dosTime = 0;     // as the header holds it (RAR 5: from the modification time)
    std::uint64_t mtime = 0;  // 100 ns units since 1601 (Windows FILETIME), 0 when unknown
    unsigned unpVer = 0;
    unsigned method = 0;
    unsigned attr = 0;
    unsigned dictSizeKiB = 0;
    unsigned redirType =
        0;  // FSREDIR_*: 1 Unix link, 2 Windows link, 3 junction, 4 hard link, 5 copy
    std::string redirTarget;  // UTF-8 (RAR 5) or the stored bytes (RAR 4 Unix link)
    bool dirTarget = false;
    // RAR 5 data packed by a format version this library does not know.
    bool unknownVersion = false;
    std::uint64_t dataOffset = 0;  // where the member's data starts in the volume
};

// Bytes the decoder reads at `offset` of the volume in place of the archive's.
// The decoder's reader parses only the header forms it knows; headers whose
// records, blocks or fields it would stop at are shown to it rewritten to the
// same length, keeping what decoding needs (sizes, method, window, solid and
// split flags). Our own walk has already read and checked the originals.
struct DecoderPatch {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

struct VolumeScan {
    bool isRar = false;  // a RAR signature was found
    bool rar5 = false;
    unsigned archiveFlags = 0;  // ROADF_* bits
    bool encryptedHeaders = false;
    bool hasNextVolume = false;  // the end block says another volume follows
    // The file headers the header reads report, in order; parts continued from
    // an earlier volume are among them, with RHDF_SPLITBEFORE.
    std::vector<ScannedFile> files;
    // What the header read after the last of `files` returns: ERAR_END_ARCHIVE,
    // or the code of the damage that ended the walk.
    unsigned end = 0;
    // ERAR_EREAD when a block before the main header claims an impossible size:
    // the archive cannot be opened.
    unsigned openResult = 0;
    // The archive comment: 0 none, 1 read into `comment`, ERAR_UNKNOWN_FORMAT when
    // it is packed (this walk reads stored comments only), ERAR_BAD_DATA when its
    // CRC does not match.
    unsigned commentState = 0;
    std::string comment;
    // In the order of their offsets, none overlapping.
    std::vector<DecoderPatch> decoderPatches;

    bool Complete() const;  // walked to the end without damage
};

// The MS-DOS date (high half) and time (low half) of a Unix time, in local time.
unsigned DosTimeFromUnix(std::int64_t unixTime);

// Walks the bytes of one volume. Never reads outside `data`.
VolumeScan ScanVolume(const std::uint8_t* data, std::size_t size);

// Walks a volume on disk, reading headers only (data areas are skipped). Returns
// false when the file cannot be opened.
bool ScanVolumeFile(const std::string& path, VolumeScan& scan);

// The name the next volume of `name` has: "x.part1.rar" -> "x.part2.rar" with
// new numbering, "x.rar" -> "x.r00" -> "x.r01" otherwise.
std::string NextVolumeName(const std::string& name, bool newNumbering);

}  // namespace unrar

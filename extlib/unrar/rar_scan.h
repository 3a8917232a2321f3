#pragma once
// A light walk over one RAR volume's block headers (RAR 4 and RAR 5). It reads
// only what the decoder does not tell: the archive flags, whether another volume
// follows, whether the headers are encrypted, and the per-file header fields
// (packed size, host system, method, DOS time...) that the interface reports.

#include <cstdint>
#include <string>
#include <vector>

namespace unrar {

struct ScannedFile {
    std::string name;          // as stored, '/' or '\' separators; empty when not plain text
    bool unicodeName = false;  // RAR 4 names with the packed Unicode form: not decoded here
    unsigned flags = 0;        // RHDF_* bits
    std::uint64_t packSize = 0;
    std::uint64_t unpSize = 0;
    unsigned hostOS = 0;
    unsigned fileCRC = 0;
    bool hasCRC = false;
    unsigned dosTime = 0;
    bool hasTime = false;
    unsigned unpVer = 0;
    unsigned method = 0;
    unsigned attr = 0;
    unsigned dictSizeKiB = 0;
};

struct VolumeScan {
    bool isRar = false;  // a RAR signature was found
    bool rar5 = false;
    unsigned archiveFlags = 0;  // ROADF_* bits
    bool encryptedHeaders = false;
    bool hasNextVolume = false;      // the end block says another volume follows
    bool complete = false;           // walked to the end block without a fault
    std::vector<ScannedFile> files;  // file headers that start in this volume
    // The archive comment: 0 none, 1 read into `comment`, ERAR_UNKNOWN_FORMAT when
    // it is packed (this walk reads stored comments only), ERAR_BAD_DATA when its
    // CRC does not match.
    unsigned commentState = 0;
    std::string comment;
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

#pragma once
// A zip archive's directory as it lies on disk: the records, their constants,
// and the one reader of the end record and the central directory that the zip
// component and the unzip library share, so both see the same entries.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace parevo {

static_assert(std::endian::native == std::endian::little,
              "the zip records are read straight into little-endian structs");

constexpr std::uint32_t kZipEndRecordSignature = 0x06054B50;
constexpr std::uint32_t kZipCentralHeaderSignature = 0x02014B50;
constexpr std::size_t kZipEndRecordSize = 22;
constexpr std::size_t kZipCentralHeaderSize = 46;
// The end record lies within the archive's last 65,535 bytes (a comment is
// at most 65,535 bytes long, less the record itself).
constexpr std::size_t kZipEndRecordSearchSpan = 65535;
// General-purpose flag bits.
constexpr std::uint16_t kZipFlagEncrypted = 0x0001;
constexpr std::uint16_t kZipFlagUtf8Names = 0x0800;

#pragma pack(push, 1)
// The fixed part of a central-directory file header.
struct ZipCentralHeader {
    std::uint32_t Signature;          // 0  0x02014B50
    std::uint8_t FormatVersion;       // 4  version made by, low byte
    std::uint8_t HostSystem;          // 5  version made by, high byte
    std::uint16_t VersionNeeded;      // 6
    std::uint16_t Flag;               // 8  general-purpose flags
    std::uint16_t CompressionMethod;  // 10
    std::uint16_t ModifTime;          // 12
    std::uint16_t ModifDate;          // 14
    std::uint32_t CRC32;              // 16
    std::uint32_t ComprSize;          // 20
    std::uint32_t UncomprSize;        // 24
    std::uint16_t FileNameLen;        // 28
    std::uint16_t ExtraLen;           // 30
    std::uint16_t FileComLen;         // 32
    std::uint16_t DiskStart;          // 34
    std::uint16_t IntFileAtt;         // 36
    std::uint32_t ExtFileAtt;         // 38
    std::uint32_t RelOffLocal;        // 42
};

// The fixed part of the end-of-central-directory record.
struct ZipEndRecord {
    std::uint32_t Signature;       // 0  0x06054B50
    std::uint16_t ThisDiskNo;      // 4
    std::uint16_t CentralDiskNo;   // 6  disk where the directory starts
    std::uint16_t CentralEntries;  // 8  entries on this disk
    std::uint16_t TotalEntries;    // 10
    std::uint32_t CentralSize;     // 12
    std::uint32_t CentralOffset;   // 16
    std::uint16_t ZipCommentLen;   // 20
};
#pragma pack(pop)
static_assert(sizeof(ZipCentralHeader) == kZipCentralHeaderSize);
static_assert(offsetof(ZipCentralHeader, CRC32) == 16);
static_assert(offsetof(ZipCentralHeader, RelOffLocal) == 42);
static_assert(sizeof(ZipEndRecord) == kZipEndRecordSize);
static_assert(offsetof(ZipEndRecord, CentralOffset) == 16);

inline std::uint16_t ReadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The offset in `tail` of the last end-record signature that leaves room for the
// 22-byte record, scanning backwards from the 22nd-last byte; none without one.
std::optional<std::size_t> FindEndRecordSignature(const std::uint8_t* tail, std::size_t size);

// Reads up to `size` bytes at `offset` into `buffer`; returns how many it read
// (fewer only at the end of the file). Errors are the reader's to raise.
using ZipReadAt = std::function<std::size_t(std::int64_t offset, void* buffer, std::size_t size)>;

// Where the end record lies, with the bytes read to find it: the record and the
// archive comment are inside `tail`, which starts at `tailStart`.
struct ZipEndRecordHit {
    std::int64_t position = -1;  // -1 when there is none
    std::int64_t tailStart = 0;
    std::string tail;
};

// The last 22 bytes when they hold the record, else one read of the last
// 65,535 bytes scanned backwards.
ZipEndRecordHit FindEndRecord(std::int64_t fileSize, const ZipReadAt& read);

// Reads the central directory front to back through one buffer, so a directory
// of many entries costs a few large reads rather than four small ones per entry.
class ZipDirectoryReader {
  public:
    ZipDirectoryReader(ZipReadAt read, std::int64_t offset);

    // Goes on at `offset` of another file (the next disk of a spanned set).
    void Reopen(ZipReadAt read, std::int64_t offset);

    enum class Result {
        Entry,  // one entry read
        End,    // its fixed part is not all there: the file (this disk) ends
        Bad,    // no entry signature, or the name, extra field or comment is cut
    };
    // The next entry's fixed part and its variable fields (as stored).
    Result Next(ZipCentralHeader& header, std::string& name, std::string& extra,
                std::string& comment);

  private:
    // Appends `count` bytes to `out`; false when the file ends first.
    bool Read(std::size_t count, std::string& out);
    bool Fill();

    ZipReadAt m_read;
    std::int64_t m_offset;
    std::string m_buffer;
    std::string m_fixed;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
};

}  // namespace parevo

#pragma once
// Writes zip archives byte by byte for the directory reader's and the unzip
// library's tests: stored and deflated members, chosen "version made by" bytes,
// flags, names in any bytes, comments, traditional encryption, data in front,
// and the broken forms (wrong signatures, short directories, wrong CRCs).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parevo::test {

struct ZipMember {
    std::string name;  // stored bytes, any encoding
    std::vector<std::uint8_t> data;
    bool deflate = false;
    std::uint8_t hostSystem = 3;  // Unix
    std::uint8_t formatVersion = 30;
    std::uint16_t flags = 0;  // bit 0 (encryption) is set by `password`
    std::string extra;
    std::string comment;
    std::string password;              // non-empty: traditional (ZipCrypto) encryption
    std::uint16_t dosTime = 0x6000;    // 12:00:00
    std::uint16_t dosDate = 0x5821;    // 2024-01-01
    std::optional<std::uint32_t> crc;  // stored instead of the real CRC
    // Declared instead of the real (uncompressed) size.
    std::optional<std::uint32_t> size;
};

class ZipBuilder {
  public:
    ZipBuilder& Add(ZipMember member);
    ZipBuilder& Stored(const std::string& name, const std::string& data);
    ZipBuilder& Deflated(const std::string& name, const std::string& data);
    // Bytes in front of the archive (as in a self-extractor); the offsets in the
    // archive stay relative to its own start.
    ZipBuilder& Prefix(const std::vector<std::uint8_t>& bytes);
    ZipBuilder& Comment(const std::string& comment);
    // Bytes after the end record that its comment length does not count.
    ZipBuilder& Trailer(const std::vector<std::uint8_t>& bytes);
    // Breaks the signature of central header `index`.
    ZipBuilder& BreakCentralSignature(int index);
    // Drops the last `bytes` of the central directory; the end record declares
    // the size that is left but the full entry count.
    ZipBuilder& CutDirectory(std::uint32_t bytes);
    ZipBuilder& DiskNumbers(std::uint16_t thisDisk, std::uint16_t directoryDisk);
    ZipBuilder& TotalEntries(std::uint16_t total);

    std::vector<std::uint8_t> Build() const;
    void WriteTo(const std::string& path) const;

  private:
    std::vector<ZipMember> m_members;
    std::vector<std::uint8_t> m_prefix;
    std::vector<std::uint8_t> m_trailer;
    std::string m_comment;
    int m_brokenSignature = -1;
    std::uint32_t m_cut = 0;
    std::uint16_t m_thisDisk = 0;
    std::uint16_t m_directoryDisk = 0;
    std::optional<std::uint16_t> m_total;
};

std::vector<std::uint8_t> Bytes(const std::string& text);

}  // namespace parevo::test

#pragma once
// Writes DAT files for tests, in the Logiqx XML and the clrmamepro text form,
// with each ROM's checksums taken straight over its whole image in memory.

#include <cstdint>
#include <string>
#include <vector>

namespace parevo::test {

// One ROM as a DAT lists it; every value as written in the file.
struct DatRow {
    std::string game;
    std::string rom;
    std::string size, crc, md5, sha1, sha256;
    std::string serial;
    std::string status = "verified";
};

// The row of a good dump: `image` is the whole, untrimmed image.
DatRow RowFor(const std::string& game, const std::vector<std::uint8_t>& image,
              const std::string& serial = "", bool withSha256 = true);

std::string LogiqxDat(const std::vector<DatRow>& rows,
                      const std::string& name = "Test - Nintendo DS");
std::string ClrMameProDat(const std::vector<DatRow>& rows,
                          const std::string& name = "Test - Nintendo DS");

}  // namespace parevo::test

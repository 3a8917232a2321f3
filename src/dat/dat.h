#pragma once
// A DAT file: the list of known good dumps (game name, size and checksums of
// each ROM) that ROM collections are checked against. Read from the Logiqx XML
// form (as No-Intro publishes it) or the clrmamepro text form, either one plain
// or as the single file of a zip archive.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dat/hashes.h"
#include "platform/errors.h"
#include "platform/file_io.h"

namespace parevo {

// A DAT that cannot be read: what() names the file and, for a fault in its
// text, the line (`Cannot read DAT "x.dat": line 12: ...`).
class DatError : public Error {
  public:
    using Error::Error;
};

struct DatEntry {
    std::string game;  // the game's name, as a match reports it (UTF-8)
    std::string rom;   // the ROM's file name in the DAT
    std::int64_t size = 0;
    std::uint32_t crc = 0;
    std::optional<Sha1Digest> sha1;
    std::optional<Sha256Digest> sha256;
    std::string serial;  // as the DAT spells it: "AMCE", "NTR-AMCE-USA"
};

// Larger DATs are refused before they are read: the biggest published ones
// hold a few tens of megabytes.
inline constexpr std::int64_t kMaxDatBytes = 256 << 20;

class Dat {
  public:
    Dat() = default;
    Dat(std::string name, std::vector<DatEntry> entries);

    // The name its header gives ("Nintendo - Nintendo DS (Decrypted)"), or empty.
    const std::string& Name() const { return m_name; }
    const std::vector<DatEntry>& Entries() const { return m_entries; }
    // The distinct ROM sizes, ascending.
    const std::vector<std::int64_t>& Sizes() const { return m_sizes; }
    bool AnySha256() const { return m_anySha256; }

    // The entries of this size and CRC-32.
    std::vector<const DatEntry*> Find(std::int64_t size, std::uint32_t crc) const;
    // The entries whose serial names this 4-character game code, alone or as a
    // part between dashes, commas or spaces ("NTR-AMCE-USA").
    std::vector<const DatEntry*> WithGameCode(std::string_view gameCode) const;

  private:
    std::string m_name;
    std::vector<DatEntry> m_entries;
    std::vector<std::size_t> m_bySizeAndCrc;  // indices into m_entries
    std::vector<std::int64_t> m_sizes;
    bool m_anySha256 = false;
};

// The DAT at a path, read again only when the file there has changed: a window
// verifies with it run after run.
class DatCache {
  public:
    // Throws as LoadDat does.
    const Dat& Get(const std::string& path);

  private:
    std::string m_path;
    std::optional<FileStamp> m_stamp;
    std::optional<Dat> m_dat;
};

// Reads the DAT at `path`. Throws DatError for a file that is no DAT, a fault in
// its text, a malformed value or a zip that does not hold exactly one file, and
// IoError when it cannot be read.
Dat LoadDat(const std::string& path);
// The same over bytes in memory; `name` stands for the file in error texts.
Dat ParseDat(std::string_view bytes, const std::string& name);

}  // namespace parevo

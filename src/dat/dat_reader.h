#pragma once
// Inside the DAT reader: what its two text forms and the zip step share. The
// parsers hand each ROM's fields over as written; the collector checks them.

#include <string>
#include <string_view>
#include <vector>

#include "dat/dat.h"

namespace parevo::dat_reader {

// A fault in a DAT's bytes; `line` is 0 where no line applies (a zip's records).
struct Fault {
    int line = 0;
    std::string message;
};

// One ROM as the DAT writes it; an attribute that is not there is empty.
struct RomFields {
    std::string name, size, crc, md5, sha1, sha256, serial, status;
};

class Collector {
  public:
    void SetName(std::string name) { m_name = std::move(name); }
    // Checks and keeps one ROM of `game`; throws Fault on a malformed value. A ROM
    // without a size or CRC (one nobody has dumped) cannot be matched: it is left out.
    void AddRom(const std::string& game, const RomFields& rom, const std::string& gameSerial,
                int line);
    Dat Finish() { return Dat(std::move(m_name), std::move(m_entries)); }

  private:
    std::string m_name;
    std::vector<DatEntry> m_entries;
};

// The Logiqx XML form (<datafile>, <game>, <rom .../>), through expat.
void ParseLogiqx(std::string_view text, Collector& out);
// The clrmamepro text form: `clrmamepro ( ... )`, `game ( name ... rom ( ... ) )`.
void ParseClrMamePro(std::string_view text, Collector& out);
// Whether `text` opens like the clrmamepro form: a word, then "(".
bool LooksLikeClrMamePro(std::string_view text);
// The one file a zip archive holds, unpacked; `member` receives its name.
std::string UnzipSingleFile(std::string_view zip, std::string& member);

}  // namespace parevo::dat_reader

// Any bytes as a DAT file (Logiqx XML, clrmamepro text, either one zipped): the
// reader never crashes, hangs or exhausts memory, and every entry it keeps is
// found again by its size and CRC.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dat/dat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const parevo::Dat dat = parevo::ParseDat(
            std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.dat");
        for (const parevo::DatEntry& entry : dat.Entries()) {
            bool found = false;
            for (const parevo::DatEntry* match : dat.Find(entry.size, entry.crc)) {
                found = found || match == &entry;
            }
            if (!found) {
                std::abort();
            }
        }
        dat.WithGameCode("AMCE");
    } catch (const parevo::DatError&) {
        // A fault in the bytes: the error the user sees.
    }
    return 0;
}

#pragma once
// The DAT check of a trim run: each ROM is verified before it is cut, and its
// output after it is written must give the same DAT entry padded back. The log
// gets one line per ROM: `rom <i> of <n> -> verified "<game>"` or `rom <i> of
// <n> -> not in the DAT`. A ROM whose output could not be padded back to its
// entry is an error: nothing is cut, and an output that fails is removed.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "dat/verify.h"
#include "trim/trim_rom.h"

namespace parevo {

class DatCheck final : public RomCheck {
  public:
    // `dat` must outlive the check.
    explicit DatCheck(const Dat& dat);
    ~DatCheck() override;

    // Starts the pass that hashes the ROM, beside the search.
    void Begin(const InputFile& rom, const TrimEnvironment& env) override;
    void BeforeCut(const InputFile& rom, std::int64_t outputLength,
                   const TrimEnvironment& env) override;
    std::string AfterWrite(const InputFile& rom, const std::string& outputPath, bool inPlace,
                           int index, int count, const TrimEnvironment& env) override;

  private:
    class Pass;  // the hash pass over one ROM, on a thread of its own

    // What BeforeCut found out for the ROM of this run now being trimmed.
    struct Found {
        const DatEntry* entry = nullptr;  // none: not in the DAT
        std::uint8_t padByte = 0xFF;      // pads the output back to the entry
        std::int64_t romSize = 0;
        std::int64_t outputLength = 0;
    };

    const Dat& m_dat;
    std::unique_ptr<Pass> m_pass;
    std::optional<Found> m_found;
};

}  // namespace parevo

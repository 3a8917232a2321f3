#pragma once
// Untrim: gives a trimmed image back its full length, the capacity of its
// cartridge (or a size asked for), padded with 0xFF or 0x00. Named and written
// as a trim is: a new file that takes its name only when complete.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "trim/trim_rom.h"

namespace parevo {

class InputFile;

struct UntrimOptions {
    std::optional<std::int64_t> size;  // none: the header's cartridge capacity
    std::uint8_t padByte = 0xFF;
};

// The length `image` is restored to. Throws IoError ("Cannot untrim ...") for a
// file that is no image, a capacity code out of range, and an image longer
// than that length: an untrim never cuts.
std::int64_t UntrimLength(const InputFile& image, const UntrimOptions& untrim);

// Untrims entry i of n (a .nds file, or the ROM the archive step finds), with
// the naming options of env.Options(). Its log lines:
//   rom (<name>) <i> of <n> -> padding <K>kb with 0xFF up to <L> bytes
//   rom <i> of <n> -> saved <output> to disk in <S>s
TrimOutcome UntrimRom(const std::string& entryPath, int index, int count,
                      const TrimEnvironment& env, const UntrimOptions& untrim);

// UntrimRom over every entry, as RunBatch runs TrimRom.
int RunUntrimBatch(const std::vector<std::string>& entries, const TrimEnvironment& env,
                   const BatchCallbacks& callbacks, const UntrimOptions& untrim);

}  // namespace parevo

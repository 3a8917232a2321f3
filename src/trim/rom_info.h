#pragma once
// What a DS image is: its header's fields and checks, the secure area's state,
// the padding at its end and what a trim would keep. The command line's --info
// and the window's "ROM information…" dialog show the same fields.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "trim/rom_header.h"
#include "trim/trim_rom.h"

namespace parevo {

class InputFile;

enum class SecureArea { Decrypted, Empty, Encrypted, Unknown };
enum class PaddingKind { Zeros, Ones, Mixed, None };

struct RomInfo {
    std::int64_t size = 0;
    std::string title;  // the header's 12 characters, up to the first 0x00
    std::string gameCode;
    std::string makerCode;
    std::uint8_t unitCode = 0;
    std::uint8_t romVersion = 0;
    std::uint8_t capacityCode = 0;
    std::optional<std::int64_t> capacity;  // none: the code is out of range
    bool headerCrcValid = false;
    bool logoCrcValid = false;
    SecureArea secureArea = SecureArea::Unknown;
    std::uint32_t dsUsedSize = 0;
    std::optional<std::uint32_t> dsiUsedSize;  // DSi units only: with the DSi area
    bool downloadPlaySignature = false;
    PaddingKind padding = PaddingKind::None;
    std::int64_t paddingLength = 0;
    std::int64_t trimKeptLength = 0;  // what a trim with the options keeps
    bool looksTrimmed = false;        // shorter than its cartridge capacity
};

// The largest capacity code of a cartridge (128 KiB << 13 = 1 GiB).
inline constexpr std::uint8_t kMaxCapacityCode = 13;
// 128 KiB << code; none past kMaxCapacityCode.
std::optional<std::int64_t> CartridgeCapacity(std::uint8_t code);
// "DS", "DSi-enhanced", "DSi only", or "unknown (0xNN)".
std::string UnitName(std::uint8_t unitCode);

// The header of `image`, read and checked to be one: throws IoError (`<action>
// "<path>": ...`) when the file is shorter than a header or neither the header
// CRC nor the logo CRC matches.
NdsHeader RequireImageHeader(const InputFile& image, const std::string& action);

// Reads `image` (its padding twice: once by the trim's search). Throws IoError
// for a file that is no image or cannot be read.
RomInfo ReadRomInfo(const InputFile& image, const TrimOptions& options);

// The fields as `key: value` text, in the order they are shown.
std::vector<std::pair<std::string, std::string>> InfoFields(const RomInfo& info);

}  // namespace parevo

#include "trim/rom_info.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/errors.h"
#include "platform/file_io.h"
#include "trim/padding.h"
#include "trim/trim_point.h"

namespace parevo {

namespace {

constexpr std::size_t kLogoStart = 0x0C0;
constexpr std::size_t kLogoEnd = 0x15C;  // the logo CRC follows the logo
constexpr std::uint32_t kArm9RomOffset = 0x020;
constexpr std::int64_t kSecureAreaStart = 0x4000;
constexpr std::int64_t kSecureAreaEnd = 0x8000;
constexpr std::uint32_t kDecryptedMark = 0xE7FFDEFF;

std::uint32_t Le32At(const std::vector<std::uint8_t>& bytes, size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::string Field(const char* bytes, size_t size) {
    std::string text(bytes, std::find(bytes, bytes + size, '\0'));
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::vector<std::uint8_t> ReadAt(const InputFile& image, std::int64_t offset, size_t count) {
    std::vector<std::uint8_t> bytes(count);
    bytes.resize(image.ReadAt(offset, bytes.data(), count));
    return bytes;
}

bool LogoCrcValid(const std::vector<std::uint8_t>& bytes) {
    const std::uint16_t stored =
        static_cast<std::uint16_t>(bytes[kLogoEnd] | bytes[kLogoEnd + 1] << 8);
    return Crc16({bytes.data() + kLogoStart, kLogoEnd - kLogoStart}) == stored;
}

SecureArea SecureAreaOf(const InputFile& image, std::uint32_t arm9Offset) {
    if (arm9Offset < kSecureAreaStart || arm9Offset >= kSecureAreaEnd) {
        return SecureArea::Unknown;
    }
    const std::vector<std::uint8_t> words = ReadAt(image, kSecureAreaStart, 8);
    if (words.size() < 8) {
        return SecureArea::Unknown;
    }
    const std::uint32_t first = Le32At(words, 0);
    const std::uint32_t second = Le32At(words, 4);
    if (first == kDecryptedMark && second == kDecryptedMark) {
        return SecureArea::Decrypted;
    }
    return first == 0 && second == 0 ? SecureArea::Empty : SecureArea::Encrypted;
}

// Which padding values fill [from, end of the image).
PaddingKind PaddingOf(const InputFile& image, std::int64_t from) {
    std::optional<std::uint8_t> seen;
    std::vector<std::uint8_t> block(1 << 20);
    for (std::int64_t at = from;;) {
        const size_t got = image.ReadAt(at, block.data(), block.size());
        if (got == 0) {
            break;
        }
        const std::optional<std::uint8_t> common = CommonByte(block.data(), got);
        if (!common || (seen && seen != common)) {
            return PaddingKind::Mixed;
        }
        seen = common;
        at += static_cast<std::int64_t>(got);
    }
    return !seen ? PaddingKind::None : *seen == 0x00 ? PaddingKind::Zeros : PaddingKind::Ones;
}

std::string Bytes(std::int64_t count) {
    return std::to_string(count) + " bytes";
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

}  // namespace

std::optional<std::int64_t> CartridgeCapacity(std::uint8_t code) {
    if (code > kMaxCapacityCode) {
        return std::nullopt;
    }
    return std::int64_t{128 * 1024} << code;
}

std::string UnitName(std::uint8_t unitCode) {
    switch (unitCode) {
        case 0x00:
            return "DS";
        case 0x02:
            return "DSi-enhanced";
        case 0x03:
            return "DSi only";
        default:
            return "unknown (" + Hex(unitCode, 2) + ")";
    }
}

NdsHeader RequireImageHeader(const InputFile& image, const std::string& action) {
    const std::vector<std::uint8_t> bytes = ReadAt(image, 0, sizeof(NdsHeader));
    if (bytes.size() < kMinimalHeaderSize) {
        throw IoError(DescribeIoFailure(action, image.Path(),
                                        "too short for a DS ROM header (" +
                                            std::to_string(bytes.size()) + " bytes of " +
                                            std::to_string(kMinimalHeaderSize) + ")"));
    }
    if (!HeaderCrcValid(bytes) && !LogoCrcValid(bytes)) {
        throw IoError(DescribeIoFailure(
            action, image.Path(),
            "not a DS ROM image (neither its header CRC nor its logo CRC matches)"));
    }
    return HeaderFromBytes(bytes);
}

RomInfo ReadRomInfo(const InputFile& image, const TrimOptions& options) {
    const NdsHeader header = RequireImageHeader(image, "Cannot read");
    const std::vector<std::uint8_t> bytes = ReadAt(image, 0, sizeof(NdsHeader));
    RomInfo info;
    info.size = image.Size();
    info.title = Field(header.gameTitle, sizeof header.gameTitle);
    info.gameCode = Field(header.gameCode, sizeof header.gameCode);
    info.makerCode = Field(header.makerCode, sizeof header.makerCode);
    info.unitCode = header.unitCode;
    info.romVersion = bytes[0x01E];
    info.capacityCode = header.deviceCapacity;
    info.capacity = CartridgeCapacity(header.deviceCapacity);
    info.headerCrcValid = HeaderCrcValid(bytes);
    info.logoCrcValid = LogoCrcValid(bytes);
    info.secureArea = SecureAreaOf(image, Le32At(bytes, kArm9RomOffset));
    info.dsUsedSize = header.TotalUsedRomSize();
    if ((header.unitCode & 0x02) != 0) {
        info.dsiUsedSize = header.DsiTotalUsedRomSize();
    }
    const std::vector<std::uint8_t> mark = ReadAt(image, info.dsUsedSize, 3);
    info.downloadPlaySignature =
        mark.size() == 3 && mark[0] == 0xAC && mark[1] == 0x01 && mark[2] == 0x00;

    const TrimPoint point = FindTrimPoint(
        image, std::clamp(options.byteJump, kMinByteJump, kMaxByteJump), options.SafeTrim, {}, '.');
    info.paddingLength = info.size - point.DataEnd;
    info.padding = PaddingOf(image, point.DataEnd);
    info.trimKeptLength = point.OutputLength();
    info.looksTrimmed = info.capacity && info.size < *info.capacity;
    return info;
}

std::vector<std::pair<std::string, std::string>> InfoFields(const RomInfo& info) {
    static const char* const kSecureAreas[] = {"decrypted", "empty", "encrypted", "unknown"};
    static const char* const kPadding[] = {"0x00", "0xFF", "mixed 0x00 and 0xFF", "none"};
    const auto valid = [](bool ok) { return ok ? std::string("valid") : std::string("invalid"); };
    std::vector<std::pair<std::string, std::string>> fields{
        {"size", Bytes(info.size)},
        {"title", info.title},
        {"game code", info.gameCode},
        {"maker code", info.makerCode},
        {"unit", UnitName(info.unitCode)},
        {"rom version", std::to_string(info.romVersion)},
        {"capacity", info.capacity ? Bytes(*info.capacity) + " (" + Hex(info.capacityCode, 2) + ")"
                                   : "out of range (" + Hex(info.capacityCode, 2) + ")"},
        {"header crc", valid(info.headerCrcValid)},
        {"logo crc", valid(info.logoCrcValid)},
        {"secure area", kSecureAreas[static_cast<int>(info.secureArea)]},
        {"ds used size", Bytes(info.dsUsedSize)},
    };
    if (info.dsiUsedSize) {
        fields.emplace_back("dsi used size", Bytes(*info.dsiUsedSize));
    }
    fields.emplace_back("signature", info.downloadPlaySignature
                                         ? "download-play signature after the DS area"
                                         : "none");
    fields.emplace_back(
        "padding", std::string(kPadding[static_cast<int>(info.padding)]) +
                       (info.padding == PaddingKind::None ? "" : ", " + Bytes(info.paddingLength)));
    fields.emplace_back("trim keeps", Bytes(info.trimKeptLength));
    fields.emplace_back("trimmed", !info.capacity      ? "unknown (no capacity)"
                                   : info.looksTrimmed ? "yes (shorter than its capacity)"
                                                       : "no");
    return fields;
}

}  // namespace parevo

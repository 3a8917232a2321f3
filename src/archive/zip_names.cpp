#include "archive/zip_names.h"

#include "platform/codepage.h"

namespace parevo {

bool UsesOemNames(std::uint8_t hostSystem, std::uint8_t formatVersion) {
    return hostSystem == 0 || hostSystem == 6 || (hostSystem == 11 && formatVersion == 50);
}

namespace {

std::string Decode(std::string_view stored, bool oemNames, std::uint16_t generalFlags) {
    if ((generalFlags & kZipFlagUtf8Names) != 0) {
        return Utf8ToNarrow(stored);
    }
    return oemNames ? OemToNarrow(stored) : std::string(stored);
}

}  // namespace

std::string ConvertMemberName(std::string_view stored, bool oemNames, std::uint16_t generalFlags,
                              PathStyle style) {
    std::string name = Decode(stored, oemNames, generalFlags);
    const char foreign = style == PathStyle::Windows ? '/' : '\\';
    const char own = PathSeparator(style);
    for (char& c : name) {
        if (c == foreign) {
            c = own;
        }
    }
    return name;
}

std::string ConvertMemberComment(std::string_view stored, bool oemNames,
                                 std::uint16_t generalFlags) {
    return Decode(stored, oemNames, generalFlags);
}

std::optional<size_t> FindEndRecordSignature(const std::uint8_t* tail, size_t size) {
    if (size < kZipEndRecordSize) {
        return std::nullopt;
    }
    for (size_t i = size - kZipEndRecordSize + 1; i > 0; --i) {
        if (ReadLe32(tail + i - 1) == kZipEndRecordSignature) {
            return i - 1;
        }
    }
    return std::nullopt;
}

}  // namespace parevo

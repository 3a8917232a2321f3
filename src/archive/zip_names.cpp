#include "archive/zip_names.h"

#include "archive/zip_format.h"
#include "platform/text_encoding.h"

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

}  // namespace parevo

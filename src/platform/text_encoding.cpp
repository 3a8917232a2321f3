#include "platform/text_encoding.h"

#include <algorithm>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

namespace parevo {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 | (c >> 10));
            out += static_cast<wchar_t>(0xDC00 | (c & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(c);
}

// The sequence starting at text[i]: its code point and length; none when the
// bytes there start no well-formed sequence.
struct Decoded {
    char32_t c = 0;
    std::size_t length = 0;
};

Decoded DecodeUtf8(std::string_view text, std::size_t i) {
    const auto b = static_cast<unsigned char>(text[i]);
    const int extra = b < 0x80                ? 0
                      : b >= 0xC2 && b < 0xE0 ? 1
                      : b >= 0xE0 && b < 0xF0 ? 2
                      : b >= 0xF0 && b < 0xF5 ? 3
                                              : -1;
    if (extra < 0 || text.size() - i <= static_cast<std::size_t>(extra)) {
        return {};
    }
    char32_t c = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
    for (int k = 1; k <= extra; ++k) {
        const auto n = static_cast<unsigned char>(text[i + k]);
        if ((n & 0xC0) != 0x80) {
            return {};
        }
        c = c << 6 | (n & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    if ((extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
        (c >= 0xD800 && c < 0xE000)) {
        return {};
    }
    return {c, static_cast<std::size_t>(extra) + 1};
}

char32_t Scalar(char32_t c) {
    return c > 0x10FFFF || (c >= 0xD800 && c < 0xE000) ? kReplacement : c;
}

// Code points of Windows-1252's 80-9F hex; the five undefined positions stand
// for themselves.
constexpr std::uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

#ifdef _WIN32
std::wstring ToWide(UINT codePage, std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}
#else
// Unicode code points of code page 437's upper half (0x80 to 0xFF); the lower
// half is ASCII.
constexpr std::uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // E8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // F8
};
#endif

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
    std::wstring out;
    for (std::size_t i = 0; i < utf8.size();) {
        const Decoded d = DecodeUtf8(utf8, i);
        if (d.length == 0) {
            AppendWide(out, kReplacement);  // not UTF-8: go on, one byte at a time
            ++i;
            continue;
        }
        AppendWide(out, d.c);
        i += d.length;
    }
    return out;
}

namespace {

// Code units of 16 bits (UTF-16) or of 32 bits to UTF-8.
template <typename Unit>
std::string UnitsToUtf8(const Unit* text, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        auto c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(Unit) == 2) {
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < size) {
                const auto low = static_cast<char32_t>(text[i + 1]);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        AppendUtf8(out, Scalar(c));
    }
    return out;
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
    return UnitsToUtf8(text.data(), text.size());
}

std::string Utf16ToUtf8(std::u16string_view text) {
    return UnitsToUtf8(text.data(), text.size());
}

bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = DecodeUtf8(text, i);
        if (d.length == 0) {
            return false;
        }
        i += d.length;
    }
    return true;
}

std::string WideToNarrow(const wchar_t* text, std::size_t size) {
    return WideToNarrow(std::wstring(text, std::find(text, text + size, L'\0')));
}

std::string OemToNarrow(std::string_view oem) {
#ifdef _WIN32
    return WideToUtf8(ToWide(CP_OEMCP, oem));
#else
    std::string out;
    out.reserve(oem.size() * 2);
    for (const char c : oem) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out, byte < 0x80 ? byte : kCp437High[byte - 0x80]);
    }
    return out;
#endif
}

std::string Utf8ToNarrow(std::string_view utf8) {
    return std::string(utf8);
}

std::string WideToNarrow(const std::wstring& text) {
    return WideToUtf8(text);
}

std::wstring NarrowToWide(std::string_view text) {
    return Utf8ToWide(text);
}

std::string StoredNameToUtf8(std::string_view stored) {
    return IsUtf8(stored) ? std::string(stored) : OemToNarrow(stored);
}

std::string FirstCharacters(std::string_view text, std::size_t limit) {
    return FirstUtf8Characters(text, limit);
}

std::string Windows1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out, byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte);
    }
    return out;
}

std::string FirstUtf8Characters(std::string_view text, std::size_t limit) {
    // Every byte that is not a continuation byte starts a character.
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (characters == limit) {
                return std::string(text.substr(0, i));
            }
            ++characters;
        }
    }
    return std::string(text);
}

std::string XmlTextToNarrow(std::string_view text, bool declaredUtf8) {
#ifdef _WIN32
    // Settings files written by earlier Windows versions hold Windows-1252 text.
    if (!declaredUtf8 && !IsUtf8(text)) {
        return Windows1252ToUtf8(text);
    }
#else
    (void)declaredUtf8;
#endif
    return std::string(text);
}

std::filesystem::path PathOf(std::string_view narrow) {
#ifdef _WIN32
    return std::filesystem::path(Utf8ToWide(narrow));
#else
    return std::filesystem::path(std::string(narrow));
#endif
}

std::string NarrowOf(const std::filesystem::path& path) {
#ifdef _WIN32
    return WideToUtf8(path.wstring());
#else
    return path.string();
#endif
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

}  // namespace parevo

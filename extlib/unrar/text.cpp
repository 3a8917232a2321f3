#include "text.h"

#include "platform/codepage.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace unrar {
namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 | c >> 10);
            out += static_cast<wchar_t>(0xDC00 | (c & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(c);
}

}  // namespace

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80             ? 0
                    : (b & 0xE0) == 0xC0 ? 1
                    : (b & 0xF0) == 0xE0 ? 2
                    : (b & 0xF8) == 0xF0 ? 3
                                         : -1;
        char32_t c = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
        bool ok = extra >= 0 && i + extra < text.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const unsigned char n = static_cast<unsigned char>(text[i + k]);
            if ((n & 0xC0) != 0x80) {
                ok = false;
            } else {
                c = c << 6 | (n & 0x3F);
            }
        }
        if (!ok) {
            AppendWide(out, 0xFFFD);  // not UTF-8: keep going, one byte at a time
            ++i;
            continue;
        }
        AppendWide(out, c);
        i += extra + 1;
    }
    return out;
}

static std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
                const char32_t low = static_cast<char32_t>(text[i + 1]);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

#ifdef _WIN32
std::wstring NarrowToWide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), out.data(), n);
    return out;
}
std::string WideToNarrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int n =
        WideCharToMultiByte(CP_ACP, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), (int)text.size(), out.data(), n, nullptr, nullptr);
    return out;
}
std::string Utf8ToNarrow(const std::string& text) {
    return WideToNarrow(Utf8ToWide(text));
}
#else
std::wstring NarrowToWide(const std::string& text) {
    return Utf8ToWide(text);
}
std::string WideToNarrow(const std::wstring& text) {
    return WideToUtf8(text);
}
std::string Utf8ToNarrow(const std::string& text) {
    return text;
}
#endif

bool IsUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        const int extra = b < 0x80                ? 0
                          : b >= 0xC2 && b < 0xE0 ? 1
                          : b >= 0xE0 && b < 0xF0 ? 2
                          : b >= 0xF0 && b < 0xF5 ? 3
                                                  : -1;
        if (extra < 0 || text.size() - i <= static_cast<std::size_t>(extra)) {
            return false;
        }
        char32_t c = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char n = static_cast<unsigned char>(text[i + k]);
            if ((n & 0xC0) != 0x80) {
                return false;
            }
            c = c << 6 | (n & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode are not UTF-8.
        if ((extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
            (c >= 0xD800 && c < 0xE000)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

std::string StoredNameToUtf8(const std::string& stored) {
    if (IsUtf8(stored)) {
        return stored;
    }
    const std::string narrow = parevo::OemToNarrow(stored);
#ifdef _WIN32
    return WideToUtf8(NarrowToWide(narrow));
#else
    return narrow;  // the narrow encoding is UTF-8
#endif
}

}  // namespace unrar

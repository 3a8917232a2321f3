#include "platform/format.h"

#include <cstdio>
#include <locale>
#include <stdexcept>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace parevo {

namespace {

struct Spec {
    bool leftJustify = false;
    int width = -1;
    int precision = -1;
    char type = 0;
};

std::string Pad(std::string text, const Spec& spec) {
    if (spec.width > 0 && static_cast<int>(text.size()) < spec.width) {
        const std::string fill(static_cast<size_t>(spec.width) - text.size(), ' ');
        text = spec.leftJustify ? text + fill : fill + text;
    }
    return text;
}

[[noreturn]] void Invalid(std::string_view templ) {
    throw std::invalid_argument("Format '" + std::string(templ) +
                                "' invalid or incompatible with argument");
}

std::string FormatInteger(const FormatArg& arg, const Spec& spec, std::string_view templ) {
    const auto* value = std::get_if<std::int64_t>(&arg.Value());
    if (value == nullptr) {
        Invalid(templ);
    }
    std::string digits;
    bool negative = false;
    if (spec.type == 'd') {
        negative = *value < 0;
        const std::uint64_t magnitude =
            negative ? 0 - static_cast<std::uint64_t>(*value) : static_cast<std::uint64_t>(*value);
        digits = std::to_string(magnitude);
    } else {
        // A negative 32-bit value prints as its two's complement, as the runtime does.
        std::uint64_t bits = static_cast<std::uint64_t>(*value);
        if (*value < 0 && *value >= INT32_MIN) {
            bits = static_cast<std::uint32_t>(*value);
        }
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%llX", static_cast<unsigned long long>(bits));
        digits = buffer;
    }
    // For integers the precision is a minimum digit count, zero-padded.
    if (spec.precision > 0 && static_cast<int>(digits.size()) < spec.precision) {
        digits.insert(0, static_cast<size_t>(spec.precision) - digits.size(), '0');
    }
    return Pad(negative ? "-" + digits : digits, spec);
}

std::string FormatFixed(const FormatArg& arg, const Spec& spec, char decimalSeparator,
                        std::string_view templ) {
    double value = 0;
    if (const auto* d = std::get_if<double>(&arg.Value())) {
        value = *d;
    } else if (const auto* i = std::get_if<std::int64_t>(&arg.Value())) {
        value = static_cast<double>(*i);
    } else {
        Invalid(templ);
    }
    const int precision = spec.precision < 0 ? 2 : std::min(spec.precision, 18);
    std::vector<char> buffer(400);
    std::snprintf(buffer.data(), buffer.size(), "%.*f", precision, value);
    std::string text(buffer.data());
    // snprintf follows the C locale, which this program never changes: the point is ".".
    if (const auto dot = text.find('.'); dot != std::string::npos) {
        text[dot] = decimalSeparator;
    }
    return Pad(text, spec);
}

}  // namespace

char UserDecimalSeparator() {
    static const char separator = [] {
#ifdef _WIN32
        char buffer[8] = {};
        if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, sizeof buffer) > 0 &&
            buffer[0] != 0) {
            return buffer[0];
        }
        return '.';
#else
        try {
            const std::locale user("");
            return std::use_facet<std::numpunct<char> >(user).decimal_point();
        } catch (const std::exception&) {
            return '.';
        }
#endif
    }();
    return separator;
}

std::string Format(std::string_view templ, std::initializer_list<FormatArg> args,
                   char decimalSeparator) {
    std::string out;
    out.reserve(templ.size() + 32);
    const FormatArg* next = args.begin();
    size_t i = 0;
    while (i < templ.size()) {
        const char c = templ[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        ++i;
        if (i < templ.size() && templ[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        Spec spec;
        if (i < templ.size() && templ[i] == '-') {
            spec.leftJustify = true;
            ++i;
        }
        auto readNumber = [&](int& target) {
            if (i < templ.size() && templ[i] >= '0' && templ[i] <= '9') {
                target = 0;
                while (i < templ.size() && templ[i] >= '0' && templ[i] <= '9') {
                    target = std::min(target * 10 + (templ[i] - '0'), 1000);
                    ++i;
                }
            }
        };
        readNumber(spec.width);
        if (i < templ.size() && templ[i] == '.') {
            ++i;
            spec.precision = 0;
            readNumber(spec.precision);
        }
        if (i >= templ.size()) {
            Invalid(templ);
        }
        spec.type = static_cast<char>(templ[i] | 0x20);  // the runtime accepts both cases
        ++i;
        if (next == args.end()) {
            Invalid(templ);
        }
        const FormatArg& arg = *next++;
        switch (spec.type) {
            case 's': {
                const auto* s = std::get_if<std::string>(&arg.Value());
                if (s == nullptr) {
                    Invalid(templ);
                }
                std::string text = *s;
                if (spec.precision >= 0 && static_cast<int>(text.size()) > spec.precision) {
                    text.resize(static_cast<size_t>(spec.precision));
                }
                out += Pad(text, spec);
                break;
            }
            case 'd':
            case 'x':
                out += FormatInteger(arg, spec, templ);
                break;
            case 'f':
                out += FormatFixed(arg, spec, decimalSeparator, templ);
                break;
            default:
                Invalid(templ);
        }
    }
    return out;
}

}  // namespace parevo

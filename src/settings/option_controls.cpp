#include "settings/option_controls.h"

#include <algorithm>
#include <charconv>

namespace parevo {

int ClampByteJump(long long value) {
    return static_cast<int>(std::clamp<long long>(value, kMinByteJump, kMaxByteJump));
}

int ReadByteJumpText(std::string_view text) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    if (first == last || *first < '0' || *first > '9') {
        return kMinByteJump;
    }
    long long number = 0;
    const auto [ptr, ec] = std::from_chars(first, last, number);
    if (ptr != last) {
        return kMinByteJump;
    }
    if (ec == std::errc::result_out_of_range) {
        // Too large for any integer: still a number, beyond either bound.
        return negative ? kMinByteJump - 1 : kMaxByteJump + 1;
    }
    number = negative ? -number : number;
    // Keep it an int; the bounds it is compared with are far inside.
    return static_cast<int>(std::clamp<long long>(number, -1000000000LL, 1000000000LL));
}

void PlainOptionControls::SetCustomPath(bool checked) {
    if (checked != m_customPath) {
        m_customPath = checked;
        CustomPathClick();
    }
}

TrimOptions ToTrimOptions(const OptionControls& controls) {
    TrimOptions options;
    options.SafeTrim = controls.SafeTrim();
    options.byteJump = ClampByteJump(controls.ByteJump());
    options.TrimSceneNumber = controls.TrimSceneNumber();
    options.HeaderRomName = controls.HeaderRomName();
    options.AppendText = controls.AppendText();
    options.Path = controls.PathFolder();
    options.CustomPath = controls.CustomPath() && !options.Path.empty();
    options.DeleteSource = controls.DeleteSource();
    return options;
}

}  // namespace parevo

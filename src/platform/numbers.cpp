#include "platform/numbers.h"

#include <charconv>
#include <limits>

namespace parevo {

bool ParseWholeNumber(std::string_view text, long long& value) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    if (first == last || *first < '0' || *first > '9') {
        return false;
    }
    unsigned long long magnitude = 0;
    const auto [ptr, ec] = std::from_chars(first, last, magnitude);
    if (ptr != last) {
        return false;
    }
    constexpr auto kMax = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
    if (ec == std::errc::result_out_of_range || magnitude > kMax) {
        value = negative ? std::numeric_limits<long long>::min()
                         : std::numeric_limits<long long>::max();
    } else {
        value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    }
    return true;
}

}  // namespace parevo

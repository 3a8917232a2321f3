#include "support/search_reference.h"

#include <algorithm>

#include "platform/format.h"
#include "trim/rom_header.h"

namespace parevo::test {

namespace {

bool Pad(std::uint8_t b) {
    return b == 0x00 || b == 0xFF;
}

}  // namespace

Outcome PlainSearch(const Image& image, int jump, bool safeTrim) {
    Outcome x;
    const auto size = static_cast<std::int64_t>(image.size());
    const auto stop = std::find_if(image.begin(), image.end(), Pad);
    if (stop == image.end()) {
        x.failed = true;
        return x;
    }
    std::string title(image.begin(),
                      image.begin() + std::min<std::ptrdiff_t>(stop - image.begin(), 4096));
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    title.erase(title.begin(), std::find_if_not(title.begin(), title.end(), blank));
    title.erase(std::find_if_not(title.rbegin(), title.rend(), blank).base(), title.end());
    x.point.Title = title;
    x.point.SourceSize = size;

    const std::int64_t half = jump / 2;
    std::int64_t distance = jump;
    std::int64_t steps = 0;
    std::uint8_t e = 0, f = 0, g = 0;
    while (Pad(e) && Pad(f) && Pad(g)) {
        const std::int64_t p = size - distance;
        if (p - half < 0) {
            x.failed = true;
            return x;
        }
        e = image[static_cast<size_t>(p)];
        f = image[static_cast<size_t>(p - half)];
        g = image[static_cast<size_t>(p + half)];
        if (steps % 100 == 0) {
            x.progress.push_back(Format("%d bytes jumped. sanity check: $%x $%x $%x",
                                        {static_cast<long long>(distance), e, f, g}, '.'));
        }
        distance += jump;
        ++steps;
    }
    x.point.Steps = steps;
    x.point.Distance = distance;
    x.point.ProbeOffset = size - steps * jump;
    x.point.KeepLength = x.point.ProbeOffset + jump + (safeTrim ? kSafeTrimMargin : 0);
    for (std::int64_t i = size - 1; i >= 0; --i) {
        if (!Pad(image[static_cast<size_t>(i)])) {
            x.point.DataEnd = i + 1;
            break;
        }
    }
    const Image head(image.begin(),
                     image.begin() + std::min<size_t>(image.size(), sizeof(NdsHeader)));
    x.point.HeaderValid = HeaderCrcValid(head);
    if (x.point.HeaderValid) {
        const NdsHeader header = HeaderFromBytes(head);
        const std::int64_t used = DeclaredUsedEnd(header, size);
        const std::int64_t ds = header.TotalUsedRomSize();
        const bool signed_ = used > 0 && ds > 0 && ds + 2 <= size &&
                             image[static_cast<size_t>(ds)] == 'a' &&
                             image[static_cast<size_t>(ds + 1)] == 'c';
        x.point.DeclaredEnd =
            signed_ ? std::max(used, std::min(size, ds + kSignatureBlockSize)) : used;
    }
    return x;
}

Image Build(const Shape& shape, std::mt19937& random) {
    Image image(static_cast<size_t>(shape.size));
    std::uniform_int_distribution<int> data(1, 254);
    std::uniform_int_distribution<int> coin(0, 1);
    std::uniform_int_distribution<int> run(1, 3000);
    const std::int64_t dataEnd = std::min(shape.dataEnd, shape.size);
    for (std::int64_t i = 0; i < dataEnd; ++i) {
        image[static_cast<size_t>(i)] = static_cast<std::uint8_t>(data(random));
    }
    if (shape.padInData) {
        for (std::int64_t at = 600; at + 1 < dataEnd; at += 4 * run(random)) {
            const std::int64_t end = std::min(dataEnd - 1, at + run(random));
            std::fill(image.begin() + at, image.begin() + end, coin(random) ? 0xFF : 0x00);
        }
    }
    std::uint8_t value = 0xFF;
    std::int64_t left = 0;
    for (std::int64_t i = dataEnd; i < shape.size; ++i) {
        switch (shape.padding) {
            case Padding::Ff:
                value = 0xFF;
                break;
            case Padding::Zero:
                value = 0x00;
                break;
            case Padding::Runs:
            case Padding::LongRuns:
                if (left-- == 0) {
                    value = static_cast<std::uint8_t>(~value);
                    left = shape.padding == Padding::Runs ? run(random) : 5000 + 10 * run(random);
                }
                break;
            case Padding::Bytes:
                value = coin(random) ? 0xFF : 0x00;
                break;
        }
        image[static_cast<size_t>(i)] = value;
    }
    for (const std::int64_t stray : shape.strays) {
        const std::int64_t at = stray < 0 ? shape.size + stray : stray;
        if (at >= 0 && at < shape.size) {
            image[static_cast<size_t>(at)] = 0x42;
        }
    }
    // A title ending in 0x00, and the header over it when one is declared.
    const std::string title = "GAME";
    for (size_t i = 0; i < title.size() && i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(title[i]);
    }
    if (image.size() > title.size()) {
        image[title.size()] = 0x00;
    }
    if (shape.declared != 0 && image.size() >= kMinimalHeaderSize) {
        for (int b = 0; b < 4; ++b) {
            image[0x080 + b] = static_cast<std::uint8_t>(shape.declared >> (8 * b));
        }
        const std::uint16_t crc = Crc16({image.data(), kHeaderCrcSpan});
        image[0x15E] = static_cast<std::uint8_t>(crc);
        image[0x15F] = static_cast<std::uint8_t>(crc >> 8);
    }
    return image;
}

}  // namespace parevo::test

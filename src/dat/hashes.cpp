#include "dat/hashes.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace parevo {

namespace {

template <typename Hash>
void HashRun(Hash& hash, std::uint8_t value, std::int64_t count) {
    const std::uint8_t* block = RunBlock(value);
    while (count > 0) {
        const std::size_t piece = static_cast<std::size_t>(
            std::min<std::int64_t>(count, static_cast<std::int64_t>(kRunBlock)));
        hash.Update(block, piece);
        count -= static_cast<std::int64_t>(piece);
    }
}

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const Bytef*>(data);
    // zlib takes at most a uInt at once.
    while (size > 0) {
        const uInt piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        crc = static_cast<std::uint32_t>(::crc32(crc, bytes, piece));
        bytes += piece;
        size -= piece;
    }
    return crc;
}

std::uint32_t Crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::int64_t lengthB) {
    return static_cast<std::uint32_t>(::crc32_combine64(crcA, crcB, lengthB));
}

std::uint32_t Crc32OfRun(std::uint8_t value, std::int64_t count) {
    // Doubling: the CRC of 2n bytes is that of n bytes combined with itself.
    std::uint32_t result = 0;  // the CRC of no bytes
    bool empty = true;
    std::uint32_t power = Crc32(0, &value, 1);  // the CRC of `length` bytes
    for (std::int64_t length = 1; count > 0; length *= 2, count >>= 1) {
        if ((count & 1) != 0) {
            result = empty ? power : Crc32Combine(result, power, length);
            empty = false;
        }
        if (count > 1) {
            power = Crc32Combine(power, power, length);
        }
    }
    return result;
}

const std::uint8_t* RunBlock(std::uint8_t value) {
    static const std::vector<std::uint8_t> zeros(kRunBlock, 0x00);
    static const std::vector<std::uint8_t> ones(kRunBlock, 0xFF);
    if (value == 0x00) {
        return zeros.data();
    }
    if (value == 0xFF) {
        return ones.data();
    }
    thread_local std::vector<std::uint8_t> other(kRunBlock);
    std::fill(other.begin(), other.end(), value);
    return other.data();
}

void Sha1::UpdateRun(std::uint8_t value, std::int64_t count) {
    HashRun(*this, value, count);
}

Sha1Digest Sha1::Digest() const {
    sha1_ctx copy = m_state;
    Sha1Digest digest;
    sha1_digest(&copy, digest.size(), digest.data());
    return digest;
}

void Sha256::UpdateRun(std::uint8_t value, std::int64_t count) {
    HashRun(*this, value, count);
}

Sha256Digest Sha256::Digest() const {
    sha256_ctx copy = m_state;
    Sha256Digest digest;
    sha256_digest(&copy, digest.size(), digest.data());
    return digest;
}

bool ParseHex(std::string_view text, std::uint8_t* bytes, std::size_t size) {
    // A DAT holds four hashes per ROM, thousands of ROMs: a table, not branches.
    static const auto kValues = [] {
        std::array<std::int8_t, 256> values;
        values.fill(-1);
        for (int i = 0; i < 10; ++i) {
            values['0' + i] = static_cast<std::int8_t>(i);
        }
        for (int i = 0; i < 6; ++i) {
            values['a' + i] = values['A' + i] = static_cast<std::int8_t>(10 + i);
        }
        return values;
    }();
    if (text.size() != 2 * size) {
        return false;
    }
    for (std::size_t i = 0; i < size; ++i) {
        const int high = kValues[static_cast<unsigned char>(text[2 * i])];
        const int low = kValues[static_cast<unsigned char>(text[2 * i + 1])];
        if ((high | low) < 0) {
            return false;
        }
        bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

std::string ToHex(const std::uint8_t* bytes, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

}  // namespace parevo

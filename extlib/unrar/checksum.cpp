#include "checksum.h"

#include <algorithm>
#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define UNRAR_X86_SIMD 1
#include <immintrin.h>
#endif

namespace unrar {
namespace {

// Slicing by eight: table k gives the CRC of a byte followed by k zero bytes.
struct CrcTables {
    std::uint32_t t[8][256];
    CrcTables() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
            }
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i) {
            for (int k = 1; k < 8; ++k) {
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
            }
        }
    }
};
const CrcTables g_crc;

// On the inverted register.
std::uint32_t CrcTable(const std::uint8_t* p, std::size_t n, std::uint32_t c) {
    const auto& t = g_crc.t;
    for (; n >= 8; n -= 8, p += 8) {
        const std::uint32_t lo = c ^ (p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24);
        const std::uint32_t hi = p[4] | p[5] << 8 | p[6] << 16 | std::uint32_t(p[7]) << 24;
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; n > 0; --n, ++p) {
        c = (c >> 8) ^ t[0][(c ^ *p) & 0xFF];
    }
    return c;
}

#ifdef UNRAR_X86_SIMD
// Folding with carry-less multiplication (Intel's "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ", bit-reflected constants for this
// polynomial): four 128-bit lanes folded 64 bytes at a time, then into one lane,
// then a Barrett reduction. `n` is at least 64 and a multiple of 16; works on
// the inverted register.
#define UNRAR_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

UNRAR_CLMUL_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

inline __m128i Load(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

UNRAR_CLMUL_TARGET std::uint32_t CrcClmul(const std::uint8_t* p, std::size_t n, std::uint32_t c) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

    __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x2 = Load(p + 16);
    __m128i x3 = Load(p + 32);
    __m128i x4 = Load(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; n -= 64, p += 64) {
        x1 = Fold(x1, k1k2, Load(p));
        x2 = Fold(x2, k1k2, Load(p + 16));
        x3 = Fold(x3, k1k2, Load(p + 32));
        x4 = Fold(x4, k1k2, Load(p + 48));
    }
    x1 = Fold(x1, k3k4, x2);
    x1 = Fold(x1, k3k4, x3);
    x1 = Fold(x1, k3k4, x4);
    for (; n >= 16; n -= 16, p += 16) {
        x1 = Fold(x1, k3k4, Load(p));
    }
    // 128 bits to 64, then to 32 with Barrett's reduction.
    __m128i x2r = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2r);
    x2r = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), x2r);
    x2r = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    x2r = _mm_clmulepi64_si128(_mm_and_si128(x2r, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, x2r);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HaveClmul() {
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}
#endif

}  // namespace

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint32_t c = ~crc;
#ifdef UNRAR_X86_SIMD
    if (size >= 64 && HaveClmul()) {
        const std::size_t folded = size & ~static_cast<std::size_t>(15);
        c = CrcClmul(p, folded, c);
        p += folded;
        size -= folded;
    }
#endif
    return ~CrcTable(p, size, c);
}

namespace {

constexpr std::uint32_t kIv[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                  0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};
constexpr std::uint8_t kSigma[10][16] = {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                                         {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
                                         {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4},
                                         {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
                                         {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13},
                                         {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
                                         {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11},
                                         {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
                                         {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5},
                                         {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0}};

// The words each of a round's eight mixings works on: the columns, then the
// diagonals of the 4x4 state.
constexpr std::uint8_t kMix[8][4] = {{0, 4, 8, 12},  {1, 5, 9, 13},  {2, 6, 10, 14}, {3, 7, 11, 15},
                                     {0, 5, 10, 15}, {1, 6, 11, 12}, {2, 7, 8, 13},  {3, 4, 9, 14}};

std::uint32_t Rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

std::uint32_t Le32At(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

Blake2s::Blake2s(const Node& node) : m_lastNode(node.lastNode) {
    // The parameter block: digest length 32, no key, then the tree's fields.
    std::uint8_t param[32] = {32, 0, node.fanout, node.depth};
    for (int i = 0; i < 6; ++i) {
        param[8 + i] = static_cast<std::uint8_t>(node.offset >> (8 * i));
    }
    param[14] = node.nodeDepth;
    param[15] = node.innerLength;
    for (int i = 0; i < 8; ++i) {
        m_h[i] = kIv[i] ^ Le32At(param + 4 * i);
    }
}

namespace {

// One block into the chain value `h`; `count` is the bytes hashed so far, this
// block included.
void CompressBlock(std::uint32_t h[8], const std::uint8_t* block, std::uint64_t count, bool last,
                   bool lastNode) {
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i) {
        m[i] = Le32At(block + 4 * i);
    }
    std::uint32_t v[16];
    for (int i = 0; i < 8; ++i) {
        v[i] = h[i];
        v[i + 8] = kIv[i];
    }
    v[12] ^= static_cast<std::uint32_t>(count);
    v[13] ^= static_cast<std::uint32_t>(count >> 32);
    if (last) {
        v[14] = ~v[14];
        if (lastNode) {
            v[15] = ~v[15];
        }
    }
    for (const auto& s : kSigma) {
        for (int k = 0; k < 8; ++k) {
            const std::uint8_t* g = kMix[k];
            std::uint32_t &a = v[g[0]], &b = v[g[1]], &c = v[g[2]], &d = v[g[3]];
            a = a + b + m[s[2 * k]];
            d = Rotr(d ^ a, 16);
            c = c + d;
            b = Rotr(b ^ c, 12);
            a = a + b + m[s[2 * k + 1]];
            d = Rotr(d ^ a, 8);
            c = c + d;
            b = Rotr(b ^ c, 7);
        }
    }
    for (int i = 0; i < 8; ++i) {
        h[i] ^= v[i] ^ v[i + 8];
    }
}

#ifdef UNRAR_X86_SIMD
#define UNRAR_AVX2_TARGET __attribute__((target("avx2")))

UNRAR_AVX2_TARGET inline __m256i Rotr16(__m256i x) {
    const __m256i k = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2, 3,
                                       0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
    return _mm256_shuffle_epi8(x, k);
}
UNRAR_AVX2_TARGET inline __m256i Rotr8(__m256i x) {
    const __m256i k = _mm256_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12, 1, 2,
                                       3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12);
    return _mm256_shuffle_epi8(x, k);
}
template <int n>
UNRAR_AVX2_TARGET inline __m256i Rotr(__m256i x) {
    return _mm256_or_si256(_mm256_srli_epi32(x, n), _mm256_slli_epi32(x, 32 - n));
}

// Eight leaves at once, one in each 32-bit lane: stripe after stripe, leaf i
// takes the stripe's block i.
UNRAR_AVX2_TARGET void StripesAvx2(std::uint32_t h[8][8], std::uint64_t count,
                                   const std::uint8_t* p, std::size_t stripes) {
    __m256i hv[8];
    for (int j = 0; j < 8; ++j) {
        hv[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h[j]));
    }
    const __m256i blockStarts = _mm256_setr_epi32(0, 16, 32, 48, 64, 80, 96, 112);  // in words
    for (std::size_t n = 0; n < stripes; ++n, p += 512) {
        count += 64;
        __m256i m[16];
        for (int i = 0; i < 16; ++i) {
            m[i] = _mm256_i32gather_epi32(reinterpret_cast<const int*>(p + 4 * i), blockStarts, 4);
        }
        __m256i v[16];
        for (int i = 0; i < 8; ++i) {
            v[i] = hv[i];
            v[i + 8] = _mm256_set1_epi32(static_cast<int>(kIv[i]));
        }
        v[12] = _mm256_set1_epi32(static_cast<int>(kIv[4] ^ static_cast<std::uint32_t>(count)));
        v[13] =
            _mm256_set1_epi32(static_cast<int>(kIv[5] ^ static_cast<std::uint32_t>(count >> 32)));
        for (const auto& s : kSigma) {
            for (int k = 0; k < 8; ++k) {
                const std::uint8_t* g = kMix[k];
                __m256i &a = v[g[0]], &b = v[g[1]], &c = v[g[2]], &d = v[g[3]];
                a = _mm256_add_epi32(_mm256_add_epi32(a, b), m[s[2 * k]]);
                d = Rotr16(_mm256_xor_si256(d, a));
                c = _mm256_add_epi32(c, d);
                b = Rotr<12>(_mm256_xor_si256(b, c));
                a = _mm256_add_epi32(_mm256_add_epi32(a, b), m[s[2 * k + 1]]);
                d = Rotr8(_mm256_xor_si256(d, a));
                c = _mm256_add_epi32(c, d);
                b = Rotr<7>(_mm256_xor_si256(b, c));
            }
        }
        for (int i = 0; i < 8; ++i) {
            hv[i] = _mm256_xor_si256(hv[i], _mm256_xor_si256(v[i], v[i + 8]));
        }
    }
    for (int j = 0; j < 8; ++j) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(h[j]), hv[j]);
    }
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

}  // namespace

void Blake2s::Compress(const std::uint8_t* block, bool last) {
    CompressBlock(m_h, block, m_count, last, m_lastNode);
}

// The last block is kept back until more data comes, since it is compressed
// with the final flag.
void Blake2s::Update(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        if (m_buffered == 64) {
            m_count += 64;
            Compress(m_buffer, false);
            m_buffered = 0;
        }
        if (m_buffered == 0) {
            for (; size > 64; size -= 64, data += 64) {
                m_count += 64;
                Compress(data, false);
            }
        }
        const std::size_t n = std::min(size, 64 - m_buffered);
        std::memcpy(m_buffer + m_buffered, data, n);
        m_buffered += n;
        data += n;
        size -= n;
    }
}

Blake2Digest Blake2s::Final() {
    m_count += m_buffered;
    std::memset(m_buffer + m_buffered, 0, 64 - m_buffered);
    Compress(m_buffer, true);
    Blake2Digest out;
    for (int i = 0; i < 8; ++i) {
        for (int k = 0; k < 4; ++k) {
            out[4 * i + k] = static_cast<std::uint8_t>(m_h[i] >> (8 * k));
        }
    }
    return out;
}

namespace {

Blake2s::Node TreeNode(std::uint64_t offset, std::uint8_t nodeDepth, bool lastNode) {
    Blake2s::Node n;
    n.fanout = 8;
    n.depth = 2;
    n.offset = offset;
    n.nodeDepth = nodeDepth;
    n.innerLength = 32;
    n.lastNode = lastNode;
    return n;
}

}  // namespace

Blake2sp::Blake2sp() : m_root(TreeNode(0, 1, true)) {
    for (std::size_t i = 0; i < kLeaves; ++i) {
        const Blake2s leaf(TreeNode(i, 0, i + 1 == kLeaves));
        for (int j = 0; j < 8; ++j) {
            m_h[j][i] = leaf.m_h[j];
        }
    }
}

void Blake2sp::Stripes(const std::uint8_t* p, std::size_t count) {
#ifdef UNRAR_X86_SIMD
    if (HaveAvx2()) {
        StripesAvx2(m_h, m_count, p, count);
        m_count += 64 * count;
        return;
    }
#endif
    for (std::size_t n = 0; n < count; ++n, p += kStripe) {
        m_count += 64;
        for (std::size_t i = 0; i < kLeaves; ++i) {
            std::uint32_t h[8];
            for (int j = 0; j < 8; ++j) {
                h[j] = m_h[j][i];
            }
            CompressBlock(h, p + 64 * i, m_count, false, false);
            for (int j = 0; j < 8; ++j) {
                m_h[j][i] = h[j];
            }
        }
    }
}

// Leaf i takes the 64-byte blocks i, i + 8, i + 16... of the data.
void Blake2sp::Update(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        if (m_buffered == 0 && size > kHeld) {
            const std::size_t count = (size - kHeld - 1) / kStripe + 1;
            Stripes(p, count);
            p += count * kStripe;
            size -= count * kStripe;
            continue;
        }
        const std::size_t n = std::min(size, sizeof(m_buffer) - m_buffered);
        std::memcpy(m_buffer + m_buffered, p, n);
        m_buffered += n;
        p += n;
        size -= n;
        if (m_buffered > kHeld) {
            Stripes(m_buffer, 1);
            m_buffered -= kStripe;
            std::memmove(m_buffer, m_buffer + kStripe, m_buffered);
        }
    }
}

Blake2Digest Blake2sp::Final() {
    for (std::size_t i = 0; i < kLeaves; ++i) {
        Blake2s leaf(TreeNode(i, 0, i + 1 == kLeaves));
        for (int j = 0; j < 8; ++j) {
            leaf.m_h[j] = m_h[j][i];
        }
        leaf.m_count = m_count;
        for (std::size_t at = 64 * i; at < m_buffered; at += kStripe) {
            leaf.Update(m_buffer + at, std::min<std::size_t>(64, m_buffered - at));
        }
        const Blake2Digest digest = leaf.Final();
        m_root.Update(digest.data(), digest.size());
    }
    return m_root.Final();
}

}  // namespace unrar

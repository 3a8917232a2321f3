#pragma once
// Checks an image against a DAT. One pass over the image gives its CRC-32, its
// SHA-1 and (when the DAT lists any) SHA-256, and where its trailing runs of
// 0x00 and 0xFF begin. A trimmed image matches an entry when, padded to the
// entry's size with 0xFF or 0x00, it gives the entry's checksums: the padded
// CRC follows from the image's CRC and the padding's length, and the padding is
// hashed from a block in memory, only for entries whose size and CRC match.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dat/dat.h"
#include "dat/hashes.h"

namespace parevo {

class InputFile;

struct ImageDigest {
    std::int64_t size = 0;
    std::uint32_t crc = 0;
    Sha1 sha1;
    std::optional<Sha256> sha256;
    std::string gameCode;  // the 4 characters at 0x00C, when the image has them
    // Where the bytes up to the end start to be all 0x00, and all 0xFF: `size`
    // when the last byte holds another value.
    std::int64_t zerosFrom = 0;
    std::int64_t onesFrom = 0;

    std::int64_t RunFrom(std::uint8_t value) const { return value == 0x00 ? zerosFrom : onesFrom; }
};

// Reads `image` once, front to back. SHA-256 runs on a second thread beside the
// rest. `keepAlive` is called between blocks; a set `stop` ends the pass early
// (the digest is then incomplete).
ImageDigest DigestImage(const InputFile& image, bool withSha256,
                        const std::function<void()>& keepAlive = {},
                        const std::atomic<bool>* stop = nullptr);

struct DatMatch {
    const DatEntry* entry = nullptr;
    std::optional<std::uint8_t> padByte;  // none: the image has the entry's size
};

struct Verdict {
    std::optional<DatMatch> match;
    // Without a match, the entries the image should have been: those whose size
    // and CRC matched but not their SHA, and those with the image's game code.
    std::vector<const DatEntry*> differsFrom;
};

Verdict VerifyDigest(const Dat& dat, const ImageDigest& digest);
// Digests `image` and verifies it.
Verdict VerifyImage(const Dat& dat, const InputFile& image,
                    const std::function<void()>& keepAlive = {});

// The lines that report a verdict: `verified: "<game>" (<size> bytes, padded
// with 0xFF)`, or `no match` and a `bad dump: differs from "<game>"` for each
// entry the image should have been. Names in the system's narrow encoding.
std::vector<std::string> VerdictLines(const Verdict& verdict);

}  // namespace parevo

#include "trim/trim_point.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/format.h"
#include "trim/rom_header.h"

namespace parevo {

namespace {

bool IsPadding(std::uint8_t b) {
    return b == 0x00 || b == 0xFF;
}

// Index of the last byte in [data, data + n) that is not padding, or -1.
std::int64_t LastDataIndex(const std::uint8_t* data, size_t n) {
    // A byte is 0x00 or 0xFF exactly when all its bits are equal, i.e. when it
    // agrees with itself shifted by one bit within the byte. Checking 64 bytes per
    // branch lets the compiler keep the loop in vector registers.
    constexpr std::uint64_t kLowSeven = 0x7F7F7F7F7F7F7F7FULL;
    constexpr size_t kChunk = 64;
    size_t end = n;
    while (end >= kChunk) {
        std::uint64_t words[kChunk / 8];
        std::memcpy(words, data + end - kChunk, kChunk);
        std::uint64_t mixed = 0;
        for (const std::uint64_t word : words) {
            mixed |= (word ^ (word >> 1)) & kLowSeven;
        }
        if (mixed != 0) {
            break;
        }
        end -= kChunk;
    }
    while (end > 0) {
        if (!IsPadding(data[end - 1])) {
            return static_cast<std::int64_t>(end - 1);
        }
        --end;
    }
    return -1;
}

// Serves the probes from blocks read backwards through the source, and checks
// every byte it brings in for the last byte of game data.
class BackwardReader {
  public:
    BackwardReader(const ByteSource& source, std::int64_t size, int byteJump)
        : m_source(source),
          m_size(size),
          m_lookahead(2 * static_cast<std::int64_t>(byteJump) + 1),
          m_buffer(kBlockSize),
          m_scannedFrom(size) {}

    std::uint8_t At(std::int64_t offset) {
        if (offset < m_start || offset >= m_end) {
            Load(offset);
        }
        return m_buffer[static_cast<size_t>(offset - m_start)];
    }

    bool DataFound() const { return m_dataEnd > 0; }
    std::int64_t DataEnd() const { return m_dataEnd; }

  private:
    static constexpr std::int64_t kBlockSize = 256 * 1024;

    void Load(std::int64_t offset) {
        // Reaching ahead by two jumps keeps consecutive blocks overlapping, so every
        // byte from the lowest probe to the end passes through the scan below.
        const std::int64_t end = std::min(m_size, offset + m_lookahead);
        const std::int64_t start = std::max<std::int64_t>(0, end - kBlockSize);
        const size_t want = static_cast<size_t>(end - start);
        if (m_source.ReadAt(start, m_buffer.data(), want) != want) {
            throw IoError("Cannot read \"" + m_source.Name() +
                          "\": the file got shorter while it was searched");
        }
        m_start = start;
        m_end = end;
        if (!DataFound() && start < m_scannedFrom) {
            const std::int64_t last = LastDataIndex(
                m_buffer.data(), static_cast<size_t>(std::min(end, m_scannedFrom) - start));
            if (last >= 0) {
                m_dataEnd = start + last + 1;
            }
            m_scannedFrom = start;
        }
    }

    const ByteSource& m_source;
    const std::int64_t m_size;
    const std::int64_t m_lookahead;
    std::vector<std::uint8_t> m_buffer;
    std::int64_t m_start = 0;
    std::int64_t m_end = 0;
    std::int64_t m_scannedFrom;
    std::int64_t m_dataEnd = 0;
};

// End of the data that a valid DS header declares, with the download-play
// signature block when it follows; 0 when the header is not valid.
std::int64_t DeclaredDataEnd(const ByteSource& source, std::int64_t size, bool& headerValid) {
    std::vector<std::uint8_t> bytes(sizeof(NdsHeader));
    bytes.resize(source.ReadAt(0, bytes.data(), bytes.size()));
    headerValid = HeaderCrcValid(bytes);
    if (!headerValid) {
        return 0;
    }
    const std::int64_t used = DeclaredUsedEnd(HeaderFromBytes(bytes), size);
    if (used == 0) {
        return 0;
    }
    char mark[2] = {};
    if (source.ReadAt(used, mark, 2) == 2 && mark[0] == 'a' && mark[1] == 'c') {
        return std::min(size, used + kSignatureBlockSize);
    }
    return used;
}

}  // namespace

FileByteSource::FileByteSource(const InputFile& file) : m_file(file), m_size(file.Size()) {}

size_t FileByteSource::ReadAt(std::int64_t offset, void* buffer, size_t count) const {
    return m_file.ReadAt(offset, buffer, count);
}

const std::string& FileByteSource::Name() const {
    return m_file.Path();
}

MemoryByteSource::MemoryByteSource(const void* data, size_t size, std::string name)
    : m_data(static_cast<const unsigned char*>(data)), m_size(size), m_name(std::move(name)) {}

size_t MemoryByteSource::ReadAt(std::int64_t offset, void* buffer, size_t count) const {
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= m_size) {
        return 0;
    }
    const size_t n = std::min(count, m_size - static_cast<size_t>(offset));
    std::memcpy(buffer, m_data + offset, n);
    return n;
}

std::int64_t TrimPoint::OutputLength() const {
    return std::max({KeepLength, DataEnd, DeclaredEnd});
}

std::string ReadRomTitle(const ByteSource& source) {
    // The title ends only at a 0x00 or 0xFF byte, however far that is; only its
    // first bytes are kept, so a file without one cannot fill the memory.
    constexpr size_t kKeptTitleBytes = 4096;
    std::string title;
    std::vector<char> block(64 * 1024);
    std::int64_t offset = 0;
    for (size_t want = kKeptTitleBytes;; want = block.size()) {
        const size_t got = source.ReadAt(offset, block.data(), want);
        if (got == 0) {
            throw IoError("Cannot read the title of \"" + source.Name() +
                          "\": read beyond the end of the file (no 0x00 or 0xFF byte)");
        }
        const auto end = block.begin() + static_cast<std::ptrdiff_t>(got);
        const auto stop = std::find_if(
            block.begin(), end, [](char c) { return IsPadding(static_cast<std::uint8_t>(c)); });
        const size_t room = kKeptTitleBytes - title.size();
        title.append(block.begin(),
                     block.begin() + std::min<std::ptrdiff_t>(stop - block.begin(), room));
        if (stop != end) {
            break;
        }
        offset += static_cast<std::int64_t>(got);
    }
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    const auto first = std::find_if_not(title.begin(), title.end(), blank);
    const auto last = std::find_if_not(title.rbegin(), title.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

TrimPoint FindTrimPoint(const InputFile& file, int byteJump, bool safeTrim,
                        const ProgressSink& progress, char decimalSeparator) {
    const FileByteSource source(file);
    return FindTrimPointIn(source, byteJump, safeTrim, progress, decimalSeparator);
}

TrimPoint FindTrimPoint(const std::string& path, int byteJump, bool safeTrim,
                        const ProgressSink& progress, char decimalSeparator) {
    const InputFile file(path);
    return FindTrimPoint(file, byteJump, safeTrim, progress, decimalSeparator);
}

TrimPoint FindTrimPointIn(const ByteSource& source, int byteJump, bool safeTrim,
                          const ProgressSink& progress, char decimalSeparator) {
    if (byteJump < kMinByteJump || byteJump > kMaxByteJump) {
        throw std::invalid_argument("byte jump out of range");
    }
    TrimPoint result;
    result.Title = ReadRomTitle(source);

    const std::int64_t size = source.Size();
    const std::int64_t jump = byteJump;
    const std::int64_t half = jump / 2;
    result.SourceSize = size;

    BackwardReader reader(source, size, byteJump);
    auto probe = [&](std::int64_t offset) {
        if (offset < 0) {
            throw IoError(
                Format("Cannot search \"%s\": a probe at offset %d lies before the start "
                       "of the file; no game data was found",
                       {source.Name(), static_cast<long long>(offset)}, decimalSeparator));
        }
        return reader.At(offset);
    };

    std::uint8_t e = 0;
    std::uint8_t f = 0;
    std::uint8_t g = 0;
    std::int64_t distance = jump;
    std::int64_t steps = 0;
    while (IsPadding(e) && IsPadding(f) && IsPadding(g)) {
        const std::int64_t p = size - distance;
        e = probe(p);
        f = probe(p - half);
        g = probe(p + half);
        if (steps % 100 == 0 && progress) {
            progress(Format("%d bytes jumped. sanity check: $%x $%x $%x",
                            {static_cast<long long>(distance), e, f, g}, decimalSeparator));
        }
        distance += jump;
        ++steps;
    }

    result.Steps = steps;
    result.Distance = distance;
    result.ProbeOffset = size - steps * jump;
    result.KeepLength = result.ProbeOffset + jump + (safeTrim ? kSafeTrimMargin : 0);
    result.DataEnd = reader.DataEnd();
    result.DeclaredEnd = DeclaredDataEnd(source, size, result.HeaderValid);
    return result;
}

}  // namespace parevo

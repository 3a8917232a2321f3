#include "trim/trim_point.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/format.h"
#include "trim/padding.h"
#include "trim/rom_header.h"

namespace parevo {

namespace {

// Serves the probes from blocks read backwards through the source and checks
// every byte it owns for game data (docs/how-a-trim-reads.md). Chunks that a
// ForwardScan's worker took are the worker's: one it found to be a single run
// of padding answers the probes without a read.
class BackwardReader {
  public:
    BackwardReader(const ByteSource& source, std::int64_t size, int byteJump,
                   const ScanLayout& layout, ForwardScan* front)
        : m_source(source),
          m_size(size),
          m_chunk(layout.chunk),
          m_piece(std::min(layout.piece, layout.chunk)),
          m_readAhead(layout.readAhead),
          m_lookahead(2 * static_cast<std::int64_t>(byteJump) + 1),
          m_front(front),
          m_buffer(static_cast<size_t>(m_piece + m_lookahead)),
          m_scannedFrom(size),
          m_ownedFrom(front ? (size + m_chunk - 1) / m_chunk : 0),
          m_readAheadFrom(size) {}

    std::uint8_t At(std::int64_t offset) {
        if (offset >= m_start && offset < m_end) {
            return m_buffer[static_cast<size_t>(offset - m_start)];
        }
        if (offset >= m_uniformStart && offset < m_uniformEnd) {
            return m_uniform;
        }
        Load(offset);
        return At(offset);
    }

    bool DataFound() const { return m_dataEnd > 0; }
    std::int64_t DataEnd() const { return m_dataEnd; }

    // Checks [from, what is checked already) from the top down, until game data.
    void ScanDownTo(std::int64_t from) {
        while (!DataFound() && m_scannedFrom > from) {
            Read(std::max(from, m_scannedFrom - m_piece), m_scannedFrom, true);
        }
    }

  private:
    void Load(std::int64_t offset) {
        const std::int64_t chunk = offset / m_chunk;
        // Below the worker's first chunk (a tail scan's) all is the search's.
        bool searchOwns = true;
        if (m_front && chunk >= m_front->FirstChunk()) {
            if (chunk < m_ownedFrom) {
                m_ownedFrom = m_front->ClaimFrom(chunk);
            }
            searchOwns = chunk >= m_ownedFrom;
        }
        // The piece of the chunk that holds `offset`. Reaching ahead by two jumps
        // keeps consecutive blocks overlapping, so every byte from the lowest
        // probe to the end passes through the check.
        const std::int64_t chunkStart = chunk * m_chunk;
        const std::int64_t start = chunkStart + (offset - chunkStart) / m_piece * m_piece;
        const std::int64_t end = std::min(m_size, start + m_piece + m_lookahead);
        if (searchOwns) {
            Read(start, end, true);
            return;
        }
        // The worker's chunk: it checks the bytes (and what lies between its
        // chunks and the search's is checked when the search ends). Kept beside
        // the block read last, so that probes on both sides of the edge between
        // the two read nothing.
        if (const std::optional<std::uint8_t> value = m_front->UniformValue(chunk)) {
            m_uniformStart = chunkStart;
            m_uniformEnd = std::min(m_size, chunkStart + m_chunk);
            m_uniform = *value;
            return;
        }
        Read(start, end, false);
    }

    // Reads the block [start, end) and, with `scan`, checks what is not checked
    // yet.
    void Read(std::int64_t start, std::int64_t end, bool scan) {
        const size_t want = static_cast<size_t>(end - start);
        size_t got = m_cold ? 0 : m_source.ReadCachedAt(start, m_buffer.data(), want);
        if (got < want) {
            m_cold = true;
            ReadAhead(start / m_chunk);
            got += m_source.ReadAt(start + static_cast<std::int64_t>(got), m_buffer.data() + got,
                                   want - got);
        }
        if (got != want) {
            m_start = m_end = 0;
            throw IoError("Cannot read \"" + m_source.Name() +
                          "\": the file got shorter while it was searched");
        }
        m_start = start;
        m_end = end;
        if (!scan || DataFound() || start >= m_scannedFrom) {
            return;
        }
        const std::int64_t last = LastDataIndex(
            m_buffer.data(), static_cast<size_t>(std::min(end, m_scannedFrom) - start));
        m_scannedFrom = start;
        if (last >= 0) {
            m_dataEnd = start + last + 1;
            if (m_front) {
                m_front->KeptUpTo(m_dataEnd);
            }
        }
    }

    // Asks for `chunk` and the chunks below it before they are wanted.
    void ReadAhead(std::int64_t chunk) {
        const std::int64_t from = std::max<std::int64_t>(0, (chunk - m_readAhead) * m_chunk);
        const std::int64_t to =
            std::min({m_readAheadFrom, m_size, (chunk + 1) * m_chunk + m_lookahead});
        if (from < to) {
            m_source.Prefetch(from, to - from);
        }
        m_readAheadFrom = std::min(m_readAheadFrom, from);
    }

    const ByteSource& m_source;
    const std::int64_t m_size;
    const std::int64_t m_chunk;
    const std::int64_t m_piece;
    const std::int64_t m_readAhead;
    const std::int64_t m_lookahead;
    ForwardScan* const m_front;
    std::vector<std::uint8_t> m_buffer;
    std::int64_t m_start = 0;  // the block read last
    std::int64_t m_end = 0;
    std::int64_t m_uniformStart = 0;  // a chunk of the worker's, not read:
    std::int64_t m_uniformEnd = 0;    // every byte holds m_uniform
    std::uint8_t m_uniform = 0;
    std::int64_t m_scannedFrom;    // the search checked [m_scannedFrom, size)
    std::int64_t m_ownedFrom;      // the search's chunks: from here up
    std::int64_t m_readAheadFrom;  // asked for ahead: from here up
    bool m_cold = false;           // a read found bytes not in the system's cache
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
    const NdsHeader header = HeaderFromBytes(bytes);
    const std::int64_t used = DeclaredUsedEnd(header, size);
    if (used == 0) {
        return 0;
    }
    // The download-play signature follows the DS area, whatever the DSi area
    // declares; both are kept whole.
    const std::int64_t dsEnd = header.TotalUsedRomSize();
    char mark[2] = {};
    if (dsEnd > 0 && dsEnd <= size && source.ReadAt(dsEnd, mark, 2) == 2 && mark[0] == 'a' &&
        mark[1] == 'c') {
        return std::max(used, std::min(size, dsEnd + kSignatureBlockSize));
    }
    return used;
}

}  // namespace

std::int64_t DeclaredDataEnd(const ByteSource& source) {
    bool headerValid = false;
    return DeclaredDataEnd(source, source.Size(), headerValid);
}

FileByteSource::FileByteSource(const InputFile& file, bool hints)
    : m_file(file), m_size(file.Size()), m_hints(hints) {}

size_t FileByteSource::ReadAt(std::int64_t offset, void* buffer, size_t count) const {
    return m_file.ReadAt(offset, buffer, count);
}

const std::string& FileByteSource::Name() const {
    return m_file.Path();
}

size_t FileByteSource::ReadCachedAt(std::int64_t offset, void* buffer, size_t count) const {
    return m_file.ReadCachedAt(offset, buffer, count);
}

void FileByteSource::Prefetch(std::int64_t offset, std::int64_t count) const {
    if (m_hints) {
        m_file.Prefetch(offset, count);
    }
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
    // Never longer than the source: a second trim of a trimmed image keeps it
    // as it is rather than adding the safe-trim margin again.
    return std::min(SourceSize, std::max({KeepLength, DataEnd, DeclaredEnd}));
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

TrimPoint FindTrimPointIn(const ByteSource& source, int byteJump, bool safeTrim,
                          const ProgressSink& progress, char decimalSeparator, ForwardScan* front,
                          ScanLayout layout) {
    if (byteJump < kMinByteJump || byteJump > kMaxByteJump) {
        throw std::invalid_argument("byte jump out of range");
    }
    TrimPoint result;
    result.Title = ReadRomTitle(source);

    const std::int64_t size = source.Size();
    const std::int64_t jump = byteJump;
    const std::int64_t half = jump / 2;
    result.SourceSize = size;

    // A tail scan that stopped short (a read failed) is no help: the search
    // goes alone and meets the failure itself.
    if (front && front->IsTail() && !front->WaitForAll()) {
        front = nullptr;
    }
    if (front) {
        layout = front->Layout();
    }
    BackwardReader reader(source, size, byteJump, layout, front);
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
    if (front) {
        // Each cursor checked its own bytes, and the later game data counts.
        // When the search found none, the probe that met game data lies among
        // the worker's chunks; the bytes between the two (chunks the search
        // passed over, one the worker is still on or failed at), the search
        // checks itself.
        const ForwardScan::Checked checked = front->StopChecking();
        if (!reader.DataFound()) {
            reader.ScanDownTo(checked.end);
        }
        result.DataEnd = std::max(reader.DataEnd(), checked.dataEnd);
    } else {
        result.DataEnd = reader.DataEnd();
    }
    result.DeclaredEnd = DeclaredDataEnd(source, size, result.HeaderValid);
    return result;
}

}  // namespace parevo

#include "trim/forward_scan.h"

#include <algorithm>
#include <chrono>

#include "platform/errors.h"
#include "trim/padding.h"
#include "trim/trim_point.h"

namespace parevo {

namespace {

constexpr std::uint8_t kNotUniform = 0;
constexpr std::uint8_t kAllZero = 1;
constexpr std::uint8_t kAllFf = 2;

// The last page of a chunk: where a chunk of game data shows that it is one.
constexpr std::int64_t kPage = 4096;

}  // namespace

ForwardScan::ForwardScan(const ByteSource& source, Writer write, ScanLayout layout,
                         KeepAlive keepAlive)
    : ForwardScan(source, std::move(write), layout, std::move(keepAlive), false, 0) {}

ForwardScan::ForwardScan(const ByteSource& source, Tail tail, ScanLayout layout,
                         KeepAlive keepAlive)
    : ForwardScan(source, nullptr, layout, std::move(keepAlive), true, tail.from) {}

ForwardScan::ForwardScan(const ByteSource& source, Writer write, ScanLayout layout,
                         KeepAlive keepAlive, bool tail, std::int64_t from)
    : m_source(source),
      m_write(std::move(write)),
      m_keepAlive(std::move(keepAlive)),
      m_layout(layout),
      m_size(source.Size()),
      m_chunks((m_size + layout.chunk - 1) / layout.chunk),
      m_tail(tail),
      m_firstChunk(std::clamp<std::int64_t>(from / layout.chunk, 0, m_chunks)),
      m_buffer(static_cast<size_t>(std::max(kPage, std::min(layout.piece, layout.chunk)))),
      m_nextFront(m_firstChunk),
      // The search's first probes lie within two of the largest jumps of the end;
      // a tail scan takes those too.
      m_backFrom(tail ? m_chunks
                      : std::max<std::int64_t>(0, m_size - 2 * kMaxByteJump) / layout.chunk),
      m_checked(m_firstChunk),
      m_uniform(static_cast<size_t>(m_chunks), kNotUniform),
      m_thread([this] { Run(); }) {}

ForwardScan::~ForwardScan() {
    {
        std::unique_lock lock(m_mutex);
        m_stop = true;
        m_changed.notify_all();
        try {
            WaitFor(lock, [] { return false; });
        } catch (...) {
            // A keep-alive that throws is not called again; the wait goes on.
            m_keepAlive = nullptr;
            if (!lock.owns_lock()) {
                lock.lock();
            }
            m_changed.wait(lock, [this] { return m_done; });
        }
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::int64_t ForwardScan::ClaimFrom(std::int64_t chunk) {
    const std::lock_guard lock(m_mutex);
    if (chunk < m_backFrom) {
        m_backFrom = std::max(chunk, m_nextFront);
    }
    return m_backFrom;
}

std::optional<std::uint8_t> ForwardScan::UniformValue(std::int64_t chunk) {
    const std::lock_guard lock(m_mutex);
    if (chunk < 0 || chunk >= m_checked) {
        return std::nullopt;
    }
    switch (m_uniform[static_cast<size_t>(chunk)]) {
        case kAllZero:
            return std::uint8_t{0x00};
        case kAllFf:
            return std::uint8_t{0xFF};
        default:
            return std::nullopt;
    }
}

void ForwardScan::KeptUpTo(std::int64_t end) {
    {
        const std::lock_guard lock(m_mutex);
        m_keptEnd = std::max(m_keptEnd, std::min(end, m_size));
        m_stopChecking = true;
    }
    m_changed.notify_all();
}

ForwardScan::Checked ForwardScan::StopChecking() {
    const std::lock_guard lock(m_mutex);
    m_stopChecking = true;
    return {std::min(m_size, m_checked * m_layout.chunk), m_dataEnd};
}

template <class Done>
void ForwardScan::WaitFor(std::unique_lock<std::mutex>& lock, Done done) {
    constexpr std::chrono::milliseconds kSlice{50};
    while (!m_changed.wait_for(lock, kSlice, [&] { return m_done || done(); })) {
        if (m_keepAlive) {
            lock.unlock();
            m_keepAlive();
            lock.lock();
        }
    }
}

bool ForwardScan::WaitForAll() {
    std::unique_lock lock(m_mutex);
    const auto all = [this] { return m_checked == m_backFrom; };
    WaitFor(lock, all);
    return all();
}

std::int64_t ForwardScan::Finish() {
    std::unique_lock lock(m_mutex);
    m_stopChecking = true;
    m_finishing = true;
    m_changed.notify_all();
    WaitFor(lock, [] { return false; });
    const std::int64_t written = m_written;
    lock.unlock();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return written;
}

void ForwardScan::Run() {
    std::unique_lock lock(m_mutex);
    try {
        Work(lock);
    } catch (...) {
        // Whatever went wrong (a read, a write, memory), the worker stops where
        // it is; the search and the pipeline do the rest themselves and meet the
        // error where they always did, with the texts they always gave.
        if (!lock.owns_lock()) {
            lock.lock();
        }
    }
    m_done = true;
    m_changed.notify_all();
}

void ForwardScan::Work(std::unique_lock<std::mutex>& lock) {
    // Copies stop between steps, so that a stop is never far off.
    const std::int64_t copyStep = m_layout.chunk * std::max<std::int64_t>(1, m_layout.readAhead);
    for (;;) {
        if (m_stop) {
            return;
        }
        if (m_keptEnd > m_written) {
            const std::int64_t from = m_written;
            const std::int64_t to = std::min(m_keptEnd, from + copyStep);
            lock.unlock();
            Write(from, to);
            lock.lock();
            m_written = to;
            continue;
        }
        if (!m_stopChecking && m_nextFront < m_backFrom) {
            const std::int64_t chunk = m_nextFront++;
            std::int64_t written = m_written;
            lock.unlock();
            // In game data the chunk is copied before it is checked, so that the
            // copy reads the image in order and the check finds the chunk in the
            // cache. A chunk that turns out to end in padding was copied in
            // vain: the output takes the kept length before it takes its name.
            if (m_inData) {
                const std::int64_t end = std::min(m_size, (chunk + 1) * m_layout.chunk);
                Write(written, end);
                written = end;
            }
            const ChunkResult result = CheckChunk(chunk);
            if (result.dataEnd > written) {
                Write(written, result.dataEnd);
                written = result.dataEnd;
            }
            m_inData = result.endsInData;
            lock.lock();
            m_written = written;
            m_dataEnd = std::max(m_dataEnd, result.dataEnd);
            if (result.uniform) {
                m_uniform[static_cast<size_t>(chunk)] = *result.uniform == 0 ? kAllZero : kAllFf;
            }
            m_checked = chunk + 1;
            if (m_checked == m_backFrom) {
                m_changed.notify_all();  // a WaitForAll
            }
            continue;
        }
        if (m_finishing) {
            return;
        }
        m_changed.wait(lock);
    }
}

ForwardScan::ChunkResult ForwardScan::CheckChunk(std::int64_t chunk) {
    const std::int64_t from = chunk * m_layout.chunk;
    const std::int64_t end = std::min(m_size, from + m_layout.chunk);
    ReadAhead(from);
    auto read = [&](std::int64_t at, std::int64_t to) {
        const size_t want = static_cast<size_t>(to - at);
        if (m_source.ReadAt(at, m_buffer.data(), want) != want) {
            throw IoError("Cannot read \"" + m_source.Name() + "\": the file got shorter");
        }
        return m_buffer.data();
    };
    const std::int64_t tail = std::max(from, end - kPage);
    ChunkResult result;
    std::int64_t stop = end;
    bool seeded = false;  // result.uniform holds what the bytes read so far share
    if (m_write) {
        // A chunk that ends in game data is kept up to there: its last page is
        // all that needs reading here, and the copy reads the rest inside the
        // kernel. A tail scan copies nothing, and reads in order only, which
        // the system's read-ahead follows.
        const std::uint8_t* bytes = read(tail, end);
        if (const std::int64_t last = LastDataIndex(bytes, static_cast<size_t>(end - tail));
            last >= 0) {
            return {tail + last + 1, std::nullopt, true};
        }
        result.uniform = CommonByte(bytes, static_cast<size_t>(end - tail));
        seeded = true;
        stop = tail;
    }
    // Every byte, piece by piece in order, each checked right after its read.
    for (std::int64_t at = from; at < stop;) {
        const std::int64_t to = std::min(stop, at + m_layout.piece);
        const std::uint8_t* bytes = read(at, to);
        const size_t n = static_cast<size_t>(to - at);
        if (const std::int64_t last = LastDataIndex(bytes, n); last >= 0) {
            result.dataEnd = at + last + 1;
            result.uniform.reset();
        } else if (!seeded) {
            result.uniform = CommonByte(bytes, n);
        } else if (result.uniform && CommonByte(bytes, n) != result.uniform) {
            result.uniform.reset();
        }
        seeded = true;
        at = to;
    }
    result.endsInData = result.dataEnd > tail;
    return result;
}

void ForwardScan::ReadAhead(std::int64_t position) {
    const std::int64_t to = std::min(m_size, position + m_layout.readAhead * m_layout.chunk);
    if (to > m_readAheadTo) {
        const std::int64_t from = std::max(position, m_readAheadTo);
        m_source.Prefetch(from, to - from);
        m_readAheadTo = to;
    }
}

void ForwardScan::Write(std::int64_t from, std::int64_t to) {
    if (!m_write) {
        return;  // a tail scan
    }
    ReadAhead(from);
    m_write(from, to - from);
}

}  // namespace parevo

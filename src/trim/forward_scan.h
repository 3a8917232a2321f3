#pragma once
// The second cursor of the trim-point search: a worker thread that reads the
// image forwards while the search reads it backwards, so each byte is read
// once, in large reads in order. From the start of the image it checks chunks
// for game data and copies what is certainly kept into the output; for a cut in
// place it makes a tail scan instead, checking the chunks from the end the
// header declares. It touches only the image, its chunk table and its writer.
// docs/how-a-trim-reads.md tells how the two cursors share the work.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace parevo {

class ByteSource;

// How the image is cut for the two cursors. Tests choose small chunks.
struct ScanLayout {
    // What the cursors take and the system is asked for at a time: large enough
    // for the disk.
    std::int64_t chunk = 1 << 20;
    // The most read at once: small enough that a piece is still in the
    // processor's cache when it is checked right after its read.
    std::int64_t piece = 256 << 10;
    // Chunks the search asks the system to read ahead of it.
    std::int64_t readAhead = 8;
};

class ForwardScan {
  public:
    // Copies the bytes [from, from + count) of the image into the output, at the
    // same offsets; runs on the worker thread. Throws on failure.
    using Writer = std::function<void(std::int64_t from, std::int64_t count)>;

    // Called on the owner's thread now and then while it waits for the worker
    // (a window handles its events there), also when the scan is destroyed.
    using KeepAlive = std::function<void()>;

    // Starts the worker. The last chunks (those the search's first probes read)
    // belong to the search from the start.
    ForwardScan(const ByteSource& source, Writer write, ScanLayout layout = {},
                KeepAlive keepAlive = {});
    // Starts a tail scan from the chunk that holds `from`: no writer, every
    // chunk from there on is the worker's, and the search waits for them all
    // (the search itself calls WaitForAll; a caller may first wait its own way).
    struct Tail {
        std::int64_t from;
    };
    ForwardScan(const ByteSource& source, Tail tail, ScanLayout layout = {},
                KeepAlive keepAlive = {});
    // Stops the worker after the step it is in, and waits for it, keeping the
    // owner alive meanwhile: a step on a slow disk may take seconds.
    ~ForwardScan();
    ForwardScan(const ForwardScan&) = delete;
    ForwardScan& operator=(const ForwardScan&) = delete;

    const ScanLayout& Layout() const { return m_layout; }
    bool IsTail() const { return m_tail; }
    // Chunks below this one are the search's alone.
    std::int64_t FirstChunk() const { return m_firstChunk; }

    // Waits until the worker has checked every chunk it may take, keeping the
    // owner alive every few frames. False when the worker stopped short (a read
    // failed): then the search must do without it.
    bool WaitForAll();

    // The search's side (the caller's thread).

    // Gives the chunks from `chunk` up to the search, as far as the worker has not
    // taken them; returns the lowest chunk the search now owns.
    std::int64_t ClaimFrom(std::int64_t chunk);
    // The value of every byte of `chunk`, when the worker checked it and found one
    // run of 0x00 or one of 0xFF: the search's probes there need no read.
    std::optional<std::uint8_t> UniformValue(std::int64_t chunk);
    // Every byte below `end` is kept: the worker checks no further chunks and
    // copies up to `end`.
    void KeptUpTo(std::int64_t end);

    struct Checked {
        std::int64_t end = 0;      // the worker checked from its first chunk up to here
        std::int64_t dataEnd = 0;  // one past the last game data byte in it; 0: none
    };
    // Takes no further chunks, and says what the worker has checked: a chunk it
    // is still on, or failed at, is not counted.
    Checked StopChecking();

    // The pipeline's side: waits until the worker has copied everything below
    // the KeptUpTo end, or has failed, and stops it. Returns the length of the
    // prefix the output holds, which may pass the kept length; the caller
    // copies the rest (after a failure, the caller's own copy meets the error
    // again and reports it as ever) and sets the length. While it waits, it
    // keeps the owner alive every few frames.
    std::int64_t Finish();

  private:
    ForwardScan(const ByteSource& source, Writer write, ScanLayout layout, KeepAlive keepAlive,
                bool tail, std::int64_t from);

    struct ChunkResult {
        std::int64_t dataEnd = 0;
        std::optional<std::uint8_t> uniform;
        bool endsInData = false;  // game data in the last page: the next chunk likely holds more
    };
    void Run();
    void Work(std::unique_lock<std::mutex>& lock);
    ChunkResult CheckChunk(std::int64_t chunk);
    void ReadAhead(std::int64_t chunk);
    void Write(std::int64_t from, std::int64_t to);
    // Waits until `done` (called with the mutex held) or the worker has returned.
    template <class Done>
    void WaitFor(std::unique_lock<std::mutex>& lock, Done done);

    const ByteSource& m_source;
    const Writer m_write;  // none: a tail scan
    KeepAlive m_keepAlive;
    const ScanLayout m_layout;
    const std::int64_t m_size;
    const std::int64_t m_chunks;
    const bool m_tail;
    const std::int64_t m_firstChunk;
    std::vector<std::uint8_t> m_buffer;  // the worker's
    std::int64_t m_readAheadTo = 0;      // the worker's
    bool m_inData = true;                // the worker's: an image starts with its header

    std::mutex m_mutex;
    std::condition_variable m_changed;  // the worker waits on it for work
    // Guarded by m_mutex.
    std::int64_t m_nextFront;             // the next chunk the worker takes
    std::int64_t m_backFrom;              // chunks from here up are the search's
    std::int64_t m_checked;               // the worker has checked [m_firstChunk, m_checked)
    std::int64_t m_dataEnd = 0;           // one past the last game data in them
    std::int64_t m_written = 0;           // the output holds [0, m_written)
    std::int64_t m_keptEnd = 0;           // every byte below is kept (KeptUpTo)
    std::vector<std::uint8_t> m_uniform;  // per checked chunk: kNotUniform, kAllZero, kAllFf
    bool m_stopChecking = false;
    bool m_finishing = false;
    bool m_stop = false;
    bool m_done = false;  // the worker has returned

    std::thread m_thread;  // last: it starts once everything above is set
};

}  // namespace parevo

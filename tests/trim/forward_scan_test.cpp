// The worker that reads an image from the start while the search reads it from
// the end: where the two meet, what happens when the worker fails there, when
// its writes fail, when the search fails while it runs, and how much of the
// image the two read together.
#include "trim/forward_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "support/search_reference.h"
#include "trim/trim_point.h"

namespace parevo {
namespace {

using test::Build;
using test::Image;
using test::Outcome;
using test::PlainSearch;
using test::Shape;

// Reads an image from memory, telling the search's reads (the thread that made
// the source) from the worker's.
class TestSource : public ByteSource {
  public:
    explicit TestSource(const Image& image) : m_image(image) {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(m_image.size()); }
    const std::string& Name() const override { return m_name; }
    size_t ReadAt(std::int64_t offset, void* buffer, size_t count) const override {
        const bool search = std::this_thread::get_id() == m_search;
        (search ? m_searchBytes : m_workerBytes) += count;
        return Read(offset, buffer, count, search);
    }
    std::int64_t SearchBytes() const { return m_searchBytes; }
    std::int64_t WorkerBytes() const { return m_workerBytes; }

  protected:
    virtual size_t Read(std::int64_t offset, void* buffer, size_t count, bool /*search*/) const {
        return Copy(offset, buffer, count);
    }
    size_t Copy(std::int64_t offset, void* buffer, size_t count) const {
        if (offset >= Size()) {
            return 0;
        }
        const size_t n = std::min(count, static_cast<size_t>(Size() - offset));
        std::memcpy(buffer, m_image.data() + offset, n);
        return n;
    }

  private:
    const Image& m_image;
    const std::string m_name = "rom.nds";
    const std::thread::id m_search = std::this_thread::get_id();
    mutable std::atomic<std::int64_t> m_searchBytes = 0;
    mutable std::atomic<std::int64_t> m_workerBytes = 0;
};

enum class AtGate { Wait, Throw, Short };

// Decides where the worker meets the search: the search starts reading only
// once the worker has reached the gate (a chunk); there the worker waits until
// the search reads at or below the gate, or its read fails.
class MeetingSource final : public TestSource {
  public:
    MeetingSource(const Image& image, std::int64_t gateFrom, std::int64_t gateTo, AtGate what)
        : TestSource(image), m_gateFrom(gateFrom), m_gateTo(gateTo), m_what(what) {}
    bool TimedOut() const { return m_timedOut; }

  private:
    // Below this the search reads the title and the header: no meeting there.
    static constexpr std::int64_t kHead = 4096;

    size_t Read(std::int64_t offset, void* buffer, size_t count, bool search) const override {
        std::unique_lock lock(m_mutex);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        if (search) {
            if (!m_changed.wait_until(lock, deadline, [this] { return m_arrived; })) {
                m_timedOut = true;
            }
            if (offset >= kHead && offset < m_gateTo) {
                m_released = true;
                m_changed.notify_all();
            }
        } else if (offset < m_gateTo && offset + static_cast<std::int64_t>(count) > m_gateFrom) {
            m_arrived = true;
            m_changed.notify_all();
            switch (m_what) {
                case AtGate::Throw:
                    throw IoError("Cannot read \"rom.nds\": a bad sector");
                case AtGate::Short:
                    lock.unlock();
                    return Copy(offset, buffer, static_cast<size_t>(m_gateFrom - offset));
                case AtGate::Wait:
                    if (!m_changed.wait_until(lock, deadline, [this] { return m_released; })) {
                        m_timedOut = true;
                    }
                    break;
            }
        }
        lock.unlock();
        return Copy(offset, buffer, count);
    }

    const std::int64_t m_gateFrom;
    const std::int64_t m_gateTo;
    const AtGate m_what;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    mutable bool m_arrived = false;
    mutable bool m_released = false;
    mutable bool m_timedOut = false;
};

// The search with a worker, as the pipeline runs them: the output the worker
// wrote, completed by the caller from where the worker stopped.
struct Searched {
    Outcome outcome;
    Image output;
    std::int64_t written = 0;  // by the worker
};

Searched SearchWithFront(const ByteSource& source, const Image& image, int jump,
                         const ScanLayout& layout, const ForwardScan::Writer& failWhen = nullptr,
                         const std::function<void()>& keepAlive = nullptr) {
    Searched s;
    const ProgressSink sink = [&s](const std::string& text) { s.outcome.progress.push_back(text); };
    try {
        ForwardScan front(
            source,
            [&](std::int64_t from, std::int64_t count) {
                if (failWhen) {
                    failWhen(from, count);
                }
                s.output.resize(static_cast<size_t>(from));  // what a failed write left
                s.output.insert(s.output.end(), image.begin() + from, image.begin() + from + count);
            },
            layout, keepAlive);
        s.outcome.point = FindTrimPointIn(source, jump, false, sink, '.', &front);
        const std::int64_t kept =
            std::min(s.outcome.point.OutputLength(), s.outcome.point.SourceSize);
        front.KeptUpTo(kept);
        s.written = front.Finish();
        // As the pipeline does: the rest copied, the length set.
        s.output.resize(static_cast<size_t>(s.written));
        s.output.insert(s.output.end(), image.begin() + std::min(s.written, kept),
                        image.begin() + kept);
        s.output.resize(static_cast<size_t>(kept));
    } catch (const IoError& e) {
        s.outcome.failed = true;
        s.outcome.error = e.what();
    }
    return s;
}

void ExpectSameAsPlain(const Searched& s, const Image& image, int jump) {
    const Outcome plain = PlainSearch(image, jump, false);
    ASSERT_FALSE(s.outcome.failed) << s.outcome.error;
    EXPECT_EQ(s.outcome.point.Steps, plain.point.Steps);
    EXPECT_EQ(s.outcome.point.KeepLength, plain.point.KeepLength);
    EXPECT_EQ(s.outcome.point.DataEnd, plain.point.DataEnd);
    EXPECT_EQ(s.outcome.progress, plain.progress);
    const auto kept =
        static_cast<size_t>(std::min(plain.point.OutputLength(), plain.point.SourceSize));
    EXPECT_TRUE(s.output == Image(image.begin(), image.begin() + kept));
}

// Where the worker stops: a chunk a few below the first probe of step 11, with
// chunks of 64 bytes and jumps of 2000, so that the search passes over the
// chunks between its last own block and the gate without probing them.
constexpr std::int64_t kSize = 200000;
constexpr std::int64_t kChunk = 64;
constexpr int kJump = 2000;
constexpr std::int64_t kFirstProbeOfStep11 = kSize - 12 * kJump;
constexpr std::int64_t kGate = kFirstProbeOfStep11 / kChunk + 2;

struct MeetingCase {
    const char* name;
    AtGate what;
    std::int64_t stray;  // a data byte no probe reads; 0: none
};

const MeetingCase kMeetings[] = {
    // The search owns the chunks above the gate it never probed: it checks them.
    {"WorkerWaitsStrayInTheSearchsChunks", AtGate::Wait, (kGate + 1) * kChunk + 3},
    // The worker checks the gate chunk after the search has reached it.
    {"WorkerWaitsStrayInTheGateChunk", AtGate::Wait, kGate* kChunk + 5},
    {"WorkerWaitsNoStray", AtGate::Wait, 0},
    // A worker whose read fails leaves its chunk to the search.
    {"WorkerReadFailsStrayInItsChunk", AtGate::Throw, kGate* kChunk + 5},
    {"WorkerReadFailsNoStray", AtGate::Throw, 0},
    {"WorkerReadShortStrayInItsChunk", AtGate::Short, kGate* kChunk + 5},
    {"WorkerReadShortStrayAboveIt", AtGate::Short, (kGate + 1) * kChunk + 3},
};

class ForwardScanMeetingTest : public ::testing::TestWithParam<MeetingCase> {};

TEST_P(ForwardScanMeetingTest, TheResultIsThePlainSearchs) {
    const MeetingCase& c = GetParam();
    Shape shape{"meeting", kSize, 20000};
    if (c.stray != 0) {
        shape.strays.push_back(c.stray);
    }
    std::mt19937 random(7);
    const Image image = Build(shape, random);
    MeetingSource source(image, kGate * kChunk, (kGate + 1) * kChunk, c.what);
    const Searched s =
        SearchWithFront(source, image, kJump, {.chunk = kChunk, .piece = kChunk, .readAhead = 2});
    EXPECT_FALSE(source.TimedOut());
    ExpectSameAsPlain(s, image, kJump);
    if (c.stray != 0) {
        EXPECT_EQ(s.outcome.point.DataEnd, c.stray + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Meetings, ForwardScanMeetingTest, ::testing::ValuesIn(kMeetings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ForwardScan, AChunkAnswersForItsProbesOnlyWhenAllOfItIsOneRun) {
    // Runs of 0x00 and 0xFF longer than a page: a chunk's last page may be one
    // run while the chunk holds both. The worker checks all but the last chunks
    // before the search starts, so the search's probes (and the status texts of
    // every hundredth, at jumps of 2) take the values the worker found.
    std::mt19937 random(11);
    const std::int64_t chunk = 65536;
    const Image image =
        Build({"long runs", 40 * chunk, 3 * chunk + 77, test::Padding::LongRuns}, random);
    MeetingSource source(image, 38 * chunk, 39 * chunk, AtGate::Wait);
    const Searched s =
        SearchWithFront(source, image, 2, {.chunk = chunk, .piece = 10000, .readAhead = 2});
    EXPECT_FALSE(source.TimedOut());
    ExpectSameAsPlain(s, image, 2);
}

TEST(ForwardScan, AFailedWriteLeavesTheRestToTheCaller) {
    // A full disk, say: the worker stops, the search goes on, and the caller's
    // own copy from where the worker stopped meets the error again.
    std::mt19937 random(3);
    const Image image = Build({"failing writes", 300000, 150000}, random);
    for (const std::int64_t failAt : {std::int64_t{0}, std::int64_t{1}, std::int64_t{70000}}) {
        SCOPED_TRACE(failAt);
        const TestSource source(image);
        const Searched s =
            SearchWithFront(source, image, 500, {.chunk = 4096, .piece = 1000, .readAhead = 2},
                            [failAt](std::int64_t from, std::int64_t count) {
                                if (from + count > failAt) {
                                    throw IoError("Cannot write \"out\": disk full");
                                }
                            });
        ExpectSameAsPlain(s, image, 500);
        EXPECT_LE(s.written, failAt);
    }
}

TEST(ForwardScan, WhileTheCallerWaitsForTheWorkerItKeepsItsWindowAlive) {
    // A slow disk: the worker's copy is not done when the search ends, and the
    // caller (a window's thread) still handles its events while it waits. Here
    // the worker's first write waits for the caller's first keep-alive call.
    std::mt19937 random(7);
    const Image image = Build({"slow copy", 300000, 250000}, random);
    const TestSource source(image);
    std::mutex mutex;
    std::condition_variable keptAlive;
    std::vector<std::thread::id> keepAlives;
    bool timedOut = false;
    const Searched s = SearchWithFront(
        source, image, 500, {.chunk = 4096, .piece = 1000, .readAhead = 2},
        [&](std::int64_t, std::int64_t) {
            std::unique_lock lock(mutex);
            // Once it has waited in vain, it waits no more: the test fails, not hangs.
            timedOut = timedOut || !keptAlive.wait_for(lock, std::chrono::seconds(30),
                                                       [&] { return !keepAlives.empty(); });
        },
        [&] {
            const std::lock_guard lock(mutex);
            keepAlives.push_back(std::this_thread::get_id());
            keptAlive.notify_all();
        });
    EXPECT_FALSE(timedOut);
    ASSERT_FALSE(keepAlives.empty());
    EXPECT_EQ(std::count(keepAlives.begin(), keepAlives.end(), std::this_thread::get_id()),
              static_cast<std::ptrdiff_t>(keepAlives.size()));
    EXPECT_GT(s.written, 0);
    ExpectSameAsPlain(s, image, 500);
}

TEST(ForwardScan, OneDestroyedMidWriteKeepsItsOwnerAliveUntilItsWorkerStops) {
    // The pipeline failed while the worker is in a write on a slow disk: the
    // scan goes without Finish, and its owner (a window) stays alive meanwhile.
    std::mt19937 random(11);
    const Image image = Build({"slow write", 300000, 250000}, random);
    const TestSource source(image);
    std::mutex mutex;
    std::condition_variable changed;
    bool writing = false;
    bool timedOut = false;
    std::vector<std::thread::id> keepAlives;
    {
        ForwardScan front(
            source,
            [&](std::int64_t, std::int64_t) {
                std::unique_lock lock(mutex);
                writing = true;
                changed.notify_all();
                timedOut = timedOut || !changed.wait_for(lock, std::chrono::seconds(30),
                                                         [&] { return !keepAlives.empty(); });
            },
            {.chunk = 4096, .piece = 1000, .readAhead = 2},
            [&] {
                const std::lock_guard lock(mutex);
                keepAlives.push_back(std::this_thread::get_id());
                changed.notify_all();
            });
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return writing; }));
    }
    EXPECT_FALSE(timedOut);
    ASSERT_FALSE(keepAlives.empty());
    EXPECT_EQ(std::count(keepAlives.begin(), keepAlives.end(), std::this_thread::get_id()),
              static_cast<std::ptrdiff_t>(keepAlives.size()));
}

TEST(ForwardScan, ATailScanThatFailsLeavesTheSearchToItself) {
    // A cut in place whose tail scan meets a bad sector that the search's own
    // read gets past: the result is the plain search's, down to a stray byte of
    // data in that sector, between two probes. And with tails from below the
    // data end, above it, and from the start, with no failure.
    class BadSectorSource final : public TestSource {
      public:
        using TestSource::TestSource;
        size_t Read(std::int64_t offset, void* buffer, size_t count, bool search) const override {
            if (!search && offset + static_cast<std::int64_t>(count) > 250000) {
                throw IoError("Cannot read \"rom.nds\": a bad sector");
            }
            return Copy(offset, buffer, count);
        }
    };
    std::mt19937 random(9);
    const Image image = Build({"tail", 400000, 120000, test::Padding::Ff, false, {252001}}, random);
    const ScanLayout layout{.chunk = 4096, .piece = 1000, .readAhead = 2};
    const TestSource alone(image);
    FindTrimPointIn(alone, 500, false, {}, '.', nullptr, layout);
    for (const bool bad : {false, true}) {
        for (const std::int64_t from :
             {std::int64_t{0}, std::int64_t{100000}, std::int64_t{130000}, std::int64_t{399999}}) {
            SCOPED_TRACE(std::to_string(from) + (bad ? ", bad sector" : ""));
            std::unique_ptr<TestSource> source = bad ? std::make_unique<BadSectorSource>(image)
                                                     : std::make_unique<TestSource>(image);
            Searched s;
            ForwardScan tail(*source, ForwardScan::Tail{from}, layout);
            s.outcome.point = FindTrimPointIn(
                *source, 500, false,
                [&s](const std::string& text) { s.outcome.progress.push_back(text); }, '.', &tail);
            s.output = Image(image.begin(), image.begin() + s.outcome.point.OutputLength());
            ExpectSameAsPlain(s, image, 500);
            // A tail scan that did its work from about where the data ends (as
            // from a header's declared end) spares the search nearly every read.
            if (!bad && (from == 100000 || from == 130000)) {
                EXPECT_LT(source->SearchBytes() * 10, alone.SearchBytes());
            }
        }
    }
}

TEST(ForwardScan, TheSearchsOwnFailuresAreItsOwnWithTheWorkerRunning) {
    // Padding all the way down, and a file that gets shorter while it is
    // searched: the same error as without the worker, and the worker is stopped.
    std::mt19937 random(5);
    const Image padding = Build({"no data", 300000, 0}, random);
    const Image shrinking = Build({"shrinking", 300000, 50000}, random);

    class ShrinkingSource final : public TestSource {
      public:
        using TestSource::TestSource;
        size_t Read(std::int64_t offset, void* buffer, size_t count, bool search) const override {
            // The search's reads above 100000 find the file shorter; the worker's
            // below it do not.
            const size_t n = Copy(offset, buffer, count);
            return search && offset + static_cast<std::int64_t>(count) > 100000 && offset > 4096 &&
                           offset < 250000
                       ? n / 2
                       : n;
        }
    };

    for (const Image* image : {&padding, &shrinking}) {
        const bool shrinks = image == &shrinking;
        std::unique_ptr<TestSource> source = shrinks ? std::make_unique<ShrinkingSource>(*image)
                                                     : std::make_unique<TestSource>(*image);
        std::string without;
        try {
            FindTrimPointIn(*source, 500, false, {}, '.', nullptr,
                            {.chunk = 4096, .piece = 1000, .readAhead = 2});
        } catch (const IoError& e) {
            without = e.what();
        }
        EXPECT_NE(without, "") << shrinks;
        const Searched s =
            SearchWithFront(*source, *image, 500, {.chunk = 4096, .piece = 1000, .readAhead = 2});
        EXPECT_TRUE(s.outcome.failed) << shrinks;
        EXPECT_EQ(s.outcome.error, without);
    }
}

TEST(ForwardScan, EachByteIsReadAboutOnce) {
    // 64 chunks of padding above 16 of data; the two meet at chunk 40. Neither
    // reads the other's chunks again, but for the one where the probes find data
    // and the one where they meet: the search reads it for its probes, and once
    // more when the worker is still on it as the search ends. (The worker's
    // writer takes the bytes from memory here, as the kernel's copy takes them
    // from the disk.)
    std::mt19937 random(9);
    const std::int64_t chunk = 65536;
    const Image image = Build({"read once", 80 * chunk, 16 * chunk}, random);
    MeetingSource source(image, 40 * chunk, 41 * chunk, AtGate::Wait);
    const Searched s =
        SearchWithFront(source, image, 500, {.chunk = chunk, .piece = chunk / 4, .readAhead = 2});
    EXPECT_FALSE(source.TimedOut());
    ExpectSameAsPlain(s, image, 500);
    const std::int64_t padding = 64 * chunk;
    // Each block (a quarter chunk) of the search reaches two jumps into the one
    // above; the worker reads the last page of each data chunk; the title is
    // read first.
    const std::int64_t extra = 80 * 4 * (2 * 500 + 1) + 16 * 4096 + 4096;
    EXPECT_LE(source.SearchBytes() + source.WorkerBytes(), padding + 3 * chunk + extra);
    EXPECT_GE(source.WorkerBytes(), 24 * chunk);
}

}  // namespace
}  // namespace parevo

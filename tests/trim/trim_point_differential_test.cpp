// The search as the program runs it (chunks read backwards with read-ahead, with
// a ForwardScan worker reading from the start, and after a tail scan from some
// point on) against a plain search over
// the image in memory, written as directly as the rule reads: on shaped and on
// random images, every result field, every status text and every failure must
// agree, and what the worker copies must be a prefix of the kept bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "support/search_reference.h"
#include "trim/forward_scan.h"
#include "trim/rom_header.h"
#include "trim/trim_point.h"

namespace parevo {
namespace {

using test::Build;
using test::Image;
using test::Outcome;
using test::Padding;
using test::PlainSearch;
using test::Shape;

// How the program's search is run: its chunk layout (pieces of odd sizes, so
// that their edges fall anywhere), alone, with the worker, or after a tail scan.
enum class Kind { Alone, Front, Tail };

struct Reader {
    const char* name;
    ScanLayout layout;
    Kind kind;
    // A tail scan's start, as a share of the image; below 0: where the header
    // says the data ends, as a cut in place starts it (the start without one).
    double tailAt = 0;
};

const Reader kReaders[] = {
    {"Default", {}, Kind::Alone},
    {"Chunks64", {.chunk = 64, .piece = 64, .readAhead = 2}, Kind::Alone},
    {"Chunks1000", {.chunk = 1000, .piece = 300, .readAhead = 3}, Kind::Alone},
    {"Chunks4096", {.chunk = 4096, .piece = 1000, .readAhead = 8}, Kind::Alone},
    {"FrontDefault", {}, Kind::Front},
    {"FrontChunks64", {.chunk = 64, .piece = 64, .readAhead = 2}, Kind::Front},
    {"FrontChunks1000", {.chunk = 1000, .piece = 300, .readAhead = 3}, Kind::Front},
    {"FrontChunks4096", {.chunk = 4096, .piece = 1000, .readAhead = 1}, Kind::Front},
    {"FrontChunks65536", {.chunk = 65536, .piece = 10000, .readAhead = 8}, Kind::Front},
    {"TailDefaultDeclared", {}, Kind::Tail, -1},
    {"TailChunks64FromTheStart", {.chunk = 64, .piece = 64, .readAhead = 2}, Kind::Tail, 0},
    {"TailChunks1000Declared", {.chunk = 1000, .piece = 300, .readAhead = 3}, Kind::Tail, -1},
    {"TailChunks1000FromAQuarter", {.chunk = 1000, .piece = 300, .readAhead = 3}, Kind::Tail, 0.25},
    {"TailChunks4096FromTheMiddle",
     {.chunk = 4096, .piece = 1000, .readAhead = 1},
     Kind::Tail,
     0.5},
    {"TailChunks4096NearTheEnd", {.chunk = 4096, .piece = 1000, .readAhead = 1}, Kind::Tail, 0.97},
};

struct Run {
    Outcome outcome;
    // With the worker: the output as the pipeline completes it, whether the
    // worker copied more than a chunk past the chunk holding the last game data
    // before the search ended, and whether its pieces followed each other.
    Image output;
    bool copiedTooFar = false;
    bool contiguous = true;
};

Run RunProgram(const Image& image, int jump, bool safeTrim, const Reader& reader,
               std::int64_t dataEnd) {
    Run run;
    Outcome& x = run.outcome;
    const MemoryByteSource source(image.data(), image.size(), "rom.nds");
    const ProgressSink sink = [&x](const std::string& text) { x.progress.push_back(text); };
    try {
        if (reader.kind == Kind::Alone) {
            x.point = FindTrimPointIn(source, jump, safeTrim, sink, '.', nullptr, reader.layout);
            return run;
        }
        if (reader.kind == Kind::Tail) {
            const std::int64_t from =
                reader.tailAt < 0
                    ? DeclaredDataEnd(source)
                    : static_cast<std::int64_t>(reader.tailAt * static_cast<double>(image.size()));
            ForwardScan tail(source, ForwardScan::Tail{from}, reader.layout);
            x.point = FindTrimPointIn(source, jump, safeTrim, sink, '.', &tail);
            return run;
        }
        const std::int64_t chunk = reader.layout.chunk;
        std::atomic<std::int64_t> limit = std::min<std::int64_t>(
            static_cast<std::int64_t>(image.size()), ((dataEnd - 1) / chunk + 2) * chunk);
        ForwardScan front(
            source,
            [&](std::int64_t from, std::int64_t count) {
                if (from != static_cast<std::int64_t>(run.output.size())) {
                    run.contiguous = false;
                }
                if (from + count > limit) {
                    run.copiedTooFar = true;
                }
                run.output.insert(run.output.end(), image.begin() + from,
                                  image.begin() + from + count);
            },
            reader.layout);
        x.point = FindTrimPointIn(source, jump, safeTrim, sink, '.', &front);
        const std::int64_t kept = std::min(x.point.OutputLength(), x.point.SourceSize);
        limit = std::max<std::int64_t>(limit, kept);
        front.KeptUpTo(x.point.OutputLength());
        const std::int64_t written = front.Finish();
        if (written != static_cast<std::int64_t>(run.output.size())) {
            run.contiguous = false;
        }
        // As the pipeline does: the rest copied, the length set.
        run.output.insert(run.output.end(), image.begin() + std::min(written, kept),
                          image.begin() + kept);
        run.output.resize(static_cast<size_t>(kept));
    } catch (const IoError& e) {
        x.failed = true;
        x.error = e.what();
    }
    return run;
}

// Runs every reader over the image and checks each against the plain search.
void ExpectAllAgree(const Image& image, int jump, bool safeTrim, const std::string& what) {
    const Outcome expected = PlainSearch(image, jump, safeTrim);
    std::string error;  // every reader fails with one text
    for (const Reader& reader : kReaders) {
        SCOPED_TRACE(what + ", reader " + reader.name + ", jump " + std::to_string(jump));
        const Run run = RunProgram(image, jump, safeTrim, reader, expected.point.DataEnd);
        const Outcome& got = run.outcome;
        ASSERT_EQ(got.failed, expected.failed) << got.error;
        if (expected.failed) {
            if (error.empty()) {
                error = got.error;
            }
            EXPECT_EQ(got.error, error);
            continue;
        }
        EXPECT_EQ(got.point.Title, expected.point.Title);
        EXPECT_EQ(got.point.SourceSize, expected.point.SourceSize);
        EXPECT_EQ(got.point.Steps, expected.point.Steps);
        EXPECT_EQ(got.point.Distance, expected.point.Distance);
        EXPECT_EQ(got.point.ProbeOffset, expected.point.ProbeOffset);
        EXPECT_EQ(got.point.KeepLength, expected.point.KeepLength);
        EXPECT_EQ(got.point.DataEnd, expected.point.DataEnd);
        EXPECT_EQ(got.point.HeaderValid, expected.point.HeaderValid);
        EXPECT_EQ(got.point.DeclaredEnd, expected.point.DeclaredEnd);
        EXPECT_EQ(got.progress, expected.progress);
        if (reader.kind == Kind::Front) {
            EXPECT_FALSE(run.copiedTooFar);
            EXPECT_TRUE(run.contiguous);
            const auto kept = static_cast<size_t>(
                std::min(expected.point.OutputLength(), expected.point.SourceSize));
            EXPECT_TRUE(run.output == Image(image.begin(), image.begin() + kept));
        }
    }
}

// Shapes for the cases that need one: data ending on every side of chunk and
// block edges, files shorter than a chunk or than a jump, padding of each kind,
// data the probes step over, headers that declare more, less, or nothing.
const Shape kShapes[] = {
    {"TinyFile", 7, 3},
    {"OneByteOfData", 1, 1},
    {"ShorterThanTwoJumps", 2500, 1200},
    {"ShorterThanAChunk", 60000, 20000},
    {"DataEndsOnAChunkEdge", 300000, 4096 * 20},
    {"DataEndsOneBeforeAChunkEdge", 300000, 4096 * 20 - 1},
    {"DataEndsOneAfterAChunkEdge", 300000, 4096 * 20 + 1},
    {"DataEndsOnASmallChunkEdge", 70001, 64 * 300},
    {"DataEndsOnAThousandEdge", 70001, 1000 * 31 + 1},
    {"NoPadding", 90000, 90000},
    {"AllPadding", 90000, 0},
    {"ZeroPadding", 150000, 41234, Padding::Zero},
    {"PaddingInRuns", 150000, 41234, Padding::Runs},
    {"PaddingInRunsLongerThanAPage", 400000, 41234, Padding::LongRuns},
    {"PaddingByteByByte", 150000, 41234, Padding::Bytes},
    {"PaddingInsideTheData", 200000, 120000, Padding::Runs, true},
    {"DataJustPastTheFirstProbes",
     100000,
     30000,
     Padding::Ff,
     false,
     {-499, -501, -251, -749, -1001}},
    {"DataBetweenProbesFarBelowTheEnd", 400000, 10000, Padding::Zero, false, {123457, 300001}},
    {"DataInTheLastByte", 100000, 30000, Padding::Ff, false, {-1}},
    {"HeaderDeclaringMore", 200000, 50000, Padding::Zero, false, {}, 80000},
    {"HeaderDeclaringLess", 200000, 50000, Padding::Ff, false, {}, 20000},
    {"HeaderDeclaringBeyondTheFile", 200000, 50000, Padding::Ff, false, {}, 400000},
    {"SignatureBlockAfterTheDeclaredEnd", 200000, 50000, Padding::Ff, false, {50000, 50001}, 50000},
};

class SearchAgreesTest : public ::testing::TestWithParam<Shape> {};

TEST_P(SearchAgreesTest, EveryReaderFindsWhatThePlainSearchFinds) {
    std::mt19937 random(12);
    Image image = Build(GetParam(), random);
    // The signature block case wants its "ac" where the stray bytes went.
    if (std::string(GetParam().name) == "SignatureBlockAfterTheDeclaredEnd") {
        image[50000] = 'a';
        image[50001] = 'c';
    }
    for (const int jump : {1, 2, 3, 500, 1999, 2000}) {
        for (const bool safeTrim : {false, true}) {
            ExpectAllAgree(image, jump, safeTrim, GetParam().name);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, SearchAgreesTest, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SearchAgrees, OnRandomImages) {
    std::mt19937 random(2024);
    const int jumps[] = {1, 2, 3, 7, 250, 500, 1024, 1999, 2000};
    for (int i = 0; i < 120; ++i) {
        const unsigned seed = random();
        std::mt19937 one(seed);
        Shape shape{"random", 0, 0};
        const int jump = std::uniform_int_distribution<int>(0, 9)(one) == 9
                             ? std::uniform_int_distribution<int>(1, 2000)(one)
                             : jumps[std::uniform_int_distribution<int>(0, 8)(one)];
        // Sizes spread over five orders of magnitude; small jumps on small images.
        const double exponent =
            std::uniform_real_distribution<double>(0, jump < 8 ? 4.3 : 5.6)(one);
        shape.size = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::pow(10.0, exponent)));
        // Data ending anywhere, or on an edge of one of the readers' chunks.
        const std::int64_t edges[] = {64, 1000, 4096, 65536};
        std::int64_t end = std::uniform_int_distribution<std::int64_t>(0, shape.size)(one);
        if (std::uniform_int_distribution<int>(0, 1)(one) == 0) {
            const std::int64_t edge = edges[std::uniform_int_distribution<int>(0, 3)(one)];
            end = end / edge * edge + std::uniform_int_distribution<int>(-2, 2)(one);
        }
        shape.dataEnd = std::clamp<std::int64_t>(end, 0, shape.size);
        shape.padding = static_cast<Padding>(std::uniform_int_distribution<int>(0, 4)(one));
        shape.padInData = std::uniform_int_distribution<int>(0, 2)(one) == 0;
        // Data bytes right beside where the first probes look.
        for (int s = std::uniform_int_distribution<int>(0, 3)(one); s > 0; --s) {
            const std::int64_t step = std::uniform_int_distribution<std::int64_t>(1, 300)(one);
            const std::int64_t side = std::uniform_int_distribution<int>(-1, 1)(one) * (jump / 2);
            const std::int64_t by = std::uniform_int_distribution<int>(0, 1)(one) ? 1 : -1;
            shape.strays.push_back(-(step * jump) + side + by);
        }
        if (std::uniform_int_distribution<int>(0, 3)(one) == 0) {
            shape.declared = static_cast<std::uint32_t>(
                std::uniform_int_distribution<std::int64_t>(1, shape.size + 1000)(one));
        }
        const Image image = Build(shape, one);
        ExpectAllAgree(image, jump, std::uniform_int_distribution<int>(0, 1)(one) == 1,
                       "seed " + std::to_string(seed) + ", size " + std::to_string(shape.size) +
                           ", data end " + std::to_string(shape.dataEnd));
        if (::testing::Test::HasFailure()) {
            return;
        }
    }
}

}  // namespace
}  // namespace parevo

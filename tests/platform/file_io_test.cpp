#include "platform/file_io.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <memory>

#include "platform/errors.h"
#include "platform/temp_folder.h"
#include "support/temp_dir.h"

namespace parevo {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// The kept bytes of a trim through a PendingOutput: the first min(length, size)
// bytes of `source`, then zeros up to `length`.
void WriteFilePrefix(const InputFile& source, std::int64_t length, const std::string& outputPath) {
    PendingOutput output(outputPath);
    output.CopyRange(source, 0, std::min(length, source.Size()));
    output.SetLength(length);
    output.Commit(Durability::Cached);
}

std::vector<std::uint8_t> Counting(size_t n) {
    std::vector<std::uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::uint8_t>(i * 13 + 1);
    }
    return v;
}

TEST(InputFile, ReadsAtOffsetsAndReportsMissingFilesByName) {
    TempDir dir;
    WriteBytes(dir / "a.bin", Counting(100));
    InputFile file(dir / "a.bin");
    EXPECT_EQ(file.Size(), 100);
    std::uint8_t buffer[10];
    EXPECT_EQ(file.ReadAt(95, buffer, 10), 5u);
    EXPECT_EQ(buffer[0], Counting(100)[95]);
    EXPECT_EQ(file.ReadAt(100, buffer, 10), 0u);

    try {
        InputFile missing(dir / "missing.nds");
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open \"" + (dir / "missing.nds") + "\": No such file or directory");
    }
    EXPECT_THROW(InputFile{dir.Path()}, IoError);  // a folder is no file
}

TEST(InputFile, OpenAgainAndCachedReadsAreTheFileOpenedWhateverItsNameNowNames) {
    TempDir dir;
    WriteBytes(dir / "a.bin", Counting(5000));
    const InputFile first(dir / "a.bin");
    WriteBytes(dir / "b.bin", std::vector<std::uint8_t>(7000, 0x42));
    std::filesystem::rename(PathOf(dir / "b.bin"), PathOf(dir / "a.bin"));

    const std::unique_ptr<InputFile> again = first.OpenAgain();
#ifdef __linux__
    ASSERT_NE(again, nullptr);
#endif
    if (again) {
        EXPECT_EQ(again->OpenedStamp(), first.OpenedStamp());
        EXPECT_EQ(again->Size(), 5000);
        std::vector<std::uint8_t> bytes(5000);
        ASSERT_EQ(again->ReadAt(0, bytes.data(), bytes.size()), 5000u);
        EXPECT_EQ(bytes, Counting(5000));
    }
    // What the cache holds is read without waiting: the file was just written.
    std::vector<std::uint8_t> cached(6000, 0);
    const size_t held = first.ReadCachedAt(0, cached.data(), cached.size());
    EXPECT_LE(held, 5000u);
#ifdef __linux__
    EXPECT_GT(held, 0u);
#endif
    EXPECT_TRUE(std::equal(cached.begin(), cached.begin() + static_cast<std::ptrdiff_t>(held),
                           Counting(5000).begin()));
    // A hint is never an error, whatever it asks for.
    EXPECT_NO_THROW(first.Prefetch(0, 1 << 30));
    EXPECT_NO_THROW(first.Prefetch(1 << 20, 10));
    EXPECT_NO_THROW(first.Prefetch(0, 0));
}

TEST(PendingOutput, PiecesCopiedAtTheirOffsetsMakeThePrefix) {
    // As the trim's worker and the pipeline write it: the first part, then the
    // rest, then the length (zeros past the end of the source).
    TempDir dir;
    const auto source = Counting(300000);
    WriteBytes(dir / "src.bin", source);
    const InputFile in(dir / "src.bin");
    {
        PendingOutput output(dir / "out.bin");
        output.CopyRange(in, 0, 123457);
        output.CopyRange(in, 123457, 1000000);  // stops at the end of the source
        output.SetLength(300100);
        output.Commit(Durability::Cached);
    }
    auto expected = source;
    expected.resize(300100, 0);
    EXPECT_EQ(ReadBytes(dir / "out.bin"), expected);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"out.bin", "src.bin"}));
}

TEST(PendingOutput, FillsRangesWithAByteValue) {
    // As an untrim writes it: the image, then padding in blocks, the last short.
    TempDir dir;
    const auto source = Counting(300000);
    WriteBytes(dir / "src.bin", source);
    {
        PendingOutput output(dir / "out.bin");
        output.CopyRange(InputFile(dir / "src.bin"), 0, 300000);
        output.Fill(300000, (2 << 20) + 7, 0xFF);
        output.Fill(10, 5, 0x5A);
        output.Commit(Durability::Cached);
    }
    auto expected = source;
    expected.resize(300000 + (2 << 20) + 7, 0xFF);
    std::fill(expected.begin() + 10, expected.begin() + 15, 0x5A);
    EXPECT_EQ(ReadBytes(dir / "out.bin"), expected);
}

TEST(TempFolder, GoesWithWhatItHolds) {
    TempDir dir;
    std::string path;
    {
        const TempFolder beside(dir.Path());
        path = beside.Path();
        EXPECT_EQ(path.rfind(dir / ".parevo-", 0), 0u) << path;
        WriteBytes(path + "member.nds", Counting(10));
        // Where no folder can be made, the system's temporary folder takes it.
        WriteBytes(dir / "file", {});
        const TempFolder elsewhere(dir / "file");
        EXPECT_TRUE(FolderExists(elsewhere.Path()));
        EXPECT_NE(elsewhere.Path().rfind(dir.Path(), 0), 0u);
    }
    EXPECT_FALSE(FolderExists(path));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"file"});
}

TEST(PendingOutput, CopiesThePrefixAndPadsWithZerosLeavingNoTemporaryFile) {
    TempDir dir;
    const auto source = Counting(5000);
    WriteBytes(dir / "src.bin", source);
    InputFile in(dir / "src.bin");

    WriteFilePrefix(in, 3000, dir / "cut.bin");
    EXPECT_EQ(ReadBytes(dir / "cut.bin"),
              std::vector<std::uint8_t>(source.begin(), source.begin() + 3000));

    WriteFilePrefix(in, 5100, dir / "grown.bin");
    auto expected = source;
    expected.resize(5100, 0);
    EXPECT_EQ(ReadBytes(dir / "grown.bin"), expected);

    EXPECT_EQ(dir.List(), (std::vector<std::string>{"cut.bin", "grown.bin", "src.bin"}));
}

TEST(PendingOutput, ReplacesAnExistingOutputWithTheNewFileMode) {
    TempDir dir;
    WriteBytes(dir / "src.bin", Counting(100));
    WriteBytes(dir / "out.bin", std::vector<std::uint8_t>(1000, 0xAA));
    InputFile in(dir / "src.bin");
    WriteFilePrefix(in, 50, dir / "out.bin");
    EXPECT_EQ(ReadBytes(dir / "out.bin").size(), 50u);
    EXPECT_NO_THROW(InputFile{dir / "out.bin"});
}

#ifndef _WIN32
TEST(PendingOutput, AFailedWriteKeepsTheOldOutputAndRemovesTheTemporaryFile) {
    TempDir dir;
    WriteBytes(dir / "src.bin", Counting(1 << 20));
    const std::vector<std::uint8_t> old(10, 0x42);
    WriteBytes(dir / "out.bin", old);
    InputFile in(dir / "src.bin");

    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::string message;
    try {
        WriteFilePrefix(in, 1 << 20, dir / "out.bin");
    } catch (const IoError& e) {
        message = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(message, "Cannot write \"" + (dir / "out.bin") + "\": File too large");
    EXPECT_EQ(ReadBytes(dir / "out.bin"), old);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"out.bin", "src.bin"}));
}
#endif

TEST(PendingOutput, AMissingOutputFolderIsAnErrorNamingTheOutput) {
    TempDir dir;
    WriteBytes(dir / "src.bin", Counting(10));
    InputFile in(dir / "src.bin");
    EXPECT_THROW(WriteFilePrefix(in, 10, dir / "no/such/out.bin"), IoError);
}

TEST(FileIdentity, SeesThroughDotsAndHardLinks) {
    TempDir dir;
    WriteBytes(dir / "a.nds", Counting(10));
    WriteBytes(dir / "b.nds", Counting(10));
    std::filesystem::create_hard_link(PathOf(dir / "a.nds"), PathOf(dir / "link.nds"));
    auto SameFile = [](const std::string& a, const std::string& b) {
        const auto first = IdentityOf(a);
        return first && first == IdentityOf(b);
    };
    EXPECT_TRUE(SameFile(dir / "a.nds", dir.Path() + "/./a.nds"));
    EXPECT_TRUE(SameFile(dir / "a.nds", dir.Path() + "//a.nds"));
    EXPECT_TRUE(SameFile(dir / "a.nds", dir / "link.nds"));
    EXPECT_FALSE(SameFile(dir / "a.nds", dir / "b.nds"));
    EXPECT_FALSE(SameFile(dir / "a.nds", dir / "missing.nds"));
    EXPECT_FALSE(SameFile(dir / "missing.nds", dir / "missing.nds"));
}

TEST(ResizeFile, CutsAndZeroExtendsInPlace) {
    TempDir dir;
    const auto bytes = Counting(300);
    WriteBytes(dir / "a.bin", bytes);
    const auto before = IdentityOf(dir / "a.bin");
    ResizeFile(InputFile(dir / "a.bin"), 200);
    EXPECT_EQ(ReadBytes(dir / "a.bin"),
              std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 200));
    ResizeFile(InputFile(dir / "a.bin"), 250);
    auto expected = std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 200);
    expected.resize(250, 0);
    EXPECT_EQ(ReadBytes(dir / "a.bin"), expected);
    EXPECT_EQ(IdentityOf(dir / "a.bin"), before);
}

}  // namespace
}  // namespace parevo

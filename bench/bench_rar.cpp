// RAR extraction against its floor, on one disk in one run: a stored archive
// with one 256 MiB member (PAREVO_BENCH_MIB to change it, PAREVO_BENCH_DIR to
// choose the disk) extracted by RarComponent through the run-time-loaded library,
// against one plain read of the archive.
//
// The same program is the probe bench/compare_rar.sh times and measures:
//   bench_rar --make ARCHIVE MIB        writes the archive
//   bench_rar --store ARCHIVE FILE      writes an archive holding FILE as game.nds
//   bench_rar --extract ARCHIVE FOLDER  one extraction run, as the window makes it
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/rar_component.h"

namespace {

namespace fs = std::filesystem;
using namespace parevo;

std::uint32_t g_crcTable[256];

std::uint32_t Crc32(const unsigned char* p, size_t n, std::uint32_t crc) {
    if (g_crcTable[1] == 0) {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
            }
            g_crcTable[i] = c;
        }
    }
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc = g_crcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void Put(std::vector<unsigned char>& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
}

std::vector<unsigned char> Block(unsigned char type, unsigned flags,
                                 const std::vector<unsigned char>& body) {
    std::vector<unsigned char> rest{type};
    Put(rest, flags, 2);
    Put(rest, 7 + body.size(), 2);
    rest.insert(rest.end(), body.begin(), body.end());
    std::vector<unsigned char> out;
    Put(out, Crc32(rest.data(), rest.size(), 0) & 0xFFFF, 2);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

void Fill(std::vector<unsigned char>& block, std::uint64_t at) {
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<unsigned char>((at + i) * 2654435761u >> 13);
    }
}

void WriteAll(int fd, const void* p, size_t n) {
    if (::write(fd, p, n) != static_cast<ssize_t>(n)) {
        std::perror("write");
        std::exit(1);
    }
}

// A RAR 4 archive holding one stored member "game.nds" of `size` bytes, which
// `fill` writes block by block (twice: for the CRC, then into the archive).
template <typename Fill>
void WriteArchive(const std::string& path, std::uint64_t size, const Fill& fill) {
    std::vector<unsigned char> block(1 << 20);
    std::uint32_t crc = 0;
    for (std::uint64_t at = 0; at < size; at += block.size()) {
        const size_t n = static_cast<size_t>(std::min<std::uint64_t>(block.size(), size - at));
        fill(block, at, n);
        crc = Crc32(block.data(), n, crc);
    }
    const std::string name = "game.nds";
    std::vector<unsigned char> body;
    Put(body, size, 4);
    Put(body, size, 4);
    body.push_back(2);
    Put(body, crc, 4);
    Put(body, 0x37494464, 4);
    body.push_back(20);
    body.push_back(0x30);
    Put(body, name.size(), 2);
    Put(body, 0x20, 4);
    Put(body, size >> 32, 4);
    Put(body, size >> 32, 4);
    body.insert(body.end(), name.begin(), name.end());
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    const unsigned char marker[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
    WriteAll(fd, marker, sizeof marker);
    const auto mainHead = Block(0x73, 0, std::vector<unsigned char>(6, 0));
    WriteAll(fd, mainHead.data(), mainHead.size());
    const auto fileHead = Block(0x74, 0x8000 | 0x100, body);
    WriteAll(fd, fileHead.data(), fileHead.size());
    for (std::uint64_t at = 0; at < size; at += block.size()) {
        const size_t n = static_cast<size_t>(std::min<std::uint64_t>(block.size(), size - at));
        fill(block, at, n);
        WriteAll(fd, block.data(), n);
    }
    const auto end = Block(0x7B, 0x4000, {});
    WriteAll(fd, end.data(), end.size());
    ::close(fd);
}

void MakeArchive(const std::string& path, std::uint64_t mib) {
    WriteArchive(path, mib << 20, [](std::vector<unsigned char>& block, std::uint64_t at, size_t) {
        Fill(block, at);
    });
}

// The bytes of `file` as the member.
void StoreFile(const std::string& path, const std::string& file) {
    const int in = ::open(file.c_str(), O_RDONLY);
    if (in < 0) {
        std::perror(file.c_str());
        std::exit(1);
    }
    WriteArchive(
        path, static_cast<std::uint64_t>(fs::file_size(file)),
        [in](std::vector<unsigned char>& block, std::uint64_t at, size_t n) {
            if (::pread(in, block.data(), n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) {
                std::perror("read");
                std::exit(1);
            }
        });
    ::close(in);
}

// One run as the window configures the component.
bool ExtractOnce(const std::string& archive, const std::string& folder) {
    RarComponent rar;
    if (!rar.DllLoaded()) {
        std::fprintf(stderr, "the RAR library did not load\n");
        return false;
    }
    bool failed = false;
    rar.SetCanProgress(true);
    rar.SetMode(RarMode::Extract);
    rar.SetOverrideEvent(OverridePolicy::Always);
    rar.SetFileName(archive);
    rar.SetDirectory(folder);
    rar.OnError = [&](RarComponent&, const std::string& message, std::int32_t code) {
        std::fprintf(stderr, "error %d: %s\n", code, message.c_str());
        failed = true;
    };
    rar.OnProgress = [](RarComponent&, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
    };
    rar.Extract();
    return !failed;
}

std::uint64_t BenchMiB() {
    const char* mib = std::getenv("PAREVO_BENCH_MIB");
    return mib != nullptr ? std::strtoull(mib, nullptr, 10) : 256;
}

fs::path BenchDir() {
    const char* dir = std::getenv("PAREVO_BENCH_DIR");
    fs::path path =
        (dir != nullptr ? fs::path(dir) : fs::temp_directory_path() / "parevo-bench") / "rar";
    fs::create_directories(path);
    return path;
}

const std::string& Archive() {
    static const std::string path = [] {
        const fs::path p = BenchDir() / ("stored" + std::to_string(BenchMiB()) + ".rar");
        if (!fs::exists(p) || fs::file_size(p) < (BenchMiB() << 20)) {
            MakeArchive(p.string(), BenchMiB());
        }
        return p.string();
    }();
    return path;
}

// The floor: one read of the whole archive (cat ARCHIVE > /dev/null).
void BM_ReadArchive(benchmark::State& state) {
    std::vector<char> buffer(1 << 20);
    for (auto _ : state) {
        const int fd = ::open(Archive().c_str(), O_RDONLY);
        std::int64_t total = 0;
        for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) {
            total += n;
        }
        ::close(fd);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(fs::file_size(Archive())));
}

void BM_ExtractStoredMember(benchmark::State& state) {
    const fs::path out = BenchDir() / "out";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        fs::create_directories(out);
        state.ResumeTiming();
        if (!ExtractOnce(Archive(), out.string())) {
            state.SkipWithError("extraction failed");
            break;
        }
    }
    fs::remove_all(out);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(BenchMiB() << 20));
}

void BM_ListArchive(benchmark::State& state) {
    for (auto _ : state) {
        RarComponent rar;
        rar.SetCanProgress(true);
        rar.SetMode(RarMode::List);
        rar.SetFileName(Archive());
        int members = 0;
        rar.OnFileProcessing = [&](RarComponent&, RarMemberHeader, std::int32_t) { ++members; };
        rar.Extract();
        benchmark::DoNotOptimize(members);
    }
}

BENCHMARK(BM_ReadArchive)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExtractStoredMember)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListArchive)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--make") == 0) {
        MakeArchive(argv[2], std::strtoull(argv[3], nullptr, 10));
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--store") == 0) {
        StoreFile(argv[2], argv[3]);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--extract") == 0) {
        return ExtractOnce(argv[2], argv[3]) ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    Archive();
    // Warm the cache so both sides read from memory.
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// DAT reading and checking against their floors, warm, in one run
// (bench/compare_dat.sh times the programs, cold figures included):
//  - reading a Logiqx DAT of 7,000 entries (about 2.8 MB);
//  - verifying a trimmed image of 64 MiB whose entry is 256 MiB, against
//    SHA-1 over 256 MiB from memory: the hash the check cannot do without;
//  - an untrim of that image back to 256 MiB, against writing 256 MiB from
//    memory.
// PAREVO_BENCH_DIR chooses the disk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dat/verify.h"
#include "platform/file_io.h"
#include "trim/rom_header.h"
#include "trim/untrim.h"

namespace {

namespace fs = std::filesystem;
using namespace parevo;

constexpr std::int64_t kImage = 256 << 20;
constexpr std::int64_t kData = 64 << 20;
constexpr std::int64_t kTrimmed = kData + 100;
constexpr int kEntries = 7000;

fs::path BenchDir() {
    const char* dir = std::getenv("PAREVO_BENCH_DIR");
    fs::path path = dir != nullptr ? fs::path(dir) : fs::temp_directory_path() / "parevo-bench";
    fs::create_directories(path);
    return path;
}

// The trimmed image (64 MiB of game data and 100 bytes of 0xFF, capacity code
// 11 in its valid header) and a DAT of 7,000 entries holding its untrimmed dump.
struct Files {
    std::string trimmed;
    std::string dat;
};

const Files& MadeFiles() {
    static const Files files = [] {
        Files made{(BenchDir() / "dat_trimmed64.nds").string(),
                   (BenchDir() / "dat7000.dat").string()};
        std::vector<std::uint8_t> block(1 << 20);
        std::mt19937 random(7);
        std::uint32_t crc = 0;
        Sha1 sha1;
        Sha256 sha256;
        std::ofstream image(made.trimmed, std::ios::binary);
        for (std::int64_t at = 0; at < kData; at += static_cast<std::int64_t>(block.size())) {
            for (auto& byte : block) {
                byte = static_cast<std::uint8_t>(1 + random() % 254);
            }
            if (at == 0) {
                block[0x14] = 11;  // 128 KiB << 11: 256 MiB
                const std::uint16_t headerCrc = Crc16({block.data(), kHeaderCrcSpan});
                block[0x15E] = static_cast<std::uint8_t>(headerCrc);
                block[0x15F] = static_cast<std::uint8_t>(headerCrc >> 8);
            }
            image.write(reinterpret_cast<const char*>(block.data()), block.size());
            crc = Crc32(crc, block.data(), block.size());
            sha1.Update(block.data(), block.size());
            sha256.Update(block.data(), block.size());
        }
        image.write(std::string(kTrimmed - kData, '\xFF').data(), kTrimmed - kData);
        crc = Crc32Combine(crc, Crc32OfRun(0xFF, kImage - kData), kImage - kData);
        sha1.UpdateRun(0xFF, kImage - kData);
        sha256.UpdateRun(0xFF, kImage - kData);

        std::ofstream dat(made.dat);
        dat << "<?xml version=\"1.0\"?>\n<datafile>\n\t<header>\n\t\t<name>Bench</name>\n"
               "\t</header>\n";
        auto hex = [&random](int digits) {
            std::string text;
            for (int i = 0; i < digits; ++i) {
                text += "0123456789abcdef"[random() % 16];
            }
            return text;
        };
        for (int i = 0; i < kEntries; ++i) {
            const bool real = i == kEntries / 2;
            char name[64];
            std::snprintf(name, sizeof name, "Game %04d (Europe) (En,Fr,De,Es,It)", i);
            char crcText[9];
            std::snprintf(crcText, sizeof crcText, "%08x", crc);
            dat << "\t<game name=\"" << name << "\" id=\"" << i << "\">\n\t\t<description>" << name
                << "</description>\n\t\t<rom name=\"" << name << ".nds\" size=\""
                << (real ? kImage : (std::int64_t{8} << 20) << (random() % 7)) << "\" crc=\""
                << (real ? crcText : hex(8)) << "\" md5=\"" << hex(32) << "\" sha1=\""
                << (real ? ToHex(sha1.Digest().data(), 20) : hex(40)) << "\" sha256=\""
                << (real ? ToHex(sha256.Digest().data(), 32) : hex(64))
                << "\" status=\"verified\" serial=\"NTR-" << hex(4) << "-EUR\"/>\n\t</game>\n";
        }
        dat << "</datafile>\n";
        return made;
    }();
    return files;
}

void LoadDat7000(benchmark::State& state) {
    const Files& files = MadeFiles();
    for (auto _ : state) {
        benchmark::DoNotOptimize(LoadDat(files.dat));
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(fs::file_size(files.dat)));
}
BENCHMARK(LoadDat7000)->Unit(benchmark::kMillisecond);

void VerifyTrimmedAgainst256MiBEntry(benchmark::State& state) {
    const Files& files = MadeFiles();
    const Dat dat = LoadDat(files.dat);
    for (auto _ : state) {
        const Verdict verdict = VerifyImage(dat, InputFile(files.trimmed));
        if (!verdict.match) {
            state.SkipWithError("the image did not verify");
            return;
        }
    }
}
BENCHMARK(VerifyTrimmedAgainst256MiBEntry)->Unit(benchmark::kMillisecond);

// Floor: SHA-1 over 256 MiB from memory.
void FloorSha1Of256MiB(benchmark::State& state) {
    for (auto _ : state) {
        Sha1 sha1;
        sha1.UpdateRun(0xFF, kImage);
        benchmark::DoNotOptimize(sha1.Digest());
    }
    state.SetBytesProcessed(state.iterations() * kImage);
}
BENCHMARK(FloorSha1Of256MiB)->Unit(benchmark::kMillisecond);

void UntrimTo256MiB(benchmark::State& state) {
    const Files& files = MadeFiles();
    const fs::path out = BenchDir() / "dat_trimmed64_u.nds";
    TrimEnvironment env;
    env.Options = [] {
        TrimOptions options;
        options.AppendText = "_u";
        return options;
    };
    for (auto _ : state) {
        UntrimRom(files.trimmed, 0, 1, env, {});
        state.PauseTiming();
        fs::remove(out);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * kImage);
}
BENCHMARK(UntrimTo256MiB)->Unit(benchmark::kMillisecond);

// Floor: 256 MiB written from memory into a new file, in blocks of 4 MiB.
void FloorWrite256MiB(benchmark::State& state) {
    const fs::path out = BenchDir() / "dat_floor.nds";
    const std::vector<char> block(4 << 20, '\xFF');
    for (auto _ : state) {
        const int fd = ::open(out.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        for (std::int64_t at = 0; at < kImage; at += static_cast<std::int64_t>(block.size())) {
            if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
                std::abort();
            }
        }
        ::close(fd);
        state.PauseTiming();
        fs::remove(out);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * kImage);
}
BENCHMARK(FloorWrite256MiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

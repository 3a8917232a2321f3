// The trim engine against its floors, on one disk in one run, the cache warm
// (bench/compare.sh gives the cold-cache figures):
//  - FindTrimPoint at J = 500 and J = 1 against one read of the padding region;
//  - the whole trim (search, and the copy of the kept bytes beside it) against
//    the larger of two floors: that read of the padding, and one
//    copy_file_range of the kept bytes, as a trimmer that trusts the header
//    does it;
//  - the in-place trim (the output is the source) as a truncate.
// The image is 256 MiB by default (64 MiB of data, then 0xFF); set
// PAREVO_BENCH_MIB to change it and PAREVO_BENCH_DIR to choose the disk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "trim/trim_point.h"
#include "trim/trim_rom.h"

namespace {

namespace fs = std::filesystem;
using namespace parevo;

std::int64_t ImageBytes() {
    const char* mib = std::getenv("PAREVO_BENCH_MIB");
    return (mib != nullptr ? std::atoll(mib) : 256) << 20;
}

fs::path BenchDir() {
    const char* dir = std::getenv("PAREVO_BENCH_DIR");
    fs::path path = dir != nullptr ? fs::path(dir) : fs::temp_directory_path() / "parevo-bench";
    fs::create_directories(path);
    return path;
}

// A quarter game data, the rest 0xFF padding; made once per run.
const std::string& Image() {
    static const std::string path = [] {
        const fs::path p = BenchDir() / "image.nds";
        const std::int64_t size = ImageBytes();
        if (!fs::exists(p) || static_cast<std::int64_t>(fs::file_size(p)) != size) {
            const int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            std::vector<unsigned char> block(1 << 20);
            for (std::int64_t at = 0; at < size; at += static_cast<std::int64_t>(block.size())) {
                const bool data = at < size / 4;
                for (size_t i = 0; i < block.size(); ++i) {
                    block[i] = data ? static_cast<unsigned char>(1 + (at + i) % 250) : 0xFF;
                }
                if (at == 0) {
                    const char title[] = "BENCHGAME";
                    std::copy(std::begin(title), std::end(title), block.begin());
                }
                if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
                    std::abort();
                }
            }
            ::close(fd);
        }
        return p.string();
    }();
    return path;
}

void FindTrimPointAtJump(benchmark::State& state) {
    const std::string& image = Image();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            FindTrimPoint(InputFile(image), static_cast<int>(state.range(0)), true, {}, '.'));
    }
    state.SetBytesProcessed(state.iterations() * (ImageBytes() * 3 / 4));
}
BENCHMARK(FindTrimPointAtJump)->Arg(500)->Arg(1)->Unit(benchmark::kMillisecond);

// Floor for the search: every byte of the padding region read once, backwards.
void FloorReadPaddingOnce(benchmark::State& state) {
    const std::string& image = Image();
    std::vector<char> block(256 * 1024);
    for (auto _ : state) {
        const InputFile file(image);
        const std::int64_t start = ImageBytes() / 4;
        for (std::int64_t end = file.Size(); end > start;) {
            const std::int64_t from =
                std::max<std::int64_t>(start, end - static_cast<std::int64_t>(block.size()));
            benchmark::DoNotOptimize(
                file.ReadAt(from, block.data(), static_cast<size_t>(end - from)));
            end = from;
        }
    }
    state.SetBytesProcessed(state.iterations() * (ImageBytes() * 3 / 4));
}
BENCHMARK(FloorReadPaddingOnce)->Unit(benchmark::kMillisecond);

void WholeTrim(benchmark::State& state) {
    const std::string& image = Image();
    const fs::path out = BenchDir() / "image_trim.nds";
    TrimEnvironment env;
    env.Options = [] { return TrimOptions{}; };
    for (auto _ : state) {
        TrimRom(image, 0, 1, env);
        state.PauseTiming();
        fs::remove(out);
        state.ResumeTiming();
    }
}
BENCHMARK(WholeTrim)->Unit(benchmark::kMillisecond);

void SaveOnly(benchmark::State& state) {
    const std::string& image = Image();
    const fs::path out = BenchDir() / "save.nds";
    const InputFile in(image);
    for (auto _ : state) {
        PendingOutput output(out.string());
        output.CopyRange(in, 0, ImageBytes() / 4);
        output.SetLength(ImageBytes() / 4 + 100);
        output.Commit(Durability::Cached);
        state.PauseTiming();
        fs::remove(out);
        state.ResumeTiming();
    }
}
BENCHMARK(SaveOnly)->Unit(benchmark::kMillisecond);

// Floor for the whole trim: one copy_file_range of the kept bytes, reading
// nothing past them (bench/copy_kept.c does the same as a program).
void FloorCopyKeptBytes(benchmark::State& state) {
    const std::string& image = Image();
    const std::int64_t keep = ImageBytes() / 4 + 100;
    const fs::path out = BenchDir() / "floor.nds";
    for (auto _ : state) {
        const int in = ::open(image.c_str(), O_RDONLY);
        const int dst = ::open(out.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        for (std::int64_t left = keep; left > 0;) {
            const ssize_t copied =
                ::copy_file_range(in, nullptr, dst, nullptr, static_cast<size_t>(left), 0);
            if (copied <= 0) {
                std::abort();
            }
            left -= copied;
        }
        ::close(in);
        ::close(dst);
        state.PauseTiming();
        fs::remove(out);
        state.ResumeTiming();
    }
}
BENCHMARK(FloorCopyKeptBytes)->Unit(benchmark::kMillisecond);

// The output is the source (empty append text): the save is a truncate.
void InPlaceSave(benchmark::State& state) {
    const std::string& image = Image();
    const fs::path copy = BenchDir() / "inplace.nds";
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file(image, copy, fs::copy_options::overwrite_existing);
        ::sync();  // a ROM on disk has long been written out, not still in the cache
        const InputFile searched(copy.string());  // the pipeline opens it for the search
        state.ResumeTiming();
        ResizeFile(searched, ImageBytes() / 4 + 100);
    }
    fs::remove(copy);
}
BENCHMARK(InPlaceSave)->Unit(benchmark::kMicrosecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();

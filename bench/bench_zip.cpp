// The zip component against its floors, measured in the same run:
//  - directory read: ZipComponent reading a directory of many entries, against one
//    sequential read of the same file;
//  - extraction: ZipComponent::Extract of one large deflated member (through the unzip
//    library), against `unzip -p ARCHIVE MEMBER > out` on the same disk. The
//    ratio is a counter; so is the process's peak memory, which must not grow
//    with the member's size (run the sizes in separate processes to compare).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "archive/zip_component.h"
#include "platform/batch_prompter.h"

namespace fs = std::filesystem;

namespace {

double PeakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // Linux: KiB
}

fs::path BenchFolder() {
    const char* base = std::getenv("PAREVO_BENCH_DIR");
    fs::path folder = fs::path(base != nullptr ? base : fs::temp_directory_path().string()) /
                      ("parevo-bench-zip-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    return folder;
}

// Removes the bench folder when the program ends.
struct Folder {
    fs::path path = BenchFolder();
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};
Folder& Work() {
    static Folder folder;
    return folder;
}

// A ROM-like member: runs of structured data and noise, so deflate has some
// work (about 2:1) and inflate is the real cost.
void WriteMember(const fs::path& path, std::int64_t size) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    std::uint32_t state = 12345;
    for (std::int64_t done = 0; done < size; done += static_cast<std::int64_t>(block.size())) {
        for (size_t i = 0; i < block.size(); ++i) {
            state = state * 1664525u + 1013904223u;
            block[i] = static_cast<char>((i & 64) ? (state >> 28) : (state >> 24));
        }
        out.write(block.data(),
                  static_cast<std::streamsize>(std::min<std::int64_t>(size - done, block.size())));
    }
}

// The archive for a member size, made once per process with the system's zip.
const fs::path& ArchiveFor(std::int64_t size) {
    static std::map<std::int64_t, fs::path> archives;
    auto it = archives.find(size);
    if (it != archives.end()) {
        return it->second;
    }
    const fs::path folder = Work().path / ("src" + std::to_string(size));
    fs::create_directories(folder);
    WriteMember(folder / "member.nds", size);
    const fs::path archive = Work().path / ("member" + std::to_string(size) + ".zip");
    const std::string command =
        "zip -q -6 -j '" + archive.string() + "' '" + (folder / "member.nds").string() + "'";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("zip failed: " + command);
    }
    fs::remove_all(folder);
    return archives.emplace(size, archive).first->second;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void BM_ExtractVsUnzip(benchmark::State& state) {
    const std::int64_t size = state.range(0) << 20;
    const fs::path archive = ArchiveFor(size);
    const fs::path out = Work().path / "out";
    const fs::path extracted = archive.parent_path() / "member.nds";
    parevo::BatchPrompter prompter;
    parevo::ZipComponent zip(prompter);
    zip.SetShowProgressDialog(false);
    double ours = 0;
    double floor = 0;
    for (auto _ : state) {
        fs::remove(extracted);
        auto start = std::chrono::steady_clock::now();
        zip.SetZipFileName(archive.string());
        zip.FileSpecs().push_back("member.nds");
        if (zip.Extract() != 1) {
            state.SkipWithError("extraction failed");
            break;
        }
        const double t = Seconds(std::chrono::steady_clock::now() - start);

        const std::string command =
            "unzip -p '" + archive.string() + "' member.nds > '" + out.string() + "'";
        start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("unzip failed");
            break;
        }
        const double f = Seconds(std::chrono::steady_clock::now() - start);
        fs::remove(out);
        state.SetIterationTime(t);
        ours += t;
        floor += f;
    }
    fs::remove(extracted);
    state.counters["unzip_p_s"] = floor / static_cast<double>(state.iterations());
    state.counters["ratio"] = floor > 0 ? ours / floor : 0;
    state.counters["peak_rss_MiB"] = PeakRssMiB();
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_ExtractVsUnzip)
    ->Arg(32)
    ->Arg(256)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// A stored archive of `count` empty members with 40-byte names, written here.
fs::path DirectoryArchive(int count) {
    const fs::path path = Work().path / ("dir" + std::to_string(count) + ".zip");
    if (fs::exists(path)) {
        return path;
    }
    std::vector<std::uint8_t> body;
    std::vector<std::uint8_t> directory;
    auto put = [](std::vector<std::uint8_t>& v, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            v.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    };
    for (int i = 0; i < count; ++i) {
        char name[41];
        std::snprintf(name, sizeof name, "folder/member-%022d.nds", i);
        const std::uint32_t offset = static_cast<std::uint32_t>(body.size());
        put(body, 0x04034B50, 4);
        put(body, 10, 2);
        for (int k = 0; k < 5; ++k)
            put(body, 0, k < 2 ? 2 : 4);
        put(body, 40, 2);
        put(body, 0, 2);
        body.insert(body.end(), name, name + 40);
        put(directory, 0x02014B50, 4);
        put(directory, 0x031E, 2);
        put(directory, 10, 2);
        put(directory, 0, 2);
        put(directory, 0, 2);
        put(directory, 0, 4);
        put(directory, 0, 4);
        put(directory, 0, 4);
        put(directory, 0, 4);
        put(directory, 40, 2);
        put(directory, 0, 2);
        put(directory, 0, 2);
        put(directory, 0, 2);
        put(directory, 0, 2);
        put(directory, 0, 4);
        put(directory, offset, 4);
        directory.insert(directory.end(), name, name + 40);
    }
    std::vector<std::uint8_t> file = body;
    file.insert(file.end(), directory.begin(), directory.end());
    put(file, 0x06054B50, 4);
    put(file, 0, 4);
    put(file, static_cast<std::uint32_t>(count), 2);
    put(file, static_cast<std::uint32_t>(count), 2);
    put(file, static_cast<std::uint32_t>(directory.size()), 4);
    put(file, static_cast<std::uint32_t>(body.size()), 4);
    put(file, 0, 2);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    return path;
}

void BM_DirectoryRead(benchmark::State& state) {
    const fs::path archive = DirectoryArchive(static_cast<int>(state.range(0)));
    parevo::BatchPrompter prompter;
    parevo::ZipComponent zip(prompter);
    for (auto _ : state) {
        zip.SetZipFileName(archive.string());
        benchmark::DoNotOptimize(zip.Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DirectoryRead)->Arg(20000)->Unit(benchmark::kMicrosecond);

// Floor: the directory's bytes read sequentially in 64 KiB blocks, nothing parsed.
void BM_DirectoryReadFloor(benchmark::State& state) {
    const fs::path archive = DirectoryArchive(static_cast<int>(state.range(0)));
    const auto size = static_cast<std::int64_t>(fs::file_size(archive));
    const std::int64_t directory = static_cast<std::int64_t>(state.range(0)) * 86 + 22;
    std::vector<char> buffer(64 * 1024);
    for (auto _ : state) {
        std::FILE* in = std::fopen(archive.c_str(), "rb");
        std::fseek(in, static_cast<long>(size - directory), SEEK_SET);
        size_t total = 0;
        while (const size_t got = std::fread(buffer.data(), 1, buffer.size(), in)) {
            total += got;
        }
        std::fclose(in);
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DirectoryReadFloor)->Arg(20000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

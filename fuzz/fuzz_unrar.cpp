// Any bytes as a RAR volume, run through the RAR library's own entry points as
// the component calls them: a listing pass, then an extraction pass into a fresh
// folder, removed afterwards. The header walk never reads outside the bytes or
// loops; extraction leaves nothing behind for a member it failed, nothing
// outside the folder, and every file it reports written has the size and CRC
// its header gives.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "checksum.h"
#include "extract_writer.h"
#include "rar_scan.h"
#include "unrar_exports.h"

namespace {

namespace fs = std::filesystem;

// Nobody to answer: a missing volume or a password request is refused.
int Refuse(unsigned msg, UNRAR_LPARAM, UNRAR_LPARAM, UNRAR_LPARAM p2) {
    return (msg == UCM_CHANGEVOLUME || msg == UCM_CHANGEVOLUMEW) && p2 == RAR_VOL_ASK ? -1 : 0;
}

const fs::path& WorkFolder() {
    static const fs::path folder =
        fs::temp_directory_path() / ("fuzz_unrar-" + std::to_string(::getpid()));
    return folder;
}

void CheckWalk(const std::uint8_t* data, std::size_t size) {
    const unrar::VolumeScan scan = unrar::ScanVolume(data, size);
    if (!scan.isRar && (scan.Complete() || !scan.files.empty())) {
        __builtin_trap();
    }
    for (const unrar::ScannedFile& f : scan.files) {
        std::string name = f.name;
        for (char& c : name) {
            if (c == '\\') {
                c = '/';
            }
        }
        const unrar::ExtractTarget t = unrar::ExtractTarget::Under("dest", name);
        if (!t.valid) {
            continue;
        }
        for (const std::string& part : t.parts) {
            if (part.empty() || part == "." || part == ".." ||
                part.find('/') != std::string::npos) {
                __builtin_trap();
            }
        }
    }
}

struct Written {
    fs::path path;  // under the destination
    std::uint64_t size;
    unsigned crc;
    bool hasCRC;
};

// One pass over the archive; in extract mode the files written are returned,
// the last member written to each path.
std::map<fs::path, Written> Pass(const std::string& archive, unsigned mode, const fs::path& out) {
    std::map<fs::path, Written> written;
    std::string name = archive;
    RAROpenArchiveDataEx open{};
    open.ArcName = name.data();
    open.OpenMode = mode;
    open.Callback = &Refuse;
    void* h = RAROpenArchiveEx(&open);
    if (h == nullptr) {
        return written;
    }
    std::string dest = out.string();
    auto header = std::make_unique<RARHeaderDataEx>();
    for (int i = 0; i < 1000; ++i) {
        std::memset(static_cast<void*>(header.get()), 0, sizeof(RARHeaderDataEx));
        if (RARReadHeaderEx(h, header.get()) != ERAR_SUCCESS) {
            break;
        }
        const int r =
            RARProcessFile(h, mode == RAR_OM_LIST ? RAR_SKIP : RAR_EXTRACT, dest.data(), nullptr);
        if (r == ERAR_SUCCESS && mode == RAR_OM_EXTRACT && (header->Flags & RHDF_DIRECTORY) == 0 &&
            header->RedirType == 0) {
            fs::path path = out;
            for (const std::string& part :
                 unrar::ExtractTarget::Under("", header->FileName).parts) {
                path /= part;
            }
            written[path] = {path, header->UnpSize | std::uint64_t(header->UnpSizeHigh) << 32,
                             header->FileCRC, header->HashType == RAR_HASH_CRC32};
        }
        if (r != ERAR_SUCCESS) {
            break;
        }
    }
    RARCloseArchive(h);
    return written;
}

unsigned CrcOfFile(const fs::path& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    unsigned crc = 0;
    char buffer[4096];
    for (std::size_t n; f != nullptr && (n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0;) {
        crc = unrar::Crc32(buffer, n, crc);
    }
    return crc;
}

}  // namespace

// libarchive asks malloc for absurd sizes on some damaged streams; in a program
// malloc returns null, libarchive fails and the library reports 12. Let the
// sanitizer do the same instead of ending the run.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckWalk(data, size);

    std::error_code ec;
    const fs::path work = WorkFolder();
    fs::remove_all(work, ec);
    fs::create_directories(work / "out", ec);
    const std::string archive = (work / "a.rar").string();
    if (std::FILE* f = std::fopen(archive.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    Pass(archive, RAR_OM_LIST, work / "out");
    if (!fs::is_empty(work / "out")) {
        __builtin_trap();  // listing writes nothing
    }
    const std::map<fs::path, Written> written = Pass(archive, RAR_OM_EXTRACT, work / "out");

    // The folder holds the archive, and under out/ only what was reported
    // written, whole: a failed member leaves no file and no temporary file.
    for (const auto& [path, w] : written) {
        if (!fs::is_regular_file(fs::symlink_status(path, ec)) ||
            fs::file_size(path, ec) != w.size || (w.hasCRC && CrcOfFile(path) != w.crc)) {
            __builtin_trap();
        }
    }
    for (auto it = fs::recursive_directory_iterator(work, ec); it != fs::end(it);
         it.increment(ec)) {
        if (it->is_regular_file(ec) && it->path() != fs::path(archive) &&
            written.count(it->path()) == 0) {
            __builtin_trap();
        }
    }
    fs::remove_all(work, ec);

    // The volume names a set can take never repeat the name they came from.
    const std::string stem(reinterpret_cast<const char*>(data), size < 32 ? size : 32);
    for (bool newNumbering : {false, true}) {
        const std::string next = unrar::NextVolumeName(stem + ".part9.rar", newNumbering);
        if (next == stem + ".part9.rar") {
            __builtin_trap();
        }
    }
    return 0;
}

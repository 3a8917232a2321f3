// Any bytes as a RAR volume, read the way the RAR library reads a volume's
// headers before its decoder: the walk never reads outside the bytes, never
// loops, and whatever member names it finds, the extraction target built from
// them never leaves the destination folder.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../extlib/unrar/extract_writer.cpp"
#include "../extlib/unrar/rar_scan.cpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const unrar::VolumeScan scan = unrar::ScanVolume(data, size);
    if (!scan.isRar && (scan.complete || !scan.files.empty())) {
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

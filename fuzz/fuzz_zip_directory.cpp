// Any bytes as a zip archive: reading the central directory either lists
// entries that fit the file or raises the component's error; it never reads out
// of bounds or hangs. A disk prompt (an end record naming another disk) is
// cancelled, as the command line does.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/zip_component.h"
#include "platform/batch_prompter.h"
#include "platform/errors.h"

namespace {

const std::string& InputPath() {
    static const std::string path =
        "/tmp/fuzz_zip_directory-" + std::to_string(::getpid()) + ".zip";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = InputPath();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, out);
    std::fclose(out);

    parevo::BatchPrompter prompter;
    parevo::ZipComponent zip(prompter);
    try {
        zip.SetZipFileName(path);
        std::uint64_t listed = 0;
        for (int i = 0; i < zip.Count(); ++i) {
            const parevo::ZipEntry entry = zip.GetEntry(i);
            listed += parevo::kZipCentralHeaderSize + entry.Header.FileNameLen +
                      entry.Header.ExtraLen + entry.Header.FileComLen;
            if (entry.ExtraField.size() != entry.Header.ExtraLen) {
                __builtin_trap();
            }
        }
        // Everything listed was read from the file.
        if (zip.Count() > zip.EndRecord().Record.TotalEntries || listed > size) {
            __builtin_trap();
        }
    } catch (const parevo::ZipException&) {
    } catch (const parevo::IoError&) {
    }
    return 0;
}

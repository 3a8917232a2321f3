#pragma once
// Standard C files as the run-time libraries read archives: opened without ever
// waiting on a FIFO or a device, with 64-bit positions. Compiled into the core
// and into both libraries.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_identity.h"

namespace parevo {

struct StdioFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using StdioFile = std::unique_ptr<std::FILE, StdioFileCloser>;

// Opens a regular file for reading in binary mode; null when there is none or
// it is a FIFO, a device or a folder (opening a FIFO would wait for a writer, for
// ever if none comes).
StdioFile OpenRegularFile(const std::string& path);

// Which file an open file is (see file_identity.h).
std::optional<FileIdentity> IdentityOfFile(std::FILE* file);

// fseek and ftell with 64-bit offsets: 0 / the position, -1 on failure.
int SeekFile(std::FILE* file, std::int64_t offset, int whence);
std::int64_t TellFile(std::FILE* file);

}  // namespace parevo

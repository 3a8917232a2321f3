#pragma once
// The trim-point search: reads the game title and walks backwards from the end
// of an image in steps of the byte jump until a probe meets game data.

#include <cstdint>
#include <functional>
#include <string>

#include "trim/forward_scan.h"

namespace parevo {

class InputFile;

// Random access to the bytes of an image. Two threads may read at once (the
// search and its ForwardScan).
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::int64_t Size() const = 0;
    // Reads up to `count` bytes at `offset`; fewer only at the end.
    virtual size_t ReadAt(std::int64_t offset, void* buffer, size_t count) const = 0;
    // The file name used in error texts.
    virtual const std::string& Name() const = 0;
    // Reads what of these bytes is at hand without waiting for a disk: fewer
    // bytes (0 where the source cannot tell) mean the rest is not yet.
    virtual size_t ReadCachedAt(std::int64_t /*offset*/, void* /*buffer*/, size_t /*count*/) const {
        return 0;
    }
    // A hint that these bytes will be read soon.
    virtual void Prefetch(std::int64_t /*offset*/, std::int64_t /*count*/) const {}
};

class FileByteSource final : public ByteSource {
  public:
    // `hints`: pass Prefetch on to the system. A reader with a handle of its own
    // that goes forwards needs none: the system reads ahead of it by itself.
    explicit FileByteSource(const InputFile& file, bool hints = true);
    std::int64_t Size() const override { return m_size; }
    size_t ReadAt(std::int64_t offset, void* buffer, size_t count) const override;
    const std::string& Name() const override;
    size_t ReadCachedAt(std::int64_t offset, void* buffer, size_t count) const override;
    void Prefetch(std::int64_t offset, std::int64_t count) const override;

  private:
    const InputFile& m_file;
    std::int64_t m_size;
    bool m_hints;
};

class MemoryByteSource final : public ByteSource {
  public:
    MemoryByteSource(const void* data, size_t size, std::string name = "memory");
    std::int64_t Size() const override { return static_cast<std::int64_t>(m_size); }
    size_t ReadAt(std::int64_t offset, void* buffer, size_t count) const override;
    const std::string& Name() const override { return m_name; }

  private:
    const unsigned char* m_data;
    size_t m_size;
    std::string m_name;
};

constexpr int kMinByteJump = 1;
constexpr int kMaxByteJump = 2000;
constexpr int kDefaultByteJump = 500;
constexpr std::int64_t kSafeTrimMargin = 100;

struct TrimPoint {
    std::int64_t SourceSize = 0;   // S
    std::string Title;             // from the start of the ROM header
    std::int64_t Steps = 0;        // n, probe steps taken
    std::int64_t Distance = 0;     // D = (n + 1) * J
    std::int64_t ProbeOffset = 0;  // P = S - n * J, the step that saw data
    std::int64_t KeepLength = 0;   // P + J (+ 100 with safe trim), as the search finds it

    // The two guards against cutting game data the probes stepped over.
    std::int64_t DataEnd = 0;      // one past the last byte that is neither 0x00 nor 0xFF
    bool HeaderValid = false;      // the DS header's CRC-16 matches
    std::int64_t DeclaredEnd = 0;  // end of the data a valid header declares; 0 when none

    // The length actually written: the search's kept length, raised by the
    // guards, and never more than the source's size.
    std::int64_t OutputLength() const;
};

using ProgressSink = std::function<void(const std::string&)>;

// The title: the bytes before the first 0x00 or 0xFF from offset 0, with codes
// 0x00-0x20 trimmed from both ends. Throws IoError when the data ends first.
std::string ReadRomTitle(const ByteSource& source);

// Searches the open `file`. Throws IoError on any failed read, and when a probe
// would fall before the start of the file. `byteJump` must be 1 to 2000.
TrimPoint FindTrimPoint(const InputFile& file, int byteJump, bool safeTrim,
                        const ProgressSink& progress, char decimalSeparator);

// Where the game data ends by the image's header (with the download-play
// signature block when it follows); 0 when the header is not valid.
std::int64_t DeclaredDataEnd(const ByteSource& source);

// The search over any source. With `front` (over the same bytes, perhaps through
// a handle of its own), its worker reads from the start while the search reads
// from the end (see forward_scan.h), and `layout` is the ForwardScan's. The result
// is the same.
TrimPoint FindTrimPointIn(const ByteSource& source, int byteJump, bool safeTrim,
                          const ProgressSink& progress, char decimalSeparator,
                          ForwardScan* front = nullptr, ScanLayout layout = {});

}  // namespace parevo

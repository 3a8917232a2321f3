// A zipped DAT: the zip's directory through the reader the zip component uses,
// its one member unpacked with zlib (stored or deflated, the two methods DAT
// sites use), its size and CRC checked.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/zip_format.h"
#include "dat/dat_reader.h"

namespace parevo::dat_reader {

namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr size_t kLocalHeaderSize = 30;

struct InflateEnd {
    void operator()(z_stream* stream) const { inflateEnd(stream); }
};

std::string Inflate(std::string_view packed, std::uint32_t size) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        throw Fault{0, "the zip's member cannot be unpacked"};
    }
    const std::unique_ptr<z_stream, InflateEnd> owner(&stream);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    // The output grows as it comes, to one byte past the declared size, so that
    // neither a false size nor a member longer than it says costs memory.
    const size_t limit = static_cast<size_t>(size) + 1;
    std::string out;
    for (;;) {
        const size_t have = out.size();
        const size_t grow = std::min<size_t>(1 << 20, limit - have);
        out.resize(have + grow);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + have);
        stream.avail_out = static_cast<uInt>(grow);
        const int result = inflate(&stream, Z_NO_FLUSH);
        out.resize(have + grow - stream.avail_out);
        if (result == Z_STREAM_END) {
            break;
        }
        if (result != Z_OK || out.size() == limit) {
            throw Fault{0, "the zip's member is damaged (it does not unpack to its size)"};
        }
    }
    return out;
}

}  // namespace

std::string UnzipSingleFile(std::string_view zip, std::string& member) {
    const auto read = [zip](std::int64_t offset, void* buffer, size_t count) -> size_t {
        if (offset < 0 || static_cast<std::uint64_t>(offset) >= zip.size()) {
            return 0;
        }
        const size_t n = std::min(count, zip.size() - static_cast<size_t>(offset));
        std::memcpy(buffer, zip.data() + offset, n);
        return n;
    };
    const ZipEndRecordHit hit = FindEndRecord(static_cast<std::int64_t>(zip.size()), read);
    if (hit.position < 0) {
        throw Fault{0, "it is not a complete zip archive (no end record)"};
    }
    ZipEndRecord end;
    std::memcpy(&end, hit.tail.data() + (hit.position - hit.tailStart), sizeof end);
    ZipDirectoryReader directory(read, end.CentralOffset);
    ZipCentralHeader header{};
    ZipCentralHeader file{};
    std::string fileName;
    int files = 0;
    for (int i = 0; i < end.TotalEntries; ++i) {
        std::string name, extra, comment;
        if (directory.Next(header, name, extra, comment) != ZipDirectoryReader::Result::Entry) {
            throw Fault{0, "its zip directory is damaged"};
        }
        if (!name.empty() && name.back() != '/' && name.back() != '\\') {
            ++files;
            file = header;
            fileName = std::move(name);
        }
    }
    if (files != 1) {
        throw Fault{
            0, "the zip holds " + std::to_string(files) + " files; a zipped DAT holds exactly one"};
    }
    member = fileName;
    if ((file.Flag & kZipFlagEncrypted) != 0) {
        throw Fault{0, "the zip's member is encrypted"};
    }
    if (file.CompressionMethod != 0 && file.CompressionMethod != 8) {
        throw Fault{0, "the zip's member is packed with method " +
                           std::to_string(file.CompressionMethod) +
                           "; only stored and deflated DATs are read"};
    }
    if (file.UncomprSize == 0xFFFFFFFF || file.ComprSize == 0xFFFFFFFF) {
        throw Fault{0, "the zip is in the ZIP64 form, which DATs never need"};
    }
    if (file.UncomprSize > kMaxDatBytes) {
        throw Fault{0, "its member is too large (" + std::to_string(file.UncomprSize) +
                           " bytes; a DAT may hold at most " + std::to_string(kMaxDatBytes) + ")"};
    }
    const size_t local = file.RelOffLocal;
    if (local > zip.size() || zip.size() - local < kLocalHeaderSize ||
        ReadLe32(reinterpret_cast<const std::uint8_t*>(zip.data() + local)) !=
            kLocalHeaderSignature) {
        throw Fault{0, "the zip's member has no local header where its directory says"};
    }
    const auto* fixed = reinterpret_cast<const std::uint8_t*>(zip.data() + local);
    const size_t data = local + kLocalHeaderSize + ReadLe16(fixed + 26) + ReadLe16(fixed + 28);
    if (data > zip.size() || zip.size() - data < file.ComprSize) {
        throw Fault{0, "the zip's member is cut short"};
    }
    const std::string_view packed = zip.substr(data, file.ComprSize);
    std::string bytes =
        file.CompressionMethod == 0 ? std::string(packed) : Inflate(packed, file.UncomprSize);
    if (bytes.size() != file.UncomprSize || Crc32(0, bytes.data(), bytes.size()) != file.CRC32) {
        throw Fault{0, "the zip's member is damaged (its CRC does not match)"};
    }
    return bytes;
}

}  // namespace parevo::dat_reader

#include "rar_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "checksum.h"
#include "platform/stdio_file.h"
#include "platform/text_encoding.h"
#include "unrar_exports.h"

namespace unrar {
namespace {

constexpr std::uint8_t kSigPrefix[6] = {'R', 'a', 'r', '!', 0x1A, 0x07};
constexpr std::uint8_t kRar4Marker[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr std::size_t kSfxSearchLimit = 1 << 20;
constexpr std::uint64_t kMaxRar5Header = 2 << 20;  // the format's own ceiling
// No file system holds a file this large: a block claiming to reach past it is
// a read error, as the vendor's library reports it.
constexpr std::uint64_t kMaxPosition = std::uint64_t(1) << 62;
constexpr std::uint64_t kUnixToFileTime = 11644473600ULL;  // seconds from 1601 to 1970
constexpr std::size_t kMaxLinkTarget = 4096;

// Random access to the volume's bytes, from memory or from a file.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) = 0;
    virtual std::uint64_t Size() const = 0;
};

class MemorySource : public ByteSource {
  public:
    MemorySource(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) override {
        if (offset >= m_size) {
            return 0;
        }
        const std::size_t n = std::min<std::uint64_t>(count, m_size - offset);
        std::memcpy(buffer, m_data + offset, n);
        return n;
    }
    std::uint64_t Size() const override { return m_size; }

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

class FileSource : public ByteSource {
  public:
    explicit FileSource(parevo::StdioFile f) : m_file(std::move(f)) {
        if (parevo::SeekFile(m_file.get(), 0, SEEK_END) == 0) {
            const std::int64_t end = parevo::TellFile(m_file.get());
            m_size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
        }
    }
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) override {
        if (offset >= m_size ||
            parevo::SeekFile(m_file.get(), static_cast<std::int64_t>(offset), SEEK_SET) != 0) {
            return 0;
        }
        return std::fread(buffer, 1, count, m_file.get());
    }
    std::uint64_t Size() const override { return m_size; }

  private:
    parevo::StdioFile m_file;
    std::uint64_t m_size = 0;
};

unsigned Le16(const std::uint8_t* p) {
    return p[0] | p[1] << 8;
}
unsigned Le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<unsigned>(p[3]) << 24;
}
std::uint64_t Le64(const std::uint8_t* p) {
    return Le32(p) | static_cast<std::uint64_t>(Le32(p + 4)) << 32;
}

// Reads from a header's bytes, and remembers whether it ever ran past their end.
class Reader {
  public:
    Reader(const std::vector<std::uint8_t>& bytes, std::size_t pos, std::size_t end)
        : m_b(bytes), m_pos(pos), m_end(end) {}
    bool Ok() const { return m_ok; }
    std::size_t Pos() const { return m_pos; }
    std::size_t Left() const { return m_ok ? m_end - m_pos : 0; }
    // A RAR 5 variable-length integer: 7 bits a byte, low first.
    std::uint64_t Vint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64 && m_ok; shift += 7) {
            const std::uint8_t byte = Byte();
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) {
                return value;
            }
        }
        m_ok = false;
        return 0;
    }
    std::uint8_t Byte() { return Take(1) ? m_b[m_pos - 1] : 0; }
    unsigned U16() { return Take(2) ? Le16(&m_b[m_pos - 2]) : 0; }
    unsigned U32() { return Take(4) ? Le32(&m_b[m_pos - 4]) : 0; }
    std::uint64_t U64() { return Take(8) ? Le64(&m_b[m_pos - 8]) : 0; }
    std::string Text(std::uint64_t n) {
        if (!Take(n)) {
            return {};
        }
        return std::string(reinterpret_cast<const char*>(&m_b[m_pos - n]),
                           static_cast<std::size_t>(n));
    }
    bool Skip(std::uint64_t n) { return Take(n); }

  private:
    bool Take(std::uint64_t n) {
        if (!m_ok || n > m_end - m_pos) {
            m_ok = false;
            return false;
        }
        m_pos += static_cast<std::size_t>(n);
        return true;
    }
    const std::vector<std::uint8_t>& m_b;
    std::size_t m_pos;
    std::size_t m_end;
    bool m_ok = true;
};

// A RAR 4 name with its Unicode form: the stored bytes, a zero byte, then the
// UTF-16 text packed against the stored bytes (a high byte, then two flag bits
// per unit: a low byte alone, a low byte with the high byte, a whole unit, or a
// run copied from the stored bytes with an optional correction). Empty when the
// packed form gives nothing.
std::string UnpackUnicodeName(const std::string& raw) {
    const std::size_t zero = raw.find('\0');
    if (zero == std::string::npos || zero + 1 >= raw.size()) {
        return {};
    }
    const auto* stored = reinterpret_cast<const std::uint8_t*>(raw.data());
    const auto* enc = stored + zero + 1;
    const std::size_t n = raw.size() - zero - 1;
    const std::size_t limit = zero;  // one unit for each stored byte at most
    std::u16string units;
    const unsigned high = enc[0];
    std::size_t pos = 1;
    unsigned flags = 0;
    int flagBits = 0;
    while (pos < n && units.size() < limit) {
        if (flagBits == 0) {
            flags = enc[pos++];
            flagBits = 8;
            continue;
        }
        flagBits -= 2;
        switch ((flags >> flagBits) & 3) {
            case 0:
                units += static_cast<char16_t>(enc[pos++]);
                break;
            case 1:
                units += static_cast<char16_t>(enc[pos++] | high << 8);
                break;
            case 2:
                if (pos + 1 >= n) {
                    pos = n;
                    break;
                }
                units += static_cast<char16_t>(enc[pos] | enc[pos + 1] << 8);
                pos += 2;
                break;
            default: {
                const unsigned length = enc[pos++];
                unsigned correction = 0;
                unsigned highPart = 0;
                if ((length & 0x80) != 0) {
                    if (pos >= n) {
                        break;
                    }
                    correction = enc[pos++];
                    highPart = high << 8;
                }
                for (unsigned k = (length & 0x7F) + 2; k > 0 && units.size() < limit; --k) {
                    units += static_cast<char16_t>(((stored[units.size()] + correction) & 0xFF) |
                                                   highPart);
                }
                break;
            }
        }
    }
    return parevo::Utf16ToUtf8(units.substr(0, units.find(u'\0')));
}

// 100 ns units since 1601 of a local MS-DOS time; 0 when it is no valid time.
std::uint64_t FileTimeFromDos(unsigned dos) {
    std::tm tm{};
    tm.tm_year = static_cast<int>(dos >> 25) + 80;
    tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>(dos & 0x1F) * 2;
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday == 0 || tm.tm_hour > 23 || tm.tm_min > 59 ||
        tm.tm_sec > 59) {
        return 0;
    }
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(t) + kUnixToFileTime) * 10000000ULL;
}

std::uint64_t FileTimeFromUnix(std::uint64_t seconds, std::uint64_t nsec = 0) {
    return (seconds + kUnixToFileTime) * 10000000ULL + nsec / 100;
}

}  // namespace

unsigned DosTimeFromUnix(std::int64_t unixTime) {
    const std::time_t t = static_cast<std::time_t>(unixTime);
    std::tm tm{};
#ifdef _WIN32
    if (localtime_s(&tm, &t) != 0) {
        return 0;
    }
#else
    if (localtime_r(&t, &tm) == nullptr) {
        return 0;
    }
#endif
    if (tm.tm_year < 80) {
        return (1 << 5 | 1) << 16;  // 1980-01-01, the earliest DOS date
    }
    return static_cast<unsigned>((tm.tm_year - 80) << 25 | (tm.tm_mon + 1) << 21 |
                                 tm.tm_mday << 16 | tm.tm_hour << 11 | tm.tm_min << 5 |
                                 tm.tm_sec / 2);
}

bool VolumeScan::Complete() const {
    return end == ERAR_END_ARCHIVE;
}

namespace {

// Offset of the signature: at the start, or inside a self-extracting stub.
bool FindSignature(ByteSource& src, std::uint64_t& offset, bool& rar5) {
    // Most archives start with the signature; only a self-extracting stub
    // makes a longer search worth reading for.
    std::vector<std::uint8_t> head(8);
    std::size_t n = src.ReadAt(0, head.data(), head.size());
    const bool stub =
        n >= 2 && ((head[0] == 'M' && head[1] == 'Z') || (n >= 4 && std::memcmp(head.data(),
                                                                                "\x7f"
                                                                                "ELF",
                                                                                4) == 0));
    if (stub) {
        head.resize(kSfxSearchLimit + 8);
        n = src.ReadAt(0, head.data(), head.size());
    }
    const std::size_t last = stub ? n : std::min<std::size_t>(n, 1);
    for (std::size_t i = 0; i < last && i + 7 <= n; ++i) {
        if (std::memcmp(&head[i], kSigPrefix, 6) != 0) {
            continue;
        }
        if (head[i + 6] == 0x00) {
            offset = i;
            rar5 = false;
            return true;
        }
        if (head[i + 6] == 0x01 && i + 8 <= n && head[i + 7] == 0x00) {
            offset = i;
            rar5 = true;
            return true;
        }
    }
    return false;
}

constexpr std::uint64_t kMaxComment = 1 << 20;

void ReadComment(ByteSource& src, std::uint64_t offset, std::uint64_t size, bool stored,
                 bool hasCRC, unsigned crc, VolumeScan& scan) {
    if (scan.commentState == 1) {
        return;  // the first comment block is the archive's
    }
    if (!stored || size > kMaxComment) {
        scan.commentState = ERAR_UNKNOWN_FORMAT;
        return;
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    if (src.ReadAt(offset, reinterpret_cast<std::uint8_t*>(text.data()), text.size()) !=
        text.size()) {
        scan.commentState = ERAR_BAD_DATA;
        return;
    }
    if (hasCRC && Crc32(text.data(), text.size()) != crc) {
        scan.commentState = ERAR_BAD_DATA;
        return;
    }
    scan.comment = std::move(text);
    scan.commentState = 1;
}

bool ReadBlock(ByteSource& src, std::uint64_t offset, std::size_t count,
               std::vector<std::uint8_t>& out) {
    out.resize(count);
    return src.ReadAt(offset, out.data(), count) == count;
}

// Where the walk goes after a block whose data ends at `next`: on, or the code
// the header read there gives.
unsigned CheckNext(std::uint64_t next, std::uint64_t start, ByteSource& src) {
    if (next < start || next >= kMaxPosition) {
        return ERAR_EREAD;
    }
    return next > src.Size() ? ERAR_BAD_DATA : 0;
}

// Ends the walk with `code`. Before the main header nothing is reported, and a
// read error means the archive cannot be opened.
void Stop(VolumeScan& scan, unsigned code, bool mainFound) {
    scan.end = code;
    if (!mainFound && code == ERAR_EREAD) {
        scan.openResult = ERAR_EREAD;
    }
}

// RAR 4: a file header's fields after the common block header (7 bytes) and the
// data size. False when they do not fit the header.
bool ParseRar4File(const std::vector<std::uint8_t>& h, unsigned flags, ScannedFile& f) {
    Reader r(h, 7, h.size());
    f.packSize = r.U32();
    f.unpSize = r.U32();
    f.hostOS = r.Byte();
    f.fileCRC = r.U32();
    f.hasCRC = true;
    f.dosTime = r.U32();
    f.unpVer = r.Byte();
    f.method = r.Byte();
    const unsigned nameSize = r.U16();
    f.attr = r.U32();
    if ((flags & 0x100) != 0) {
        f.packSize |= static_cast<std::uint64_t>(r.U32()) << 32;
        f.unpSize |= static_cast<std::uint64_t>(r.U32()) << 32;
    }
    const std::string raw = r.Text(nameSize);
    if (!r.Ok()) {
        return false;
    }
    const std::string unicode = (flags & 0x200) != 0 ? UnpackUnicodeName(raw) : std::string();
    f.storedName = unicode.empty();
    f.name = f.storedName ? raw.substr(0, raw.find('\0')) : unicode;
    f.mtime = FileTimeFromDos(f.dosTime);
    if ((flags & 0x400) != 0) {
        r.Skip(8);  // the salt
    }
    // Extended times: four bits per time, the modification time first; its
    // fraction of a second follows in up to three bytes.
    if ((flags & 0x1000) != 0 && f.mtime != 0) {
        const unsigned timeFlags = r.U16();
        const unsigned mode = timeFlags >> 12;
        if (r.Ok() && (mode & 8) != 0) {
            std::uint64_t fraction = 0;
            const unsigned count = mode & 3;
            for (unsigned k = 0; k < count; ++k) {
                fraction |= static_cast<std::uint64_t>(r.Byte()) << (8 * (3 - count + k));
            }
            if (r.Ok()) {
                f.mtime += fraction + ((mode & 4) != 0 ? 10000000ULL : 0);
            }
        }
    }
    const bool dir = (flags & 0xE0) == 0xE0;
    f.flags = (flags & 0x01 ? RHDF_SPLITBEFORE : 0) | (flags & 0x02 ? RHDF_SPLITAFTER : 0) |
              (flags & 0x04 ? RHDF_ENCRYPTED : 0) | (flags & 0x10 ? RHDF_SOLID : 0) |
              (dir ? RHDF_DIRECTORY : 0);
    f.dictSizeKiB = dir ? 0 : 64u << ((flags >> 5) & 7);
    if (f.hostOS == 3 && (f.attr & 0xF000) == 0xA000) {
        f.redirType = 1;  // a Unix symbolic link: its target is the data
    }
    return true;
}

// Headers as the decoder reads them. Its RAR 5 reader parses a header field by
// field and goes on where its parsing stopped, so a record longer than it
// expects, a record type it refuses, a main-header record other than a locator,
// a block type it does not know, a host system other than Windows or Unix or a
// window over 64 MiB derails or stops it. So every file and service header, a
// main header with records and a block of a type not known are shown to it in
// forms it reads, of the same length: the fields decoding needs, and padding in
// a record or block it passes over. Our walk has checked the originals.

constexpr std::uint64_t kDecoderMaxWindowBits = 9;  // 128 KiB << 9: 64 MiB
constexpr std::uint8_t kPaddingRecord = 0x7F;       // a record type no reader knows
constexpr std::uint64_t kMaxPatchedData = 64 << 20;

std::size_t VintWidth(std::uint64_t v) {
    std::size_t n = 1;
    for (; v >= 0x80; v >>= 7) {
        ++n;
    }
    return n;
}

// `v` in exactly `width` bytes: a longer form than needed is still the same
// number to a reader of the format. False when it does not fit.
bool PutVint(std::vector<std::uint8_t>& out, std::uint64_t v, std::size_t width) {
    if (width < VintWidth(v) || width > 8) {
        return false;
    }
    for (std::size_t i = 0; i + 1 < width; ++i, v >>= 7) {
        out.push_back(static_cast<std::uint8_t>((v & 0x7F) | 0x80));
    }
    out.push_back(static_cast<std::uint8_t>(v));
    return true;
}

// A whole block: CRC, the size field in `sizeWidth` bytes, the body.
bool PutBlock5(std::vector<std::uint8_t>& out, std::size_t sizeWidth,
               const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> sized;
    if (!PutVint(sized, body.size(), sizeWidth)) {
        return false;
    }
    sized.insert(sized.end(), body.begin(), body.end());
    const std::uint32_t crc = Crc32(sized.data(), sized.size());
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    }
    out.insert(out.end(), sized.begin(), sized.end());
    return true;
}

// What the decoder needs of a file or service header.
struct DecoderFileForm {
    std::uint64_t type = 2;
    std::uint64_t headerFlags = 0;  // split, data; the extra-area flag is set here
    std::uint64_t dataSize = 0;
    std::uint64_t fileFlags = 0;  // folder, unknown size
    std::uint64_t unpSize = 0;
    std::uint64_t compInfo = 0;
    std::vector<std::uint8_t> keptRecords;  // the encryption record, as it stands
};

// The body of such a header in exactly `length` bytes; the name is one byte,
// since the decoder's names are never used.
bool FileBody(const DecoderFileForm& f, std::size_t length, std::vector<std::uint8_t>& out) {
    for (std::size_t attrWidth = 1; attrWidth <= 3; ++attrWidth) {
        for (std::size_t extraWidth = 0; extraWidth <= 3; ++extraWidth) {
            if (extraWidth == 0 && !f.keptRecords.empty()) {
                continue;
            }
            const std::uint64_t hflags = (f.headerFlags & ~std::uint64_t(1)) | (extraWidth ? 1 : 0);
            std::vector<std::uint8_t> fields;
            PutVint(fields, f.fileFlags, VintWidth(f.fileFlags));
            PutVint(fields, f.unpSize, VintWidth(f.unpSize));
            PutVint(fields, 0, attrWidth);  // attributes
            PutVint(fields, f.compInfo, VintWidth(f.compInfo));
            fields.insert(fields.end(), {0, 1, 'x'});  // Windows; a name of one byte
            const std::size_t fixed = VintWidth(f.type) + VintWidth(hflags) + extraWidth +
                                      ((hflags & 2) ? VintWidth(f.dataSize) : 0) + fields.size();
            if (extraWidth == 0 ? fixed != length : fixed >= length) {
                continue;
            }
            const std::size_t extraSize = length - fixed;
            const std::size_t padding = extraSize - std::min(extraSize, f.keptRecords.size());
            if (extraSize < f.keptRecords.size() || padding == 1) {
                continue;
            }
            std::vector<std::uint8_t> body;
            PutVint(body, f.type, VintWidth(f.type));
            PutVint(body, hflags, VintWidth(hflags));
            if (extraWidth != 0 && !PutVint(body, extraSize, extraWidth)) {
                continue;
            }
            if ((hflags & 2) != 0) {
                PutVint(body, f.dataSize, VintWidth(f.dataSize));
            }
            body.insert(body.end(), fields.begin(), fields.end());
            body.insert(body.end(), f.keptRecords.begin(), f.keptRecords.end());
            if (padding != 0) {
                // Its size field, type and zeros fill the rest.
                std::size_t w = 1;
                while (VintWidth(padding - w) > w) {
                    ++w;
                }
                PutVint(body, padding - w, w);
                body.push_back(kPaddingRecord);
                body.resize(body.size() + padding - w - 1, 0);
            }
            out = std::move(body);
            return true;
        }
    }
    return false;
}

// A service header of `length` bytes in all that the decoder passes over, with
// `dataSize` bytes of data after it; its window is the members' around it.
bool FillerBlock(std::size_t length, std::uint64_t dataSize, std::uint64_t windowBits,
                 std::vector<std::uint8_t>& out) {
    DecoderFileForm f;
    f.type = 3;
    f.headerFlags = 2;
    f.dataSize = dataSize;
    f.unpSize = dataSize;
    f.compInfo = windowBits << 10;
    for (std::size_t w = 1; w <= 3 && length > 4 + w; ++w) {
        std::vector<std::uint8_t> body;
        if (FileBody(f, length - 4 - w, body) && PutBlock5(out, w, body)) {
            return true;
        }
    }
    return false;
}

// A main header of `length` bytes without its extra records: the archive's
// flags and volume number, then a filler for the rest. A few bytes too many for
// a filler go into longer forms of the flags.
bool MainBlocks(std::size_t length, std::uint64_t hflags, std::uint64_t archiveFlags,
                std::uint64_t volume, std::uint64_t windowBits, std::vector<std::uint8_t>& out) {
    hflags &= ~std::uint64_t(3);
    for (std::size_t widen = 0; widen <= 14; ++widen) {
        std::vector<std::uint8_t> body = {1};
        const std::size_t first = std::min<std::size_t>(widen, 7);
        if (!PutVint(body, hflags, VintWidth(hflags) + first) ||
            !PutVint(body, archiveFlags, VintWidth(archiveFlags) + widen - first)) {
            continue;
        }
        if ((archiveFlags & 2) != 0) {
            PutVint(body, volume, VintWidth(volume));
        }
        std::vector<std::uint8_t> blocks;
        if (!PutBlock5(blocks, 1, body) || blocks.size() > length) {
            continue;
        }
        if (blocks.size() == length || FillerBlock(length - blocks.size(), 0, windowBits, blocks)) {
            out = std::move(blocks);
            return true;
        }
    }
    return false;
}

void AddPatch(VolumeScan& scan, std::uint64_t offset, std::vector<std::uint8_t> bytes) {
    scan.decoderPatches.push_back({offset, std::move(bytes)});
}

// RAR 4: the decoder skips blocks of the types it knows to carry no member only
// when a CRC over the header and its data matches, and stops at types it does
// not know. Such a block is shown to it as a recovery block with that CRC.
void PatchRar4Block(ByteSource& src, std::uint64_t pos, const std::vector<std::uint8_t>& h,
                    unsigned type, std::uint64_t addSize, VolumeScan& scan) {
    const bool known = type >= 0x72 && type <= 0x7B;
    const bool skipped = type >= 0x75 && type <= 0x79;
    if ((known && !(skipped && addSize > 0)) || addSize > kMaxPatchedData) {
        return;
    }
    std::vector<std::uint8_t> header = h;
    header[2] = skipped ? static_cast<std::uint8_t>(type) : 0x78;
    std::uint32_t crc = Crc32(&header[2], header.size() - 2);
    std::vector<std::uint8_t> chunk(
        static_cast<std::size_t>(std::min<std::uint64_t>(addSize, 1 << 20)));
    for (std::uint64_t done = 0; done < addSize;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), addSize - done));
        if (src.ReadAt(pos + header.size() + done, chunk.data(), n) != n) {
            return;  // the walk reports the cut
        }
        crc = Crc32(chunk.data(), n, crc);
        done += n;
    }
    header[0] = static_cast<std::uint8_t>(crc);
    header[1] = static_cast<std::uint8_t>(crc >> 8);
    AddPatch(scan, pos, std::move(header));
}

void WalkRar4(ByteSource& src, std::uint64_t pos, VolumeScan& scan) {
    std::vector<std::uint8_t> h;
    bool mainFound = false;
    for (;;) {
        std::uint8_t fixed[7];
        const std::size_t got = src.ReadAt(pos, fixed, 7);
        if (got == 0 && pos == src.Size()) {
            scan.end = ERAR_END_ARCHIVE;  // archives may end without an end block
            return;
        }
        if (got < 7) {
            return Stop(scan, ERAR_BAD_DATA, mainFound);
        }
        if (std::memcmp(fixed, kRar4Marker, 7) == 0) {
            pos += 7;  // a signature where a block would start: archives joined by copying
            continue;
        }
        const unsigned type = fixed[2];
        const unsigned flags = Le16(fixed + 3);
        const unsigned size = Le16(fixed + 5);
        if (size < 7 || !ReadBlock(src, pos, size, h)) {
            return Stop(scan, ERAR_BAD_DATA, mainFound);
        }
        const unsigned crc = Le16(fixed);
        const bool crcOk =
            crc == (Crc32(&h[2], size - 2) & 0xFFFF) ||
            // An old main header with its comment inside: the CRC covers the header alone.
            (type == 0x73 && size > 13 && crc == (Crc32(&h[2], 11) & 0xFFFF));
        if (!crcOk) {
            return Stop(scan, ERAR_BAD_DATA, mainFound);
        }
        std::uint64_t addSize = 0;
        if ((flags & 0x8000) != 0 || type == 0x74 || type == 0x7A) {
            if (size < 11) {
                return Stop(scan, ERAR_BAD_DATA, mainFound);
            }
            addSize = Le32(&h[7]);
        }
        if (mainFound) {
            PatchRar4Block(src, pos, h, type, addSize, scan);
        }
        if (type == 0x73) {
            scan.archiveFlags = flags & 0x1FF;
            if ((flags & 0x02) != 0 && size > 13) {
                scan.commentState = ERAR_UNKNOWN_FORMAT;  // an old packed comment inside the header
            }
            mainFound = true;
            if ((flags & 0x80) != 0) {
                scan.encryptedHeaders = true;
                return;
            }
        } else if (type == 0x74 || type == 0x7A) {
            ScannedFile f;
            if (!ParseRar4File(h, flags, f)) {
                return Stop(scan, ERAR_BAD_DATA, mainFound);
            }
            addSize = f.packSize;
            f.dataOffset = pos + size;
            if (type == 0x7A) {
                if (mainFound && f.name == "CMT") {
                    ReadComment(src, f.dataOffset, f.packSize, f.method == 0x30, true, f.fileCRC,
                                scan);
                }
            } else if (mainFound) {
                if (f.redirType != 0 && f.method == 0x30 && f.packSize <= kMaxLinkTarget) {
                    f.redirTarget.resize(static_cast<std::size_t>(f.packSize));
                    f.redirTarget.resize(src.ReadAt(
                        f.dataOffset, reinterpret_cast<std::uint8_t*>(f.redirTarget.data()),
                        f.redirTarget.size()));
                }
                scan.files.push_back(std::move(f));
            }
        } else if (type == 0x7B) {
            scan.hasNextVolume = (flags & 0x0001) != 0;
            scan.end = ERAR_END_ARCHIVE;
            return;
        }
        // A 64-bit packed size could wrap the sum back into the archive.
        const std::uint64_t next = addSize >= kMaxPosition ? kMaxPosition : pos + size + addSize;
        if (const unsigned code = CheckNext(next, pos, src)) {
            return Stop(scan, code, mainFound);
        }
        pos = next;
    }
}

// RAR 5: a file or service header's fields, from after the header's type, flags
// and sizes (`r`) to the extra area at the end (`extraStart`).
bool ParseRar5File(const std::vector<std::uint8_t>& h, Reader& r, std::size_t extraStart,
                   std::uint64_t headerFlags, std::uint64_t dataSize, ScannedFile& f,
                   DecoderFileForm& form) {
    const std::uint64_t fileFlags = r.Vint();
    f.unpSize = r.Vint();
    f.unpSizeKnown = (fileFlags & 0x08) == 0;
    f.attr = static_cast<unsigned>(r.Vint());
    std::uint64_t mtimeUnix = 0;
    bool hasMtime = false;
    if ((fileFlags & 0x02) != 0) {
        mtimeUnix = r.U32();
        hasMtime = true;
    }
    if ((fileFlags & 0x04) != 0) {
        f.fileCRC = r.U32();
        f.hasCRC = true;
    }
    const std::uint64_t comp = r.Vint();
    const std::uint64_t host = r.Vint();
    const std::uint64_t nameLength = r.Vint();
    f.name = r.Text(nameLength);
    if (!r.Ok() || r.Pos() > extraStart) {
        return false;
    }
    std::uint64_t mtimeNsec = 0;
    std::uint64_t mtimeFile = 0;  // a Windows FILETIME, when the time record holds one
    std::uint64_t version = 0;
    // Extra records: size (of type and body), type, body. A record that does not
    // fit ends the list; the header's CRC vouches for the rest.
    for (Reader e(h, extraStart, h.size()); e.Left() > 0;) {
        const std::size_t sizeStart = e.Pos();
        const std::uint64_t recordSize = e.Vint();
        if (!e.Ok() || recordSize == 0 || recordSize > e.Left()) {
            break;
        }
        const std::size_t recordEnd = e.Pos() + static_cast<std::size_t>(recordSize);
        Reader rec(h, e.Pos(), recordEnd);
        e.Skip(recordSize);
        switch (rec.Vint()) {
            case 1:
                if ((f.flags & RHDF_ENCRYPTED) == 0) {
                    // Kept for the decoder with its size field.
                    form.keptRecords.assign(h.begin() + static_cast<std::ptrdiff_t>(sizeStart),
                                            h.begin() + static_cast<std::ptrdiff_t>(recordEnd));
                }
                f.flags |= RHDF_ENCRYPTED;
                break;
            case 2:
                if (rec.Vint() == 0) {
                    const std::string digest = rec.Text(32);
                    if (rec.Ok()) {
                        std::memcpy(f.blake2.data(), digest.data(), 32);
                        f.hasBlake2 = true;
                    }
                }
                break;
            case 3: {
                const std::uint64_t timeFlags = rec.Vint();
                const bool unixFormat = (timeFlags & 0x01) != 0;
                if ((timeFlags & 0x02) != 0) {
                    const std::uint64_t value = unixFormat ? rec.U32() : rec.U64();
                    // A record too short for the time holds none, and a FILETIME
                    // of 0 is no time either.
                    if (rec.Ok()) {
                        mtimeUnix = unixFormat ? value : 0;
                        mtimeFile = unixFormat ? 0 : value;
                        hasMtime = unixFormat || value != 0;
                    }
                    const unsigned others = ((timeFlags & 0x04) != 0) + ((timeFlags & 0x08) != 0);
                    rec.Skip(others * (unixFormat ? 4 : 8));
                    const unsigned nsec = unixFormat && (timeFlags & 0x10) != 0 ? rec.U32() : 0;
                    if (rec.Ok()) {
                        mtimeNsec = nsec & 0x3FFFFFFF;
                    }
                }
                break;
            }
            case 4:
                rec.Vint();  // flags
                version = rec.Vint();
                break;
            case 5:
                f.redirType = static_cast<unsigned>(rec.Vint());
                f.dirTarget = (rec.Vint() & 1) != 0;
                f.redirTarget = rec.Text(rec.Vint());
                if (!rec.Ok() || f.redirType == 0) {
                    f.redirType = 0;
                    f.redirTarget.clear();
                }
                break;
            default:
                break;
        }
    }
    if (version != 0) {
        // The name a file version is listed under.
        f.name += ';';
        f.name += std::to_string(version);
    }
    if (hasMtime && mtimeFile != 0) {
        f.mtime = mtimeFile;
        mtimeUnix =
            mtimeFile / 10000000 - std::min<std::uint64_t>(mtimeFile / 10000000, kUnixToFileTime);
    } else if (hasMtime) {
        f.mtime = FileTimeFromUnix(mtimeUnix, mtimeNsec);
    }
    f.dosTime = hasMtime ? DosTimeFromUnix(static_cast<std::int64_t>(mtimeUnix)) : 0;
    const bool dir = (fileFlags & 0x01) != 0;
    f.packSize = dataSize;
    f.hostOS = host == 0 ? 2 : host == 1 ? 3 : static_cast<unsigned>(host);
    f.unpVer = (comp & 0x3F) == 0 ? 50 : 70;
    f.method = 0x30 + static_cast<unsigned>((comp >> 7) & 7);
    f.dictSizeKiB = dir ? 0 : 128u << ((comp >> 10) & 0xF);
    f.flags |= (headerFlags & 0x08 ? RHDF_SPLITBEFORE : 0) |
               (headerFlags & 0x10 ? RHDF_SPLITAFTER : 0) | (comp & 0x40 ? RHDF_SOLID : 0) |
               (dir ? RHDF_DIRECTORY : 0);
    f.unknownVersion = (comp & 0x3F) > 1;  // 0: RAR 5.0, 1: RAR 7.0
    form.headerFlags = headerFlags;
    form.dataSize = dataSize;
    form.fileFlags = fileFlags & 0x09;  // a folder, an unknown size
    form.unpSize = f.unpSize;
    const std::uint64_t windowBits = (comp >> 10) & 0xF;
    form.compInfo = windowBits > kDecoderMaxWindowBits
                        ? (comp & ~(std::uint64_t(0xF) << 10)) | kDecoderMaxWindowBits << 10
                        : comp;
    return true;
}

void WalkRar5(ByteSource& src, std::uint64_t pos, VolumeScan& scan) {
    std::vector<std::uint8_t> h;
    bool mainFound = false;
    std::uint64_t windowBits = 0;  // of the last member, for fillers
    for (;;) {
        std::vector<std::uint8_t> fixed(7);
        const std::size_t got = src.ReadAt(pos, fixed.data(), fixed.size());
        if (got == 0 && pos == src.Size()) {
            scan.end = ERAR_END_ARCHIVE;
            return;
        }
        // The header's size: a variable-length integer of at most three bytes.
        std::size_t sizeLength = 0;
        std::uint64_t headSize = 0;
        while (sizeLength < 3 && 4 + sizeLength < got) {
            const std::uint8_t byte = fixed[4 + sizeLength];
            headSize |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * sizeLength);
            ++sizeLength;
            if ((byte & 0x80) == 0) {
                break;
            }
        }
        if (sizeLength == 0 || (fixed[4 + sizeLength - 1] & 0x80) != 0 || headSize == 0 ||
            headSize > kMaxRar5Header) {
            return Stop(scan, ERAR_BAD_DATA, mainFound);
        }
        const std::uint64_t headStart = pos + 4 + sizeLength;
        // The CRC covers the size field and the header.
        if (!ReadBlock(src, pos + 4, sizeLength + static_cast<std::size_t>(headSize), h) ||
            Crc32(h.data(), h.size()) != Le32(fixed.data())) {
            return Stop(scan, ERAR_BAD_DATA, mainFound);
        }
        Reader r(h, sizeLength, h.size());
        const std::uint64_t type = r.Vint();
        const std::uint64_t hflags = r.Vint();
        const std::uint64_t extraSize = (hflags & 1) != 0 ? r.Vint() : 0;
        const std::uint64_t dataSize = (hflags & 2) != 0 ? r.Vint() : 0;
        if (!r.Ok() || extraSize > r.Left()) {
            return Stop(scan, ERAR_BAD_DATA, mainFound);
        }
        const std::size_t extraStart = h.size() - static_cast<std::size_t>(extraSize);
        const std::size_t blockLength = 4 + h.size();
        std::vector<std::uint8_t> patch;
        if (type == 1) {
            const std::uint64_t aflags = r.Vint();
            const std::uint64_t volume = (aflags & 0x2) != 0 ? r.Vint() : 0;
            if (!r.Ok()) {
                return Stop(scan, ERAR_BAD_DATA, mainFound);
            }
            if (extraSize != 0 && (hflags & 2) == 0 &&
                MainBlocks(blockLength, hflags, aflags, volume, windowBits, patch)) {
                AddPatch(scan, pos, std::move(patch));
            }
            unsigned f = ROADF_NEWNUMBERING;
            if (aflags & 0x1) {
                f |= ROADF_VOLUME;
                if ((aflags & 0x2) == 0) {
                    f |= ROADF_FIRSTVOLUME;
                }
            }
            f |= (aflags & 0x4 ? ROADF_SOLID : 0) | (aflags & 0x8 ? ROADF_RECOVERY : 0) |
                 (aflags & 0x10 ? ROADF_LOCK : 0);
            scan.archiveFlags = f;
            mainFound = true;
        } else if (type == 4) {
            scan.encryptedHeaders = true;
            scan.archiveFlags |= ROADF_ENCHEADERS;
            return;
        } else if (type == 2 || type == 3) {
            ScannedFile f;
            DecoderFileForm form;
            form.type = type;
            if (!ParseRar5File(h, r, extraStart, hflags, dataSize, f, form)) {
                return Stop(scan, ERAR_BAD_DATA, mainFound);
            }
            f.dataOffset = headStart + headSize;
            if ((f.flags & RHDF_DIRECTORY) == 0) {
                windowBits = (form.compInfo >> 10) & 0xF;
            }
            std::vector<std::uint8_t> block;
            if (mainFound && FileBody(form, static_cast<std::size_t>(headSize), patch) &&
                PutBlock5(block, sizeLength, patch)) {
                AddPatch(scan, pos, std::move(block));
            }
            if (type == 3) {
                if (mainFound && f.name == "CMT") {
                    ReadComment(src, f.dataOffset, dataSize,
                                f.method == 0x30 && (f.flags & RHDF_ENCRYPTED) == 0, f.hasCRC,
                                f.fileCRC, scan);
                }
            } else if (mainFound) {
                scan.files.push_back(std::move(f));
            }
        } else if (type == 5) {
            const std::uint64_t endFlags = r.Vint();
            if (!r.Ok()) {
                return Stop(scan, ERAR_BAD_DATA, mainFound);
            }
            scan.hasNextVolume = (endFlags & 1) != 0;
            scan.end = ERAR_END_ARCHIVE;
            return;
        } else if (mainFound &&
                   FillerBlock(blockLength, (hflags & 2) != 0 ? dataSize : 0, windowBits, patch)) {
            AddPatch(scan, pos, std::move(patch));  // a block of a type not known
        }
        const std::uint64_t next = headStart + headSize + dataSize;
        if (dataSize >= kMaxPosition) {
            return Stop(scan, ERAR_EREAD, mainFound);
        }
        if (const unsigned code = CheckNext(next, pos, src)) {
            return Stop(scan, code, mainFound);
        }
        pos = next;
    }
}

void Walk(ByteSource& src, VolumeScan& scan) {
    std::uint64_t offset = 0;
    if (!FindSignature(src, offset, scan.rar5)) {
        return;
    }
    scan.isRar = true;
    if (scan.rar5) {
        WalkRar5(src, offset + 8, scan);
    } else {
        WalkRar4(src, offset + 7, scan);
    }
}

}  // namespace

VolumeScan ScanVolume(const std::uint8_t* data, std::size_t size) {
    VolumeScan scan;
    MemorySource src(data, size);
    Walk(src, scan);
    return scan;
}

bool ScanVolumeFile(const std::string& path, VolumeScan& scan) {
    scan = VolumeScan();
    parevo::StdioFile f = parevo::OpenRegularFile(path);
    if (f == nullptr) {
        return false;
    }
    FileSource src(std::move(f));
    Walk(src, scan);
    return true;
}

std::string NextVolumeName(const std::string& name, bool newNumbering) {
    std::string next = name;
    const std::size_t slash = next.find_last_of("/\\");
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = next.rfind('.');
    if (dot == std::string::npos || dot < base) {
        return next + ".r00";
    }
    if (newNumbering) {
        // The last run of digits before the extension is the volume number.
        std::size_t end = dot;
        while (end > base && !(next[end - 1] >= '0' && next[end - 1] <= '9')) {
            --end;
        }
        std::size_t i = end;
        while (i > base) {
            --i;
            if (next[i] != '9') {
                if (next[i] >= '0' && next[i] <= '8') {
                    ++next[i];
                    return next;
                }
                next.insert(i + 1, 1, '1');
                return next;
            }
            next[i] = '0';
            if (i == base || !(next[i - 1] >= '0' && next[i - 1] <= '9')) {
                next.insert(i, 1, '1');
                return next;
            }
        }
        return next;
    }
    std::string ext = next.substr(dot + 1);
    if (ext.size() != 3 || !(ext[1] >= '0' && ext[1] <= '9' && ext[2] >= '0' && ext[2] <= '9')) {
        return next.substr(0, dot + 1) + (ext.size() > 0 && ext[0] == 'R' ? "R00" : "r00");
    }
    // .r00 .. .r99, then .s00 ...
    if (++ext[2] > '9') {
        ext[2] = '0';
        if (++ext[1] > '9') {
            ext[1] = '0';
            ++ext[0];
        }
    }
    return next.substr(0, dot + 1) + ext;
}

}  // namespace unrar

#include "rar_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "unrar_exports.h"

namespace unrar {
namespace {

constexpr std::uint8_t kSigPrefix[6] = {'R', 'a', 'r', '!', 0x1A, 0x07};
constexpr std::size_t kSfxSearchLimit = 1 << 20;
constexpr std::uint64_t kMaxRar5Header = 2 << 20;  // the format's own ceiling

// Random access to the volume's bytes, from memory or from a file.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) = 0;
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

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

class FileSource : public ByteSource {
  public:
    explicit FileSource(std::FILE* f) : m_file(f) {}
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) override {
        if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
            return 0;
        }
#ifdef _WIN32
        if (_fseeki64(m_file.get(), static_cast<std::int64_t>(offset), SEEK_SET) != 0) {
#else
        if (fseeko(m_file.get(), static_cast<off_t>(offset), SEEK_SET) != 0) {
#endif
            return 0;
        }
        return std::fread(buffer, 1, count, m_file.get());
    }

  private:
    std::unique_ptr<std::FILE, FileCloser> m_file;
};

unsigned Le16(const std::uint8_t* p) {
    return p[0] | p[1] << 8;
}
unsigned Le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<unsigned>(p[3]) << 24;
}

unsigned Crc32Of(const std::string& text) {
    unsigned crc = 0xFFFFFFFFu;
    for (unsigned char c : text) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
    }
    return ~crc;
}

// Reads a RAR 5 variable-length integer; false past the end or beyond 64 bits.
bool ReadVint(const std::vector<std::uint8_t>& b, std::size_t& pos, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (pos >= b.size()) {
            return false;
        }
        const std::uint8_t byte = b[pos++];
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
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
    if (hasCRC && Crc32Of(text) != crc) {
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

void WalkRar4(ByteSource& src, std::uint64_t pos, VolumeScan& scan) {
    std::vector<std::uint8_t> h;
    for (;;) {
        std::uint8_t fixed[7];
        const std::size_t got = src.ReadAt(pos, fixed, 7);
        if (got == 0) {
            scan.complete = true;  // archives may end without an end block
            return;
        }
        if (got < 7) {
            return;
        }
        const unsigned type = fixed[2];
        const unsigned flags = Le16(fixed + 3);
        const unsigned size = Le16(fixed + 5);
        if (size < 7 || !ReadBlock(src, pos, size, h)) {
            return;
        }
        std::uint64_t addSize = 0;
        if ((flags & 0x8000) != 0 || type == 0x74 || type == 0x7A) {
            if (size < 11) {
                return;
            }
            addSize = Le32(&h[7]);
        }
        if (type == 0x73) {
            scan.archiveFlags = flags & 0x1FF;
            if ((flags & 0x02) != 0 && size > 13) {
                scan.commentState = ERAR_UNKNOWN_FORMAT;  // an old packed comment inside the header
            }
            if ((flags & 0x80) != 0) {
                scan.encryptedHeaders = true;
                return;
            }
        } else if (type == 0x74 || type == 0x7A) {
            if (size < 32) {
                return;
            }
            ScannedFile f;
            f.packSize = addSize;
            f.unpSize = Le32(&h[11]);
            f.hostOS = h[15];
            f.fileCRC = Le32(&h[16]);
            f.hasCRC = true;
            f.dosTime = Le32(&h[20]);
            f.hasTime = true;
            f.unpVer = h[24];
            f.method = h[25];
            const unsigned nameSize = Le16(&h[26]);
            f.attr = Le32(&h[28]);
            std::size_t off = 32;
            if ((flags & 0x100) != 0) {
                if (size < 40) {
                    return;
                }
                f.packSize |= static_cast<std::uint64_t>(Le32(&h[32])) << 32;
                f.unpSize |= static_cast<std::uint64_t>(Le32(&h[36])) << 32;
                off = 40;
                addSize = f.packSize;
            }
            if (off + nameSize > size) {
                return;
            }
            std::string raw(reinterpret_cast<const char*>(&h[off]), nameSize);
            f.unicodeName = (flags & 0x200) != 0;
            f.name = raw.substr(0, raw.find('\0'));
            const bool dir = (flags & 0xE0) == 0xE0;
            f.flags = (flags & 0x01 ? RHDF_SPLITBEFORE : 0) | (flags & 0x02 ? RHDF_SPLITAFTER : 0) |
                      (flags & 0x04 ? RHDF_ENCRYPTED : 0) | (flags & 0x10 ? RHDF_SOLID : 0) |
                      (dir ? RHDF_DIRECTORY : 0);
            f.dictSizeKiB = dir ? 0 : 64u << ((flags >> 5) & 7);
            if (type == 0x7A) {
                if (f.name == "CMT") {
                    ReadComment(src, pos + size, f.packSize, f.method == 0x30, true, f.fileCRC,
                                scan);
                }
            } else if ((flags & 0x01) == 0) {
                scan.files.push_back(std::move(f));
            }
        } else if (type == 0x7B) {
            scan.hasNextVolume = (flags & 0x0001) != 0;
            scan.complete = true;
            return;
        }
        pos += size + addSize;
    }
}

void WalkRar5(ByteSource& src, std::uint64_t pos, VolumeScan& scan) {
    std::vector<std::uint8_t> h;
    for (;;) {
        std::vector<std::uint8_t> fixed(7);
        const std::size_t got = src.ReadAt(pos, fixed.data(), fixed.size());
        if (got == 0) {
            scan.complete = true;
            return;
        }
        fixed.resize(got);
        std::size_t p = 4;
        std::uint64_t headSize = 0;
        if (got < 5 || !ReadVint(fixed, p, headSize) || headSize == 0 ||
            headSize > kMaxRar5Header) {
            return;
        }
        const std::uint64_t headStart = pos + p;
        if (!ReadBlock(src, headStart, static_cast<std::size_t>(headSize), h)) {
            return;
        }
        std::size_t q = 0;
        std::uint64_t type = 0, hflags = 0, extraSize = 0, dataSize = 0;
        if (!ReadVint(h, q, type) || !ReadVint(h, q, hflags)) {
            return;
        }
        if ((hflags & 1) != 0 && !ReadVint(h, q, extraSize)) {
            return;
        }
        if ((hflags & 2) != 0 && !ReadVint(h, q, dataSize)) {
            return;
        }
        if (extraSize > h.size()) {
            return;
        }
        if (type == 1) {
            std::uint64_t aflags = 0;
            if (!ReadVint(h, q, aflags)) {
                return;
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
        } else if (type == 4) {
            scan.encryptedHeaders = true;
            scan.archiveFlags |= ROADF_ENCHEADERS;
            return;
        } else if (type == 2 || type == 3) {
            std::uint64_t ff = 0, unp = 0, attr = 0, comp = 0, host = 0, nameLen = 0;
            ScannedFile f;
            if (!ReadVint(h, q, ff) || !ReadVint(h, q, unp) || !ReadVint(h, q, attr)) {
                return;
            }
            if (ff & 2) {
                if (q + 4 > h.size()) {
                    return;
                }
                f.dosTime = DosTimeFromUnix(Le32(&h[q]));
                f.hasTime = true;
                q += 4;
            }
            if (ff & 4) {
                if (q + 4 > h.size()) {
                    return;
                }
                f.fileCRC = Le32(&h[q]);
                f.hasCRC = true;
                q += 4;
            }
            if (!ReadVint(h, q, comp) || !ReadVint(h, q, host) || !ReadVint(h, q, nameLen) ||
                nameLen > h.size() - q) {
                return;
            }
            f.name.assign(reinterpret_cast<const char*>(&h[q]), static_cast<std::size_t>(nameLen));
            bool encrypted = false;
            // Extra records sit at the end of the header: size, type, body.
            std::size_t e = h.size() - static_cast<std::size_t>(extraSize);
            while (e < h.size()) {
                std::uint64_t recSize = 0, recType = 0;
                std::size_t r = e;
                if (!ReadVint(h, r, recSize) || recSize == 0 || recSize > h.size() - r) {
                    break;
                }
                const std::size_t next = r + static_cast<std::size_t>(recSize);
                if (ReadVint(h, r, recType) && recType == 1) {
                    encrypted = true;
                }
                e = next;
            }
            const bool dir = (ff & 1) != 0;
            f.packSize = dataSize;
            f.unpSize = unp;
            f.attr = static_cast<unsigned>(attr);
            f.hostOS = host == 0 ? 2 : host == 1 ? 3 : static_cast<unsigned>(host);
            f.unpVer = (comp & 0x3F) == 0 ? 50 : 70;
            f.method = 0x30 + static_cast<unsigned>((comp >> 7) & 7);
            f.dictSizeKiB = dir ? 0 : 128u << ((comp >> 10) & 0xF);
            f.flags = (hflags & 0x08 ? RHDF_SPLITBEFORE : 0) |
                      (hflags & 0x10 ? RHDF_SPLITAFTER : 0) | (encrypted ? RHDF_ENCRYPTED : 0) |
                      (comp & 0x40 ? RHDF_SOLID : 0) | (dir ? RHDF_DIRECTORY : 0);
            if (type == 3) {
                if (f.name == "CMT") {
                    ReadComment(src, headStart + headSize, dataSize,
                                ((comp >> 7) & 7) == 0 && !encrypted, f.hasCRC, f.fileCRC, scan);
                }
            } else if ((hflags & 0x08) == 0) {
                scan.files.push_back(std::move(f));
            }
        } else if (type == 5) {
            std::uint64_t endFlags = 0;
            if (!ReadVint(h, q, endFlags)) {
                return;
            }
            scan.hasNextVolume = (endFlags & 1) != 0;
            scan.complete = true;
            return;
        }
        pos = headStart + headSize + dataSize;
        if (pos < headStart) {
            return;  // wrapped: a size no real volume has
        }
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
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    FileSource src(f);
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
                next.insert(i + 1, "1");
                return next;
            }
            next[i] = '0';
            if (i == base || !(next[i - 1] >= '0' && next[i - 1] <= '9')) {
                next.insert(i, "1");
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

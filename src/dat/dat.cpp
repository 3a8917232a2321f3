#include "dat/dat.h"

#include <algorithm>
#include <tuple>

#include "dat/dat_reader.h"
#include "platform/file_io.h"
#include "platform/text_encoding.h"

namespace parevo {

namespace dat_reader {

namespace {

// A value as an error text shows it: quoted, and cut where it runs long.
std::string Quoted(const std::string& value) {
    constexpr size_t kShown = 48;
    return "\"" + (value.size() <= kShown ? value : value.substr(0, kShown) + "...") + "\"";
}

template <size_t N>
bool ParseHexField(const std::string& text, std::optional<std::array<std::uint8_t, N>>& out) {
    if (text.empty()) {
        return true;
    }
    std::array<std::uint8_t, N> bytes;
    if (!ParseHex(text, bytes.data(), N)) {
        return false;
    }
    out = bytes;
    return true;
}

}  // namespace

void Collector::AddRom(const std::string& game, const RomFields& rom, const std::string& gameSerial,
                       int line) {
    if (SameTextIgnoringCase(rom.status, "nodump") || rom.size.empty() || rom.crc.empty()) {
        return;
    }
    const auto fault = [&](const char* field, const std::string& value, const char* wanted) {
        return Fault{line, std::string("the ") + field + " " + Quoted(value) + " of ROM " +
                               Quoted(rom.name) + " is not " + wanted};
    };
    DatEntry entry;
    entry.game = game;
    entry.rom = rom.name;
    entry.serial = rom.serial.empty() ? gameSerial : rom.serial;
    // Sizes past a terabyte are no ROM's; the bound keeps every sum in range.
    constexpr std::int64_t kLargest = std::int64_t{1} << 40;
    if (rom.size.size() > 13 || rom.size.find_first_not_of("0123456789") != std::string::npos ||
        (entry.size = std::stoll(rom.size)) > kLargest) {
        throw fault("size", rom.size, "a whole number of bytes");
    }
    std::array<std::uint8_t, 4> crc;
    if (!ParseHex(rom.crc, crc.data(), crc.size())) {
        throw fault("crc", rom.crc, "8 hexadecimal digits");
    }
    entry.crc = static_cast<std::uint32_t>(crc[0]) << 24 |
                static_cast<std::uint32_t>(crc[1]) << 16 | static_cast<std::uint32_t>(crc[2]) << 8 |
                crc[3];
    std::optional<std::array<std::uint8_t, 16>> md5;  // checked, not used
    if (!ParseHexField(rom.md5, md5)) {
        throw fault("md5", rom.md5, "32 hexadecimal digits");
    }
    if (!ParseHexField(rom.sha1, entry.sha1)) {
        throw fault("sha1", rom.sha1, "40 hexadecimal digits");
    }
    if (!ParseHexField(rom.sha256, entry.sha256)) {
        throw fault("sha256", rom.sha256, "64 hexadecimal digits");
    }
    m_entries.push_back(std::move(entry));
}

}  // namespace dat_reader

namespace {

using dat_reader::Fault;

std::string_view WithoutByteOrderMark(std::string_view text) {
    return text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text;
}

bool IsZip(std::string_view bytes) {
    return bytes.substr(0, 4) == std::string_view("PK\x03\x04", 4) ||
           bytes.substr(0, 4) == std::string_view("PK\x05\x06", 4);
}

// The two text forms; a zip inside a zip is no DAT.
Dat ParseText(std::string_view bytes) {
    dat_reader::Collector out;
    const std::string_view text = WithoutByteOrderMark(bytes);
    const size_t first = text.find_first_not_of(" \t\r\n");
    const bool utf16 = bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF";
    if (utf16 || (first != std::string_view::npos && text[first] == '<')) {
        dat_reader::ParseLogiqx(bytes, out);
    } else if (dat_reader::LooksLikeClrMamePro(text)) {
        dat_reader::ParseClrMamePro(text, out);
    } else {
        throw Fault{0, IsZip(bytes) ? "it holds a zip archive, not a DAT"
                                    : "not a DAT file (neither Logiqx XML nor clrmamepro text)"};
    }
    return out.Finish();
}

std::string Describe(const std::string& name, const std::string& member, const Fault& fault) {
    std::string text = "Cannot read DAT \"" + name + "\"";
    if (!member.empty()) {
        text += " (" + member + " in it)";
    }
    text += ": ";
    if (fault.line > 0) {
        text += "line " + std::to_string(fault.line) + ": ";
    }
    return text + fault.message;
}

}  // namespace

Dat::Dat(std::string name, std::vector<DatEntry> entries)
    : m_name(std::move(name)), m_entries(std::move(entries)) {
    m_bySizeAndCrc.resize(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i) {
        m_bySizeAndCrc[i] = i;
        m_sizes.push_back(m_entries[i].size);
        m_anySha256 = m_anySha256 || m_entries[i].sha256.has_value();
    }
    std::sort(m_bySizeAndCrc.begin(), m_bySizeAndCrc.end(), [this](size_t a, size_t b) {
        return std::tie(m_entries[a].size, m_entries[a].crc, a) <
               std::tie(m_entries[b].size, m_entries[b].crc, b);
    });
    std::sort(m_sizes.begin(), m_sizes.end());
    m_sizes.erase(std::unique(m_sizes.begin(), m_sizes.end()), m_sizes.end());
}

std::vector<const DatEntry*> Dat::Find(std::int64_t size, std::uint32_t crc) const {
    const auto key = [this](size_t i) { return std::tie(m_entries[i].size, m_entries[i].crc); };
    auto it = std::lower_bound(m_bySizeAndCrc.begin(), m_bySizeAndCrc.end(), std::tie(size, crc),
                               [&](size_t i, const auto& wanted) { return key(i) < wanted; });
    std::vector<const DatEntry*> found;
    for (; it != m_bySizeAndCrc.end() && key(*it) == std::tie(size, crc); ++it) {
        found.push_back(&m_entries[*it]);
    }
    return found;
}

std::vector<const DatEntry*> Dat::WithGameCode(std::string_view gameCode) const {
    std::vector<const DatEntry*> found;
    if (gameCode.size() != 4) {
        return found;
    }
    for (const DatEntry& entry : m_entries) {
        std::string_view rest = entry.serial;
        while (!rest.empty()) {
            const size_t end = std::min(rest.find_first_of("-, "), rest.size());
            if (rest.substr(0, end) == gameCode) {
                found.push_back(&entry);
                break;
            }
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
    }
    return found;
}

Dat ParseDat(std::string_view bytes, const std::string& name) {
    std::string member;
    try {
        if (!IsZip(bytes)) {
            return ParseText(bytes);
        }
        const std::string unpacked = dat_reader::UnzipSingleFile(bytes, member);
        return ParseText(unpacked);
    } catch (const Fault& fault) {
        throw DatError(Describe(name, member, fault));
    }
}

const Dat& DatCache::Get(const std::string& path) {
    const std::optional<FileStamp> stamp = StampOf(path);
    if (!m_dat || path != m_path || !stamp || stamp != m_stamp) {
        m_dat.reset();
        m_dat = LoadDat(path);
        m_path = path;
        m_stamp = stamp;
    }
    return *m_dat;
}

Dat LoadDat(const std::string& path) {
    const InputFile file(path);
    const std::int64_t size = file.Size();
    if (size > kMaxDatBytes) {
        throw DatError(Describe(
            path, {},
            Fault{0, "it is too large (" + std::to_string(size) +
                         " bytes; a DAT may hold at most " + std::to_string(kMaxDatBytes) + ")"}));
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    bytes.resize(file.ReadAt(0, bytes.data(), bytes.size()));
    return ParseDat(bytes, path);
}

}  // namespace parevo

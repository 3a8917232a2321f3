#include "support/rar_builder.h"

#include "support/temp_dir.h"

namespace parevo::test {
namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// A block: CRC16 (low half of the CRC32 of the rest), type, flags, size, body.
void PutBlock(std::vector<std::uint8_t>& out, std::uint8_t type, unsigned flags,
              const std::vector<std::uint8_t>& body, bool brokenCrc = false) {
    std::vector<std::uint8_t> rest;
    rest.push_back(type);
    Put16(rest, flags);
    Put16(rest, static_cast<unsigned>(7 + body.size()));
    rest.insert(rest.end(), body.begin(), body.end());
    unsigned crc = Crc32(rest.data(), rest.size()) & 0xFFFF;
    if (brokenCrc) {
        crc ^= 0x5A5A;
    }
    Put16(out, crc);
    out.insert(out.end(), rest.begin(), rest.end());
}

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
    }
    return ~crc;
}

std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
    return static_cast<std::uint32_t>((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 |
                                      minute << 5 | second / 2);
}

RarBuilder& RarBuilder::Add(const RarMember& member) {
    m_members.push_back(member);
    return *this;
}

RarBuilder& RarBuilder::AddFile(const std::string& name, const std::vector<std::uint8_t>& data) {
    RarMember m;
    m.name = name;
    m.data = data;
    return Add(m);
}

RarBuilder& RarBuilder::AddText(const std::string& name, const std::string& text) {
    return AddFile(name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

RarBuilder& RarBuilder::AddFolder(const std::string& name) {
    RarMember m;
    m.name = name;
    m.folder = true;
    m.attributes = 0x10;
    return Add(m);
}

RarBuilder& RarBuilder::BreakLastHeaderCrc() {
    m_members.back().brokenHeaderCrc = true;
    return *this;
}

namespace {

const std::vector<std::uint8_t> kMarker = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

// A file header and the member's data (or the part of it from `begin` to `end`).
void PutMember(std::vector<std::uint8_t>& out, const RarMember& m, std::size_t begin,
               std::size_t end, unsigned splitFlags, std::uint32_t crc, std::uint8_t type = 0x74) {
    std::vector<std::uint8_t> body;
    Put32(body, static_cast<std::uint32_t>(end - begin));    // packed size
    Put32(body, static_cast<std::uint32_t>(m.data.size()));  // unpacked size
    body.push_back(m.hostOS);
    Put32(body, crc);
    Put32(body, m.dosTime);
    body.push_back(m.unpVer);
    body.push_back(m.method);
    Put16(body, static_cast<unsigned>(m.name.size()));
    Put32(body, m.attributes);
    body.insert(body.end(), m.name.begin(), m.name.end());
    const unsigned flags = 0x8000 | splitFlags | (m.folder ? 0xE0 : 0) | (m.encrypted ? 0x04 : 0);
    PutBlock(out, type, flags, body, m.brokenHeaderCrc);
    out.insert(out.end(), m.data.begin() + begin, m.data.begin() + end);
}

}  // namespace

RarBuilder& RarBuilder::Comment(const std::string& text, std::uint8_t method) {
    m_hasComment = true;
    m_comment = RarMember();
    m_comment.name = "CMT";
    m_comment.data.assign(text.begin(), text.end());
    m_comment.method = method;
    m_comment.unpVer = 29;
    m_comment.attributes = 0;
    return *this;
}

RarBuilder& RarBuilder::ArchiveFlags(unsigned flags) {
    m_archiveFlags = flags;
    return *this;
}

std::vector<std::uint8_t> RarBuilder::Build() const {
    std::vector<std::uint8_t> out = kMarker;
    PutBlock(out, 0x73, m_archiveFlags, std::vector<std::uint8_t>(6, 0));
    if (m_hasComment) {
        const auto& d = m_comment.data;
        PutMember(out, m_comment, 0, d.size(), 0, Crc32(d.data(), d.size()), 0x7A);
    }
    for (const RarMember& m : m_members) {
        PutMember(out, m, 0, m.data.size(), 0, Crc32(m.data.data(), m.data.size()));
    }
    PutBlock(out, 0x7B, 0x4000, {});
    return out;
}

std::vector<std::vector<std::uint8_t>> RarBuilder::VolumeSet(const RarMember& member,
                                                             std::size_t volumes, bool newNumbering,
                                                             const std::vector<RarMember>& first) {
    std::vector<std::vector<std::uint8_t>> set;
    const std::size_t size = member.data.size();
    for (std::size_t v = 0; v < volumes; ++v) {
        const std::size_t begin = size * v / volumes;
        const std::size_t end = size * (v + 1) / volumes;
        const bool last = v + 1 == volumes;
        std::vector<std::uint8_t> out = kMarker;
        const unsigned mainFlags = 0x01 | (newNumbering ? 0x10 : 0) | (v == 0 ? 0x100 : 0);
        PutBlock(out, 0x73, mainFlags, std::vector<std::uint8_t>(6, 0));
        for (const RarMember& m : v == 0 ? first : std::vector<RarMember>()) {
            PutMember(out, m, 0, m.data.size(), 0, Crc32(m.data.data(), m.data.size()));
        }
        const std::uint32_t crc =
            last ? Crc32(member.data.data(), size) : Crc32(member.data.data() + begin, end - begin);
        PutMember(out, member, begin, end, (v > 0 ? 0x01 : 0) | (last ? 0 : 0x02), crc);
        PutBlock(out, 0x7B, 0x4000 | (last ? 0 : 0x0001), {});
        set.push_back(std::move(out));
    }
    return set;
}

void RarBuilder::WriteTo(const std::string& path) const {
    WriteBytes(path, Build());
}

}  // namespace parevo::test

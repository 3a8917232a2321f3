#include "support/rar_builder.h"

#include <algorithm>
#include <stdexcept>

#include "checksum.h"
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
    Put32(body, m.declaredPackSize.value_or(static_cast<std::uint32_t>(end - begin)));
    Put32(body, static_cast<std::uint32_t>(m.data.size()));  // unpacked size
    body.push_back(m.hostOS);
    Put32(body, crc);
    Put32(body, m.dosTime);
    body.push_back(m.unpVer);
    body.push_back(m.method);
    Put16(body, static_cast<unsigned>(m.name.size()));
    Put32(body, m.attributes);
    if (m.declaredHighPackSize) {
        Put32(body, *m.declaredHighPackSize);
        Put32(body, 0);  // high 32 bits of the unpacked size
    }
    body.insert(body.end(), m.name.begin(), m.name.end());
    body.insert(body.end(), m.headerTail.begin(), m.headerTail.end());
    const unsigned flags = 0x8000 | splitFlags | (m.folder ? 0xE0 : 0) | (m.encrypted ? 0x04 : 0) |
                           (m.solid ? 0x10 : 0) | (m.declaredHighPackSize ? 0x100 : 0);
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

RarBuilder& RarBuilder::AddBlock(std::uint8_t type, unsigned flags,
                                 const std::vector<std::uint8_t>& body,
                                 const std::vector<std::uint8_t>* data) {
    std::vector<std::uint8_t> fields;
    if (data != nullptr) {
        flags |= 0x8000;
        Put32(fields, static_cast<std::uint32_t>(data->size()));
    }
    fields.insert(fields.end(), body.begin(), body.end());
    std::vector<std::uint8_t> block;
    PutBlock(block, type, flags, fields);
    if (data != nullptr) {
        block.insert(block.end(), data->begin(), data->end());
    }
    m_blocks.emplace_back(m_members.size(), std::move(block));
    return *this;
}

std::vector<std::uint8_t> RarBuilder::Build() const {
    std::vector<std::uint8_t> out = kMarker;
    PutBlock(out, 0x73, m_archiveFlags, std::vector<std::uint8_t>(6, 0));
    if (m_hasComment) {
        const auto& d = m_comment.data;
        PutMember(out, m_comment, 0, d.size(), 0, Crc32(d.data(), d.size()), 0x7A);
    }
    auto block = m_blocks.begin();
    for (std::size_t i = 0; i <= m_members.size(); ++i) {
        for (; block != m_blocks.end() && block->first == i; ++block) {
            out.insert(out.end(), block->second.begin(), block->second.end());
        }
        if (i < m_members.size()) {
            const RarMember& m = m_members[i];
            PutMember(out, m, 0, m.data.size(), 0, Crc32(m.data.data(), m.data.size()));
        }
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

namespace {

void PutVint(std::vector<std::uint8_t>& out, std::uint64_t v) {
    do {
        out.push_back(static_cast<std::uint8_t>((v & 0x7F) | (v > 0x7F ? 0x80 : 0)));
        v >>= 7;
    } while (v != 0);
}

void PutRecord(std::vector<std::uint8_t>& extra, const std::vector<std::uint8_t>& record) {
    PutVint(extra, record.size());
    extra.insert(extra.end(), record.begin(), record.end());
}

// A block: CRC32 of what follows it, the header's size, then type, flags, the
// extra area's and data's sizes, the fields and the extra area.
void PutBlock5(std::vector<std::uint8_t>& out, std::uint64_t type,
               const std::vector<std::uint8_t>& fields, const std::vector<std::uint8_t>& extra,
               const std::vector<std::uint8_t>* data, unsigned splitFlags = 0) {
    std::vector<std::uint8_t> header;
    PutVint(header, type);
    PutVint(header, (extra.empty() ? 0 : 0x01) | (data != nullptr ? 0x02 : 0) | splitFlags);
    if (!extra.empty()) {
        PutVint(header, extra.size());
    }
    if (data != nullptr) {
        PutVint(header, data->size());
    }
    header.insert(header.end(), fields.begin(), fields.end());
    header.insert(header.end(), extra.begin(), extra.end());
    std::vector<std::uint8_t> sized;
    PutVint(sized, header.size());
    sized.insert(sized.end(), header.begin(), header.end());
    Put32(out, Crc32(sized.data(), sized.size()));
    out.insert(out.end(), sized.begin(), sized.end());
    if (data != nullptr) {
        out.insert(out.end(), data->begin(), data->end());
    }
}

}  // namespace

Rar5Builder& Rar5Builder::Add(const Rar5Member& member) {
    m_members.push_back(member);
    return *this;
}

Rar5Builder& Rar5Builder::AddText(const std::string& name, const std::string& text) {
    Rar5Member m;
    m.name = name;
    m.data.assign(text.begin(), text.end());
    return Add(m);
}

namespace {

// A file header and `data` (the member's, or one part of it); `crc` is what the
// header says.
void PutMember5(std::vector<std::uint8_t>& out, const Rar5Member& m,
                const std::vector<std::uint8_t>& data, std::uint32_t crc, unsigned splitFlags) {
    std::vector<std::uint8_t> fields;
    PutVint(fields, (m.folder ? 0x01 : 0) | (m.crc ? 0x04 : 0));
    PutVint(fields, m.declaredUnpSize.value_or(m.data.size()));
    PutVint(fields, m.folder ? 0x41ED : m.linkTarget.empty() ? 0x81A4 : 0xA1FF);
    if (m.crc) {
        Put32(fields, crc);
    }
    PutVint(fields, m.compInfo);
    PutVint(fields, 1);  // Unix
    PutVint(fields, m.name.size());
    fields.insert(fields.end(), m.name.begin(), m.name.end());
    std::vector<std::uint8_t> extra;
    if (m.encrypted) {
        std::vector<std::uint8_t> rec = {0x01, 0x00, 0x00, 0x0F};
        rec.resize(rec.size() + 16 + 16, 0x5A);  // salt and initial vector
        PutRecord(extra, rec);
    }
    if (m.blake2) {
        unrar::Blake2sp hash;
        hash.Update(m.data.data(), m.data.size());
        const auto digest = hash.Final();
        std::vector<std::uint8_t> rec = {0x02, 0x00};
        rec.insert(rec.end(), digest.begin(), digest.end());
        PutRecord(extra, rec);
    }
    if (m.mtime) {
        std::vector<std::uint8_t> rec = {0x03, 0x03};  // Unix format, modification time
        Put32(rec, m.unixTime);
        PutRecord(extra, rec);
    }
    if (m.version != 0) {
        std::vector<std::uint8_t> rec = {0x04, 0x00};
        PutVint(rec, m.version);
        PutRecord(extra, rec);
    }
    if (!m.linkTarget.empty()) {
        std::vector<std::uint8_t> rec = {0x05, 0x01, 0x00};  // a Unix link, to a file
        PutVint(rec, m.linkTarget.size());
        rec.insert(rec.end(), m.linkTarget.begin(), m.linkTarget.end());
        PutRecord(extra, rec);
    }
    for (const auto& rec : m.records) {
        PutRecord(extra, rec);
    }
    PutBlock5(out, 2, fields, extra, &data, splitFlags);
}

const std::vector<std::uint8_t> kMarker5 = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};

}  // namespace

Rar5Builder& Rar5Builder::MainRecord(const std::vector<std::uint8_t>& record) {
    PutRecord(m_mainExtra, record);
    return *this;
}

Rar5Builder& Rar5Builder::AddBlock(std::uint64_t type, const std::vector<std::uint8_t>& fields,
                                   const std::vector<std::vector<std::uint8_t>>& records,
                                   const std::vector<std::uint8_t>* data) {
    std::vector<std::uint8_t> extra;
    for (const auto& rec : records) {
        PutRecord(extra, rec);
    }
    std::vector<std::uint8_t> block;
    PutBlock5(block, type, fields, extra, data);
    m_blocks.emplace_back(m_members.size(), std::move(block));
    return *this;
}

std::vector<std::uint8_t> Rar5Builder::Build() const {
    std::vector<std::uint8_t> out = kMarker5;
    PutBlock5(out, 1, {0}, m_mainExtra, nullptr);  // main header, no archive flags
    auto block = m_blocks.begin();
    for (std::size_t i = 0; i <= m_members.size(); ++i) {
        for (; block != m_blocks.end() && block->first == i; ++block) {
            out.insert(out.end(), block->second.begin(), block->second.end());
        }
        if (i < m_members.size()) {
            const Rar5Member& m = m_members[i];
            PutMember5(out, m, m.data, Crc32(m.data.data(), m.data.size()), 0);
        }
    }
    PutBlock5(out, 5, {0}, {}, nullptr);
    return out;
}

std::vector<std::vector<std::uint8_t>> Rar5Builder::VolumeSet(const Rar5Member& member,
                                                              std::size_t volumes) {
    std::vector<std::vector<std::uint8_t>> set;
    const std::size_t size = member.data.size();
    for (std::size_t v = 0; v < volumes; ++v) {
        const std::vector<std::uint8_t> part(member.data.begin() + size * v / volumes,
                                             member.data.begin() + size * (v + 1) / volumes);
        const bool last = v + 1 == volumes;
        std::vector<std::uint8_t> out = kMarker5;
        std::vector<std::uint8_t> main;
        PutVint(main, v == 0 ? 0x01 : 0x03);  // a volume; later ones give their number
        if (v > 0) {
            PutVint(main, v);
        }
        PutBlock5(out, 1, main, {}, nullptr);
        const std::uint32_t crc =
            last ? Crc32(member.data.data(), size) : Crc32(part.data(), part.size());
        PutMember5(out, member, part, crc, (v > 0 ? 0x08 : 0) | (last ? 0 : 0x10));
        PutBlock5(out, 5, {static_cast<std::uint8_t>(last ? 0 : 1)}, {}, nullptr);
        set.push_back(std::move(out));
    }
    return set;
}

void Rar5Builder::WriteTo(const std::string& path) const {
    WriteBytes(path, Build());
}

void FlipFirst(std::vector<std::uint8_t>& bytes, const std::string& needle) {
    const auto at =
        std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end(),
                    [](std::uint8_t b, char c) { return b == static_cast<std::uint8_t>(c); });
    if (at == bytes.end()) {
        throw std::logic_error("FlipFirst: \"" + needle + "\" not found");
    }
    *at ^= 0xFF;
}

}  // namespace parevo::test

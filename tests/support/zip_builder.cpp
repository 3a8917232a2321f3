#include "support/zip_builder.h"

#include <zlib.h>

#include <stdexcept>

#include "support/temp_dir.h"

namespace parevo::test {

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void PutText(std::vector<std::uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

std::vector<std::uint8_t> RawDeflate(const std::vector<std::uint8_t>& data) {
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (rc != Z_STREAM_END) {
        throw std::runtime_error("deflate failed");
    }
    return out;
}

// The traditional PKWARE stream cipher.
class ZipCrypto {
  public:
    explicit ZipCrypto(const std::string& password) {
        for (const char c : password) {
            Update(static_cast<std::uint8_t>(c));
        }
    }
    std::uint8_t Encrypt(std::uint8_t plain) {
        const std::uint32_t temp = (m_keys[2] | 2) & 0xFFFF;
        const auto cipher = static_cast<std::uint8_t>(plain ^ ((temp * (temp ^ 1)) >> 8));
        Update(plain);
        return cipher;
    }

  private:
    static std::uint32_t Crc(std::uint32_t crc, std::uint8_t byte) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return crc;
    }
    void Update(std::uint8_t byte) {
        m_keys[0] = Crc(m_keys[0], byte);
        m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
        m_keys[2] = Crc(m_keys[2], static_cast<std::uint8_t>(m_keys[1] >> 24));
    }
    std::uint32_t m_keys[3] = {0x12345678, 0x23456789, 0x34567890};
};

}  // namespace

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

ZipBuilder& ZipBuilder::Add(ZipMember member) {
    m_members.push_back(std::move(member));
    return *this;
}

ZipBuilder& ZipBuilder::Stored(const std::string& name, const std::string& data) {
    ZipMember member;
    member.name = name;
    member.data = Bytes(data);
    return Add(std::move(member));
}

ZipBuilder& ZipBuilder::Deflated(const std::string& name, const std::string& data) {
    ZipMember member;
    member.name = name;
    member.data = Bytes(data);
    member.deflate = true;
    return Add(std::move(member));
}

ZipBuilder& ZipBuilder::Prefix(const std::vector<std::uint8_t>& bytes) {
    m_prefix = bytes;
    return *this;
}
ZipBuilder& ZipBuilder::Comment(const std::string& comment) {
    m_comment = comment;
    return *this;
}
ZipBuilder& ZipBuilder::Trailer(const std::vector<std::uint8_t>& bytes) {
    m_trailer = bytes;
    return *this;
}
ZipBuilder& ZipBuilder::BreakCentralSignature(int index) {
    m_brokenSignature = index;
    return *this;
}
ZipBuilder& ZipBuilder::CutDirectory(std::uint32_t bytes) {
    m_cut = bytes;
    return *this;
}
ZipBuilder& ZipBuilder::DiskNumbers(std::uint16_t thisDisk, std::uint16_t directoryDisk) {
    m_thisDisk = thisDisk;
    m_directoryDisk = directoryDisk;
    return *this;
}
ZipBuilder& ZipBuilder::TotalEntries(std::uint16_t total) {
    m_total = total;
    return *this;
}

std::vector<std::uint8_t> ZipBuilder::Build() const {
    std::vector<std::uint8_t> body;
    std::vector<std::uint8_t> directory;
    for (size_t i = 0; i < m_members.size(); ++i) {
        const ZipMember& m = m_members[i];
        const std::uint32_t realCrc =
            static_cast<std::uint32_t>(crc32(0, m.data.data(), static_cast<uInt>(m.data.size())));
        const std::uint32_t crc = m.crc.value_or(realCrc);
        std::vector<std::uint8_t> payload = m.deflate ? RawDeflate(m.data) : m.data;
        std::uint16_t flags = m.flags;
        if (!m.password.empty()) {
            flags |= 1;
            ZipCrypto cipher(m.password);
            std::vector<std::uint8_t> encrypted;
            for (int k = 0; k < 11; ++k) {
                encrypted.push_back(cipher.Encrypt(static_cast<std::uint8_t>(0x5A + 17 * k)));
            }
            // The check byte: the CRC's high byte.
            encrypted.push_back(cipher.Encrypt(static_cast<std::uint8_t>(crc >> 24)));
            for (const std::uint8_t b : payload) {
                encrypted.push_back(cipher.Encrypt(b));
            }
            payload = std::move(encrypted);
        }
        const std::uint16_t method = m.deflate ? 8 : 0;
        const std::uint32_t localOffset = static_cast<std::uint32_t>(body.size());

        Put32(body, 0x04034B50);
        Put16(body, 20);
        Put16(body, flags);
        Put16(body, method);
        Put16(body, m.dosTime);
        Put16(body, m.dosDate);
        Put32(body, crc);
        Put32(body, static_cast<std::uint32_t>(payload.size()));
        const std::uint32_t size = m.size.value_or(static_cast<std::uint32_t>(m.data.size()));
        Put32(body, size);
        Put16(body, static_cast<std::uint32_t>(m.name.size()));
        Put16(body, 0);
        PutText(body, m.name);
        body.insert(body.end(), payload.begin(), payload.end());

        Put32(directory, static_cast<int>(i) == m_brokenSignature ? 0x02014B51 : 0x02014B50);
        directory.push_back(m.formatVersion);
        directory.push_back(m.hostSystem);
        Put16(directory, 20);
        Put16(directory, flags);
        Put16(directory, method);
        Put16(directory, m.dosTime);
        Put16(directory, m.dosDate);
        Put32(directory, crc);
        Put32(directory, static_cast<std::uint32_t>(payload.size()));
        Put32(directory, size);
        Put16(directory, static_cast<std::uint32_t>(m.name.size()));
        Put16(directory, static_cast<std::uint32_t>(m.extra.size()));
        Put16(directory, static_cast<std::uint32_t>(m.comment.size()));
        Put16(directory, 0);
        Put16(directory, 0);
        Put32(directory, m.hostSystem == 3 ? 0x81A40000u : 0x20u);
        Put32(directory, localOffset);
        PutText(directory, m.name);
        PutText(directory, m.extra);
        PutText(directory, m.comment);
    }
    const auto directoryOffset = static_cast<std::uint32_t>(body.size());
    directory.resize(directory.size() - std::min<size_t>(m_cut, directory.size()));
    const auto directorySize = static_cast<std::uint32_t>(directory.size());

    std::vector<std::uint8_t> out = m_prefix;
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), directory.begin(), directory.end());
    const std::uint16_t total = m_total.value_or(static_cast<std::uint16_t>(m_members.size()));
    Put32(out, 0x06054B50);
    Put16(out, m_thisDisk);
    Put16(out, m_directoryDisk);
    Put16(out, total);
    Put16(out, total);
    Put32(out, directorySize);
    Put32(out, directoryOffset);
    Put16(out, static_cast<std::uint32_t>(m_comment.size()));
    PutText(out, m_comment);
    out.insert(out.end(), m_trailer.begin(), m_trailer.end());
    return out;
}

void ZipBuilder::WriteTo(const std::string& path) const {
    WriteBytes(path, Build());
}

}  // namespace parevo::test

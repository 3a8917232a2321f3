#include "archive/zip_format.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace parevo {

namespace {
constexpr std::size_t kDirectoryBufferSize = 64 * 1024;
}  // namespace

std::optional<std::size_t> FindEndRecordSignature(const std::uint8_t* tail, std::size_t size) {
    if (size < kZipEndRecordSize) {
        return std::nullopt;
    }
    for (std::size_t i = size - kZipEndRecordSize + 1; i > 0; --i) {
        if (ReadLe32(tail + i - 1) == kZipEndRecordSignature) {
            return i - 1;
        }
    }
    return std::nullopt;
}

ZipEndRecordHit FindEndRecord(std::int64_t fileSize, const ZipReadAt& read) {
    ZipEndRecordHit hit;
    if (fileSize < static_cast<std::int64_t>(kZipEndRecordSize)) {
        return hit;
    }
    hit.tail.resize(kZipEndRecordSize);
    hit.tailStart = fileSize - static_cast<std::int64_t>(kZipEndRecordSize);
    const std::size_t got = read(hit.tailStart, hit.tail.data(), hit.tail.size());
    if (got == hit.tail.size() && ReadLe32(reinterpret_cast<const std::uint8_t*>(
                                      hit.tail.data())) == kZipEndRecordSignature) {
        hit.position = hit.tailStart;
        return hit;
    }
    hit.tail.resize(static_cast<std::size_t>(
        std::min<std::int64_t>(fileSize, static_cast<std::int64_t>(kZipEndRecordSearchSpan))));
    hit.tailStart = fileSize - static_cast<std::int64_t>(hit.tail.size());
    hit.tail.resize(read(hit.tailStart, hit.tail.data(), hit.tail.size()));
    const auto at = FindEndRecordSignature(reinterpret_cast<const std::uint8_t*>(hit.tail.data()),
                                           hit.tail.size());
    if (at) {
        hit.position = hit.tailStart + static_cast<std::int64_t>(*at);
    }
    return hit;
}

ZipDirectoryReader::ZipDirectoryReader(ZipReadAt read, std::int64_t offset)
    : m_read(std::move(read)), m_offset(offset) {}

void ZipDirectoryReader::Reopen(ZipReadAt read, std::int64_t offset) {
    m_read = std::move(read);
    m_offset = offset;
    m_begin = m_end = 0;
}

ZipDirectoryReader::Result ZipDirectoryReader::Next(ZipCentralHeader& header, std::string& name,
                                                    std::string& extra, std::string& comment) {
    // The strings are the caller's, reused across entries, so only kept ones allocate.
    name.clear();
    extra.clear();
    comment.clear();
    m_fixed.clear();
    if (!Read(kZipCentralHeaderSize, m_fixed)) {
        return Result::End;
    }
    std::memcpy(&header, m_fixed.data(), kZipCentralHeaderSize);
    if (header.Signature != kZipCentralHeaderSignature) {
        return Result::Bad;
    }
    if (!Read(header.FileNameLen, name) || !Read(header.ExtraLen, extra) ||
        !Read(header.FileComLen, comment)) {
        return Result::Bad;
    }
    return Result::Entry;
}

bool ZipDirectoryReader::Read(std::size_t count, std::string& out) {
    while (count > 0) {
        if (m_begin == m_end && !Fill()) {
            return false;
        }
        const std::size_t take = std::min(count, m_end - m_begin);
        out.append(m_buffer.data() + m_begin, take);
        m_begin += take;
        count -= take;
    }
    return true;
}

bool ZipDirectoryReader::Fill() {
    m_buffer.resize(kDirectoryBufferSize);
    const std::size_t got = m_read(m_offset, m_buffer.data(), m_buffer.size());
    m_offset += static_cast<std::int64_t>(got);
    m_begin = 0;
    m_end = got;
    return got > 0;
}

}  // namespace parevo

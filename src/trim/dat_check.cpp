#include "trim/dat_check.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <vector>

#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/text_encoding.h"

namespace parevo {

namespace {

constexpr size_t kBlock = 1 << 20;

// Reads what `reader` holds at [offset, offset + count), throwing on a short read.
void ReadFully(const InputFile& reader, std::int64_t offset, std::uint8_t* buffer, size_t count) {
    if (reader.ReadAt(offset, buffer, count) != count) {
        throw IoError(DescribeIoFailure("Cannot read", reader.Path(), "the file ended early"));
    }
}

}  // namespace

// Hashes the ROM through a handle of its own, so that the pass outlives no file
// it reads: a trim that fails meanwhile closes its handle, the pass its own.
class DatCheck::Pass {
  public:
    Pass(const InputFile& rom, bool withSha256)
        : m_file(OwnHandle(rom)), m_result(std::async(std::launch::async, [this, withSha256] {
              return DigestImage(*m_file, withSha256, {}, &m_stop);
          })) {}
    ~Pass() {
        m_stop = true;
        if (m_result.valid()) {
            m_result.wait();
        }
    }

    // Waits for the digest, the window breathing meanwhile.
    ImageDigest Wait(const TrimEnvironment& env) {
        while (m_result.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
            env.KeepAlive();
        }
        return m_result.get();
    }

  private:
    static std::unique_ptr<InputFile> OwnHandle(const InputFile& rom) {
        if (std::unique_ptr<InputFile> again = rom.OpenAgain()) {
            return again;
        }
        auto file = std::make_unique<InputFile>(rom.Path());
        if (file->OpenedStamp().identity != rom.OpenedStamp().identity) {
            throw IoError(DescribeIoFailure("Cannot trim", rom.Path(), kReplacedWhileSearched));
        }
        return file;
    }

    std::atomic<bool> m_stop{false};
    const std::unique_ptr<InputFile> m_file;
    std::future<ImageDigest> m_result;
};

DatCheck::DatCheck(const Dat& dat) : m_dat(dat) {}

DatCheck::~DatCheck() = default;

void DatCheck::Begin(const InputFile& rom, const TrimEnvironment&) {
    m_found.reset();
    m_pass.reset();
    m_pass = std::make_unique<Pass>(rom, m_dat.AnySha256());
}

void DatCheck::BeforeCut(const InputFile& rom, std::int64_t outputLength,
                         const TrimEnvironment& env) {
    if (!m_pass) {
        m_pass = std::make_unique<Pass>(rom, m_dat.AnySha256());
    }
    const ImageDigest digest = m_pass->Wait(env);
    m_pass.reset();
    const Verdict verdict = VerifyDigest(m_dat, digest);
    Found found;
    found.romSize = digest.size;
    found.outputLength = outputLength;
    if (!verdict.match) {
        m_found = found;
        return;
    }
    // The output padded back gives the ROM as it verified only when what the
    // cut takes off (and any zeros a safe trim adds) is the padding byte.
    const DatMatch& match = *verdict.match;
    const auto restores = [&](std::uint8_t value) {
        if (outputLength > match.entry->size) {
            return false;
        }
        return outputLength <= digest.size ? digest.RunFrom(value) <= outputLength : value == 0x00;
    };
    std::optional<std::uint8_t> padByte;
    for (const std::uint8_t value : {std::uint8_t{0xFF}, std::uint8_t{0x00}}) {
        if (!padByte && (!match.padByte || match.padByte == value) && restores(value)) {
            padByte = value;
        }
    }
    if (!padByte) {
        throw IoError(DescribeIoFailure(
            "Cannot trim", rom.Path(),
            "its trimmed image could not be padded back to \"" + Utf8ToNarrow(match.entry->game) +
                "\" of the DAT (the bytes the trim takes off are not one padding value)"));
    }
    found.entry = match.entry;
    found.padByte = *padByte;
    m_found = found;
}

std::string DatCheck::AfterWrite(const InputFile& rom, const std::string& outputPath, bool inPlace,
                                 int index, int count, const TrimEnvironment& env) {
    const Found found = *m_found;
    m_found.reset();
    if (found.entry == nullptr) {
        return env.Text("rom %d of %d -> not in the DAT", {index + 1, count});
    }
    // The output is read back: its CRC padded back must be the entry's, and each
    // byte must be the ROM's (zeros past its end), which verified with every hash.
    // A cut in place left the kept bytes where they were: their CRC is checked.
    const InputFile output(outputPath);
    bool same = output.Size() == found.outputLength;
    std::uint32_t crc = 0;
    std::vector<std::uint8_t> written(kBlock);
    std::vector<std::uint8_t> source(kBlock);
    for (std::int64_t at = 0; same && at < found.outputLength; at += kBlock) {
        const size_t piece =
            static_cast<size_t>(std::min<std::int64_t>(kBlock, found.outputLength - at));
        ReadFully(output, at, written.data(), piece);
        crc = Crc32(crc, written.data(), piece);
        if (!inPlace) {
            const size_t fromRom = static_cast<size_t>(
                std::clamp<std::int64_t>(found.romSize - at, 0, static_cast<std::int64_t>(piece)));
            ReadFully(rom, at, source.data(), fromRom);
            std::memset(source.data() + fromRom, 0, piece - fromRom);
            same = std::memcmp(written.data(), source.data(), piece) == 0;
        }
        env.KeepAlive();
    }
    const std::int64_t padding = found.entry->size - found.outputLength;
    same =
        same && Crc32Combine(crc, Crc32OfRun(found.padByte, padding), padding) == found.entry->crc;
    if (!same) {
        std::string reason = "its output \"" + outputPath + "\" does not give \"" +
                             Utf8ToNarrow(found.entry->game) + "\" of the DAT padded back";
        if (!inPlace) {
            std::error_code ignored;
            std::filesystem::remove(std::filesystem::path(outputPath), ignored);
            reason += "; the output was removed";
        }
        throw IoError(DescribeIoFailure("Cannot trim", rom.Path(), reason));
    }
    return env.Text("rom %d of %d -> verified \"%s\"",
                    {index + 1, count, Utf8ToNarrow(found.entry->game)});
}

}  // namespace parevo

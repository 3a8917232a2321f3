#include "dat/verify.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/file_io.h"
#include "platform/text_encoding.h"

namespace parevo {

namespace {

constexpr size_t kBlock = 1 << 20;

// Runs SHA-256 on a thread of its own, one block behind the caller, who hashes
// the rest of the same block meanwhile. Handing a block over waits for the one
// before, so that the caller may fill that one's buffer again.
class SideSha256 {
  public:
    explicit SideSha256(Sha256& hash) : m_hash(hash), m_thread([this] { Run(); }) {}
    ~SideSha256() {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    void Post(const std::uint8_t* data, size_t size) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_data == nullptr; });
        m_data = data;
        m_size = size;
        m_changed.notify_all();
    }
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_data == nullptr; });
    }

  private:
    void Run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_data != nullptr || m_quit; });
            if (m_data == nullptr) {
                return;
            }
            lock.unlock();
            m_hash.Update(m_data, m_size);
            lock.lock();
            m_data = nullptr;
            m_changed.notify_all();
        }
    }

    Sha256& m_hash;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const std::uint8_t* m_data = nullptr;  // the block being hashed; none when idle
    size_t m_size = 0;
    bool m_quit = false;
    std::thread m_thread;  // last: it starts once the rest is set up
};

// Moves `from` to the end of the last byte of the block that is not `value`;
// true when the whole block holds `value`, which leaves `from` as it is.
bool FollowRun(const std::uint8_t* block, size_t size, std::int64_t offset, std::uint8_t value,
               std::int64_t& from) {
    if (std::memcmp(block, RunBlock(value), size) == 0) {
        return true;
    }
    size_t end = size;
    while (block[end - 1] == value) {
        --end;
    }
    from = offset + static_cast<std::int64_t>(end);
    return false;
}

// The image's hashes carried on over `count` bytes of `value`; SHA-256 beside.
void PadHashes(Sha1& sha1, std::optional<Sha256>& sha256, std::uint8_t value, std::int64_t count) {
    if (!sha256) {
        sha1.UpdateRun(value, count);
        return;
    }
    std::thread side([&] { sha256->UpdateRun(value, count); });
    sha1.UpdateRun(value, count);
    side.join();
}

std::string Quoted(const std::string& utf8) {
    return "\"" + Utf8ToNarrow(utf8) + "\"";
}

}  // namespace

ImageDigest DigestImage(const InputFile& image, bool withSha256,
                        const std::function<void()>& keepAlive, const std::atomic<bool>* stop) {
    ImageDigest digest;
    if (withSha256) {
        digest.sha256.emplace();
    }
    std::vector<std::uint8_t> buffers[2] = {std::vector<std::uint8_t>(kBlock),
                                            std::vector<std::uint8_t>(kBlock)};
    std::optional<SideSha256> side;
    if (digest.sha256) {
        side.emplace(*digest.sha256);
    }
    std::int64_t offset = 0;
    for (int i = 0;; i ^= 1) {
        std::uint8_t* block = buffers[i].data();
        const size_t got = image.ReadAt(offset, block, kBlock);
        if (got == 0 || (stop != nullptr && stop->load())) {
            break;
        }
        if (side) {
            side->Post(block, got);
        }
        digest.sha1.Update(block, got);
        if (offset == 0 && got >= 0x10) {
            digest.gameCode.assign(reinterpret_cast<const char*>(block) + 0x0C, 4);
        }
        // A block of padding needs no pass for its CRC: it follows from its length.
        const bool zeros = FollowRun(block, got, offset, 0x00, digest.zerosFrom);
        const bool ones = !zeros && FollowRun(block, got, offset, 0xFF, digest.onesFrom);
        if (zeros) {
            digest.onesFrom = offset + static_cast<std::int64_t>(got);
        }
        if (zeros || ones) {
            digest.crc = Crc32Combine(digest.crc, Crc32OfRun(zeros ? 0x00 : 0xFF, got), got);
        } else {
            digest.crc = Crc32(digest.crc, block, got);
        }
        offset += static_cast<std::int64_t>(got);
        if (keepAlive) {
            keepAlive();
        }
    }
    if (side) {
        side->Wait();
    }
    digest.size = offset;
    return digest;
}

Verdict VerifyDigest(const Dat& dat, const ImageDigest& digest) {
    Verdict verdict;
    const auto& sizes = dat.Sizes();
    for (auto size = std::lower_bound(sizes.begin(), sizes.end(), digest.size);
         size != sizes.end() && !verdict.match; ++size) {
        const std::int64_t padding = *size - digest.size;
        std::vector<std::optional<std::uint8_t>> pads{std::nullopt};
        if (padding > 0) {
            pads = {0xFF, 0x00};
        }
        for (const std::optional<std::uint8_t>& pad : pads) {
            const std::uint32_t crc =
                pad ? Crc32Combine(digest.crc, Crc32OfRun(*pad, padding), padding) : digest.crc;
            const std::vector<const DatEntry*> found = dat.Find(*size, crc);
            if (found.empty()) {
                continue;
            }
            Sha1 sha1 = digest.sha1;
            std::optional<Sha256> sha256 = digest.sha256;
            if (pad) {
                PadHashes(sha1, sha256, *pad, padding);
            }
            const Sha1Digest sha1Digest = sha1.Digest();
            const std::optional<Sha256Digest> sha256Digest =
                sha256 ? std::optional(sha256->Digest()) : std::nullopt;
            for (const DatEntry* entry : found) {
                const bool same = (!entry->sha1 || *entry->sha1 == sha1Digest) &&
                                  (!entry->sha256 || entry->sha256 == sha256Digest);
                if (same && !verdict.match) {
                    verdict.match = DatMatch{entry, pad};
                } else if (!same) {
                    verdict.differsFrom.push_back(entry);
                }
            }
            if (verdict.match) {
                break;
            }
        }
    }
    if (verdict.match) {
        verdict.differsFrom.clear();
        return verdict;
    }
    for (const DatEntry* entry : dat.WithGameCode(digest.gameCode)) {
        if (std::find(verdict.differsFrom.begin(), verdict.differsFrom.end(), entry) ==
            verdict.differsFrom.end()) {
            verdict.differsFrom.push_back(entry);
        }
    }
    return verdict;
}

Verdict VerifyImage(const Dat& dat, const InputFile& image,
                    const std::function<void()>& keepAlive) {
    return VerifyDigest(dat, DigestImage(image, dat.AnySha256(), keepAlive));
}

std::vector<std::string> VerdictLines(const Verdict& verdict) {
    if (verdict.match) {
        const DatMatch& match = *verdict.match;
        const std::string how =
            !match.padByte ? "as it is"
                           : std::string("padded with ") + (*match.padByte == 0 ? "0x00" : "0xFF");
        return {"verified: " + Quoted(match.entry->game) + " (" +
                std::to_string(match.entry->size) + " bytes, " + how + ")"};
    }
    std::vector<std::string> lines{"no match"};
    for (const DatEntry* entry : verdict.differsFrom) {
        lines.push_back("bad dump: differs from " + Quoted(entry->game));
    }
    return lines;
}

}  // namespace parevo

#pragma once
// Writes RAR 4 archives byte by byte, with stored (uncompressed) members: names
// with folders, folders, members flagged as encrypted, headers with a broken
// CRC, and header fields (host system, method, time) set at will; and RAR 5
// archives with stored members, extra records of any type and size, and blocks
// of any type.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parevo::test {

struct RarMember {
    std::string name;  // as stored: a Windows tool writes "\" between folders
    std::vector<std::uint8_t> data;
    bool folder = false;
    bool encrypted = false;  // sets the password flag; the data stays as given
    bool brokenHeaderCrc = false;
    bool solid = false;  // continues the previous member's solid stream
    // The packed size the header gives, when not the data's own.
    std::optional<std::uint32_t> declaredPackSize;
    // The high 32 bits of the packed size, written with the large-file flag.
    std::optional<std::uint32_t> declaredHighPackSize;
    std::uint8_t hostOS = 2;     // Windows
    std::uint8_t method = 0x30;  // stored
    std::uint8_t unpVer = 20;
    std::uint32_t dosTime = 0x37494464;  // 2007-10-09 08:35:08
    std::uint32_t attributes = 0x20;     // archive
    // Bytes after the name and the optional fields, inside the header.
    std::vector<std::uint8_t> headerTail;
};

class RarBuilder {
  public:
    RarBuilder& Add(const RarMember& member);
    RarBuilder& AddFile(const std::string& name, const std::vector<std::uint8_t>& data);
    RarBuilder& AddText(const std::string& name, const std::string& text);
    RarBuilder& AddFolder(const std::string& name);
    // Flips the header CRC of the member added last.
    RarBuilder& BreakLastHeaderCrc();

    // An archive comment in a "CMT" sub-block; a method other than 0x30 marks it
    // as packed (the bytes stay as given).
    RarBuilder& Comment(const std::string& text, std::uint8_t method = 0x30);
    // The main header's flags (0x80: the headers are encrypted).
    RarBuilder& ArchiveFlags(unsigned flags);
    // A block of any type after the members added so far; with `data`, the
    // flag 0x8000 and the data's size are written and the data follows.
    RarBuilder& AddBlock(std::uint8_t type, unsigned flags, const std::vector<std::uint8_t>& body,
                         const std::vector<std::uint8_t>* data = nullptr);

    std::vector<std::uint8_t> Build() const;
    void WriteTo(const std::string& path) const;

    // One member split over `volumes` volumes: each volume's header carries the
    // part's size, the last the whole member's CRC. `newNumbering` marks the set
    // as named .partN.rar (else .rar, .r00, .r01...). `first` are whole members
    // stored in the first volume ahead of the split one.
    static std::vector<std::vector<std::uint8_t>> VolumeSet(
        const RarMember& member, std::size_t volumes, bool newNumbering,
        const std::vector<RarMember>& first = {});

  private:
    std::vector<RarMember> m_members;
    std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> m_blocks;  // after member N
    unsigned m_archiveFlags = 0;
    bool m_hasComment = false;
    RarMember m_comment;
};

// A RAR 5 member, stored: its checksums, times, file version and link target
// are chosen at will.
struct Rar5Member {
    std::string name;  // "/" between folders
    std::vector<std::uint8_t> data;
    bool folder = false;
    bool crc = true;
    bool blake2 = false;                  // a BLAKE2sp hash record
    bool mtime = true;                    // a modification time record (Unix time)
    std::uint32_t unixTime = 1191918908;  // 2007-10-09 08:35:08 UTC
    unsigned version = 0;                 // a file version record when not 0
    std::string linkTarget;               // a Unix symbolic link when not empty
    bool encrypted = false;               // an encryption record; the data stays as given
    // Extra records (type and body) written after the ones above.
    std::vector<std::vector<std::uint8_t>> records;
    std::optional<std::uint64_t> declaredUnpSize;  // the unpacked size the header gives
    std::uint64_t compInfo = 0;                    // version, method, dictionary bits
};

class Rar5Builder {
  public:
    Rar5Builder& Add(const Rar5Member& member);
    Rar5Builder& AddText(const std::string& name, const std::string& text);
    // A record (type and body) in the main header's extra area.
    Rar5Builder& MainRecord(const std::vector<std::uint8_t>& record);
    // A header of any type after the members added so far: its fields, extra
    // records, and data when not null.
    Rar5Builder& AddBlock(std::uint64_t type, const std::vector<std::uint8_t>& fields,
                          const std::vector<std::vector<std::uint8_t>>& records,
                          const std::vector<std::uint8_t>* data = nullptr);
    std::vector<std::uint8_t> Build() const;
    void WriteTo(const std::string& path) const;
    // One member split over `volumes` volumes (named .partN.rar); the last part's
    // header carries the whole member's CRC.
    static std::vector<std::vector<std::uint8_t>> VolumeSet(const Rar5Member& member,
                                                            std::size_t volumes);

  private:
    std::vector<Rar5Member> m_members;
    std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> m_blocks;  // after member N
    std::vector<std::uint8_t> m_mainExtra;
};

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

// Flips the bits of the first byte of `needle` in `bytes` (a member's data, say).
void FlipFirst(std::vector<std::uint8_t>& bytes, const std::string& needle);

// The DOS date (high half) and time (low half) of a calendar time.
std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

}  // namespace parevo::test

// Our RAR library ends every pass over the damaged and unusual fixture archives
// where the vendor's library ends it, with the same entries and the same files
// written: rar-vendor-results.tsv records what the vendor's library did, and
// each of its rows is one case here. A second table holds archives written by
// the test support, with what the vendor's library does with them as the
// format leads it to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "archive/unrar_binding.h"
#include "checksum.h"
#include "rar_scan.h"
#include "support/rar_builder.h"
#include "support/temp_dir.h"

namespace parevo {
namespace {

namespace fs = std::filesystem;

struct VendorRow {
    std::string file;
    std::string mode;  // "list" or "extract"
    std::string end;   // open:N, header:N or process:N
    int entries = 0;
    std::string firstEntries;  // "name (N B); ..." for the first three
    std::string filesWritten;
};

void PrintTo(const VendorRow& row, std::ostream* os) {
    *os << row.file << " (" << row.mode << ")";
}

std::string TablePath() {
    return std::string(PAREVO_FIXTURES_DIR) + "/rar-vendor-results.tsv";
}

std::vector<VendorRow> LoadRows() {
    std::vector<VendorRow> rows;
    std::ifstream in(TablePath());
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line.rfind("file\t", 0) == 0) {
            continue;
        }
        std::vector<std::string> cells;
        std::stringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, '\t');) {
            cells.push_back(cell);
        }
        cells.resize(6);
        rows.push_back({cells[0], cells[1], cells[2], std::stoi(cells[3]), cells[4], cells[5]});
    }
    return rows;
}

// What a pass did, in the table's terms.
struct Outcome {
    std::string end;
    int entries = 0;
    std::string firstEntries;
    std::string filesWritten;
    // Every entry with the fields a header read reports, and every file written
    // with its content.
    std::string details;
    std::string contents;
};

// "name (size B, t=unix time or none, hash[, link])"; the DOS time must be the
// one of the modification time (or 0 with it).
std::string Describe(const RARHeaderDataEx& d) {
    const std::uint64_t size = d.UnpSize | static_cast<std::uint64_t>(d.UnpSizeHigh) << 32;
    const std::uint64_t mtime = d.MtimeLow | static_cast<std::uint64_t>(d.MtimeHigh) << 32;
    std::string time = "none";
    if (mtime != 0) {
        const std::int64_t unixTime = static_cast<std::int64_t>(mtime / 10000000) - 11644473600LL;
        time = std::to_string(unixTime);
    }
    const bool dosMatches =
        d.FileTime == (mtime == 0 ? 0u
                                  : unrar::DosTimeFromUnix(static_cast<std::int64_t>(
                                        mtime / 10000000 - 11644473600ULL)));
    const char* hash[] = {"nohash", "crc32", "blake2"};
    return std::string(d.FileName) + " (" + std::to_string(size) + " B, t=" + time +
           (dosMatches ? "" : "!dos") + ", " + (d.HashType < 3 ? hash[d.HashType] : "?") +
           (d.RedirType != 0 ? ", link" : "") + ")";
}

// As the vendor's run was made: a missing volume is refused, no password given.
int UNRAR_CALL Refuse(unsigned msg, RarLParam, RarLParam, RarLParam p2) {
    return (msg == UCM_CHANGEVOLUME || msg == UCM_CHANGEVOLUMEW) && p2 == RAR_VOL_ASK ? -1 : 0;
}

Outcome RunPass(const UnRarFunctions& f, std::string archive, bool extract,
                const std::string& dest) {
    Outcome o;
    RAROpenArchiveDataEx open{};
    open.ArcName = archive.data();
    open.OpenMode = extract ? RAR_OM_EXTRACT : RAR_OM_LIST;
    open.Callback = &Refuse;
    void* h = f.RAROpenArchiveEx(&open);
    if (h == nullptr) {
        o.end = "open:" + std::to_string(open.OpenResult);
        return o;
    }
    std::string destText = dest;
    auto header = std::make_unique<RARHeaderDataEx>();
    for (int guard = 0; guard < 1000 && o.end.empty(); ++guard) {
        std::memset(static_cast<void*>(header.get()), 0, sizeof(RARHeaderDataEx));
        const int r = f.RARReadHeaderEx(h, header.get());
        if (r != 0) {
            o.end = "header:" + std::to_string(r);
            break;
        }
        o.details += (o.details.empty() ? "" : "; ") + Describe(*header);
        if (++o.entries <= 3) {
            const std::uint64_t size =
                header->UnpSize | static_cast<std::uint64_t>(header->UnpSizeHigh) << 32;
            o.firstEntries += (o.entries > 1 ? "; " : "") + std::string(header->FileName) + " (" +
                              std::to_string(size) + " B)";
        }
        const int p =
            f.RARProcessFile(h, extract ? RAR_EXTRACT : RAR_SKIP, destText.data(), nullptr);
        if (p != 0) {
            o.end = "process:" + std::to_string(p);
        }
    }
    f.RARCloseArchive(h);
    std::vector<std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(dest)) {
        if (item.is_regular_file()) {
            files.push_back(fs::relative(item.path(), dest).generic_string());
        }
    }
    std::sort(files.begin(), files.end());
    for (const std::string& name : files) {
        o.filesWritten += (o.filesWritten.empty() ? "" : "; ") + name;
        o.contents += (o.contents.empty() ? "" : "; ") + name + "=" +
                      test::ReadText((fs::path(dest) / name).string());
    }
    return o;
}

class RarVendorResults : public ::testing::TestWithParam<VendorRow> {};

TEST_P(RarVendorResults, PassEndsWhereTheVendorsEnds) {
    const VendorRow& row = GetParam();
    UnRarLibrary lib(std::string(PAREVO_BIN_DIR) + "/" + UnRarLibraryFileName());
    ASSERT_TRUE(lib.Loaded());
    // Each archive alone in a folder: a volume set's other parts are missing.
    test::TempDir dir;
    const std::string archive = dir / row.file;
    fs::copy_file(std::string(PAREVO_FIXTURES_DIR) + "/rar/" + row.file, archive);
    fs::create_directory(dir / "out");
    const Outcome o = RunPass(lib.Functions(), archive, row.mode == "extract", dir / "out");
    EXPECT_EQ(o.end, row.end);
    EXPECT_EQ(o.entries, row.entries);
    EXPECT_EQ(o.firstEntries, row.firstEntries);
    EXPECT_EQ(o.filesWritten, row.filesWritten);
}

std::string RowName(const ::testing::TestParamInfo<VendorRow>& info) {
    std::string name =
        info.param.file.substr(0, info.param.file.rfind('.')) + "_" + info.param.mode;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RarVendorResults, ::testing::ValuesIn(LoadRows()), RowName);
TEST(RarVendorResultsTable, CoversEveryDamagedFixtureInBothModes) {
    ASSERT_TRUE(fs::exists(TablePath())) << "fixtures missing (tests/fixtures)";
    const std::vector<VendorRow> rows = LoadRows();
    EXPECT_EQ(rows.size(), 32u);
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [](const VendorRow& r) { return r.mode == "extract"; }),
              16);
}

// Archives the test support writes, each row with what the vendor's library does
// with it and why: the extra area of a RAR 5 header is extensible, so records
// and blocks the reader does not know are passed over by their size; a symbolic
// link reports the size its header gives; data that cannot be what its header
// says is refused and nothing is written.
struct ReasonedRow {
    const char* label;
    const char* reason;
    std::vector<std::uint8_t> (*make)();
    bool extract;
    std::string end;
    std::string entries;  // every entry, as Describe gives it
    std::string files;    // "name=content; ..." after the pass
    std::string older;    // a file of this name holds "older" before the pass
};

void PrintTo(const ReasonedRow& row, std::ostream* os) {
    *os << row.label;
}

using Bytes = std::vector<std::uint8_t>;
using Records = std::vector<Bytes>;

test::Rar5Member Member5(const std::string& name, const std::string& text,
                         const Records& records = {}) {
    test::Rar5Member m;
    m.name = name;
    m.data.assign(text.begin(), text.end());
    m.records = records;
    return m;
}

// "a.txt" with the given records, between two plain members.
Bytes Rar5WithRecords(const Records& records, bool mtime = true) {
    test::Rar5Member m = Member5("a.txt", "alpha", records);
    m.mtime = mtime;
    test::Rar5Builder b;
    b.Add(Member5("first.txt", "one")).Add(m).Add(Member5("last.txt", "two"));
    return b.Build();
}

Bytes Blake2Record(const std::string& text, const Bytes& tail) {
    unrar::Blake2sp hash;
    hash.Update(text.data(), text.size());
    const auto digest = hash.Final();
    Bytes rec = {0x02, 0x00};
    rec.insert(rec.end(), digest.begin(), digest.end());
    rec.insert(rec.end(), tail.begin(), tail.end());
    return rec;
}

Bytes UnknownRecord() {
    return Rar5WithRecords({{0x40, 1, 2, 3, 4, 5}});
}
Bytes LongOwnerName() {
    Bytes rec = {0x06, 0x01, 0xAC, 0x02};  // a user name of 300 bytes
    rec.resize(rec.size() + 300, 'u');
    return Rar5WithRecords({rec});
}
Bytes UnknownHashType() {
    Bytes rec = {0x02, 0x05};
    rec.resize(rec.size() + 32, 0xEE);
    return Rar5WithRecords({rec});
}
Bytes LongBlake2Record() {
    return Rar5WithRecords({Blake2Record("alpha", {9, 9, 9, 9, 9, 9, 9, 9})});
}
Bytes TimeRecordWithMoreFlags() {
    // Unix format, a modification time, its nanoseconds, and a flag of no meaning yet.
    return Rar5WithRecords({{0x03, 0x33, 0x00, 0x6D, 0x7C, 0x4D, 0x01, 0x00, 0x00, 0x00}}, false);
}
Bytes ShortTimeRecord() {
    return Rar5WithRecords({{0x03, 0x03, 0x10, 0x20}}, false);
}
Bytes ZeroFileTime() {
    return Rar5WithRecords({{0x03, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}}, false);
}
Bytes MainHeaderRecords() {
    test::Rar5Builder b;
    // A locator longer than its flags need, and the archive's name and time.
    b.MainRecord({0x01, 0x00, 0xAA, 0xBB}).MainRecord({0x02, 0x01, 0x05, 'a', '.', 'r', 'a', 'r'});
    b.Add(Member5("a.txt", "alpha"));
    return b.Build();
}
Bytes ServiceHeaders() {
    test::Rar5Builder b;
    b.Add(Member5("a.txt", "alpha"));
    b.AddService("STM", {'s', 't', 'r', 'e', 'a', 'm'}, {{0x02, 0x07, 1, 2, 3}, {0x41, 7}});
    b.AddService("QO", {'q', 'o'}, {{0x40, 1}});
    b.Add(Member5("b.txt", "beta"));
    return b.Build();
}
Bytes UnknownBlock() {
    const Bytes data = {'d', 'a', 't', 'a'};
    test::Rar5Builder b;
    b.Add(Member5("a.txt", "alpha")).AddBlock(0x20, {1, 2, 3}, {{0x40, 1}}, &data);
    b.Add(Member5("b.txt", "beta"));
    return b.Build();
}
Bytes Rar4UnknownBlock() {
    const Bytes data = {'d', 'a', 't', 'a'};
    test::RarBuilder b;
    b.AddText("a.txt", "alpha").AddBlock(0x80, 0, {1, 2, 3}, &data).AddText("b.txt", "beta");
    return b.Build();
}
Bytes Rar4HeaderTail() {
    test::RarMember m;
    m.name = "a.txt";
    m.data = {'a', 'l', 'p', 'h', 'a'};
    m.headerTail = {0, 1, 2, 3, 4, 5};
    test::RarBuilder b;
    b.Add(m).AddText("b.txt", "beta");
    return b.Build();
}
Bytes Rar5LinkOfSizeZero() {
    test::Rar5Member link = Member5("link", "");
    link.linkTarget = "target/file.nds";
    test::Rar5Builder b;
    b.Add(link).Add(Member5("a.txt", "alpha"));
    return b.Build();
}
Bytes Rar5LinkWithData() {
    test::Rar5Member link = Member5("link", "target/file.nds");
    link.linkTarget = "target/file.nds";
    test::Rar5Builder b;
    b.Add(link);
    return b.Build();
}
Bytes Rar4Link() {
    test::RarMember link;
    link.name = "link";
    link.data = {'t', 'a', 'r', 'g', 'e', 't'};
    link.hostOS = 3;
    link.attributes = 0xA1FF;
    test::RarBuilder b;
    b.Add(link);
    return b.Build();
}
Bytes UnknownVersion() {
    test::Rar5Member m = Member5("a.txt", "alpha");
    m.compInfo = 2;  // neither RAR 5.0 (0) nor RAR 7.0 (1)
    test::Rar5Builder b;
    b.Add(m).Add(Member5("b.txt", "beta"));
    return b.Build();
}
Bytes SizeAboveData() {
    test::Rar5Member m = Member5("a.txt", "alpha");
    m.declaredUnpSize = 9;
    test::Rar5Builder b;
    b.Add(m);
    return b.Build();
}
Bytes SizeBelowData() {
    test::Rar5Member m = Member5("a.txt", "alpha");
    m.declaredUnpSize = 3;
    m.crc = false;
    test::Rar5Builder b;
    b.Add(m);
    return b.Build();
}
Bytes LargeDictionary() {
    test::Rar5Member m = Member5("a.txt", "alpha");
    m.compInfo = 10 << 10;  // 128 MiB
    test::Rar5Builder b;
    b.Add(m).Add(Member5("b.txt", "beta"));
    return b.Build();
}

const std::string kT = "t=1191918908";  // the builders' time

class RarVendorReasoning : public ::testing::TestWithParam<ReasonedRow> {
  protected:
    // The reported times are compared in UTC, whatever the machine's zone.
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        m_tz = tz != nullptr ? std::optional<std::string>(tz) : std::nullopt;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (m_tz) {
            setenv("TZ", m_tz->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    std::optional<std::string> m_tz;
};

TEST_P(RarVendorReasoning, PassEndsWhereTheVendorsWould) {
    const ReasonedRow& row = GetParam();
    UnRarLibrary lib(std::string(PAREVO_BIN_DIR) + "/" + UnRarLibraryFileName());
    ASSERT_TRUE(lib.Loaded());
    test::TempDir dir;
    test::WriteBytes(dir / "a.rar", row.make());
    fs::create_directory(dir / "out");
    if (!row.older.empty()) {
        test::WriteText(dir / ("out/" + row.older), "older");
    }
    const Outcome o = RunPass(lib.Functions(), dir / "a.rar", row.extract, dir / "out");
    EXPECT_EQ(o.end, row.end) << row.reason;
    EXPECT_EQ(o.details, row.entries) << row.reason;
    EXPECT_EQ(o.contents, row.files) << row.reason;
    for (const auto& item : fs::recursive_directory_iterator(dir / "out")) {
        EXPECT_NE(item.path().filename().string()[0], '.') << "left behind: " << item.path();
    }
}

// Both passes over an archive every member of which the vendor's library lists
// and extracts whole.
#define WHOLE(label, reason, make, entries, files)                                               \
    ReasonedRow{label "_list", reason, make, false, "header:10", entries, "", ""}, ReasonedRow { \
        label "_extract", reason, make, true, "header:10", entries, files, ""                    \
    }

const std::string kTwo = "a.txt (5 B, " + kT + ", crc32); b.txt (4 B, " + kT + ", crc32)";
const std::string kTwoFiles = "a.txt=alpha; b.txt=beta";
const std::string kThree = "first.txt (3 B, " + kT + ", crc32); a.txt (5 B, ";
const std::string kThreeEnd = "; last.txt (3 B, " + kT + ", crc32)";
const std::string kThreeFiles = "a.txt=alpha; first.txt=one; last.txt=two";

INSTANTIATE_TEST_SUITE_P(
    Reasoned, RarVendorReasoning,
    ::testing::Values(
        WHOLE("UnknownExtraRecord", "a record of a type not known is passed over by its size",
              &UnknownRecord, kThree + kT + ", crc32)" + kThreeEnd, kThreeFiles),
        WHOLE("LongOwnerName", "an owner name of any length is a record like any other",
              &LongOwnerName, kThree + kT + ", crc32)" + kThreeEnd, kThreeFiles),
        WHOLE("UnknownHashType", "a hash of a type not known checks nothing; the CRC still does",
              &UnknownHashType, kThree + kT + ", crc32)" + kThreeEnd, kThreeFiles),
        WHOLE("LongBlake2Record", "bytes after the digest are the record's, passed over",
              &LongBlake2Record, kThree + kT + ", blake2)" + kThreeEnd, kThreeFiles),
        WHOLE("TimeRecordWithMoreFlags", "flags not known add nothing the time needs",
              &TimeRecordWithMoreFlags, kThree + "t=1300000000, crc32)" + kThreeEnd, kThreeFiles),
        WHOLE("ShortTimeRecord", "a time the record is too short for is absent", &ShortTimeRecord,
              kThree + "t=none, crc32)" + kThreeEnd, kThreeFiles),
        WHOLE("ZeroFileTime", "a FILETIME of 0 is no time at all", &ZeroFileTime,
              kThree + "t=none, crc32)" + kThreeEnd, kThreeFiles),
        WHOLE("MainHeaderRecords", "the main header's records are skipped like a file's",
              &MainHeaderRecords, "a.txt (5 B, " + kT + ", crc32)", "a.txt=alpha"),
        WHOLE("ServiceHeaders", "service headers are not members, whatever records they hold",
              &ServiceHeaders, kTwo, kTwoFiles),
        WHOLE("UnknownBlockType", "a header of a type not known is passed over with its data",
              &UnknownBlock, kTwo, kTwoFiles),
        WHOLE("Rar4UnknownBlockType", "RAR 4 blocks not known are passed over by their sizes",
              &Rar4UnknownBlock, kTwo, kTwoFiles),
        WHOLE("Rar4HeaderTail", "bytes after a RAR 4 header's fields are the header's own",
              &Rar4HeaderTail, kTwo, kTwoFiles),
        WHOLE("LargeDictionary", "a window the format allows is no damage", &LargeDictionary, kTwo,
              kTwoFiles),
        WHOLE("Rar5LinkOfSizeZero", "a link reports the unpacked size its header gives",
              &Rar5LinkOfSizeZero,
              "link (0 B, " + kT + ", crc32, link); a.txt (5 B, " + kT + ", crc32)", "a.txt=alpha"),
        WHOLE("Rar5LinkWithData", "a link whose data is its target has the target's length",
              &Rar5LinkWithData, "link (15 B, " + kT + ", crc32, link)", ""),
        WHOLE("Rar4Link", "a RAR 4 Unix link's data is its target", &Rar4Link,
              "link (6 B, " + kT + ", crc32, link)", ""),
        ReasonedRow{"UnknownVersion_list", "listing needs no decoder", &UnknownVersion, false,
                    "header:10", kTwo, "", ""},
        ReasonedRow{"UnknownVersion_extract",
                    "data packed by a version not known is an unknown format, not damage",
                    &UnknownVersion, true, "process:14", "a.txt (5 B, " + kT + ", crc32)",
                    "a.txt=older", "a.txt"},
        ReasonedRow{"SizeAboveData_extract", "data shorter than the header's size is damaged",
                    &SizeAboveData, true, "process:12", "a.txt (9 B, " + kT + ", crc32)",
                    "a.txt=older", "a.txt"},
        ReasonedRow{"SizeBelowData_extract", "data longer than the header's size is damaged",
                    &SizeBelowData, true, "process:12", "a.txt (3 B, " + kT + ", nohash)",
                    "a.txt=older", "a.txt"}),
    [](const ::testing::TestParamInfo<ReasonedRow>& info) {
        return std::string(info.param.label);
    });

}  // namespace
}  // namespace parevo

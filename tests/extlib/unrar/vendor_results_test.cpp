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

// Sets (or, with none, removes) the time zone the C library reads.
void SetZone(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone != nullptr ? zone : "");
    _tzset();
#else
    zone != nullptr ? setenv("TZ", zone, 1) : unsetenv("TZ");
    tzset();
#endif
}

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

// Archives the test support writes, with what the vendor's library does with
// each as the format leads it: records and blocks not known are passed over by
// their sizes, a link reports the size its header gives, and data that cannot be
// what its header says is refused with nothing written. Each archive is listed,
// then extracted where "a.txt" holds "older".
struct ReasonedRow {
    const char* label;
    const char* reason;
    std::vector<std::uint8_t> (*make)();
    std::string entries;       // every entry listed, as Describe gives them
    std::string files;         // "name=content; ..." after the extraction
    std::string refused = {};  // "process:N" when extracting "a.txt" ends the pass
};

void PrintTo(const ReasonedRow& row, std::ostream* os) {
    *os << row.label;
}

using Bytes = std::vector<std::uint8_t>;
constexpr auto kAsIs = [](auto&) {};

// "a.txt" holding "alpha" as `edit` leaves it, what `between` adds, then "b.txt".
template <typename Builder, typename Member, typename Edit, typename Between>
Bytes Pair(Edit edit, Between between) {
    Member a;
    a.name = "a.txt";
    a.data = {'a', 'l', 'p', 'h', 'a'};
    edit(a);
    Builder b;
    b.Add(a);
    between(b);
    b.AddText("b.txt", "beta");
    return b.Build();
}
template <typename Edit, typename Between = decltype(kAsIs)>
Bytes Pair5(Edit edit, Between between = kAsIs) {
    return Pair<test::Rar5Builder, test::Rar5Member>(edit, between);
}
template <typename Edit, typename Between = decltype(kAsIs)>
Bytes Pair4(Edit edit, Between between = kAsIs) {
    return Pair<test::RarBuilder, test::RarMember>(edit, between);
}
Bytes Records5(const std::vector<Bytes>& records, bool mtime = true) {
    return Pair5([&](test::Rar5Member& a) {
        a.records = records;
        a.mtime = mtime;
    });
}

const std::string kT = "t=1191918908";  // the builders' time
const std::string kB = "; b.txt (4 B, " + kT + ", crc32)";
const std::string kA = "a.txt (5 B, " + kT + ", crc32)" + kB;
const std::string kFiles = "a.txt=alpha; b.txt=beta";

class RarVendorReasoning : public ::testing::TestWithParam<ReasonedRow> {};

TEST_P(RarVendorReasoning, ListsAndExtractsAsTheVendorsWould) {
    const ReasonedRow& row = GetParam();
    UnRarLibrary lib(std::string(PAREVO_BIN_DIR) + "/" + UnRarLibraryFileName());
    ASSERT_TRUE(lib.Loaded());
    test::TempDir dir;
    test::WriteBytes(dir / "a.rar", row.make());
    fs::create_directory(dir / "list");
    fs::create_directory(dir / "out");
    if (!row.refused.empty()) {
        test::WriteText(dir / "out/a.txt", "older");
    }
    // Times are compared in UTC, whatever the machine's zone.
    const char* zone = std::getenv("TZ");
    const std::optional<std::string> saved = zone ? std::optional<std::string>(zone) : std::nullopt;
    SetZone("UTC");
    const Outcome list = RunPass(lib.Functions(), dir / "a.rar", false, dir / "list");
    const Outcome extract = RunPass(lib.Functions(), dir / "a.rar", true, dir / "out");
    SetZone(saved ? saved->c_str() : nullptr);
    EXPECT_EQ(list.end, "header:10") << row.reason;
    EXPECT_EQ(list.details, row.entries) << row.reason;
    EXPECT_EQ(extract.end, row.refused.empty() ? "header:10" : row.refused) << row.reason;
    EXPECT_EQ(extract.details,
              row.refused.empty() ? row.entries : row.entries.substr(0, row.entries.find("; ")))
        << row.reason;
    EXPECT_EQ(extract.contents, row.files) << row.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Reasoned, RarVendorReasoning,
    ::testing::Values(
        ReasonedRow{"UnknownExtraRecord", "a record of a type not known is passed over",
                    [] {
                        return Records5({{0x40, 1, 2, 3, 4, 5}});
                    },
                    kA, kFiles},
        ReasonedRow{"LongOwnerName", "an owner name of any length is a record like any other",
                    [] {
                        Bytes owner = {0x06, 0x01, 0xAC, 0x02};  // a user name of 300 bytes
                        owner.resize(304, 'u');
                        return Records5({owner});
                    },
                    kA, kFiles},
        ReasonedRow{"UnknownHashType", "a hash of a type not known checks nothing; the CRC does",
                    [] {
                        Bytes hash = {0x02, 0x05};
                        hash.resize(34, 0xEE);
                        return Records5({hash});
                    },
                    kA, kFiles},
        ReasonedRow{"TimeRecordWithMoreFlags", "flags not known add nothing the time needs",
                    [] {
                        return Records5({{0x03, 0x33, 0x00, 0x6D, 0x7C, 0x4D, 1, 0, 0, 0}}, false);
                    },
                    "a.txt (5 B, t=1300000000, crc32)" + kB, kFiles},
        ReasonedRow{"ShortTimeRecord", "a time the record is too short for is absent",
                    [] {
                        return Records5({{0x03, 0x03, 0x10, 0x20}}, false);
                    },
                    "a.txt (5 B, t=none, crc32)" + kB, kFiles},
        ReasonedRow{"ZeroFileTime", "a FILETIME of 0 is no time at all",
                    [] {
                        return Records5({{0x03, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}}, false);
                    },
                    "a.txt (5 B, t=none, crc32)" + kB, kFiles},
        ReasonedRow{
            "OtherHeaders", "headers that are no members are passed over, records and all",
            [] {
                return Pair5(kAsIs, [](test::Rar5Builder& b) {
                    const Bytes data = {'d'};
                    // A locator longer than its flags need, and the archive's name.
                    b.MainRecord({0x01, 0x00, 0xAA, 0xBB});
                    b.MainRecord({0x02, 0x01, 0x05, 'a', '.', 'r', 'a', 'r'});
                    // A stream service header ("STM") with a hash of a type not known.
                    b.AddBlock(3, {0, 1, 0, 0, 0, 3, 'S', 'T', 'M'}, {{0x02, 0x07, 1}}, &data);
                    b.AddBlock(0x20, {1, 2, 3}, {{0x40, 1}}, &data);  // a type not known
                });
            },
            kA, kFiles},
        ReasonedRow{"Rar4UnknownBlockType", "RAR 4 blocks not known are passed over by their sizes",
                    [] {
                        return Pair4(kAsIs, [](test::RarBuilder& b) {
                            const Bytes data = {'d'};
                            b.AddBlock(0x80, 0, {1, 2, 3}, &data);
                        });
                    },
                    kA, kFiles},
        ReasonedRow{"Rar4HeaderTail", "bytes after a RAR 4 header's fields are the header's own",
                    [] { return Pair4([](test::RarMember& a) {
                             a.headerTail = {0, 1, 2, 3};
                         }); },
                    kA, kFiles},
        ReasonedRow{"LargeDictionary", "a window the format allows is no damage",
                    [] { return Pair5([](test::Rar5Member& a) { a.compInfo = 10 << 10; }); }, kA,
                    kFiles},
        ReasonedRow{"Rar5LinkOfSizeZero", "a link reports the unpacked size its header gives",
                    [] {
                        return Pair5([](test::Rar5Member& a) {
                            a.data.clear();
                            a.linkTarget = "target/file.nds";
                        });
                    },
                    "a.txt (0 B, " + kT + ", crc32, link)" + kB, "b.txt=beta"},
        ReasonedRow{"UnknownVersion", "data packed by a version not known: unknown, not damaged",
                    [] { return Pair5([](test::Rar5Member& a) { a.compInfo = 2; }); }, kA,
                    "a.txt=older", "process:14"},
        ReasonedRow{"SizeAboveData", "data shorter than its header says is damaged",
                    [] { return Pair5([](test::Rar5Member& a) { a.declaredUnpSize = 9; }); },
                    "a.txt (9 B, " + kT + ", crc32)" + kB, "a.txt=older", "process:12"},
        ReasonedRow{"SizeBelowData", "data longer than its header says is damaged",
                    [] {
                        return Pair5([](test::Rar5Member& a) {
                            a.declaredUnpSize = 3;
                            a.crc = false;
                        });
                    },
                    "a.txt (3 B, " + kT + ", nohash)" + kB, "a.txt=older", "process:12"}),
    [](const ::testing::TestParamInfo<ReasonedRow>& info) {
        return std::string(info.param.label);
    });

}  // namespace
}  // namespace parevo

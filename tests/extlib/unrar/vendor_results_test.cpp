// Our RAR library ends every pass over the damaged and unusual fixture archives
// where the vendor's library ends it, with the same entries and the same files
// written: rar-vendor-results.tsv records what the vendor's library did, and
// each of its rows is one case here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "archive/unrar_binding.h"
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
};

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

}  // namespace
}  // namespace parevo

// Real XML written by others (the W3C conformance files): the scanner and the
// reader take every one of them apart without crashing or running away, and
// read the root element of every valid document.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "settings/xml/xml_node.h"
#include "settings/xml/xml_parser.h"

namespace parevo {
namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = fs::path(PAREVO_FIXTURES_DIR) / "xml";

// file (relative to the fixtures) -> category, from the manifest.
std::map<std::string, std::string> Categories() {
    std::map<std::string, std::string> categories;
    std::ifstream in(kFixtures / "MANIFEST.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line.rfind("file\t", 0) == 0) {
            continue;
        }
        std::istringstream fields(line);
        std::string file, source, collection, category;
        std::getline(fields, file, '\t');
        std::getline(fields, source, '\t');
        std::getline(fields, collection, '\t');
        std::getline(fields, category, '\t');
        categories[file] = category;
    }
    return categories;
}

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

TEST(XmlFixtures, EveryFileIsScannedAndValidOnesGiveTheirRoot) {
    if (!fs::is_directory(kFixtures)) {
        FAIL() << "fixtures missing at " << kFixtures;
    }
    const auto categories = Categories();
    int files = 0;
    int valid = 0;
    for (const auto& entry : fs::recursive_directory_iterator(kFixtures)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".xml" && ext != ".dtd" && ext != ".ent")) {
            continue;
        }
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        ++files;
        for (const bool collapse : {true, false}) {
            XmlParser scanner;
            ASSERT_TRUE(scanner.ReadFile(path));
            scanner.SetCollapseText(collapse);
            scanner.Rewind();
            const size_t bound = scanner.DocText().size() + kMaxExpansionBytes + 1;
            size_t parts = 0;
            while (scanner.NextPart()) {
                ASSERT_LE(++parts, bound);
            }
        }
        const auto root = ReadXmlFile(path);
        const auto category = categories.find(fs::relative(entry.path(), kFixtures).string());
        // UTF-16 text is out of reach of an 8-bit scanner: its NUL bytes end the data.
        std::ifstream head(path, std::ios::binary);
        const int b0 = head.get();
        const int b1 = head.get();
        const bool utf16 = (b0 == 0xFE && b1 == 0xFF) || (b0 == 0xFF && b1 == 0xFE);
        if (category != categories.end() && category->second == "valid" && !utf16) {
            ++valid;
            ASSERT_TRUE(root) << "no root element";
            XmlParser scanner;
            scanner.ReadFile(path);
            while (scanner.NextPart() && scanner.PartKind() != pkStartTag &&
                   scanner.PartKind() != pkEmptyTag) {
            }
            if (!scanner.RootName().empty()) {
                EXPECT_EQ(root->Name(), Lower(scanner.RootName()));
            }
        }
    }
    EXPECT_GT(files, 100);
    EXPECT_GT(valid, 20);
}

}  // namespace
}  // namespace parevo

// May an archive member be written here: one table for the archive step and
// both run-time libraries, in both path styles.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/member_path.h"

namespace parevo {
namespace {

struct MemberCase {
    std::string name;
    bool posix;                           // accepted in POSIX style
    bool windows;                         // accepted in Windows style
    std::vector<std::string> parts = {};  // when accepted
};

class MemberPath : public ::testing::TestWithParam<MemberCase> {};

TEST_P(MemberPath, AcceptsOnlyNamesThatStayInTheFolder) {
    const MemberCase& c = GetParam();
    const auto posix = MemberPathParts(c.name, PathStyle::Posix);
    const auto windows = MemberPathParts(c.name, PathStyle::Windows);
    EXPECT_EQ(posix.has_value(), c.posix);
    EXPECT_EQ(windows.has_value(), c.windows);
    EXPECT_EQ(MemberStaysInFolder(c.name, PathStyle::Posix), c.posix);
    EXPECT_EQ(MemberStaysInFolder(c.name, PathStyle::Windows), c.windows);
    if (posix) {
        EXPECT_EQ(*posix, c.parts);
    }
    if (windows) {
        EXPECT_EQ(*windows, c.parts);
    }
}

const MemberCase kCases[] = {
    // Plain names, folders with either separator; empty and "." parts dropped.
    {"x.nds", true, true, {"x.nds"}},
    {"a/b/x.nds", true, true, {"a", "b", "x.nds"}},
    {"a\\x.nds", true, true, {"a", "x.nds"}},
    {"a//./b/", true, true, {"a", "b"}},
    {"..x.nds", true, true, {"..x.nds"}},
    {"a/..b/x.nds", true, true, {"a", "..b", "x.nds"}},
    {"x..nds", true, true, {"x..nds"}},
    // Empty, nothing left, absolute.
    {"", false, false},
    {".", false, false},
    {"./", false, false},
    {"/x.nds", false, false},
    {"\\x.nds", false, false},
    {"//server/share/x.nds", false, false},
    // Drive letters; a digit before a colon is no drive, but Windows refuses
    // every colon (a drive or a stream of another file).
    {"C:x.nds", false, false},
    {"c:\\x.nds", false, false},
    {"1:x.nds", true, false, {"1:x.nds"}},
    {"ab:c.nds", true, false, {"ab:c.nds"}},
    {"c.nds:stream", true, false, {"c.nds:stream"}},
    // ".." in either separator, anywhere.
    {"..", false, false},
    {"../x.nds", false, false},
    {"..\\x.nds", false, false},
    {"a/../../x.nds", false, false},
    {"a\\..\\x.nds", false, false},
    {"a/..", false, false},
    // A NUL byte would end the name early at the system boundary.
    {std::string("a\0.nds", 6), false, false},
    {std::string("game.sav\0.nds", 13), false, false},
    // Windows opens devices for reserved names, and drops trailing dots and blanks.
    {"con", true, false, {"con"}},
    {"NUL.nds", true, false, {"NUL.nds"}},
    {"a/Com1.txt", true, false, {"a", "Com1.txt"}},
    {"lpt9", true, false, {"lpt9"}},
    {"console.nds", true, true, {"console.nds"}},
    {"com10.nds", true, true, {"com10.nds"}},
    {"com0", true, true, {"com0"}},
    {"x.nds.", true, false, {"x.nds."}},
    {"dir./x.nds", true, false, {"dir.", "x.nds"}},
    {"x.nds ", true, false, {"x.nds "}},
};

INSTANTIATE_TEST_SUITE_P(Names, MemberPath, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return "Row" + std::to_string(info.index); });

}  // namespace
}  // namespace parevo

// The member-name filter behind the window's RarFileProcessing handler.
#include <gtest/gtest.h>

#include "archive/rar_component.h"

namespace parevo {
namespace {

TEST(RarRomFilter, TakesExactlyDotNdsAfterTheLastSeparator) {
    EXPECT_TRUE(IsRomMemberName("game.nds"));
    EXPECT_TRUE(IsRomMemberName("extra\\other.nds"));
    EXPECT_TRUE(IsRomMemberName("extra/other.nds"));
    EXPECT_TRUE(IsRomMemberName(".nds"));
    EXPECT_TRUE(IsRomMemberName("a.b.nds"));
    EXPECT_FALSE(IsRomMemberName("GAME.NDS"));
    EXPECT_FALSE(IsRomMemberName("game.Nds"));
    EXPECT_FALSE(IsRomMemberName("game.nds.bak"));
    EXPECT_FALSE(IsRomMemberName("readme.txt"));
    EXPECT_FALSE(IsRomMemberName("folder.nds\\readme"));
    EXPECT_FALSE(IsRomMemberName("folder.nds/readme"));
    EXPECT_FALSE(IsRomMemberName("c.nds:stream"));
    EXPECT_FALSE(IsRomMemberName(""));
}

TEST(RarRomFilter, AppendsNamesUnchangedInOrder) {
    std::vector<std::string> list = {"kept.nds"};
    for (const char* name : {"readme.txt", "game.nds", "GAME.NDS", "extra\\other.nds"}) {
        RarMemberHeader hdr;
        hdr.FileName = name;
        CollectRomMember(hdr, list);
    }
    EXPECT_EQ(list, (std::vector<std::string>{"kept.nds", "game.nds", "extra\\other.nds"}));
}

}  // namespace
}  // namespace parevo

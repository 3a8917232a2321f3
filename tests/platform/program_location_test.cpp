#include <gtest/gtest.h>

#include <filesystem>

#include "platform/program_location.h"
#include "support/temp_dir.h"

namespace parevo {
namespace {

TEST(ProgramLocation, TheRunningExecutableAndItsFolder) {
    const std::string path = RunningExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(std::filesystem::path(path).filename(), "platform_tests");
    EXPECT_EQ(RunningExecutableFolder() + "platform_tests", path);
}

TEST(ProgramLocation, AnInstalledTreeIsKnownByItsPrivateLibraryFolder) {
    test::TempDir tree;
    std::filesystem::create_directories(tree / "bin");
    EXPECT_FALSE(IsInstalledTree(tree / "bin/"));  // a build or portable folder
    std::filesystem::create_directories(tree / "lib/parevo");
    EXPECT_TRUE(IsInstalledTree(tree / "bin/"));
    EXPECT_FALSE(IsInstalledTree(""));
    // The build folder the tests run from is no installed tree.
    EXPECT_FALSE(IsInstalledTree(RunningExecutableFolder()));
}

}  // namespace
}  // namespace parevo

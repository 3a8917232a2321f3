// New files that take their name only once complete: no name at all while they
// are written where the system allows it, a hidden locked one elsewhere; put in
// place over the target, or discarded without a trace, also where the system
// refuses unnamed files, links or renames.
#include "platform/pending_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/system_limits.h"
#endif

namespace parevo {
namespace {

using test::TempDir;

#ifdef _WIN32
// Windows: a hidden file that the system deletes when it is closed, unless it
// was committed; committing replaces the target.
TEST(PendingFile, IsHiddenUntilItReplacesItsTargetAndGoesWhenDiscarded) {
    TempDir dir;
    test::WriteText(dir / "target", "old");
    const std::wstring folder = PathOf(dir.Path()).wstring();
    {
        PendingFile file;
        ASSERT_TRUE(file.Create(folder));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(static_cast<HANDLE>(file.Handle()), "new", 3, &written, nullptr));
        const auto names = dir.List();
        ASSERT_EQ(names.size(), 2u);
        EXPECT_TRUE(IsTemporaryName(names[0])) << names[0];
        const DWORD attributes = GetFileAttributesW(PathOf(dir / names[0]).c_str());
        EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
        EXPECT_EQ(test::ReadText(dir / "target"), "old");
    }  // discarded
    EXPECT_EQ(dir.List(), std::vector<std::string>{"target"});

    PendingFile file;
    ASSERT_TRUE(file.Create(folder));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(static_cast<HANDLE>(file.Handle()), "new", 3, &written, nullptr));
    ASSERT_TRUE(file.Commit(PathOf(dir / "target").wstring()));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"target"});
    EXPECT_EQ(test::ReadText(dir / "target"), "new");
    EXPECT_EQ(GetFileAttributesW(PathOf(dir / "target").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST(PendingFile, LeftoversGoUnlessSomeoneHoldsThem) {
    TempDir dir;
    test::WriteText(dir / ".parevo-0123456789abcdef.tmp", "left by an older version");
    PendingFile held;
    ASSERT_TRUE(held.Create(PathOf(dir.Path()).wstring()));
    RemoveLeftovers(PathOf(dir.Path()).wstring());
    const auto names = dir.List();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_NE(names[0], ".parevo-0123456789abcdef.tmp");
}
#else

using test::RunLimited;

// Collects what went wrong in a child, where gtest's own checks would go unseen.
struct Problems {
    std::string text;
    void Check(bool ok, const std::string& what) {
        if (!ok) {
            text += what + "; ";
        }
    }
};

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += name + " ";
    }
    return text;
}

bool HasTemporary(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (IsTemporaryName(name)) {
            return true;
        }
    }
    return false;
}

class PendingFileTest : public ::testing::TestWithParam<unsigned> {
  protected:
    void SetUp() override { test::WriteText(dir / "target", "old"); }
    bool Renames() const { return (GetParam() & test::kNoRenaming) == 0; }

    // Runs `body` with the folder open, under this case's limits.
    std::string Run(const std::function<void(int folder, Problems&)>& body) {
        return RunLimited(GetParam(), [&] {
            Problems problems;
            const int folder = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            problems.Check(folder >= 0, "no folder");
            body(folder, problems);
            return problems.text;
        });
    }

    TempDir dir;
};

TEST_P(PendingFileTest, IsInvisibleOrHiddenUntilItReplacesItsTarget) {
    EXPECT_EQ(Run([&](int folder, Problems& p) {
                  PendingFile file;
                  p.Check(file.Create(folder), "not created");
                  p.Check(::write(file.Descriptor(), "new", 3) == 3, "not written");
                  const auto names = dir.List();
                  const bool named = (GetParam() & test::kNoUnnamedFiles) != 0;
                  p.Check(names.size() == (named ? 2u : 1u) && HasTemporary(names) == named,
                          "while written: " + Joined(names));
                  p.Check(test::ReadText(dir / "target") == "old", "target changed early");
                  // Where renames fail no file can be replaced; nothing is left then.
                  p.Check(file.Commit("target") == Renames(), "committed over the target");
              }),
              "");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"target"});
    EXPECT_EQ(test::ReadText(dir / "target"), Renames() ? "new" : "old");
    // The mode any new file gets: 0666 less the umask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST_P(PendingFileTest, ANewNameIsTakenWhateverTheSystemRefuses) {
    EXPECT_EQ(Run([&](int folder, Problems& p) {
                  for (const char* name : {"first", "second"}) {
                      PendingFile file;
                      p.Check(file.Create(folder), "not created");
                      p.Check(::write(file.Descriptor(), name, 5) == 5, "not written");
                      p.Check(file.Commit(name), std::string("not committed as ") + name);
                  }
              }),
              "");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"first", "second", "target"}));
    EXPECT_EQ(test::ReadText(dir / "first"), "first");
}

TEST_P(PendingFileTest, ADiscardedFileLeavesNothing) {
    EXPECT_EQ(Run([&](int folder, Problems& p) {
                  {
                      PendingFile file;
                      p.Check(file.Create(folder), "not created");
                      p.Check(::write(file.Descriptor(), "new", 3) == 3, "not written");
                  }  // discarded
                  std::string hidden;
                  const int fd = CreatePendingFile(folder, hidden);
                  p.Check(fd >= 0, "not created");
                  DiscardPendingFile(folder, fd, hidden);
              }),
              "");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"target"});
    EXPECT_EQ(test::ReadText(dir / "target"), "old");
}

TEST_P(PendingFileTest, AFailedCommitLeavesNothing) {
    ::mkdir((dir / "sub").c_str(), 0755);
    test::WriteText(dir / "sub/x", "");
    EXPECT_EQ(Run([&](int folder, Problems& p) {
                  PendingFile file;
                  p.Check(file.Create(folder), "not created");
                  // A folder that is not empty cannot be replaced by a file; where
                  // renames fail, no file can be replaced at all.
                  p.Check(!file.Commit("sub"), "replaced a folder");
                  p.Check(file.Create(folder), "not created again");
                  p.Check(file.Commit("target") == Renames(), "replacing the target");
              }),
              "");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"sub", "target"}));
}

INSTANTIATE_TEST_SUITE_P(Systems, PendingFileTest,
                         ::testing::Values(test::kNoLimits, test::kNoUnnamedFiles, test::kNoLinking,
                                           test::kNoRenaming),
                         [](const auto& info) {
                             switch (info.param) {
                                 case test::kNoUnnamedFiles:
                                     return "NoUnnamedFiles";
                                 case test::kNoLinking:
                                     return "NoLinking";
                                 case test::kNoRenaming:
                                     return "NoRenaming";
                                 default:
                                     return "Plain";
                             }
                         });

// A killed run's hidden file goes when the next run writes into its folder;
// one another program is still writing stays.
TEST(PendingFileLeftovers, AreRemovedUnlessTheirWriterLives) {
    TempDir dir;
    // The writer that lives on waits for a line on this pipe, then commits.
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t live = ::fork();
    ASSERT_GE(live, 0);
    if (live == 0) {
        ::close(go[1]);
        const std::string problem = RunLimited(test::kNoUnnamedFiles, [&] {
            const int folder = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
            PendingFile file;
            if (!file.Create(folder) || ::write(file.Descriptor(), "live", 4) != 4) {
                return std::string("live writer failed");
            }
            char c;
            return ::read(go[0], &c, 1) == 1 && file.Commit("live") ? std::string()
                                                                    : std::string("not committed");
        });
        ::_exit(problem.empty() ? 0 : 1);
    }
    ::close(go[0]);
    for (int i = 0; i < 500 && dir.List().empty(); ++i) {
        ::usleep(10000);
    }
    ASSERT_EQ(dir.List().size(), 1u) << "the live writer's file";
    // A writer killed half-way.
    EXPECT_EQ(
        RunLimited(test::kNoUnnamedFiles,
                   [&] {
                       const int folder = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
                       PendingFile file;
                       if (file.Create(folder) && ::write(file.Descriptor(), "dead", 4) == 4) {
                           ::kill(::getpid(), SIGKILL);
                       }
                       return std::string("not killed");
                   }),
        " (the child ended with status 9)");
    ASSERT_EQ(dir.List().size(), 2u) << "both writers' files: " << Joined(dir.List());

    // The next run writing into the folder.
    const int folder = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    RemoveLeftovers(folder);
    PendingFile next;
    ASSERT_TRUE(next.Create(folder));
    ASSERT_TRUE(next.Commit("next"));
    ::close(folder);
    const auto left = dir.List();
    EXPECT_EQ(left.size(), 2u) << Joined(left);
    EXPECT_TRUE(HasTemporary(left)) << "the live writer's file stays: " << Joined(left);

    ASSERT_EQ(::write(go[1], "x", 1), 1);
    int status = 0;
    ::waitpid(live, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"live", "next"}));
    EXPECT_EQ(test::ReadText(dir / "live"), "live");
}

#endif

}  // namespace
}  // namespace parevo

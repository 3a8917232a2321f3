#pragma once
// Runs a piece of a test in a child process where the system behaves as some
// systems Parevo meets do: a file system without unnamed files (FAT and exFAT
// cards), a kernel that will not link an unnamed file, a rename that fails.
// The limits are a seccomp filter on the child's system calls, so the code
// under test takes its real paths; Linux on x86-64 only.

#include <functional>
#include <string>

namespace parevo::test {

enum SystemLimit : unsigned {
    kNoLimits = 0,
    kNoUnnamedFiles = 1,  // open with O_TMPFILE fails with EOPNOTSUPP
    kNoLinking = 2,       // link and linkat fail with EPERM
    kNoRenaming = 4,      // rename, renameat and renameat2 fail with EIO
};

// Runs `body` in a child under `limits`. The body returns what went wrong
// ("" when nothing did); so does RunLimited, also when the child dies.
std::string RunLimited(unsigned limits, const std::function<std::string()>& body);

}  // namespace parevo::test

#pragma once
// Where the running program lives, and the layout of an installed tree: the
// programs in a "bin" folder, the run-time libraries in a private folder beside
// it ("lib/parevo"), never in the system's shared library folder.

#include <string>

namespace parevo {

// The full path of the running executable; empty when the system cannot tell.
std::string RunningExecutablePath();

// The running executable's folder, ending in a separator; empty when unknown.
std::string RunningExecutableFolder();

// The private library folder of an installed tree, relative to the programs'
// folder (POSIX); ends in a separator.
constexpr const char* kPrivateLibraryFolder = "../lib/parevo/";

// True when the programs in `exeFolder` (ending in a separator) run from an
// installed tree, which the private library folder beside them tells; a build
// folder or an unpacked portable folder has the libraries beside the programs.
bool IsInstalledTree(const std::string& exeFolder);

}  // namespace parevo

#pragma once
// parevo-cli: trims the given files like the window's "Trim Games".

#include <iosfwd>

namespace parevo {

class Recycler;

// Runs the command line; returns the exit code: 0 success, 1 an entry failed,
// 2 bad usage.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           Recycler& recycler);

}  // namespace parevo

#include <csignal>
#include <iostream>

#include "cli/cli.h"
#include "platform/qt/qt_recycler.h"

int main(int argc, char** argv) {
#ifdef SIGXFSZ
    // Past a file-size limit a write should fail with an error we can report and
    // clean up after, not kill the process half-way through an output file.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    parevo::QtRecycler recycler;
    return parevo::RunCli(argc, argv, std::cout, std::cerr, recycler);
}

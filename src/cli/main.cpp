#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/qt/qt_recycler.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/text_encoding.h"
#endif

int main(int argc, char** argv) {
#ifdef SIGXFSZ
    // Past a file-size limit a write should fail with an error we can report and
    // clean up after, not kill the process half-way through an output file.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef _WIN32
    // The arguments as the system has them, in UTF-16, made UTF-8 like every
    // other text of the program; the console shows UTF-8 as it is written.
    std::vector<std::string> arguments;
    int wideCount = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount)) {
        for (int i = 0; i < wideCount; ++i) {
            arguments.push_back(parevo::WideToNarrow(std::wstring(wide[i])));
        }
        LocalFree(wide);
    }
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    pointers.push_back(nullptr);
    argc = static_cast<int>(arguments.size());
    argv = const_cast<char**>(pointers.data());
    SetConsoleOutputCP(CP_UTF8);
#endif
    parevo::QtRecycler recycler;
    return parevo::RunCli(argc, argv, std::cout, std::cerr, recycler);
}

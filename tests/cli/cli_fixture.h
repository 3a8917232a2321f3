#pragma once
// Runs the built parevo-cli in a fresh folder, with its recycle bin kept in a
// test folder, and captures what it prints.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/rom_builder.h"
#include "support/temp_dir.h"

namespace parevo {

using test::RomBuilder;
using test::TempDir;

struct Result {
    int exitCode = -1;  // -1 when the program did not exit by itself
    bool timedOut = false;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
  protected:
    // Runs the program; one that has not ended after `timeoutSeconds` is killed,
    // so a run that hangs fails its test instead of holding up the suite.
    Result Run(std::vector<std::string> args, int timeoutSeconds = 120) {
        const pid_t pid = Start(std::move(args));
        Result r;
        int status = 0;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                r.timedOut = true;
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = test::ReadText(io / "out.txt");
        r.err = test::ReadText(io / "err.txt");
        return r;
    }

    // Runs the program and kills it (SIGKILL, as a closed terminal or a power cut
    // would end it) while it writes a file into the test folder: once one of its
    // open files lies there under a name other than `inputs` and holds data.
    // False when the program ended before that.
    bool KillWhileWriting(std::vector<std::string> args, const std::vector<std::string>& inputs) {
        const pid_t pid = Start(std::move(args));
        const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            std::error_code ec;
            for (const auto& fd : std::filesystem::directory_iterator(fds, ec)) {
                const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
                const std::string prefix = dir.Path() + "/";
                if (ec || target.rfind(prefix, 0) != 0 ||
                    std::find(inputs.begin(), inputs.end(), target.substr(prefix.size())) !=
                        inputs.end() ||
                    std::filesystem::file_size(fd.path(), ec) == 0 || ec) {
                    continue;
                }
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return false;
            }
        }
        return false;
    }

    // Starts the program in the test folder, its output and errors going to files.
    pid_t Start(std::vector<std::string> args) {
        // A settings file beside the built program must not change these runs.
        if (ignoreSettings) {
            args.insert(args.begin(), "--no-settings");
        }
        const std::string outPath = io / "out.txt";
        const std::string errPath = io / "err.txt";
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int out = ::open(outPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            const int err = ::open(errPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(err, 2);
            // Keep the real recycle bin out of reach.
            ::setenv("HOME", home.Path().c_str(), 1);
            ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
            ::unsetenv("XDG_CONFIG_HOME");
            ::setenv("LC_ALL", "C", 1);
            if (::chdir(dir.Path().c_str()) != 0) {
                ::_exit(127);
            }
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (auto& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }

    std::string Rom(const std::string& name, std::int64_t dataEnd = 8600) {
        RomBuilder().Title("SOMEGAME").DataUpTo(dataEnd).PadTo(10000).WriteTo(dir / name);
        return dir / name;
    }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
            lines.push_back(text.substr(start, nl - start));
        }
        return lines;
    }

    TempDir dir;
    TempDir home;
    TempDir io;
    std::string program = std::string(PAREVO_BIN_DIR) + "/parevo-cli";
    bool ignoreSettings = true;
};

}  // namespace parevo

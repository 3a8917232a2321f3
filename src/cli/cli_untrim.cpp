// --untrim: each image padded back to its full length, named and written as a
// trim's output is.
#include <ostream>
#include <string>

#include "cli/cli_commands.h"
#include "platform/file_io.h"
#include "platform/numbers.h"
#include "platform/text_encoding.h"
#include "trim/archive_step.h"
#include "trim/untrim.h"

namespace parevo {

namespace {

// "0xFF", "FF" or "255", and "0x00", "00" or "0", in either letter case.
std::optional<std::uint8_t> ParsePadByte(const std::string& text) {
    std::string lower;
    for (const char c : text) {
        lower += AsciiLower(c);
    }
    if (lower == "0xff" || lower == "ff" || lower == "255") {
        return 0xFF;
    }
    if (lower == "0x00" || lower == "00" || lower == "0") {
        return 0x00;
    }
    return std::nullopt;
}

}  // namespace

int RunUntrim(const CliRun& run) {
    const CliOptions& cli = run.cli;
    UntrimOptions untrim;
    if (!cli.untrimSize.empty()) {
        long long size = 0;
        if (!ParseWholeNumber(cli.untrimSize, size) || size <= 0) {
            run.err << "error: --untrim-size: \"" << cli.untrimSize
                    << "\" is not a number of bytes\n";
            return 2;
        }
        untrim.size = size;
    }
    if (!cli.padByte.empty()) {
        const std::optional<std::uint8_t> padByte = ParsePadByte(cli.padByte);
        if (!padByte) {
            run.err << "error: --pad-byte: \"" << cli.padByte << "\" is neither 0xFF nor 0x00\n";
            return 2;
        }
        untrim.padByte = *padByte;
    }

    SteadyTickCounter tick;
    TrimEnvironment env;
    env.AddLog = [&run](const std::string& line) { run.out << line << std::endl; };
    if (cli.status) {
        env.SetStatus = [&run](const std::string& text) { run.err << text << std::endl; };
    }
    env.Options = [options = run.options] { return options; };
    env.tick = &tick;
    TerminalArchives archives(run);
    env.archiveStep = [step = MakeArchiveStep(archives.Zip(), archives.Rar())](
                          ArchiveStepState& state, const TrimEnvironment& e) {
        const InputFile archive(state.entryPath);
        step(state, e);
    };

    BatchCallbacks callbacks;
    callbacks.keepGoing = cli.keepGoing;
    int missing = 0;
    callbacks.entryPassedOver = [&](int index) {
        missing += NotePassedOver(cli.files[static_cast<size_t>(index)], run.out, run.err) ? 1 : 0;
    };
    callbacks.entryFailed = [&run](int, const std::exception& e) { run.Error(e.what()); };
    try {
        const int failed = RunUntrimBatch(cli.files, env, callbacks, untrim);
        return failed == 0 && missing == 0 && archives.RarErrors() == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        run.Error(e.what());
        return 1;
    }
}

}  // namespace parevo

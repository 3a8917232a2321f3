#include "cli/cli.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <ostream>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/file_io.h"
#include "trim/trim_rom.h"

namespace parevo {

namespace {

constexpr const char* kVersion = "1.3";

struct CliOptions {
    std::vector<std::string> files;
    std::string byteJump;
    bool noSafeTrim = false;
    bool trimSceneNumber = false;
    bool headerName = false;
    std::string appendText = "_trim";
    std::string outputDir;
    bool deleteSource = false;
    bool status = false;
    bool dryRun = false;
    bool keepGoing = false;
};

// Reads the byte jump like the window's field: a whole number, brought into range.
bool ParseByteJump(const std::string& text, int& value) {
    long long number = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') {
        ++first;
    }
    const auto [ptr, ec] = std::from_chars(first, last, number);
    if (ec == std::errc::result_out_of_range && ptr == last) {
        number = text.find('-') == std::string::npos ? kMaxByteJump : kMinByteJump;
    } else if (ec != std::errc() || ptr != last || first == last) {
        return false;
    }
    value = static_cast<int>(std::clamp<long long>(number, kMinByteJump, kMaxByteJump));
    return true;
}

TrimOptions ToTrimOptions(const CliOptions& cli, int byteJump) {
    TrimOptions options;
    options.SafeTrim = !cli.noSafeTrim;
    options.byteJump = byteJump;
    options.TrimSceneNumber = cli.trimSceneNumber;
    options.HeaderRomName = cli.headerName;
    options.AppendText = cli.appendText;
    options.CustomPath = !cli.outputDir.empty();
    options.Path = cli.outputDir;
    options.DeleteSource = cli.deleteSource;
    return options;
}

void DryRunOne(const std::string& path, const TrimOptions& options, std::ostream& out) {
    out << path << "\n";
    if (ExtensionOf(path) != ".nds") {
        out << "  skipped: not a .nds file (a dry run does not open archives)\n";
        return;
    }
    const TrimPoint point = FindTrimPoint(path, options.byteJump, options.SafeTrim, {}, '.');
    out << "  title:        " << point.Title << "\n";
    out << "  size:         " << point.SourceSize << " bytes\n";
    out << "  steps:        " << point.Steps << "\n";
    out << "  kept length:  " << point.OutputLength() << " bytes (search " << point.KeepLength
        << ", game data ends at " << point.DataEnd << ")\n";
    out << "  header:       ";
    if (!point.HeaderValid) {
        out << "CRC does not match; no declared size used\n";
    } else if (point.DeclaredEnd == 0) {
        out << "CRC valid; declares no usable size\n";
    } else {
        out << "CRC valid; declares data up to " << point.DeclaredEnd << "\n";
    }
    out << "  output:       " << MakeOutputName(path, path, point.Title, options) << "\n";
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           Recycler& recycler) {
    CliOptions cli;
    CLI::App app{"Parevo: trims the 0x00/0xFF padding off the end of Nintendo DS ROM images.",
                 "parevo-cli"};
    app.add_option("FILE", cli.files, ".nds files (and .zip/.rar archives) to trim, in order")
        ->required();
    app.add_option("--byte-jump", cli.byteJump,
                   "step size of the search, 1 to 2000 (default 500); larger is faster, smaller "
                   "cuts closer")
        ->type_name("N");
    app.add_flag("--no-safe-trim", cli.noSafeTrim,
                 "do not keep 100 extra bytes after the end of the game data");
    app.add_flag("--trim-scene-number", cli.trimSceneNumber,
                 "cut the release number (everything up to the first \" - \") from the name");
    app.add_flag("--header-name", cli.headerName, "name the output after the title in the ROM header");
    app.add_option("--append", cli.appendText,
                   "text appended to the output name (default \"_trim\"); empty overwrites the "
                   "source unless --output-dir is given")
        ->type_name("TEXT");
    app.add_option("--output-dir", cli.outputDir,
                   "write the output into DIR instead of the source's folder")
        ->type_name("DIR");
    app.add_flag("--delete-source", cli.deleteSource,
                 "move the source to the recycle bin after trimming");
    app.add_flag("--status", cli.status, "print the status texts to stderr");
    app.add_flag("--dry-run", cli.dryRun,
                 "show what would be done for each file; write and delete nothing");
    app.add_flag("--keep-going", cli.keepGoing, "go on with the next file after an error");
    app.set_version_flag("--version", std::string("parevo-cli ") + kVersion);

    // The parser reads "--append=" as an option still waiting for its value; an
    // empty append text is legitimate, so spell it as a separate empty argument.
    std::vector<std::string> args;
    for (int i = argc - 1; i >= 1; --i) {
        if (std::string_view(argv[i]) == "--append=") {
            args.emplace_back();
            args.emplace_back("--append");
        } else {
            args.emplace_back(argv[i]);
        }
    }
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp& e) {
        out << app.help();
        return 0;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        err << "error: " << e.what() << "\n";
        err << "Run with --help for more information.\n";
        return 2;
    }

    int byteJump = kDefaultByteJump;
    if (!cli.byteJump.empty() && !ParseByteJump(cli.byteJump, byteJump)) {
        err << "error: --byte-jump: \"" << cli.byteJump << "\" is not a whole number\n";
        return 2;
    }
    const TrimOptions options = ToTrimOptions(cli, byteJump);

    if (cli.dryRun) {
        int failed = 0;
        for (const std::string& path : cli.files) {
            try {
                DryRunOne(path, options, out);
            } catch (const std::exception& e) {
                out.flush();
                err << "error: " << e.what() << "\n";
                ++failed;
                if (!cli.keepGoing) {
                    return 1;
                }
            }
        }
        return failed == 0 ? 0 : 1;
    }

    SteadyTickCounter tick;
    TrimEnvironment env;
    env.AddLog = [&out](const std::string& line) { out << line << std::endl; };
    if (cli.status) {
        env.SetStatus = [&err](const std::string& text) { err << text << std::endl; };
    }
    env.Options = [options] { return options; };
    env.recycler = &recycler;
    env.tick = &tick;

    BatchCallbacks callbacks;
    callbacks.keepGoing = cli.keepGoing;
    callbacks.entryFailed = [&](int, const std::exception& e) {
        out.flush();
        err << "error: " << e.what() << "\n";
    };
    try {
        return RunBatch(cli.files, env, callbacks) == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        out.flush();
        err << "error: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace parevo

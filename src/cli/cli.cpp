#include "cli/cli.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "dat/dat.h"
#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/numbers.h"
#include "platform/program_location.h"
#include "platform/version.h"
#include "settings/app_manager.h"
#include "settings/option_controls.h"
#include "settings/settings.h"
#include "trim/archive_step.h"
#include "trim/dat_check.h"
#include "trim/trim_rom.h"

namespace parevo {

void CliRun::Error(const std::string& text) const {
    out.flush();
    err << "error: " << text << "\n";
}

TerminalArchives::TerminalArchives(const CliRun& run)
    : m_prompter(run.cli.password,
                 [&run](const std::string& text) {
                     run.out.flush();
                     run.err << "note: " << text << "\n";
                 }),
      m_zip(m_prompter) {
    m_rar.SetPrompter(&m_prompter);
    m_rar.SetPassword(run.cli.password);
    StatusSink status;
    if (run.cli.status) {
        status = [&run](const std::string& text) { run.err << text << std::endl; };
    }
    ConfigureArchiveComponents(m_zip, m_rar, status);
    // The window shows none of the RAR component's errors; a terminal can, and
    // the exit status says that something went wrong.
    m_rar.OnError = [this, &run](RarComponent&, const std::string& message, std::int32_t code) {
        ++m_rarErrors;
        run.out.flush();
        run.err << "rar: " << message << " (" << code << ")\n";
    };
}

// The core passes these over without a line, as the window does; a terminal
// says why. True for a file that is not there: an error, as for a .nds file.
bool NotePassedOver(const std::string& path, std::ostream& out, std::ostream& err) {
    const FileKind kind = KindOf(path);
    const char* reason = kind == FileKind::Missing  ? "no such file"
                         : kind == FileKind::Folder ? "a folder"
                                                    : "not a .nds, .zip or .rar file";
    out.flush();
    err << "note: passed over \"" << path << "\": " << reason << "\n";
    return kind == FileKind::Missing;
}

namespace {

// Reads the byte jump like the window's field: a whole number, brought into range.
bool ParseByteJump(const std::string& text, int& value) {
    long long number = 0;
    if (!ParseWholeNumber(text, number)) {
        return false;
    }
    value = ClampByteJump(number);
    return true;
}

// Which options the command line gave; the others come from the settings file.
struct GivenOptions {
    bool safeTrim = false;
    bool trimSceneNumber = false;
    bool headerName = false;
    bool appendText = false;
    bool deleteSource = false;
};

void ApplyCommandLine(const CliOptions& cli, const GivenOptions& given, int byteJump,
                      OptionControls& controls) {
    if (!cli.byteJump.empty()) {
        controls.SetByteJump(byteJump);
    }
    if (given.safeTrim) {
        controls.SetSafeTrim(cli.safeTrim);
    }
    if (given.trimSceneNumber) {
        controls.SetTrimSceneNumber(cli.trimSceneNumber);
    }
    if (given.headerName) {
        controls.SetHeaderRomName(cli.headerName);
    }
    if (given.appendText) {
        controls.SetAppendText(cli.appendText);
    }
    if (given.deleteSource) {
        controls.SetDeleteSource(cli.deleteSource);
    }
    if (!cli.outputDir.empty()) {
        controls.SelectFolder(cli.outputDir);
        controls.SetCustomPath(true);
    }
    if (cli.noOutputDir) {
        controls.SetCustomPath(false);
    }
}

// The settings file the window uses: data/settings.xml beside the executables,
// or the user's configuration folder for an installed build.
std::string DefaultSettingsFile() {
    const std::string exe = RunningExecutablePath();
    if (exe.empty()) {
        return std::string();
    }
    return ChooseDataPath(FolderPart(exe), CurrentConfigEnvironment()) + "settings.xml";
}

void DryRunOne(const std::string& path, int index, const TrimOptions& options, RunFiles& run,
               std::ostream& out) {
    if (ExtensionOf(path) != ".nds") {
        // Refused as the run refuses it: not there, or no regular file.
        const InputFile archive(path);
        out << path << "\n";
        out << "  skipped: a dry run does not open archives\n";
        return;
    }
    out << path << "\n";
    const InputFile rom(path);
    const TrimPoint point = FindTrimPoint(rom, options.byteJump, options.SafeTrim, {}, '.');
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
    // Decided as the run decides it, refusals included.
    const OutputPlan plan = PlanOutput(path, rom, point.Title, options, &run);
    run.AddOutput(plan.path, index);
    out << "  output:       " << plan.path
        << (plan.overwritesRom ? " (the source itself, cut in place)" : "") << "\n";
}

// The command line's words, and which options it gave.
struct ParsedCommandLine {
    CliOptions cli;
    GivenOptions given;
};

// Parses the arguments; an exit code when the run ends here (help, version, a
// parse error).
std::optional<int> ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                    std::ostream& err, ParsedCommandLine& parsed) {
    CliOptions& cli = parsed.cli;
    // The options' records live as long as `app`: what they say is copied out
    // after the parse.
    struct {
        CLI::Option* safeTrim;
        CLI::Option* trimSceneNumber;
        CLI::Option* headerName;
        CLI::Option* appendText;
        CLI::Option* deleteSource;
    } given{};
    CLI::App app{"Parevo: trims the 0x00/0xFF padding off the end of Nintendo DS ROM images.",
                 "parevo-cli"};
    app.add_option("FILE", cli.files, ".nds files (and .zip/.rar archives) to trim, in order")
        ->required();
    app.add_option("--byte-jump", cli.byteJump,
                   "step size of the search, 1 to 2000 (default 500); larger is faster, smaller "
                   "cuts closer")
        ->type_name("N");
    given.safeTrim = app.add_flag("--safe-trim,!--no-safe-trim", cli.safeTrim,
                                  "keep (or, with --no-safe-trim, do not keep) 100 extra bytes "
                                  "after the end of the game data");
    given.trimSceneNumber =
        app.add_flag("--trim-scene-number,!--no-trim-scene-number", cli.trimSceneNumber,
                     "cut the release number (everything up to the first \" - \") from the name");
    given.headerName = app.add_flag("--header-name,!--no-header-name", cli.headerName,
                                    "name the output after the title in the ROM header");
    given.appendText = app.add_option("--append", cli.appendText,
                                      "text appended to the output name (default \"_trim\"); "
                                      "empty overwrites the source unless an output folder is set")
                           ->type_name("TEXT");
    auto* outputDirOption =
        app.add_option("--output-dir", cli.outputDir,
                       "write the output into DIR instead of the source's folder")
            ->type_name("DIR");
    app.add_flag("--no-output-dir", cli.noOutputDir,
                 "write the output beside the source even if the settings name a folder")
        ->excludes(outputDirOption);
    given.deleteSource = app.add_flag("--delete-source,!--keep-source", cli.deleteSource,
                                      "move the source to the recycle bin after trimming");
    auto* settingsOption =
        app.add_option("--settings", cli.settingsFile,
                       "take the option defaults from FILE instead of the window's settings "
                       "file (options given here still win; the file is never written)")
            ->type_name("FILE");
    app.add_flag("--no-settings", cli.noSettings,
                 "ignore the settings file: start from the built-in defaults")
        ->excludes(settingsOption);
    app.add_option("--password", cli.password,
                   "password for encrypted archive members; without it they are not extracted")
        ->type_name("TEXT");
    app.add_flag("--status", cli.status, "print the status texts to stderr");
    auto* dryRunOption = app.add_flag(
        "--dry-run", cli.dryRun, "show what would be done for each file; write and delete nothing");
    app.add_flag("--keep-going", cli.keepGoing, "go on with the next file after an error");
    auto* infoOption = app.add_flag(
        "--info", cli.info,
        "instead of trimming, print what each image is: its header's fields and checks, its "
        "padding and what a trim would keep (archives: each .nds member)");
    app.add_flag("--json", cli.json, "with --info: print one JSON array of objects")
        ->needs(infoOption);
    auto* untrimOption = app.add_flag(
        "--untrim", cli.untrim,
        "instead of trimming, pad each image back to its cartridge capacity (the append text is "
        "\"_untrim\" unless --append is given)");
    app.add_option("--untrim-size", cli.untrimSize,
                   "with --untrim: the length to pad to, in bytes, instead of the capacity")
        ->type_name("BYTES")
        ->needs(untrimOption);
    app.add_option("--pad-byte", cli.padByte,
                   "with --untrim: the padding byte, 0xFF (the default) or 0x00")
        ->type_name("BYTE")
        ->needs(untrimOption);
    auto* datOption =
        app.add_option("--dat", cli.datFile,
                       "the DAT file (Logiqx XML or clrmamepro text, plain or zipped) that a trim "
                       "run verifies each ROM against before and after its cut, and --info "
                       "and --verify use")
            ->type_name("FILE");
    app.add_flag("--no-dat", cli.noDat, "verify against no DAT, even when the settings name one")
        ->excludes(datOption);
    auto* verifyOption =
        app.add_flag("--verify", cli.verify,
                     "instead of trimming, check each image (trimmed or not) against the DAT");
    // One thing is done to the files at a time.
    const std::vector<CLI::Option*> modes{dryRunOption, infoOption, untrimOption, verifyOption};
    for (CLI::Option* mode : modes) {
        for (CLI::Option* other : modes) {
            if (other != mode) {
                mode->excludes(other);
            }
        }
    }
    app.set_version_flag("--version", std::string("parevo-cli ") + kProgramVersion);

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
    parsed.given = {given.safeTrim->count() > 0, given.trimSceneNumber->count() > 0,
                    given.headerName->count() > 0, given.appendText->count() > 0,
                    given.deleteSource->count() > 0};
    return std::nullopt;
}

// The options of the run: the settings file's, then the command line's on top.
// An exit code when the run ends here (a bad number, an unreadable settings file).
std::optional<int> LoadOptions(const ParsedCommandLine& parsed, std::ostream& err,
                               TrimOptions& options, std::string& datFile) {
    const CliOptions& cli = parsed.cli;
    int byteJump = kDefaultByteJump;
    if (!cli.byteJump.empty() && !ParseByteJump(cli.byteJump, byteJump)) {
        err << "error: --byte-jump: \"" << cli.byteJump << "\" is not a whole number\n";
        return 2;
    }
    PlainOptionControls controls;
    Settings settings(controls);
    if (!cli.noSettings) {
        const std::string settingsFile =
            cli.settingsFile.empty() ? DefaultSettingsFile() : cli.settingsFile;
        const FileKind kind = KindOf(settingsFile);
        if (!cli.settingsFile.empty() && kind == FileKind::Missing) {
            err << "error: settings file \"" << settingsFile << "\" does not exist\n";
            return 2;
        }
        try {
            // A settings file that is there but cannot be read (no permission, a
            // folder, a FIFO) is an error, not a reason to run with the defaults.
            if (kind != FileKind::Missing) {
                const InputFile readable(settingsFile);
            }
            settings.LoadFromFile(settingsFile);
        } catch (const IoError& e) {
            err << "error: settings file: " << e.what() << "\n";
            return 2;
        } catch (const ConversionError& e) {
            err << "error: settings file \"" << settingsFile << "\": " << e.what() << "\n";
            return 2;
        }
    }
    // An output folder asked for that is not there ends the run before anything
    // changes: the output must not fall back to the source's folder.
    std::string folderProblem;
    int folderExit = 0;
    if (!cli.outputDir.empty()) {
        folderProblem = OutputFolderProblem(cli.outputDir);
        folderExit = 1;
    } else if (!cli.noOutputDir && controls.CustomPath()) {
        // The folder the file named, also when it named none that is there.
        const std::string& passedOver = settings.PassedOverDirectory();
        folderProblem =
            OutputFolderProblem(passedOver.empty() ? controls.PathFolder() : passedOver);
        folderExit = 2;
    }
    if (!folderProblem.empty()) {
        err << "error: " << folderProblem << "\n";
        return folderExit;
    }
    ApplyCommandLine(cli, parsed.given, byteJump, controls);
    options = ToTrimOptions(controls);
    datFile = cli.noDat ? std::string() : !cli.datFile.empty() ? cli.datFile : controls.DatFile();
    return std::nullopt;
}

int DryRun(const CliOptions& cli, const TrimOptions& options, std::ostream& out,
           std::ostream& err) {
    int failed = 0;
    RunFiles run(cli.files);  // what the run reads, and would have written so far
    for (size_t i = 0; i < cli.files.size(); ++i) {
        const std::string& path = cli.files[i];
        if (!IsSourceExtension(ExtensionOf(path))) {
            failed += NotePassedOver(path, out, err) ? 1 : 0;
            continue;
        }
        try {
            DryRunOne(path, static_cast<int>(i), options, run, out);
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

// The batch over every file, with the archive components as the window has them.
int Run(const CliRun& run, Recycler& recycler) {
    const CliOptions& cli = run.cli;
    const TrimOptions& options = run.options;
    std::ostream& out = run.out;
    std::ostream& err = run.err;
    SteadyTickCounter tick;
    TrimEnvironment env;
    env.AddLog = [&out](const std::string& line) { out << line << std::endl; };
    if (cli.status) {
        env.SetStatus = [&err](const std::string& text) { err << text << std::endl; };
    }
    env.Options = [options] { return options; };
    env.recycler = &recycler;
    env.tick = &tick;
    std::optional<DatCheck> check;
    if (run.dat != nullptr) {
        env.check = &check.emplace(*run.dat);
    }

    TerminalArchives archives(run);
    // The zip component makes an empty archive where none exists; a mistyped
    // name on the command line is an error instead.
    env.archiveStep = [step = MakeArchiveStep(archives.Zip(), archives.Rar())](
                          ArchiveStepState& state, const TrimEnvironment& e) {
        const InputFile archive(state.entryPath);
        step(state, e);
    };

    BatchCallbacks callbacks;
    callbacks.keepGoing = cli.keepGoing;
    int missing = 0;
    callbacks.entryPassedOver = [&](int index) {
        missing += NotePassedOver(cli.files[static_cast<size_t>(index)], out, err) ? 1 : 0;
    };
    callbacks.entryFailed = [&](int, const std::exception& e) {
        out.flush();
        err << "error: " << e.what() << "\n";
    };
    try {
        const int failed = RunBatch(cli.files, env, callbacks);
        return failed == 0 && missing == 0 && archives.RarErrors() == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        out.flush();
        err << "error: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           Recycler& recycler) {
    ParsedCommandLine parsed;
    if (const auto exit = ParseCommandLine(argc, argv, out, err, parsed)) {
        return *exit;
    }
    TrimOptions options;
    std::string datFile;
    if (const auto exit = LoadOptions(parsed, err, options, datFile)) {
        return *exit;
    }
    const CliOptions& cli = parsed.cli;
    if (cli.dryRun) {
        return DryRun(cli, options, out, err);
    }
    // The DAT is read before any file is touched; an untrim verifies nothing.
    std::optional<Dat> dat;
    if (!cli.untrim && !datFile.empty()) {
        try {
            dat = LoadDat(datFile);
        } catch (const Error& e) {
            err << "error: " << e.what() << "\n";
            return 2;
        }
    }
    if (cli.verify && !dat) {
        err << "error: --verify needs a DAT file (--dat FILE)\n";
        return 2;
    }
    if (cli.untrim && !parsed.given.appendText) {
        options.AppendText = "_untrim";
    }
    const CliRun run{cli, options, dat ? &*dat : nullptr, out, err};
    if (cli.info) {
        return RunInfo(run);
    }
    if (cli.verify) {
        return RunVerify(run);
    }
    if (cli.untrim) {
        return RunUntrim(run);
    }
    return Run(run, recycler);
}

}  // namespace parevo

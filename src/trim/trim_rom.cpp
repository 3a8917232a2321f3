#include "trim/trim_rom.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "platform/errors.h"
#include "platform/file_io.h"

namespace parevo {

namespace {

std::uint32_t Now(const TrimEnvironment& env) {
    return env.tick ? env.tick->Milliseconds() : 0;
}

TrimOptions CurrentOptions(const TrimEnvironment& env) {
    TrimOptions options = env.Options ? env.Options() : TrimOptions{};
    options.byteJump = std::clamp(options.byteJump, kMinByteJump, kMaxByteJump);
    return options;
}

// `trimmed`: for the ROM, the file as it was trimmed; whatever has taken its
// place since was never trimmed and stays.
void RecycleAndLog(const std::string& path, int index, int count, const TrimEnvironment& env,
                   const std::optional<FileIdentity>& output,
                   const std::optional<FileStamp>& trimmed = std::nullopt) {
    const std::string name = FileNamePart(path, env.style);
    // Never send the file just written to the bin, whatever name it goes by.
    if (output && IdentityOf(path) == output) {
        env.Log(env.Text("rom %d of %d -> skipped deleting source; output file overwrote it.",
                         {index + 1, count}));
        return;
    }
    RecycleResult result{false, "no recycle bin"};
    if (const auto now = trimmed ? StampOf(path) : std::nullopt; now && now != trimmed) {
        result.reason = "it is no longer the file that was trimmed";
    } else if (env.recycler) {
        result = RecycleFile(path, *env.recycler);
    }
    if (result.ok) {
        env.Log(env.Text("rom %d of %d -> deleted %s", {index + 1, count, name}));
    } else {
        env.Log(env.Text("rom %d of %d -> could not delete %s: %s",
                         {index + 1, count, name, result.reason}));
    }
}

// Two spellings of one path that names no file yet compare equal.
std::string NormalPath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return (ec ? std::filesystem::path(path) : absolute).lexically_normal().string();
}

bool TitleLeavesFolder(const std::string& title, PathStyle style) {
    return std::any_of(title.begin(), title.end(),
                       [style](char c) { return IsPathDelimiter(c, style); });
}

// Copies the ROM's bytes [from, min(length, size)) into the output and sets its
// length (zeros beyond the end of the ROM), in pieces with the caller kept
// alive between them: on a slow disk a large ROM takes seconds.
void CopyKept(PendingOutput& output, const InputFile& rom, std::int64_t from, std::int64_t length,
              const TrimEnvironment& env) {
    constexpr std::int64_t kPiece = 16 << 20;
    for (const std::int64_t kept = std::min(length, rom.Size()); from < kept; from += kPiece) {
        output.CopyRange(rom, from, std::min(kPiece, kept - from));
        env.KeepAlive();
    }
    output.SetLength(length);
}

// The worker reads through a handle of its own where there is one: its reads go
// forwards, and the system's own read-ahead (which reads in larger pieces, at
// less cost, than any hint gets) follows them only when the search's backward
// reads do not come in between. Sharing the search's handle, it asks for its
// chunks ahead as the search does.
struct WorkerSource {
    explicit WorkerSource(const InputFile& rom)
        : again(rom.OpenAgain()), reader(again ? *again : rom), source(reader, again == nullptr) {}

    const std::unique_ptr<InputFile> again;
    const InputFile& reader;
    const FileByteSource source;
};

// The output begun before the search: its ForwardScan copies the kept bytes into
// it while the search runs. It is put in place only after the search, by the
// pipeline, once the output is planned again and every kept byte is copied.
struct EarlyOutput {
    EarlyOutput(const OutputPlan& plan, const InputFile& rom)
        : plan(plan),
          worker(rom),
          output(plan.path),
          scan(worker.source, [this](std::int64_t from, std::int64_t count) {
              output.CopyRange(worker.reader, from, count);
          }) {}

    // Waits for the worker, copies what it has not (at least the bytes past the
    // game data that the search keeps), and sets the length: it cuts what the
    // worker copied past it.
    void Complete(const InputFile& rom, std::int64_t length, const TrimEnvironment& env) {
        CopyKept(output, rom, scan.Finish([&env] { env.KeepAlive(); }), length, env);
    }

    const OutputPlan plan;
    const WorkerSource worker;
    PendingOutput output;
    ForwardScan scan;  // after the output it writes into, so it stops first
};

// A cut in place: the worker reads the padding past the end the header
// declares, in order, while the search waits (see forward_scan.h).
struct TailCheck {
    TailCheck(const InputFile& rom, std::int64_t from)
        : worker(rom), scan(worker.source, ForwardScan::Tail{from}) {}

    const WorkerSource worker;
    ForwardScan scan;
};

// Plans the output before the search as the pipeline plans it after: a title
// and options that do not change give the same plan. Whatever fails here (the
// title, the plan's refusals, the file's creation) is left to the steps after
// the search, which meet it again in their own order and with their own texts.
void BeginOutput(std::optional<EarlyOutput>& early, std::optional<TailCheck>& tail,
                 const std::string& entryPath, const InputFile& rom, const ByteSource& source,
                 const TrimOptions& options, const TrimEnvironment& env) {
    try {
        const OutputPlan plan =
            PlanOutput(entryPath, rom, ReadRomTitle(source), options, env.outputs, env.style);
        if (!plan.overwritesRom) {
            early.emplace(plan, rom);
        } else if (const std::int64_t declared = DeclaredDataEnd(source);
                   declared > 0 && declared < source.Size()) {
            // A cut in place reads nothing but the padding; without a header to
            // say where it begins, the search reads it alone.
            tail.emplace(rom, declared);
        }
    } catch (const std::exception&) {
        early.reset();
        tail.reset();
    }
}

}  // namespace

OutputPlan PlanOutput(const std::string& entryPath, const InputFile& rom, const std::string& title,
                      const TrimOptions& options, const RunOutputs* outputs, PathStyle style) {
    OutputPlan plan;
    plan.path = MakeOutputName(entryPath, rom.Path(), title, options, style);
    // The title comes from the file: it names a file, never a folder to go to.
    if (options.HeaderRomName && TitleLeavesFolder(title, style)) {
        throw IoError("Cannot create \"" + plan.path + "\": the title in the ROM header (\"" +
                      title + "\") cannot be used as a file name");
    }
    RequireOutputFolder(options);
    // By identity: the same file may be named by other spellings or hard links.
    plan.overwritesRom = IdentityOf(plan.path) == rom.OpenedStamp().identity;
    // Cut in place, an output of this run is only cut again: nothing is replaced.
    if (!plan.overwritesRom) {
        RequireNotWrittenThisRun(plan.path, outputs);
    }
    return plan;
}

void RunOutputs::Add(const std::string& outputPath, const std::string& entryPath) {
    m_outputs.push_back({IdentityOf(outputPath), NormalPath(outputPath), entryPath});
}

std::optional<std::string> RunOutputs::EntryThatWrote(const std::string& path) const {
    const std::optional<FileIdentity> identity = IdentityOf(path);
    const std::string normal = NormalPath(path);
    for (const Output& output : m_outputs) {
        if (output.identity ? identity == output.identity : normal == output.path) {
            return output.entry;
        }
    }
    return std::nullopt;
}

void RequireNotWrittenThisRun(const std::string& path, const RunOutputs* outputs) {
    if (!outputs) {
        return;
    }
    if (const std::optional<std::string> entry = outputs->EntryThatWrote(path)) {
        throw IoError("Cannot create \"" + path + "\": already written for \"" + *entry +
                      "\" in this run");
    }
}

std::string OutputFolderProblem(const std::string& folder) {
    if (folder.empty()) {
        return "no output folder is chosen";
    }
    switch (KindOf(folder)) {
        case FileKind::Folder:
            return std::string();
        case FileKind::Missing:
            return "output folder \"" + folder + "\" does not exist";
        default:
            return "output folder \"" + folder + "\" is not a folder";
    }
}

void RequireOutputFolder(const NamingOptions& options) {
    if (!options.CustomPath) {
        return;
    }
    if (std::string problem = OutputFolderProblem(options.Path); !problem.empty()) {
        throw IoError(problem);
    }
}

RecycleResult RecycleFile(const std::string& path, Recycler& recycler) {
    if (!FileExists(path)) {
        return {true, {}};
    }
    return recycler.MoveToTrash(path);
}

bool IsSourceExtension(const std::string& extension) {
    return extension == ".nds" || extension == ".zip" || extension == ".rar";
}

TrimOutcome TrimRom(const std::string& entryPath, int index, int count,
                    const TrimEnvironment& env) {
    std::uint32_t start = Now(env);
    ArchiveStepState state;
    state.entryPath = entryPath;
    state.index = index;
    state.count = count;
    state.romPath = entryPath;
    state.shortRomName = ShortName(FileNamePart(entryPath, env.style), env.style);
    const std::string extension = ExtensionOf(entryPath, env.style);
    state.romFound = extension == ".nds";

    const bool archive = IsSourceExtension(extension) && !state.romFound && env.archiveStep;
    if (!state.romFound && !archive) {
        return TrimOutcome::PassedOver;
    }
    // Before anything is extracted or written.
    RequireOutputFolder(CurrentOptions(env));
    if (archive) {
        // The components open the archive by its name and would wait for ever on
        // a FIFO; a missing archive is theirs to report.
        if (KindOf(entryPath) == FileKind::Other) {
            throw IoError(DescribeIoFailure("Cannot open", entryPath, kNotARegularFile));
        }
        env.archiveStep(state, env);
    }
    if (!state.romFound) {
        return TrimOutcome::NoRomFound;
    }
    const std::string& romPath = state.romPath;
    const std::string shortRomName = ShortName(FileNamePart(romPath, env.style), env.style);

    TrimOptions options = CurrentOptions(env);
    // One open file from the search to the write, so the length found is applied
    // to the very file it was found in.
    const InputFile rom(romPath);
    const FileByteSource source(rom);
    if (env.check) {
        env.check->Begin(rom, env);
    }
    std::optional<EarlyOutput> early;
    std::optional<TailCheck> tail;
    BeginOutput(early, tail, entryPath, rom, source, options, env);
    ForwardScan* front = early ? &early->scan : nullptr;
    if (tail) {
        // The search waits for the tail scan; a window handles its events meanwhile.
        tail->scan.WaitForAll([&env] { env.KeepAlive(); });
        front = &tail->scan;
    }
    const TrimPoint point = FindTrimPointIn(source, options.byteJump, options.SafeTrim,
                                            env.SetStatus, env.decimalSeparator, front);
    tail.reset();  // its worker has checked all it had to
    env.Log(env.Text(
        "rom (%s) %d of %d -> trimming %dkb (%02f%%), searched in %02fs",
        {shortRomName, index + 1, count, static_cast<long long>(point.Distance / 1000),
         static_cast<double>(point.Distance) / static_cast<double>(point.SourceSize) * 100.0,
         ElapsedSeconds(start, Now(env))}));

    start = Now(env);
    env.Status("saving to disk...");
    options = CurrentOptions(env);
    const OutputPlan plan =
        PlanOutput(entryPath, rom, point.Title, options, env.outputs, env.style);
    const std::string& outputPath = plan.path;
    const bool overwritesRom = plan.overwritesRom;
    // What the search found holds for the file as it was searched only.
    rom.RequireUnchanged();
    if (env.check) {
        env.check->BeforeCut(rom, point.OutputLength(), env);
    }
    // When the source is about to go to the recycle bin, the output must be on
    // the disk first.
    const bool synced = options.DeleteSource;
    // In place, or beside: the source stays untouched until the complete output
    // has replaced its target.
    if (overwritesRom) {
        early.reset();
        ResizeFile(rom, point.OutputLength());
    } else {
        // The output begun before the search serves if it was planned alike.
        if (early && early->plan.path != outputPath) {
            early.reset();
        }
        std::optional<PendingOutput> fresh;
        PendingOutput& output = early ? early->output : fresh.emplace(outputPath);
        if (early) {
            early->Complete(rom, point.OutputLength(), env);
        } else {
            CopyKept(output, rom, 0, point.OutputLength(), env);
        }
        // Only a copy of the file as it was searched is put in place.
        rom.RequireUnchanged();
        output.Commit(synced ? Durability::Synced : Durability::Cached);
    }
    const std::string checked =
        env.check ? env.check->AfterWrite(rom, outputPath, overwritesRom, index, count, env)
                  : std::string();
    if (env.outputs) {
        env.outputs->Add(outputPath, entryPath);
    }
    env.Status("trim complete, file saved.");
    env.Log(env.Text(
        "rom %d of %d -> saved %s to disk in %02fs",
        {index + 1, count, FileNamePart(outputPath, env.style), ElapsedSeconds(start, Now(env))}));
    if (!checked.empty()) {
        env.Log(checked);
    }

    if (!CurrentOptions(env).DeleteSource) {
        return TrimOutcome::Trimmed;
    }
    if (overwritesRom) {
        env.Log(env.Text("rom %d of %d -> skipped deleting source; output file overwrote it.",
                         {index + 1, count}));
        return TrimOutcome::Trimmed;
    }
    if (!synced) {
        SyncFile(outputPath);  // the option was turned on after the write
    }
    const std::optional<FileIdentity> output = IdentityOf(outputPath);
    if (entryPath != romPath) {
        RecycleAndLog(entryPath, index, count, env, output);
    }
    RecycleAndLog(romPath, index, count, env, output, rom.OpenedStamp());
    return TrimOutcome::Trimmed;
}

int RunBatch(const std::vector<std::string>& entries, const TrimEnvironment& outer,
             const BatchCallbacks& callbacks) {
    RunOutputs outputs;
    TrimEnvironment env = outer;
    if (!env.outputs) {
        env.outputs = &outputs;
    }
    const int count = static_cast<int>(entries.size());
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        TrimOutcome outcome = TrimOutcome::Trimmed;
        try {
            outcome = TrimRom(entries[static_cast<size_t>(i)], i, count, env);
        } catch (const std::exception& error) {
            if (!callbacks.keepGoing) {
                throw;
            }
            ++failed;
            if (callbacks.entryFailed) {
                callbacks.entryFailed(i, error);
            }
            continue;
        }
        if (outcome == TrimOutcome::PassedOver && callbacks.entryPassedOver) {
            callbacks.entryPassedOver(i);
        }
        if (callbacks.entryDone) {
            callbacks.entryDone(i);
        }
    }
    return failed;
}

}  // namespace parevo

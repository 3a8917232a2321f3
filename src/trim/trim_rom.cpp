#include "trim/trim_rom.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/text_encoding.h"

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
    const std::filesystem::path absolute = std::filesystem::absolute(PathOf(path), ec);
    return NarrowOf((ec ? PathOf(path) : absolute).lexically_normal());
}

// Whether two paths name one place by their text alone: "." parts, doubled
// separators and, in Windows style, letter case do not count; links do.
bool SamePath(const std::string& a, const std::string& b, PathStyle style) {
    const std::string first = NormalPath(a);
    const std::string second = NormalPath(b);
    return style == PathStyle::Windows ? SameTextIgnoringCase(first, second) : first == second;
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
    EarlyOutput(const OutputPlan& plan, const InputFile& rom, const TrimEnvironment& env)
        : plan(plan),
          worker(rom),
          output(plan.path, &rom),
          scan(
              worker.source,
              [this](std::int64_t from, std::int64_t count) {
                  output.CopyRange(worker.reader, from, count);
              },
              {}, [&env] { env.KeepAlive(); }) {}

    // Waits for the worker, copies what it has not (at least the bytes past the
    // game data that the search keeps), and sets the length: it cuts what the
    // worker copied past it.
    void Complete(const InputFile& rom, std::int64_t length, const TrimEnvironment& env) {
        CopyKept(output, rom, scan.Finish(), length, env);
    }

    const OutputPlan plan;
    const WorkerSource worker;
    PendingOutput output;
    ForwardScan scan;  // after the output it writes into, so it stops first
};

// A cut in place: the worker reads the padding past the end the header
// declares, in order, while the search waits (see forward_scan.h).
struct TailCheck {
    TailCheck(const InputFile& rom, std::int64_t from, const TrimEnvironment& env)
        : worker(rom),
          scan(worker.source, ForwardScan::Tail{from}, {}, [&env] { env.KeepAlive(); }) {}

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
            PlanOutput(entryPath, rom, ReadRomTitle(source), options, env.run, env.style);
        if (!plan.overwritesRom) {
            RemoveLeftoversOnce(FolderPart(plan.path, env.style), env);
            early.emplace(plan, rom, env);
        } else if (const std::int64_t declared = DeclaredDataEnd(source);
                   declared > 0 && declared < source.Size()) {
            // A cut in place reads nothing but the padding; without a header to
            // say where it begins, the search reads it alone.
            tail.emplace(rom, declared, env);
        }
    } catch (const std::exception&) {
        early.reset();
        tail.reset();
    }
}

}  // namespace

OutputPlan PlanOutput(const std::string& entryPath, const InputFile& rom, const std::string& title,
                      const TrimOptions& options, const RunFiles* run, PathStyle style) {
    OutputPlan plan;
    plan.path = MakeOutputName(entryPath, rom.Path(), title, options, style);
    // The title comes from the file: it names a file, never a folder to go to.
    if (options.HeaderRomName && TitleLeavesFolder(title, style)) {
        throw IoError("Cannot create \"" + plan.path + "\": the title in the ROM header (\"" +
                      title + "\") cannot be used as a file name");
    }
    RequireOutputFolder(options);
    // In place only where the naming rules give the ROM's own path: a link or
    // another name that leads to the ROM would cut it behind the user's back.
    const bool isRom = IdentityOf(plan.path) == rom.OpenedStamp().identity;
    plan.overwritesRom = isRom && SamePath(plan.path, rom.Path(), style);
    // Cut in place, an output of this run is only cut again: nothing is replaced.
    if (plan.overwritesRom) {
        return plan;
    }
    RequireNotWrittenThisRun(plan.path, run);
    std::optional<std::string> source = isRom ? std::optional(rom.Path()) : std::nullopt;
    if (!source && run) {
        source = run->SourceAt(plan.path);
    }
    if (source) {
        throw IoError("Cannot create \"" + plan.path + "\": it would replace \"" + *source +
                      "\", a source of this run");
    }
    return plan;
}

RunFiles::RunFiles(const std::vector<std::string>& entries) : m_entries(&entries) {
    m_sources.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        if (const auto identity = IdentityOf(entries[i])) {
            m_sources.emplace(*identity, static_cast<int>(i));
        }
    }
}

std::string RunFiles::EntryName(int entry) const {
    if (entry < 0) {
        return m_members[static_cast<size_t>(~entry)];
    }
    return m_entries && static_cast<size_t>(entry) < m_entries->size()
               ? (*m_entries)[static_cast<size_t>(entry)]
               : std::string();
}

void RunFiles::AddOutput(const std::string& outputPath, int entry) {
    if (const auto identity = IdentityOf(outputPath)) {
        m_written.insert_or_assign(*identity, entry);
    } else {
        m_planned.insert_or_assign(NormalPath(outputPath), entry);
    }
}

void RunFiles::AddSource(const std::string& path) {
    if (const auto identity = IdentityOf(path); identity && !m_sources.contains(*identity)) {
        m_members.push_back(path);
        m_sources.emplace(*identity, ~static_cast<int>(m_members.size() - 1));
    }
}

std::optional<std::string> RunFiles::EntryThatWrote(const std::string& path) const {
    if (const auto identity = IdentityOf(path)) {
        if (const auto it = m_written.find(*identity); it != m_written.end()) {
            return EntryName(it->second);
        }
        return std::nullopt;
    }
    if (const auto it = m_planned.find(NormalPath(path)); it != m_planned.end()) {
        return EntryName(it->second);
    }
    return std::nullopt;
}

std::optional<std::string> RunFiles::SourceAt(const std::string& path) const {
    if (const auto identity = IdentityOf(path)) {
        if (const auto it = m_sources.find(*identity); it != m_sources.end()) {
            return EntryName(it->second);
        }
    }
    return std::nullopt;
}

bool RunFiles::FirstWriteInto(const std::string& folder) {
    return m_folders.insert(NormalPath(folder.empty() ? "." : folder)).second;
}

void RemoveLeftoversOnce(const std::string& folder, const TrimEnvironment& env) {
    if (!env.run || env.run->FirstWriteInto(folder)) {
        RemoveLeftovers(folder);
    }
}

void RequireNotWrittenThisRun(const std::string& path, const RunFiles* run) {
    if (!run) {
        return;
    }
    if (const std::optional<std::string> entry = run->EntryThatWrote(path)) {
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
        tail->scan.WaitForAll();
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
    const OutputPlan plan = PlanOutput(entryPath, rom, point.Title, options, env.run, env.style);
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
        if (!early) {
            RemoveLeftoversOnce(FolderPart(outputPath, env.style), env);
        }
        PendingOutput& output = early ? early->output : fresh.emplace(outputPath, &rom);
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
    if (env.run) {
        env.run->AddOutput(outputPath, index);
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
    RunFiles files(entries);
    TrimEnvironment env = outer;
    if (!env.run) {
        env.run = &files;
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

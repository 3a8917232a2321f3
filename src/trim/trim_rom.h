#pragma once
// The per-ROM pipeline: from one list entry to a trimmed .nds file on disk, with
// its log lines and status texts.

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file_identity.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "platform/recycler.h"
#include "platform/tick.h"
#include "trim/output_name.h"
#include "trim/trim_point.h"

namespace parevo {

class InputFile;

struct TrimOptions : NamingOptions {
    bool SafeTrim = true;
    int byteJump = kDefaultByteJump;
    bool DeleteSource = false;
};

using LogSink = std::function<void(const std::string&)>;
using StatusSink = std::function<void(const std::string&)>;
// Read each time an option is needed, so a change made meanwhile applies.
using OptionsSource = std::function<TrimOptions()>;

// What the archive step reads and sets for one entry.
struct ArchiveStepState {
    std::string entryPath;
    int index = 0;  // i, 0-based
    int count = 0;  // N
    std::string shortRomName;
    bool romFound = false;
    std::string romPath;
};

struct TrimEnvironment;
using ArchiveStep = std::function<void(ArchiveStepState&, const TrimEnvironment&)>;

// A check of each ROM around its cut (against a DAT: trim/dat_check.h). TrimRom
// calls Begin once the ROM is open, BeforeCut after the search and before
// anything is cut or put in place, and AfterWrite once the output is in place;
// the line AfterWrite returns is logged after the "saved" line.
class RomCheck {
  public:
    virtual ~RomCheck() = default;
    virtual void Begin(const InputFile& rom, const TrimEnvironment& env) = 0;
    // Throws to leave the ROM as it is.
    virtual void BeforeCut(const InputFile& rom, std::int64_t outputLength,
                           const TrimEnvironment& env) = 0;
    // `inPlace`: the ROM itself was cut. Throws when the output fails the check
    // (an output beside the ROM is removed first).
    virtual std::string AfterWrite(const InputFile& rom, const std::string& outputPath,
                                   bool inPlace, int index, int count,
                                   const TrimEnvironment& env) = 0;
};

// The files one run reads and writes, so that no output of the run replaces
// another output of the run (two regions of a game whose headers hold one
// title, say) or a file the run reads: an entry, an archive, a member it
// extracted. A dry run records the outputs it would write. Files that are none
// of the run's may be replaced, as ever.
class RunFiles {
  public:
    RunFiles() = default;
    // Every entry of the run is a source of it. `entries` must outlive this.
    explicit RunFiles(const std::vector<std::string>& entries);

    // The output of entry `entry` (an index into the entries).
    void AddOutput(const std::string& outputPath, int entry);
    // A member the run extracted: a source from now on.
    void AddSource(const std::string& path);

    // The entry whose output this run wrote (or planned) at `path`, whatever
    // spelling or hard link leads there; none when it is none of this run's.
    std::optional<std::string> EntryThatWrote(const std::string& path) const;
    // The source of this run (as the run names it) that `path` leads to.
    std::optional<std::string> SourceAt(const std::string& path) const;
    // True the first time the run is about to write into `folder`.
    bool FirstWriteInto(const std::string& folder);

  private:
    struct IdentityHash {
        size_t operator()(const FileIdentity& id) const {
            return std::hash<std::uint64_t>()(id.index * 31 + id.device);
        }
    };
    std::string EntryName(int entry) const;

    const std::vector<std::string>* m_entries = nullptr;
    // Sources: an entry index, or ~k for member k.
    std::unordered_map<FileIdentity, int, IdentityHash> m_sources;
    std::vector<std::string> m_members;
    std::unordered_map<FileIdentity, int, IdentityHash> m_written;
    // What a dry run plans is not there yet: by absolute path without "." and "..".
    std::unordered_map<std::string, int> m_planned;
    std::unordered_set<std::string> m_folders;  // written into, the same way
};

// Removes what killed runs left in `folder` before the run first writes there
// (every time without a run).
void RemoveLeftoversOnce(const std::string& folder, const TrimEnvironment& env);

// Throws IoError (`Cannot create "<path>": already written for "<entry>" in this
// run`) when `path` is an output of this run; nothing without `run`.
void RequireNotWrittenThisRun(const std::string& path, const RunFiles* run);

struct TrimEnvironment {
    LogSink AddLog;
    StatusSink SetStatus;
    // Called on the caller's thread now and then while an output is copied,
    // which takes seconds for a large ROM on a slow disk: a window handles its
    // events there. No text, so the log and status lines stay as they are.
    std::function<void()> keepAlive;
    OptionsSource Options;
    Recycler* recycler = nullptr;
    TickCounter* tick = nullptr;
    ArchiveStep archiveStep;  // unset: archives are passed over without a line
    RunFiles* run = nullptr;  // what the run reads and wrote so far; RunBatch sets it
    RomCheck* check = nullptr;  // none: no ROM is checked, and no line is added
    PathStyle style = NativePathStyle();
    char decimalSeparator = UserDecimalSeparator();

    std::string Text(std::string_view templ, std::initializer_list<FormatArg> args) const {
        return Format(templ, args, decimalSeparator);
    }
    void Log(const std::string& line) const {
        if (AddLog) {
            AddLog(line);
        }
    }
    void Status(const std::string& text) const {
        if (SetStatus) {
            SetStatus(text);
        }
    }
    void KeepAlive() const {
        if (keepAlive) {
            keepAlive();
        }
    }
};

// Whether an entry's extension is one TrimRom takes: ".nds", ".zip" or ".rar",
// letter case included. An entry with any other is passed over without a line.
bool IsSourceExtension(const std::string& extension);

enum class TrimOutcome {
    Trimmed,
    NoRomFound,  // an archive without a .nds member (the archive step logged it)
    PassedOver,  // none of the three extensions (or an archive with no archive step)
};

// Trims entry i of n. Errors (IoError and those of the archive step) propagate.
TrimOutcome TrimRom(const std::string& entryPath, int index, int count, const TrimEnvironment& env);

// Where the trimmed image of `rom` goes, as the run decides it.
struct OutputPlan {
    std::string path;
    bool overwritesRom = false;  // the output is the ROM itself: it is cut in place
};

// Names the output of `rom` (the .nds file open for the search) for the entry
// `entryPath`, and refuses what the run refuses before it writes: a header title
// that would lead out of the output folder, an output folder that is not there,
// an output that `run` holds, and an output that would replace a source of the
// run. The ROM is cut in place only when the output's path is its own; another
// name that leads to it (a link) is refused. TrimRom and a dry run both decide
// through it.
OutputPlan PlanOutput(const std::string& entryPath, const InputFile& rom, const std::string& title,
                      const TrimOptions& options, const RunFiles* run,
                      PathStyle style = NativePathStyle());

// Why `folder` cannot take the outputs (`output folder "<dir>" does not exist`,
// `... is not a folder`, or `no output folder is chosen`); empty when it can.
std::string OutputFolderProblem(const std::string& folder);
// Throws IoError with that text when the options ask for a custom output folder
// that cannot take the outputs: the output never falls back to the source's
// folder, where an empty append text would cut the source itself.
void RequireOutputFolder(const NamingOptions& options);

// Moves the file at `path` to the recycle bin; a missing file is passed over.
RecycleResult RecycleFile(const std::string& path, Recycler& recycler);

struct BatchCallbacks {
    std::function<void(int index)> entryDone;
    // Before entryDone, for an entry TrimRom passed over without a line.
    std::function<void(int index)> entryPassedOver;
    // With keepGoing set, called for each failed entry instead of stopping.
    std::function<void(int index, const std::exception& error)> entryFailed;
    bool keepGoing = false;
};

// Runs TrimRom over every entry, first to last, with the run's RunFiles (its
// own, unless env holds one). Without keepGoing the first error ends the run and
// propagates. Returns the number of entries that failed.
int RunBatch(const std::vector<std::string>& entries, const TrimEnvironment& env,
             const BatchCallbacks& callbacks);

}  // namespace parevo

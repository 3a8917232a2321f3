#include "trim/archive_step.h"

#include <algorithm>
#include <vector>

#include "archive/rar_component.h"
#include "archive/zip_component.h"
#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/member_path.h"
#include "trim/padding.h"

namespace parevo {

namespace {

constexpr std::int64_t kCompareBlock = 1 << 20;

// Whether the files hold the same bytes. With `trimmed`, the shorter may also
// be the longer cut down (the rest of the longer being padding): the member as
// an earlier run trimmed it in place. A file that cannot be read is another.
bool SameBytes(const std::string& a, const std::string& b, bool trimmed) try {
    const InputFile first(a);
    const InputFile second(b);
    const std::int64_t sizeA = first.Size();
    const std::int64_t sizeB = second.Size();
    if (sizeA != sizeB && !trimmed) {
        return false;
    }
    std::vector<std::uint8_t> x(kCompareBlock);
    std::vector<std::uint8_t> y(kCompareBlock);
    const std::int64_t common = std::min(sizeA, sizeB);
    for (std::int64_t at = 0; at < common; at += kCompareBlock) {
        const size_t n = static_cast<size_t>(std::min(kCompareBlock, common - at));
        if (first.ReadAt(at, x.data(), n) != n || second.ReadAt(at, y.data(), n) != n ||
            !std::equal(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n), y.begin())) {
            return false;
        }
    }
    const InputFile& longer = sizeA > sizeB ? first : second;
    for (std::int64_t at = common; at < longer.Size(); at += kCompareBlock) {
        const size_t n = static_cast<size_t>(std::min(kCompareBlock, longer.Size() - at));
        if (longer.ReadAt(at, x.data(), n) != n || LastDataIndex(x.data(), n) >= 0) {
            return false;
        }
    }
    return true;
} catch (const IoError&) {
    return false;
}

// A member's name as an extraction writes it: its parts joined by the system's
// separator, whichever separator the archive used; none for a name that would
// leave the folder (it is never written).
std::optional<std::string> WrittenName(const std::string& name, PathStyle style) {
    const auto parts = MemberPathParts(name, style);
    if (!parts) {
        return std::nullopt;
    }
    std::string joined;
    for (const std::string& part : *parts) {
        joined += (joined.empty() ? "" : std::string(1, PathSeparator(style))) + part;
    }
    return joined;
}

[[noreturn]] void NotExtracted(const ArchiveStepState& state) {
    throw IoError("Cannot open \"" + state.romPath + "\": it could not be extracted from \"" +
                  state.entryPath + "\"");
}

// Extracts the members `names` (as the archive names them) and makes the ROM
// among them the file to trim. Where nothing is in the way of any of them, they
// are written in their places at once, so a killed extraction leaves nothing
// behind. Otherwise they go into a hidden folder beside the archive first and
// are then put in their places one by one: a file already there is never
// replaced. One that holds the member's bytes stands for it; a different one
// stays, and the member is passed over with a log line, unless it is the ROM,
// which must be the archive's own: then the entry fails and nothing beside the
// archive changes.
template <typename Extraction>
void ExtractRom(ArchiveStepState& state, const std::string& folder,
                const std::vector<std::string>& names, const char* kind, const TrimEnvironment& env,
                Extraction&& extract) {
    const std::string rom = WrittenName(state.romPath.substr(folder.size()), env.style).value();
    state.romPath = folder + rom;
    std::vector<std::string> written;
    for (const std::string& name : names) {
        if (auto name2 = WrittenName(name, env.style)) {
            written.push_back(std::move(*name2));
        }
    }
    RemoveLeftoversOnce(folder, env);
    const auto addSource = [&env, &folder](const std::string& member) {
        if (env.run) {
            env.run->AddSource(folder + member);
        }
    };
    if (std::all_of(written.begin(), written.end(), [&folder](const std::string& member) {
            return SpotAt(folder, member) == Spot::Free;
        })) {
        extract(folder);
        for (const std::string& member : written) {
            if (SpotAt(folder, member) == Spot::File) {
                addSource(member);
            }
        }
        if (SpotAt(folder, rom) != Spot::File) {
            NotExtracted(state);
        }
        return;
    }

    const StagingFolder staging(folder);
    extract(staging.Path());
    const std::vector<std::string> members = staging.Files();
    const bool extracted = std::find(members.begin(), members.end(), rom) != members.end();
    // The ROM first: when it cannot be placed, nothing else is.
    std::vector<std::string> order;
    if (extracted) {
        order.push_back(rom);
    }
    std::copy_if(members.begin(), members.end(), std::back_inserter(order),
                 [&rom](const std::string& m) { return m != rom; });
    for (const std::string& member : order) {
        const std::string staged = staging.Path() + member;
        const bool isRom = member == rom;
        const Spot spot = MoveIntoSpot(staged, folder, member);
        if (spot != Spot::Free &&
            !(spot == Spot::File && SameBytes(staged, folder + member, isRom))) {
            if (isRom) {
                throw IoError("Cannot extract \"" + member + "\" from \"" + state.entryPath +
                              "\": a different file \"" + folder + member + "\" is in the way");
            }
            env.Log(
                env.Text("rom (%s) %d of %d -> passed over %s in the %s: a different file of "
                         "that name is there",
                         {state.shortRomName, state.index + 1, state.count, member, kind}));
            continue;
        }
        addSource(member);
    }
    if (!extracted) {
        NotExtracted(state);
    }
}

void ZipBranch(ZipComponent& zip, ArchiveStepState& state, const TrimEnvironment& env) {
    state.romFound = false;
    // Nothing left over from an entry that failed before its extraction.
    zip.FileSpecs().clear();
    zip.SetZipFileName(state.entryPath);
    const std::string folder = FolderPart(state.entryPath, env.style);
    for (int k = 0; k < zip.Count(); ++k) {
        const ZipEntry entry = zip.GetEntry(k);
        // A name that would leave the archive's folder is never taken as the ROM.
        if (ExtensionOf(entry.FileName, env.style) != ".nds" ||
            !MemberStaysInFolder(entry.FileName, env.style)) {
            continue;
        }
        state.romFound = true;
        zip.FileSpecs().push_back(entry.FileName);
        state.romPath = folder + entry.FileName;
        env.Log(env.Text("rom (%s) %d of %d -> searching for .nds file in %s..",
                         {state.shortRomName, state.index + 1, state.count, state.romPath}));
    }
    if (state.romFound) {
        env.Log(env.Text("rom (%s) %d of %d -> extracting .nds file..",
                         {state.shortRomName, state.index + 1, state.count}));
        for (const std::string& name : zip.FileSpecs()) {
            RequireNotWrittenThisRun(folder + name, env.run);
        }
        ExtractRom(state, folder, zip.FileSpecs(), "zip", env, [&zip](const std::string& target) {
            zip.SetExtractDir(target);
            try {
                zip.Extract();
            } catch (...) {
                zip.SetExtractDir({});
                throw;
            }
            zip.SetExtractDir({});
        });
    } else {
        env.Log(env.Text("rom (%s) %d of %d -> no nds file found in zip; aborting..",
                         {state.shortRomName, state.index + 1, state.count}));
    }
}

void RarBranch(RarComponent& rar, ArchiveStepState& state, const TrimEnvironment& env) {
    state.romFound = false;
    const std::string folder = FolderPart(state.entryPath, env.style);
    rar.FileList().clear();
    rar.SetFileName(state.entryPath);
    rar.SetMode(RarMode::List);
    // Every member the extraction will write, not only the .nds ones.
    std::vector<std::string> members;
    const RarHeaderEvent collect = rar.OnFileProcessing;
    rar.OnFileProcessing = [&members, &collect](RarComponent& sender, RarMemberHeader header,
                                                std::int32_t status) {
        if (!header.IsFolder) {
            members.push_back(header.FileName);
        }
        if (collect) {
            collect(sender, std::move(header), status);
        }
    };
    try {
        rar.Extract();
    } catch (...) {
        rar.OnFileProcessing = collect;
        throw;
    }
    rar.OnFileProcessing = collect;
    std::vector<std::string> roms;  // the .nds members the extraction writes
    for (const std::string& name : rar.FileList()) {
        if (ExtensionOf(name, env.style) == ".nds" && MemberStaysInFolder(name, env.style)) {
            roms.push_back(folder + name);
        }
    }
    if (!roms.empty()) {
        state.romFound = true;
        state.romPath = roms.front();
        env.Log(env.Text("rom (%s) %d of %d -> found .nds file..",
                         {state.shortRomName, state.index + 1, state.count}));
    }
    if (state.romFound) {
        env.Log(env.Text("rom (%s) %d of %d -> extracting .nds file..",
                         {state.shortRomName, state.index + 1, state.count}));
        for (const std::string& rom : roms) {
            RequireNotWrittenThisRun(rom, env.run);
        }
        rar.FileList().clear();
        rar.SetMode(RarMode::Extract);
        ExtractRom(state, folder, members, "rar", env, [&rar](const std::string& target) {
            // An archive named without a folder is extracted where it is named from.
            rar.SetDirectory(target.empty() ? std::string(".") + PathSeparator(NativePathStyle())
                                            : target);
            rar.Extract();
        });
    } else {
        env.Log(env.Text("rom (%s) %d of %d -> no nds file found in rar; aborting..",
                         {state.shortRomName, state.index + 1, state.count}));
    }
}

}  // namespace

void ConfigureArchiveComponents(ZipComponent& zip, RarComponent& rar, StatusSink status) {
    zip.SetShowProgressDialog(false);
    // The texts are fixed: the counts and sizes the events pass are not shown.
    zip.OnProgress = [status](ZipComponent*, const std::string&, std::int32_t, std::int32_t) {
        if (status) {
            status("extracting .nds file... ");
        }
    };
    rar.SetCanProgress(true);
    rar.SetMode(RarMode::Extract);
    rar.SetOverrideEvent(OverridePolicy::Always);
    rar.SetPromptForPass(false);
    rar.SetPromptForVolumn(false);
    rar.SetStopProcessing(false);
    rar.OnFileProcessing = [](RarComponent& sender, RarMemberHeader hdrData, std::int32_t) {
        CollectRomMember(hdrData, sender.FileList());
    };
    rar.OnProgress = [status](RarComponent&, std::uint32_t, std::uint32_t, std::uint32_t,
                              std::uint32_t) {
        if (status) {
            status("extracting .nds file...");
        }
    };
    rar.OnRarStatus = [status](RarComponent&, const std::string& message, RarStatus) {
        if (status) {
            status(message);
        }
    };
}

ArchiveStep MakeArchiveStep(ZipComponent& zip, RarComponent& rar) {
    return [&zip, &rar](ArchiveStepState& state, const TrimEnvironment& env) {
        if (ExtensionOf(state.entryPath, env.style) == ".zip") {
            ZipBranch(zip, state, env);
        }
        // After a zip the ROM path ends in ".nds" or is still the ".zip" path, so
        // at most one branch runs.
        if (ExtensionOf(state.romPath, env.style) == ".rar") {
            RarBranch(rar, state, env);
        }
    };
}

}  // namespace parevo

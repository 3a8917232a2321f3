#include "trim/archive_step.h"

#include <algorithm>

#include "archive/rar_component.h"
#include "archive/zip_component.h"
#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/member_path.h"

namespace parevo {

namespace {

// Runs an extraction and makes sure it wrote the ROM: a member that could not be
// extracted (no password, damaged, refused) must not leave an older file of the
// same name to be trimmed and recycled in its place. A file the component kept
// on purpose (not older than the member) stands, as the component decided.
template <typename Extraction, typename KeptOnPurpose>
void ExtractRom(const ArchiveStepState& state, Extraction&& extract,
                KeptOnPurpose&& keptOnPurpose) {
    const std::optional<FileStamp> before = StampOf(state.romPath);
    extract();
    const std::optional<FileStamp> after = StampOf(state.romPath);
    if (!after || (after == before && !keptOnPurpose())) {
        throw IoError("Cannot open \"" + state.romPath + "\": it could not be extracted from \"" +
                      state.entryPath + "\"");
    }
}

void ZipBranch(ZipComponent& zip, ArchiveStepState& state, const TrimEnvironment& env) {
    state.romFound = false;
    // Nothing left over from an entry that failed before its extraction.
    zip.FileSpecs().clear();
    zip.SetZipFileName(state.entryPath);
    const std::string folder = FolderPart(state.entryPath, env.style);
    std::string member;
    for (int k = 0; k < zip.Count(); ++k) {
        const ZipEntry entry = zip.GetEntry(k);
        // A name that would leave the archive's folder is never taken as the ROM.
        if (ExtensionOf(entry.FileName, env.style) != ".nds" ||
            !MemberStaysInFolder(entry.FileName, env.style)) {
            continue;
        }
        state.romFound = true;
        zip.FileSpecs().push_back(entry.FileName);
        member = entry.FileName;
        state.romPath = folder + member;
        env.Log(env.Text("rom (%s) %d of %d -> searching for .nds file in %s..",
                         {state.shortRomName, state.index + 1, state.count, state.romPath}));
    }
    if (state.romFound) {
        env.Log(env.Text("rom (%s) %d of %d -> extracting .nds file..",
                         {state.shortRomName, state.index + 1, state.count}));
        for (const std::string& name : zip.FileSpecs()) {
            RequireNotWrittenThisRun(folder + name, env.run);
        }
        ExtractRom(
            state, [&zip] { zip.Extract(); },
            [&zip, &member] {
                const auto& kept = zip.KeptFiles();
                return std::find(kept.begin(), kept.end(), member) != kept.end();
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
    // An archive named without a folder is extracted where it is named from.
    rar.SetDirectory(folder.empty() ? std::string(".") + PathSeparator(env.style) : folder);
    rar.SetMode(RarMode::List);
    rar.Extract();
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
        ExtractRom(
            state, [&rar] { rar.Extract(); }, [] { return false; });
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

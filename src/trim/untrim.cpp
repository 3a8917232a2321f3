#include "trim/untrim.h"

#include <algorithm>

#include "platform/errors.h"
#include "platform/file_io.h"
#include "trim/rom_info.h"

namespace parevo {

namespace {

constexpr const char* kAction = "Cannot untrim";
// Pieces of a large copy or fill, with the caller kept alive between them.
constexpr std::int64_t kPiece = 16 << 20;

std::uint32_t Now(const TrimEnvironment& env) {
    return env.tick ? env.tick->Milliseconds() : 0;
}

// The output: the image's bytes, then the padding up to `length`.
void WriteUntrimmed(PendingOutput& output, const InputFile& rom, std::int64_t size,
                    std::int64_t length, std::uint8_t padByte, const TrimEnvironment& env) {
    for (std::int64_t at = 0; at < size; at += kPiece) {
        output.CopyRange(rom, at, std::min(kPiece, size - at));
        env.KeepAlive();
    }
    if (padByte == 0x00) {
        output.SetLength(length);  // zeros need no writes
        return;
    }
    for (std::int64_t at = size; at < length; at += kPiece) {
        output.Fill(at, std::min(kPiece, length - at), padByte);
        env.KeepAlive();
    }
}

}  // namespace

std::int64_t UntrimLength(const InputFile& image, const UntrimOptions& untrim) {
    const std::int64_t size = image.Size();
    std::int64_t length = 0;
    std::string what;
    if (untrim.size) {
        length = *untrim.size;
        what = "the size asked for";
    } else {
        const NdsHeader header = RequireImageHeader(image, kAction);
        const std::optional<std::int64_t> capacity = CartridgeCapacity(header.deviceCapacity);
        if (!capacity) {
            throw IoError(DescribeIoFailure(
                kAction, image.Path(),
                "the header's capacity code " + std::to_string(header.deviceCapacity) +
                    " is out of range (0 to " + std::to_string(kMaxCapacityCode) + ")"));
        }
        length = *capacity;
        what = "its cartridge capacity";
    }
    if (size > length) {
        throw IoError(DescribeIoFailure(kAction, image.Path(),
                                        "it is longer (" + std::to_string(size) + " bytes) than " +
                                            what + " (" + std::to_string(length) + " bytes)"));
    }
    return length;
}

TrimOutcome UntrimRom(const std::string& entryPath, int index, int count,
                      const TrimEnvironment& env, const UntrimOptions& untrim) {
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
    const TrimOptions options = env.Options ? env.Options() : TrimOptions{};
    RequireOutputFolder(options);
    if (archive) {
        if (KindOf(entryPath) == FileKind::Other) {
            throw IoError(DescribeIoFailure("Cannot open", entryPath, kNotARegularFile));
        }
        env.archiveStep(state, env);
        if (!state.romFound) {
            return TrimOutcome::NoRomFound;
        }
    }
    const std::uint32_t start = Now(env);
    const InputFile rom(state.romPath);
    const std::int64_t size = rom.Size();
    const std::int64_t length = UntrimLength(rom, untrim);
    const FileByteSource source(rom);
    const OutputPlan plan =
        PlanOutput(entryPath, rom, ReadRomTitle(source), options, env.run, env.style);
    const char* const padText = untrim.padByte == 0x00 ? "00" : "FF";
    env.Log(env.Text(
        "rom (%s) %d of %d -> padding %dkb with 0x%s up to %d bytes",
        {ShortName(FileNamePart(state.romPath, env.style), env.style), index + 1, count,
         static_cast<long long>((length - size) / 1000), padText, static_cast<long long>(length)}));
    env.Status("saving to disk...");
    // In place too, the image is written anew and replaces the source only when
    // complete; a full-length image in place needs nothing written.
    if (!plan.overwritesRom || size != length) {
        rom.RequireUnchanged();
        PendingOutput output(plan.path, &rom);
        WriteUntrimmed(output, rom, size, length, untrim.padByte, env);
        rom.RequireUnchanged();
        output.Commit(Durability::Cached);
    }
    if (env.run) {
        env.run->AddOutput(plan.path, index);
    }
    env.Status("untrim complete, file saved.");
    env.Log(env.Text(
        "rom %d of %d -> saved %s to disk in %02fs",
        {index + 1, count, FileNamePart(plan.path, env.style), ElapsedSeconds(start, Now(env))}));
    return TrimOutcome::Trimmed;
}

int RunUntrimBatch(const std::vector<std::string>& entries, const TrimEnvironment& outer,
                   const BatchCallbacks& callbacks, const UntrimOptions& untrim) {
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
            outcome = UntrimRom(entries[static_cast<size_t>(i)], i, count, env, untrim);
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

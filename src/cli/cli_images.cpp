// --info and --verify: each image a FILE stands for, read and reported on;
// nothing is written beside the files.
#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_commands.h"
#include "dat/verify.h"
#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/temp_folder.h"
#include "platform/text_encoding.h"
#include "trim/archive_images.h"
#include "trim/rom_info.h"

namespace parevo {

namespace {

struct ImageName {
    std::string file;
    std::string member;  // empty for a file that is the image itself

    std::string Heading() const { return member.empty() ? file : file + " (" + member + ")"; }
};

using EachImage = std::function<void(const ImageName&, const InputFile&)>;
using ImageFailed = std::function<void(const ImageName&, const std::exception&)>;

// Calls `each` for the image at `path`, or for each .nds member of the archive
// there, extracted into a private folder that goes afterwards.
void ForEachImage(TerminalArchives& archives, const std::string& path, const EachImage& each,
                  const ImageFailed& failed) {
    const auto one = [&](const ImageName& name, const std::string& file) {
        try {
            each(name, InputFile(file));
        } catch (const std::exception& e) {
            failed(name, e);
        }
    };
    if (!IsArchivePath(path)) {
        one({path, {}}, path);
        return;
    }
    try {
        const InputFile archive(path);  // missing or no regular file: its own error
        const TempFolder folder(FolderPart(path));
        const std::vector<ArchiveImage> images =
            ExtractArchiveImages(path, folder.Path(), archives.Zip(), archives.Rar());
        if (images.empty()) {
            throw IoError(DescribeIoFailure("Cannot read", path, "it holds no .nds file"));
        }
        for (const ArchiveImage& image : images) {
            if (!FileExists(image.path)) {
                failed({path, image.member}, IoError("Cannot read \"" + image.member + "\" in \"" +
                                                     path + "\": it could not be extracted"));
                continue;
            }
            one({path, image.member}, image.path);
        }
    } catch (const std::exception& e) {
        failed({path, {}}, e);
    }
}

// ---- JSON ----------------------------------------------------------------------

// A JSON string: the system's narrow text as UTF-8, control characters escaped;
// bytes that are no UTF-8 (a title is raw bytes) become U+FFFD.
std::string JsonString(const std::string& narrow) {
#ifdef _WIN32
    std::string utf8 = WideToUtf8(NarrowToWide(narrow));
#else
    std::string utf8 = narrow;
#endif
    if (!IsUtf8(utf8)) {
        std::string replaced;
        for (const char c : utf8) {
            replaced += static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : "\xEF\xBF\xBD";
        }
        utf8 = replaced;
    }
    std::string json = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            json += "\\u00";
            json += kHex[byte >> 4];
            json += kHex[byte & 15];
        } else {
            json += c;
        }
    }
    return json + "\"";
}

std::string JsonBool(bool value) {
    return value ? "true" : "false";
}

// One object; `fields` hold each value already in JSON.
std::string JsonObject(const std::vector<std::pair<std::string, std::string>>& fields,
                       const std::string& indent) {
    std::string json = "{";
    for (size_t i = 0; i < fields.size(); ++i) {
        json +=
            (i == 0 ? "\n" : ",\n") + indent + "  \"" + fields[i].first + "\": " + fields[i].second;
    }
    return json + "\n" + indent + "}";
}

std::string JsonVerdict(const Verdict& verdict) {
    std::string differs = "[";
    for (size_t i = 0; i < verdict.differsFrom.size(); ++i) {
        differs += (i == 0 ? "" : ", ") + JsonString(Utf8ToNarrow(verdict.differsFrom[i]->game));
    }
    differs += "]";
    const DatEntry* entry = verdict.match ? verdict.match->entry : nullptr;
    std::string padded = "null";
    if (verdict.match && verdict.match->padByte) {
        padded = *verdict.match->padByte == 0 ? "\"0x00\"" : "\"0xFF\"";
    }
    return JsonObject({{"verified", JsonBool(entry != nullptr)},
                       {"game", entry ? JsonString(Utf8ToNarrow(entry->game)) : "null"},
                       {"dat_size", entry ? std::to_string(entry->size) : "null"},
                       {"padded_with", padded},
                       {"differs_from", differs}},
                      "    ");
}

std::string JsonInfo(const ImageName& name, const RomInfo& info,
                     const std::optional<Verdict>& verdict) {
    static const char* const kSecureAreas[] = {"\"decrypted\"", "\"empty\"", "\"encrypted\"",
                                               "\"unknown\""};
    static const char* const kPadding[] = {"\"0x00\"", "\"0xFF\"", "\"mixed\"", "\"none\""};
    std::vector<std::pair<std::string, std::string>> fields{
        {"file", JsonString(name.file)},
        {"member", name.member.empty() ? "null" : JsonString(name.member)},
        {"size", std::to_string(info.size)},
        {"title", JsonString(info.title)},
        {"game_code", JsonString(info.gameCode)},
        {"maker_code", JsonString(info.makerCode)},
        {"unit", JsonString(UnitName(info.unitCode))},
        {"unit_code", std::to_string(info.unitCode)},
        {"rom_version", std::to_string(info.romVersion)},
        {"capacity", info.capacity ? std::to_string(*info.capacity) : "null"},
        {"capacity_code", std::to_string(info.capacityCode)},
        {"header_crc_valid", JsonBool(info.headerCrcValid)},
        {"logo_crc_valid", JsonBool(info.logoCrcValid)},
        {"secure_area", kSecureAreas[static_cast<int>(info.secureArea)]},
        {"ds_used_size", std::to_string(info.dsUsedSize)},
        {"dsi_used_size", info.dsiUsedSize ? std::to_string(*info.dsiUsedSize) : "null"},
        {"download_play_signature", JsonBool(info.downloadPlaySignature)},
        {"padding_byte", kPadding[static_cast<int>(info.padding)]},
        {"padding_length", std::to_string(info.paddingLength)},
        {"trim_kept_length", std::to_string(info.trimKeptLength)},
        {"looks_trimmed", JsonBool(info.looksTrimmed)},
    };
    if (verdict) {
        fields.emplace_back("dat", JsonVerdict(*verdict));
    }
    return JsonObject(fields, "  ");
}

// ---- Text ------------------------------------------------------------------------

void PrintFields(std::ostream& out, const ImageName& name,
                 const std::vector<std::pair<std::string, std::string>>& fields) {
    size_t width = 0;
    for (const auto& field : fields) {
        width = std::max(width, field.first.size());
    }
    out << name.Heading() << "\n";
    for (const auto& [key, value] : fields) {
        out << "  " << key << ":" << std::string(width + 2 - key.size(), ' ') << value << "\n";
    }
}

}  // namespace

int RunInfo(const CliRun& run) {
    TerminalArchives archives(run);
    int failed = 0;
    std::vector<std::string> objects;
    const auto each = [&](const ImageName& name, const InputFile& file) {
        const RomInfo info = ReadRomInfo(file, run.options);
        std::optional<Verdict> verdict;
        if (run.dat != nullptr) {
            verdict = VerifyImage(*run.dat, file);
        }
        if (run.cli.json) {
            objects.push_back(JsonInfo(name, info, verdict));
            return;
        }
        std::vector<std::pair<std::string, std::string>> fields = InfoFields(info);
        if (verdict) {
            for (const std::string& line : VerdictLines(*verdict)) {
                fields.emplace_back("dat", line);
            }
        }
        PrintFields(run.out, name, fields);
    };
    const auto fail = [&](const ImageName& name, const std::exception& e) {
        ++failed;
        if (run.cli.json) {
            objects.push_back(
                JsonObject({{"file", JsonString(name.file)},
                            {"member", name.member.empty() ? "null" : JsonString(name.member)},
                            {"error", JsonString(e.what())}},
                           "  "));
        } else {
            run.Error(e.what());
        }
    };
    for (const std::string& path : run.cli.files) {
        ForEachImage(archives, path, each, fail);
    }
    if (run.cli.json) {
        run.out << "[";
        for (size_t i = 0; i < objects.size(); ++i) {
            run.out << (i == 0 ? "\n  " : ",\n  ") << objects[i];
        }
        run.out << (objects.empty() ? "]\n" : "\n]\n");
    }
    return failed == 0 && archives.RarErrors() == 0 ? 0 : 1;
}

int RunVerify(const CliRun& run) {
    TerminalArchives archives(run);
    int unverified = 0;
    const auto each = [&](const ImageName& name, const InputFile& file) {
        const Verdict verdict = VerifyImage(*run.dat, file);
        unverified += verdict.match ? 0 : 1;
        run.out << name.Heading() << "\n";
        for (const std::string& line : VerdictLines(verdict)) {
            run.out << "  " << line << "\n";
        }
    };
    const auto fail = [&](const ImageName&, const std::exception& e) {
        ++unverified;
        run.Error(e.what());
    };
    for (const std::string& path : run.cli.files) {
        ForEachImage(archives, path, each, fail);
    }
    return unverified == 0 && archives.RarErrors() == 0 ? 0 : 1;
}

}  // namespace parevo

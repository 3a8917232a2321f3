#include "trim/archive_images.h"

#include "archive/rar_component.h"
#include "archive/zip_component.h"
#include "platform/member_path.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"

namespace parevo {

namespace {

std::string LowerExtension(const std::string& path) {
    std::string extension = ExtensionOf(path);
    for (char& c : extension) {
        c = AsciiLower(c);
    }
    return extension;
}

bool IsImageMember(const std::string& name) {
    return LowerExtension(name) == ".nds" && MemberStaysInFolder(name);
}

}  // namespace

bool IsArchivePath(const std::string& path) {
    const std::string extension = LowerExtension(path);
    return extension == ".zip" || extension == ".rar";
}

std::vector<ArchiveImage> ExtractArchiveImages(const std::string& archive,
                                               const std::string& folder, ZipComponent& zip,
                                               RarComponent& rar) {
    std::vector<ArchiveImage> images;
    if (LowerExtension(archive) == ".zip") {
        zip.FileSpecs().clear();
        zip.SetZipFileName(archive);
        for (int k = 0; k < zip.Count(); ++k) {
            const ZipEntry entry = zip.GetEntry(k);
            if (IsImageMember(entry.FileName)) {
                zip.FileSpecs().push_back(entry.FileName);
                images.push_back({entry.FileName, folder + entry.FileName});
            }
        }
        if (!images.empty()) {
            // The component is the run's too: its folder is put back afterwards.
            const std::string before = zip.ExtractDir();
            zip.SetExtractDir(folder);
            try {
                zip.Extract();
            } catch (...) {
                zip.SetExtractDir(before);
                throw;
            }
            zip.SetExtractDir(before);
        }
        zip.FileSpecs().clear();
        return images;
    }
    rar.FileList().clear();
    rar.SetFileName(archive);
    rar.SetDirectory(folder);
    const RarMode before = rar.Mode();
    rar.SetMode(RarMode::List);
    rar.Extract();
    for (const std::string& name : rar.FileList()) {
        if (IsImageMember(name)) {
            images.push_back({name, folder + name});
        }
    }
    rar.FileList().clear();
    rar.SetMode(RarMode::Extract);
    if (!images.empty()) {
        rar.Extract();
    }
    rar.SetMode(before);
    return images;
}

}  // namespace parevo

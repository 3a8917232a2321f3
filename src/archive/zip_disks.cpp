#include "archive/zip_disks.h"

#include "platform/file_io.h"
#include "platform/format.h"

namespace parevo {

namespace {
constexpr const char* kSpannedLabel = "PKBACK# ";
}

int DiskNumberFromLabel(const std::string& label) {
    const std::string prefix = kSpannedLabel;
    if (label.compare(0, prefix.size(), prefix) != 0) {
        return 0;
    }
    const std::string digits = label.substr(prefix.size(), 3);
    if (digits.empty()) {
        return 0;
    }
    int number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number;
}

int GetDiskNumber(DriveInfo& drives, const std::string& path) {
    if (!FileExists(path) || !drives.IsRemovable(path)) {
        return 0;
    }
    const std::optional<std::string> label = drives.VolumeLabel(path);
    return label ? DiskNumberFromLabel(*label) : 0;
}

bool AskForLastDisk(Prompter& prompter, const std::string& caption, int diskNumber) {
    const std::string text = Format(
        "This is [ Disk %d ] of a multiple disk Zip file.\nInsert the last disk of the Zip file "
        "before pressing [ OK ] to continue ...",
        {diskNumber});
    return prompter.ShowMessage(caption, text, DialogButtons::OkCancel, DialogIcon::Information) ==
           DialogResult::Ok;
}

bool AskForDisk(Prompter& prompter, DriveInfo& drives, const std::string& caption,
                const std::string& path, int diskNumber) {
    while (GetDiskNumber(drives, path) != diskNumber) {
        const std::string text = Format(
            "Insert [ Disk %d ] of the Zip file into the floppy drive\nbefore pressing [ OK ] to "
            "continue ...",
            {diskNumber});
        if (prompter.ShowMessage(caption, text, DialogButtons::OkCancel, DialogIcon::Information) !=
            DialogResult::Ok) {
            return false;
        }
    }
    return true;
}

}  // namespace parevo

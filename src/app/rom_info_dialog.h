#pragma once
// The "ROM information…" dialog: what an image of the ROM list is, field by
// field as parevo-cli --info prints it, and its DAT check when a DAT is chosen.
// For an archive, one part per .nds member.

#include <QDialog>
#include <string>
#include <utility>
#include <vector>

namespace parevo {

// One image's part of the dialog: its fields, or the error that kept them.
struct RomInfoPart {
    std::string heading;  // the file name, and the member's in an archive
    std::vector<std::pair<std::string, std::string>> fields;
    std::string error;
};

class RomInfoDialog : public QDialog {
    Q_OBJECT
  public:
    RomInfoDialog(const QString& fileName, const std::vector<RomInfoPart>& parts, QWidget* parent);
};

}  // namespace parevo

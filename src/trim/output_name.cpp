#include "trim/output_name.h"

namespace parevo {

std::string MakeOutputName(const std::string& entryPath, const std::string& romPath,
                           const std::string& title, const NamingOptions& options,
                           PathStyle style) {
    // The base name drops the last four characters, the ".nds" of the ROM path.
    std::string base = FileNamePart(romPath, style);
    base = base.size() < 4 ? std::string() : base.substr(0, base.size() - 4);

    if (options.TrimSceneNumber) {
        if (const size_t pos = base.find(" - "); pos != std::string::npos) {
            base = base.substr(pos + 3);
        }
    }

    const std::string stem = options.HeaderRomName ? title : base;
    const std::string name = stem + options.AppendText + ExtensionOf(romPath, style);
    if (options.CustomPath) {
        return options.Path + PathSeparator(style) + name;
    }
    return FolderPart(entryPath, style) + name;
}

}  // namespace parevo

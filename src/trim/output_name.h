#pragma once
// Output naming: where a trimmed image goes and what it is called.

#include <string>

#include "platform/paths.h"

namespace parevo {

struct NamingOptions {
    bool TrimSceneNumber = false;
    bool HeaderRomName = false;
    std::string AppendText = "_trim";
    bool CustomPath = false;
    std::string Path;  // the selected output folder
};

// Pure: reads no files and creates no folders.
std::string MakeOutputName(const std::string& entryPath, const std::string& romPath,
                           const std::string& title, const NamingOptions& options,
                           PathStyle style = NativePathStyle());

}  // namespace parevo

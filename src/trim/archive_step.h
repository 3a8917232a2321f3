#pragma once
// Archive sources: the step of TrimRom that finds a .nds member in a .zip or
// .rar entry and extracts it next to the archive, and the extraction status
// texts both front ends show.

#include <string>

#include "trim/trim_rom.h"

namespace parevo {

class ZipComponent;
class RarComponent;

// Configures the two components as the main window has them and binds their
// progress, status and member events. The status texts go to `status`:
// "extracting .nds file... " for zip progress, "extracting .nds file..." for RAR
// progress, and the RAR component's own status messages.
void ConfigureArchiveComponents(ZipComponent& zip, RarComponent& rar, StatusSink status);

// The archive step over the window's two components.
ArchiveStep MakeArchiveStep(ZipComponent& zip, RarComponent& rar);

}  // namespace parevo

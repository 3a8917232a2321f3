#pragma once
// Archive sources: the step of TrimRom that finds a .nds member in a .zip or
// .rar entry and extracts it next to the archive, and the extraction status
// texts both front ends show.

#include <string>

#include "trim/trim_rom.h"

namespace parevo {

class TZip;
class TDFUnRar;

// The status-line handlers of the window's extraction events. Their texts are
// fixed: the counts and sizes the events pass are not shown.
void ZipZEDProgressEvent(const StatusSink& status);  // "extracting .nds file... "
void RarProgress(const StatusSink& status);          // "extracting .nds file..."
void RarRarStatus(const StatusSink& status, const std::string& message);

// Configures the two components as the main window has them and binds their
// progress, status and member events (status texts go to `status`).
void ConfigureArchiveComponents(TZip& zip, TDFUnRar& rar, StatusSink status);

// The archive step over the window's two components.
ArchiveStep MakeArchiveStep(TZip& zip, TDFUnRar& rar);

}  // namespace parevo

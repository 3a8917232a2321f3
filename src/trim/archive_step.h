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

// True when a member name joined to the archive's folder stays inside it: not
// empty, not absolute, no drive letter, no ".." part, no NUL byte (which would
// end the name early at the system boundary), and on Windows no ":" at all.
bool MemberStaysInFolder(const std::string& memberName, PathStyle style = NativePathStyle());

// The archive step over the window's two components.
ArchiveStep MakeArchiveStep(TZip& zip, TDFUnRar& rar);

}  // namespace parevo

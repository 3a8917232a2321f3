#pragma once
// May an archive member be written here? One answer for the archive step and
// both run-time libraries: a member's name, joined to the folder the archive is
// extracted into, must stay inside that folder. Compiled into the core and into
// both libraries.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/paths.h"

namespace parevo {

// The folder parts and file name of a member's name ("/" and "\" both separate,
// since a name written on one system may be read on another; empty and "."
// parts are dropped). None when the name would leave the folder or name
// something else: empty, nothing left after dropping, a separator first, a NUL
// byte anywhere (it would end the name early at the system boundary), a drive
// letter ("c:"), a ".." part. In Windows style also a ":" anywhere (a drive or a
// stream of another file), a part that is a reserved device name ("con", "nul",
// "com1", "lpt1"... with or without an extension, in any case) and a part ending
// in a dot or a blank (Windows drops those, so the name would be another one).
std::optional<std::vector<std::string>> MemberPathParts(std::string_view name,
                                                        PathStyle style = NativePathStyle());

// True when MemberPathParts gives parts.
bool MemberStaysInFolder(std::string_view name, PathStyle style = NativePathStyle());

}  // namespace parevo

#include "settings/option_controls.h"

#include <algorithm>

#include "platform/numbers.h"

namespace parevo {

int ClampByteJump(long long value) {
    return static_cast<int>(std::clamp<long long>(value, kMinByteJump, kMaxByteJump));
}

int ReadByteJumpText(std::string_view text) {
    long long number = 0;
    if (!ParseWholeNumber(text, number)) {
        return kMinByteJump;
    }
    // Keep it an int; the bounds it is compared with are far inside.
    return static_cast<int>(std::clamp<long long>(number, -1000000000LL, 1000000000LL));
}

void PlainOptionControls::SetCustomPath(bool checked) {
    if (checked != m_customPath) {
        m_customPath = checked;
        UpdateFolderTreeEnabled();
    }
}

TrimOptions ToTrimOptions(const OptionControls& controls) {
    TrimOptions options;
    options.SafeTrim = controls.SafeTrim();
    options.byteJump = ClampByteJump(controls.ByteJump());
    options.TrimSceneNumber = controls.TrimSceneNumber();
    options.HeaderRomName = controls.HeaderRomName();
    options.AppendText = controls.AppendText();
    options.Path = controls.PathFolder();
    options.CustomPath = controls.CustomPath();
    options.DeleteSource = controls.DeleteSource();
    return options;
}

}  // namespace parevo

#pragma once
// Settings: moves the options between the option controls and the
// settings file, through the XML tree. It keeps no copy of the values.

#include <string>
#include <string_view>

#include "platform/errors.h"
#include "settings/option_controls.h"

namespace parevo {

// A value text of the settings file that is no on/off value (nor a number, where
// a number is wanted): "Could not convert variant of type (String) into type
// (Boolean)".
class ConversionError : public Error {
  public:
    ConversionError(const std::string& fromType, const std::string& toType);
};

// "True"/"False" in any letter case, or a number (zero is off); else ConversionError.
bool VariantToBoolean(std::string_view text);
// A whole decimal number, optionally signed; else the on/off value as 1 or 0.
long long VariantToInteger(std::string_view text);

class Settings {
  public:
    explicit Settings(OptionControls& controls) : m_controls(controls) {}

    // Applies the file to the controls. A missing or unreadable file, or one whose
    // root is not "settings", changes nothing. A value that cannot be converted
    // throws ConversionError at that element, the earlier ones applied.
    void LoadFromFile(const std::string& fileName);
    // Writes the controls to the file (replacing it); errors of the write propagate.
    void SaveToFile(const std::string& fileName);

    // The folder the last `directory` element of the last load named when it was
    // passed over because no folder is there (the folder tree kept its own);
    // empty when the last one was selected, or there was none.
    const std::string& PassedOverDirectory() const { return m_passedOverDirectory; }

  private:
    OptionControls& m_controls;
    std::string m_passedOverDirectory;
};

}  // namespace parevo

#include "settings/settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>

#include "platform/file_io.h"
#include "platform/format.h"
#include "platform/numbers.h"
#include "platform/text_encoding.h"
#include "settings/xml/xml_node.h"

namespace parevo {

namespace {

// A decimal number with an optional fraction ("0", "-2", "1.5"); `zero` tells
// whether it equals zero.
bool ParseNumber(std::string_view text, bool& zero) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    bool digits = false;
    zero = true;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            zero = zero && c == '0';
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

constexpr const char* kRoot = "settings";
constexpr const char* kValue = "value";

}  // namespace

ConversionError::ConversionError(const std::string& fromType, const std::string& toType)
    : Error(Format("Could not convert variant of type (%s) into type (%s)", {fromType, toType})) {}

bool VariantToBoolean(std::string_view text) {
    if (SameTextIgnoringCase(text, "true")) {
        return true;
    }
    if (SameTextIgnoringCase(text, "false")) {
        return false;
    }
    bool zero = false;
    if (ParseNumber(text, zero)) {
        return !zero;
    }
    throw ConversionError("String", "Boolean");
}

long long VariantToInteger(std::string_view text) {
    long long value = 0;
    if (ParseWholeNumber(text, value)) {
        return value;
    }
    // A number with a fraction gives the whole number nearest to it.
    bool zero = false;
    if (ParseNumber(text, zero)) {
        // from_chars reads "." whatever the locale; it takes no leading "+".
        const std::string_view digits = !text.empty() && text[0] == '+' ? text.substr(1) : text;
        constexpr double kLimit = 9.0e18;
        double number = 0;
        if (std::from_chars(digits.data(), digits.data() + digits.size(), number).ec ==
            std::errc::result_out_of_range) {
            number = digits[0] == '-' ? -kLimit : kLimit;
        }
        return std::llround(std::clamp(number, -kLimit, kLimit));
    }
    return VariantToBoolean(text) ? 1 : 0;
}

void Settings::SaveToFile(const std::string& fileName) {
    XmlNode root(kRoot);
    root.AddChild("directory")->AddField(kValue, Variant(m_controls.PathFolder()));
    root.AddChild("checked")->AddField(kValue, Variant(m_controls.CustomPath()));
    root.AddChild("safetrim")->AddField(kValue, Variant(m_controls.SafeTrim()));
    root.AddChild("scenetrim")->AddField(kValue, Variant(m_controls.TrimSceneNumber()));
    root.AddChild("useheadername")->AddField(kValue, Variant(m_controls.HeaderRomName()));
    root.AddChild("deletesource")->AddField(kValue, Variant(m_controls.DeleteSource()));
    root.AddChild("bytejump")->AddField(kValue, Variant(m_controls.ByteJump()));
    root.AddChild("append")->AddField(kValue, Variant(m_controls.AppendText()));
    // Only when one is chosen, so that a file without one stays as it was.
    if (const std::string dat = m_controls.DatFile(); !dat.empty()) {
        root.AddChild("datfile")->AddField(kValue, Variant(dat));
    }
    root.WriteToFile(fileName);
}

void Settings::LoadFromFile(const std::string& fileName) {
    m_passedOverDirectory.clear();
    const std::unique_ptr<XmlNode> root = ReadXmlFile(fileName);
    if (!root || root->Name() != kRoot) {
        return;
    }
    for (int i = 0; i < root->ChildCount(); ++i) {
        const XmlNode& child = *root->ChildAt(i);
        const std::string& name = child.Name();  // already lower case
        const std::string value = child.FieldValue(kValue).AsText();
        if (name == "directory") {
            if (child.FieldIndex(kValue) >= 0 && !value.empty() && FolderExists(value)) {
                m_controls.SelectFolder(value);
                m_passedOverDirectory.clear();
            } else {
                m_passedOverDirectory = value;
            }
        } else if (name == "checked") {
            if (VariantToBoolean(value)) {
                // The box's handler runs once directly and once more for the
                // change of state, leaving the folder tree enabled.
                m_controls.UpdateFolderTreeEnabled();
                m_controls.SetCustomPath(true);
            }
        } else if (name == "safetrim") {
            m_controls.SetSafeTrim(VariantToBoolean(value));
        } else if (name == "scenetrim") {
            m_controls.SetTrimSceneNumber(VariantToBoolean(value));
        } else if (name == "useheadername") {
            m_controls.SetHeaderRomName(VariantToBoolean(value));
        } else if (name == "deletesource") {
            m_controls.SetDeleteSource(VariantToBoolean(value));
        } else if (name == "bytejump") {
            m_controls.SetByteJump(ClampByteJump(VariantToInteger(value)));
        } else if (name == "append") {
            m_controls.SetAppendText(value);
        } else if (name == "datfile") {
            m_controls.SetDatFile(value);
        }
    }
}

}  // namespace parevo

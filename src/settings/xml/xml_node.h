#pragma once
// XmlNode: a small element tree (name, fields, children) that writes itself as
// indented XML text and is read from a file through XmlParser. Text content,
// comments and declarations are not part of the model.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/errors.h"

namespace parevo {

class XmlParser;

// The target file (or its temporary sibling) could not be created or put in place.
class FileCreateError : public Error {
  public:
    // "Cannot create file "<name>". <reason>"
    FileCreateError(const std::string& fileName, const std::string& reason);
};

// A write did not take all the bytes: "Stream write error".
class StreamWriteError : public Error {
  public:
    StreamWriteError();
};

// A small tagged value: text, a whole number or on/off.
class Variant {
  public:
    enum class Kind { Text, Integer, Boolean };

    Variant() : m_value(std::string()) {}
    Variant(std::string text) : m_value(std::move(text)) {}
    Variant(const char* text) : m_value(std::string(text)) {}
    Variant(int number) : m_value(static_cast<std::int64_t>(number)) {}
    Variant(std::int64_t number) : m_value(number) {}
    Variant(bool on) : m_value(on) {}

    Kind GetKind() const { return static_cast<Kind>(m_value.index()); }
    // Text as it is; a number in decimal with a leading "-" when negative; on/off
    // as "True" or "False".
    std::string AsText() const;
    bool operator==(const Variant&) const = default;

  private:
    std::variant<std::string, std::int64_t, bool> m_value;
};

struct XmlNodeField {
    std::string Name;
    std::string Value;
    bool operator==(const XmlNodeField&) const = default;
};

class XmlNode {
  public:
    // The name with A to Z turned into a to z; every other byte is kept.
    explicit XmlNode(std::string_view name);
    ~XmlNode();  // iterative, so a deep tree cannot exhaust the stack
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    const std::string& Name() const { return m_name; }
    const std::vector<XmlNodeField>& Fields() const { return m_fields; }

    int ChildCount() const { return static_cast<int>(m_children.size()); }
    // None when the index is outside 0 .. ChildCount()-1.
    XmlNode* ChildAt(int index) const;
    XmlNode* AddChild(std::string_view name);

    // Appends; never replaces a field of the same name.
    XmlNodeField& AddField(std::string name, const Variant& value);
    // The first field of exactly that name (case counts); -1 when there is none.
    int FieldIndex(std::string_view name) const;
    // That field's value as text; the empty text when there is none.
    Variant FieldValue(std::string_view name) const;

    // The element and its subtree as XML text, every line ended by CR LF, indented
    // by one space per level. In field values "&", "\"", "<", ">", NUL, tab, CR and
    // LF are written as references, so the reader gives back exactly the value.
    std::string ToText(int level = 0) const;

    // Writes ToText(0) to a temporary file beside `fileName` and renames it over
    // the target, so a failed save leaves the old file whole.
    // Throws FileCreateError or StreamWriteError.
    void WriteToFile(const std::string& fileName) const;

  private:
    std::string m_name;
    std::vector<std::unique_ptr<XmlNode>> m_children;
    std::vector<XmlNodeField> m_fields;
};

// "a&b" written as a field value: references for the bytes the reader would alter.
std::string EscapeFieldValue(std::string_view value);

// Reads the file into a tree; none when it cannot be read or holds no element.
// Lenient: an end tag closes the current element whatever its name, open elements
// stay as they are at the end of the data, and what follows the root is not read.
std::unique_ptr<XmlNode> ReadXmlFile(const std::string& fileName);

// The same over a scanner that already holds a document (it is rewound first).
std::unique_ptr<XmlNode> ReadXmlTree(XmlParser& scanner);

// The same over text in memory.
std::unique_ptr<XmlNode> ReadXmlText(std::string_view text);

}  // namespace parevo

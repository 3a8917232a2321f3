// Any bytes as an XML document: the scanner never crashes, hangs or exhausts
// memory, and the tree read from it survives a write and a second read.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/xml/xml_node.h"
#include "settings/xml/xml_parser.h"

namespace {

// External files are not the subject here; keep the run independent of the disk.
class NoExternal : public parevo::XmlParser {
  public:
    std::unique_ptr<parevo::XmlParser> OpenExternal(const std::string&, const std::string&,
                                                    const std::string&) override {
        return nullptr;
    }
};

// Trees whose text the reader cannot give back unchanged: element names are
// written as they are, so an empty one, or one that starts with ">", "/", "?" or
// "!--" (an end tag turned empty tag brings such names) reads back differently;
// fields not in strictly ascending name order (the reader
// sorts them), and field names the attribute reader would cut (declared defaults
// can bring any name). Also very deep trees, whose indented text grows
// quadratically.
bool ReadableFieldName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    const auto first = static_cast<unsigned char>(name[0]);
    const bool start = first == ':' || first == '_' || (first >= 'A' && first <= 'Z') ||
                       (first >= 'a' && first <= 'z') ||
                       (first >= 0xC0 && first != 0xD7 && first != 0xF7);
    return start &&
           name.find_first_of(std::string_view(" \t\r\n/=>\0", 9)) == std::string_view::npos;
}

bool RoundTripSafe(const parevo::XmlNode& root) {
    std::vector<std::pair<const parevo::XmlNode*, int>> stack{{&root, 0}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        const std::string& name = node->Name();
        if (depth > 200 || name.empty() || name[0] == '>' || name[0] == '/' || name[0] == '?' ||
            name.rfind("!--", 0) == 0) {
            return false;
        }
        const auto& fields = node->Fields();
        for (const auto& field : fields) {
            if (!ReadableFieldName(field.Name)) {
                return false;
            }
        }
        for (size_t i = 1; i < fields.size(); ++i) {
            if (!(std::string_view(fields[i - 1].Name) < std::string_view(fields[i].Name))) {
                return false;
            }
        }
        for (int i = 0; i < node->ChildCount(); ++i) {
            stack.push_back({node->ChildAt(i), depth + 1});
        }
    }
    return true;
}

bool SameTree(const parevo::XmlNode& a, const parevo::XmlNode& b) {
    std::vector<std::pair<const parevo::XmlNode*, const parevo::XmlNode*>> stack{{&a, &b}};
    while (!stack.empty()) {
        auto [x, y] = stack.back();
        stack.pop_back();
        if (x->Name() != y->Name() || x->Fields() != y->Fields() ||
            x->ChildCount() != y->ChildCount()) {
            return false;
        }
        for (int i = 0; i < x->ChildCount(); ++i) {
            stack.push_back({x->ChildAt(i), y->ChildAt(i)});
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    NoExternal scanner;
    scanner.LoadFromBuffer(text);
    scanner.SetCollapseText(size > 0 && (data[0] & 1) != 0);
    std::size_t parts = 0;
    while (scanner.NextPart()) {
        ++parts;
        // Every part takes at least one byte of the document or of an expansion.
        if (parts > size + parevo::kMaxExpansionBytes + 1) {
            __builtin_trap();
        }
        (void)parevo::PartKindName(scanner.PartKind());
    }
    if (scanner.NextPart()) {
        __builtin_trap();  // the end is sticky
    }

    std::unique_ptr<parevo::XmlNode> tree = parevo::ReadXmlTree(scanner);
    if (tree && RoundTripSafe(*tree)) {
        const std::string written = tree->ToText(0);
        std::unique_ptr<parevo::XmlNode> again = parevo::ReadXmlText(written);
        if (!again || !SameTree(*tree, *again)) {
            __builtin_trap();
        }
    }
    return 0;
}

#include "settings/xml/xml_node.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/file_io.h"
#include "platform/format.h"
#include "platform/pending_file.h"
#include "platform/text_encoding.h"
#include "settings/xml/xml_parser.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#else
#include <windows.h>
#endif

namespace parevo {

FileCreateError::FileCreateError(const std::string& fileName, const std::string& reason)
    : Error(Format("Cannot create file \"%s\". %s", {fileName, reason})) {}

StreamWriteError::StreamWriteError() : Error("Stream write error") {}

std::string Variant::AsText() const {
    switch (GetKind()) {
        case Kind::Integer:
            return std::to_string(std::get<std::int64_t>(m_value));
        case Kind::Boolean:
            return std::get<bool>(m_value) ? "True" : "False";
        case Kind::Text:
            break;
    }
    return std::get<std::string>(m_value);
}

XmlNode::XmlNode(std::string_view name) : m_name(name) {
    std::transform(m_name.begin(), m_name.end(), m_name.begin(), AsciiLower);
}

XmlNode::~XmlNode() {
    std::vector<std::unique_ptr<XmlNode>> pending = std::move(m_children);
    while (!pending.empty()) {
        std::unique_ptr<XmlNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->m_children) {
            pending.push_back(std::move(child));
        }
        node->m_children.clear();
    }
}

XmlNode* XmlNode::ChildAt(int index) const {
    return index >= 0 && index < ChildCount() ? m_children[static_cast<size_t>(index)].get()
                                              : nullptr;
}

XmlNode* XmlNode::AddChild(std::string_view name) {
    m_children.push_back(std::make_unique<XmlNode>(name));
    return m_children.back().get();
}

XmlNodeField& XmlNode::AddField(std::string name, const Variant& value) {
    m_fields.push_back(XmlNodeField{std::move(name), value.AsText()});
    return m_fields.back();
}

int XmlNode::FieldIndex(std::string_view name) const {
    for (size_t i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].Name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

Variant XmlNode::FieldValue(std::string_view name) const {
    const int index = FieldIndex(name);
    return Variant(index < 0 ? std::string() : m_fields[static_cast<size_t>(index)].Value);
}

std::string EscapeFieldValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        switch (c) {
            // "&" as a character reference, not "&amp;": the reader resolves
            // character references after entity references, so "&amp;#65;" would
            // come back as "A".
            case '&':
                out += "&#38;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\0':
                out += "&#0;";
                break;
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

namespace {

void OpenTag(const XmlNode& node, int level, std::string& out) {
    out.append(static_cast<size_t>(level), ' ');
    out += '<';
    out += node.Name();
    if (!node.Fields().empty()) {
        out += ' ';
        bool first = true;
        for (const XmlNodeField& field : node.Fields()) {
            if (!first) {
                out += ' ';
            }
            first = false;
            out += field.Name;
            out += "=\"";
            out += EscapeFieldValue(field.Value);
            out += '"';
        }
    }
    out += node.ChildCount() == 0 ? " />\r\n" : ">\r\n";
}

}  // namespace

std::string XmlNode::ToText(int level) const {
    std::string out;
    struct Frame {
        const XmlNode* node;
        int next;
        int level;
    };
    std::vector<Frame> stack;
    OpenTag(*this, level, out);
    if (ChildCount() > 0) {
        stack.push_back({this, 0, level});
    }
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.node->ChildCount()) {
            out.append(static_cast<size_t>(top.level), ' ');
            out += "</";
            out += top.node->Name();
            out += ">\r\n";
            stack.pop_back();
            continue;
        }
        const XmlNode* child = top.node->ChildAt(top.next++);
        const int childLevel = top.level + 1;
        OpenTag(*child, childLevel, out);
        if (child->ChildCount() > 0) {
            stack.push_back({child, 0, childLevel});
        }
    }
    return out;
}

#ifndef _WIN32
void XmlNode::WriteToFile(const std::string& fileName) const {
    const std::string text = ToText(0);
    // Write beside the file a link points to, so the link stays a link.
    std::string target = fileName;
    std::error_code ec;
    if (std::filesystem::is_symlink(fileName, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(fileName, ec);
        if (!ec) {
            target = resolved.string();
        }
    }
    // Replacing by rename would get past a read-only file; refuse it as a direct
    // write would.
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) {
        throw FileCreateError(fileName, std::strerror(errno));
    }
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        throw FileCreateError(fileName, std::strerror(errno));
    }
    struct FolderCloser {
        int fd;
        ~FolderCloser() { ::close(fd); }
    } closer{dir};
    // A save killed half-way on a card without unnamed files left a hidden file.
    RemoveLeftovers(dir);
    // Declared after the folder, so it is discarded while the folder is open.
    PendingFile temp;
    if (!temp.Create(dir)) {
        throw FileCreateError(fileName, std::strerror(errno));
    }
    const int fd = temp.Descriptor();
    // The replacement keeps the mode, and where allowed the owner, of the file
    // it replaces.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        ::fchmod(fd, st.st_mode & 07777);
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only the owner's group may be given away; the file stays ours.
            [[maybe_unused]] const int ignored = ::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
        }
    }

    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            throw StreamWriteError();
        }
        done += static_cast<size_t>(written);
    }
    if (::fsync(fd) != 0 && errno != EINVAL) {
        throw StreamWriteError();
    }
    if (!temp.Commit(std::filesystem::path(target).filename().string())) {
        throw FileCreateError(fileName, std::strerror(errno));
    }
}
#else
namespace {

std::string WindowsReason(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string reason = length > 0 && text != nullptr ? WideToNarrow(std::wstring(text, length))
                                                       : "error " + std::to_string(code);
    LocalFree(text);
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}

}  // namespace

void XmlNode::WriteToFile(const std::string& fileName) const {
    const std::string text = ToText(0);
    const std::filesystem::path target = PathOf(fileName);
    // Replacing by rename would get past a read-only file; refuse it as a direct
    // write would.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        throw FileCreateError(fileName, WindowsReason(ERROR_ACCESS_DENIED));
    }
    const std::filesystem::path folder = target.parent_path();
    // A save killed half-way on an older version left a hidden file.
    RemoveLeftovers(folder.empty() ? std::wstring(L".") : folder.wstring());
    PendingFile temp;
    if (!temp.Create(folder.wstring())) {
        throw FileCreateError(fileName, WindowsReason(GetLastError()));
    }
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(temp.Handle()), text.data(), static_cast<DWORD>(text.size()),
                   &written, nullptr) ||
        written != text.size() || !FlushFileBuffers(static_cast<HANDLE>(temp.Handle()))) {
        throw StreamWriteError();
    }
    if (!temp.Commit(target.wstring())) {
        throw FileCreateError(fileName, WindowsReason(GetLastError()));
    }
}
#endif

namespace {

void TakeFields(XmlNode& node, const XmlParser& scanner) {
    const AttributeList& attributes = scanner.PartAttributes();
    for (int i = 0; i < attributes.Count(); ++i) {
        node.AddField(attributes.Name(i), Variant(attributes.Value(i)));
    }
}

}  // namespace

std::unique_ptr<XmlNode> ReadXmlTree(XmlParser& scanner) {
    scanner.SetCollapseText(false);
    scanner.Rewind();
    std::unique_ptr<XmlNode> root;
    while (scanner.NextPart()) {
        if (scanner.PartKind() == pkStartTag || scanner.PartKind() == pkEmptyTag) {
            root = std::make_unique<XmlNode>(scanner.PartName());
            TakeFields(*root, scanner);
            break;
        }
    }
    if (!root || scanner.PartKind() == pkEmptyTag) {
        return root;
    }
    // The open elements, innermost last; kept explicitly so deep nesting cannot
    // exhaust the call stack.
    std::vector<XmlNode*> open{root.get()};
    while (!open.empty() && scanner.NextPart()) {
        switch (scanner.PartKind()) {
            case pkStartTag: {
                XmlNode* child = open.back()->AddChild(scanner.PartName());
                TakeFields(*child, scanner);
                open.push_back(child);
                break;
            }
            case pkEmptyTag:
                TakeFields(*open.back()->AddChild(scanner.PartName()), scanner);
                break;
            case pkEndTag:
                open.pop_back();  // whatever its name
                break;
            default:
                break;
        }
    }
    return root;
}

std::unique_ptr<XmlNode> ReadXmlFile(const std::string& fileName) {
    XmlParser scanner;
    scanner.ReadFile(fileName, FileShareMode::DenyWrite);
    return ReadXmlTree(scanner);
}

std::unique_ptr<XmlNode> ReadXmlText(std::string_view text) {
    XmlParser scanner;
    scanner.LoadFromBuffer(text);
    return ReadXmlTree(scanner);
}

}  // namespace parevo

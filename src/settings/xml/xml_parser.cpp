#include "settings/xml/xml_parser.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/paths.h"
#include "platform/text_encoding.h"
#include "settings/xml/xml_scan.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#else
#include <filesystem>
#include <fstream>
#include <iterator>
#endif

namespace parevo {

using namespace xml_scan;

namespace {

// A number in the runtime's integer syntax; `fallback` when it is none or too large.
int ParseNumber(std::string_view text, bool hex, int fallback) {
    std::size_t i = 0;
    bool negative = false;
    if (!hex && i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return fallback;
    }
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return fallback;
        }
        value = value * (hex ? 16 : 10) + digit;
        if (value > (hex ? 0xFFFFFFFFLL : 0x80000000LL)) {
            return fallback;
        }
    }
    if (!hex && !negative && value > 0x7FFFFFFFLL) {
        return fallback;
    }
    return static_cast<int>(static_cast<std::uint32_t>(negative ? -value : value));
}

bool Predefined(std::string_view name, char& out) {
    if (name == "lt") {
        out = '<';
    } else if (name == "gt") {
        out = '>';
    } else if (name == "amp") {
        out = '&';
    } else if (name == "apos") {
        out = '\'';
    } else if (name == "quot") {
        out = '"';
    } else {
        return false;
    }
    return true;
}

}  // namespace

struct XmlParser::StackNode {
    const char* returnTo = nullptr;
    std::string encoding;
    std::string text;                     // an internal entity's replacement text
    std::unique_ptr<XmlParser> external;  // or the scanner holding an external one
    const char* Begin() const { return external ? external->m_buffer.c_str() : text.c_str(); }
};

const char* PartKindName(XmlPartKind kind) {
    static const char* const kNames[] = {
        "",          "XML Prolog", "Comment", "PI",   "DTD Declaration",
        "Start Tag", "Empty Tag",  "End Tag", "Text", "CDATA"};
    const int index = static_cast<int>(kind);
    return index >= 0 && index <= static_cast<int>(pkCData) ? kNames[index] : "";
}

XmlParser::XmlParser() {
    ResetScanState();
}

XmlParser::~XmlParser() = default;

void XmlParser::Clear() {
    m_stack.clear();
    m_retired.clear();
    std::string().swap(m_buffer);
    m_sourceName.clear();
    m_xmlVersion.clear();
    m_encoding.clear();
    m_standalone = false;
    m_rootName.clear();
    m_dtdStart = nullptr;
    m_dtdFinal = nullptr;
    m_elements.Clear();
    m_entities.Clear();
    m_parEntities.Clear();
    m_notations.Clear();
    m_collapseText = true;
    ResetScanState();
}

void XmlParser::ResetScanState() {
    m_partKind = pkNone;
    m_partName.clear();
    m_partText.clear();
    m_attributes.Clear();
    m_curStart = nullptr;
    m_curFinal = nullptr;
    m_stack.clear();
    m_retired.clear();
    m_expanded = 0;
    m_semiFrom = nullptr;
    m_semiAt = nullptr;
    m_next = m_buffer.c_str();
    m_atEnd = false;
}

void XmlParser::Rewind() {
    ResetScanState();
}

bool XmlParser::ReadFile(const std::string& fileName, FileShareMode mode) {
    return ReadFileLimited(fileName, mode, kMaxDocumentSize);
}

bool XmlParser::ReadFileLimited(const std::string& fileName, FileShareMode, std::int64_t limit) {
    Clear();
    std::string data;
#ifndef _WIN32
    // Non-blocking so that a FIFO cannot hold the open; only regular files are read.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= limit;
    if (ok) {
        data.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t got = ::read(fd, data.data() + done, data.size() - done);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                ok = false;
                break;
            }
            if (got == 0) {
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        data.resize(done);
    }
    ::close(fd);
    if (!ok) {
        Clear();
        return false;
    }
#else
    std::error_code ec;
    const std::filesystem::path path = PathOf(fileName);
    if (!std::filesystem::is_regular_file(path, ec) ||
        static_cast<std::int64_t>(std::filesystem::file_size(path, ec)) > limit || ec) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        Clear();
        return false;
    }
#endif
    m_buffer = std::move(data);
    m_sourceName = fileName;
    ResetScanState();
    return true;
}

void XmlParser::LoadFromBuffer(std::string_view data, const std::string& sourceName) {
    Clear();
    m_buffer.assign(data.data(), data.size());
    m_sourceName = sourceName;
    ResetScanState();
}

std::string_view XmlParser::DocText() const {
    return std::string_view(m_buffer.c_str());
}

void XmlParser::PushEntity(std::unique_ptr<StackNode> node) {
    m_semiFrom = m_semiAt = nullptr;
    m_stack.push_back(std::move(node));
}

const char* XmlParser::PopEntity() {
    m_semiFrom = m_semiAt = nullptr;
    std::unique_ptr<StackNode> node = std::move(m_stack.back());
    m_stack.pop_back();
    m_currentEncoding = node->encoding;
    const char* returnTo = node->returnTo;
    m_retired.push_back(std::move(node));
    return returnTo;
}

bool XmlParser::Budget(std::size_t bytes) {
    if (bytes > kMaxExpansionBytes - m_expanded) {
        return false;
    }
    m_expanded += bytes;
    return true;
}

std::unique_ptr<XmlParser> XmlParser::OpenCharged(const EntityDecl* entity,
                                                  const std::string& systemId,
                                                  const std::string& publicId) {
    // Every open costs part of the budget, so a document cannot have thousands
    // of files read; a file larger than what is left uses the budget up.
    if (m_externalDepth >= kMaxEntityDepth || !Budget(kExternalOpenCost)) {
        return nullptr;
    }
    std::unique_ptr<XmlParser> scanner =
        entity != nullptr ? OpenExternal(entity->SystemId, entity->PublicId, entity->NotationName)
                          : OpenExternal(systemId, publicId, std::string());
    if (scanner && !Budget(scanner->DocText().size())) {
        m_expanded = kMaxExpansionBytes;
        return nullptr;
    }
    return scanner;
}

const char* XmlParser::FindSemicolon(const char* p) {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    if (m_semiFrom != nullptr && at >= reinterpret_cast<std::uintptr_t>(m_semiFrom) &&
        at <= reinterpret_cast<std::uintptr_t>(m_semiAt)) {
        return *m_semiAt != 0 ? m_semiAt : nullptr;
    }
    const char* q = p;
    while (*q != 0 && *q != ';') {
        ++q;
    }
    m_semiFrom = p;
    m_semiAt = q;
    return *q != 0 ? q : nullptr;
}

bool XmlParser::NextPart() {
    if (m_atEnd) {
        return false;
    }
    m_retired.clear();
    for (;;) {
        const char* p = m_next;
        // The end of an entity read in place: go on where it was referenced.
        while (*p == 0 && !m_stack.empty()) {
            p = PopEntity();
        }
        if (*p == 0) {
            m_stack.clear();
            m_atEnd = true;
            m_curStart = m_curFinal = p;
            m_next = p;
            return false;
        }
        m_curStart = p;
        if (StartsWith(p, "<?xml") && IsWs(p[5])) {
            AnalyzeProlog();
        } else if (StartsWith(p, "<?")) {
            AnalyzePI();
        } else if (StartsWith(p, "<!--")) {
            AnalyzeComment();
        } else if (StartsWith(p, "<!DOCTYPE")) {
            AnalyzeDtd();
        } else if (StartsWith(p, "<![CDATA[")) {
            AnalyzeCData();
        } else if (*p != '<') {
            if (!AnalyzeText()) {
                continue;
            }
        } else {
            AnalyzeTag();
        }
        return true;
    }
}

void XmlParser::AnalyzeProlog() {
    const char* p = m_curStart;
    ReadAttributes(p + 5, m_attributes);
    if (m_stack.empty()) {
        m_xmlVersion = m_attributes.Value("version");
        m_encoding = m_attributes.Value("encoding");
        m_standalone = m_attributes.Value("standalone") == "yes";
    }
    std::string encoding = m_attributes.Value("encoding");
    std::transform(encoding.begin(), encoding.end(), encoding.begin(), AsciiUpper);
    m_currentEncoding = encoding.empty() ? "UTF-8" : encoding;
    const char* close = std::strstr(p + 5, "?>");
    m_curFinal = close != nullptr ? close + 1 : LastByte(p, p + 5);
    m_next = m_curFinal + 1;
    m_partKind = pkXmlDecl;
    m_partName.clear();
    m_partText.clear();
}

void XmlParser::AnalyzeComment() {
    const char* p = m_curStart;
    const char* close = std::strstr(p + 4, "-->");
    m_curFinal = close != nullptr ? close + 2 : LastByte(p, p + 4);
    m_next = m_curFinal + 1;
    m_partKind = pkComment;
}

void XmlParser::AnalyzePI() {
    const char* p = m_curStart;
    const char* close = std::strstr(p + 2, "?>");
    const char* end = close != nullptr ? close : EndOfData(p + 2);
    const char* nameEnd = p + 2;
    while (nameEnd < end && !IsWs(*nameEnd) && *nameEnd != '?' && *nameEnd != '>') {
        ++nameEnd;
    }
    m_partName.assign(p + 2, nameEnd);
    const char* rest = SkipWs(nameEnd);
    m_partText.assign(rest < end ? rest : end, end);
    ReadAttributes(nameEnd, m_attributes);
    m_curFinal = close != nullptr ? close + 1 : LastByte(p, p + 2);
    m_next = m_curFinal + 1;
    m_partKind = pkPI;
}

void XmlParser::AnalyzeCData() {
    const char* p = m_curStart;
    const char* close = std::strstr(p + 9, "]]>");
    m_partText = ConvertEncoding(std::string(p + 9, close != nullptr ? close : EndOfData(p + 9)));
    m_curFinal = close != nullptr ? close + 2 : LastByte(p, p + 9);
    m_next = m_curFinal + 1;
    m_partKind = pkCData;
}

const char* XmlParser::ReadAttributes(const char* p, AttributeList& list) {
    list.Clear();
    enum { kName, kEquals, kValue } state = kName;
    std::string name;
    for (;;) {
        const char c = *p;
        if (c == 0 || c == '>') {
            return p;
        }
        if (IsWs(c)) {
            ++p;
            continue;
        }
        switch (state) {
            case kName: {
                if (!IsNameStart(c)) {
                    return p;  // the "/" of an empty tag, among others
                }
                const char* s = p;
                while (*p != 0 && !IsWs(*p) && *p != '/' && *p != '=' && *p != '>') {
                    ++p;
                }
                name.assign(s, p);
                state = kEquals;
                break;
            }
            case kEquals:
                if (c == '=') {
                    state = kValue;
                }
                ++p;
                break;
            case kValue:
                if (c == '"' || c == '\'') {
                    std::string value;
                    ReadQuoted(p, value);
                    list.Add(std::make_unique<Attribute>(name, std::move(value)));
                    state = kName;
                } else {
                    ++p;
                }
                break;
        }
    }
}

void XmlParser::AnalyzeTag() {
    const char* p = m_curStart;
    const char* n = p + 1;
    m_partKind = pkStartTag;
    if (*n == '/') {
        m_partKind = pkEndTag;
        ++n;
    }
    const char* e = n;
    if (*e != 0) {
        ++e;  // the first byte belongs to the name, whatever it is
    }
    while (*e != 0 && !IsWs(*e) && *e != '/' && *e != '>') {
        ++e;
    }
    m_partName.assign(n, e);
    const char* stop = ReadAttributes(e, m_attributes);
    if (*stop == '/') {
        m_partKind = pkEmptyTag;
    }
    const char* close = std::strchr(stop, '>');
    m_curFinal = close != nullptr ? close : LastByte(p, stop);
    m_next = m_curFinal + 1;
    if (m_partKind == pkStartTag || m_partKind == pkEmptyTag) {
        ApplyDefaults();
    }
    for (int i = 0; i < m_attributes.Count(); ++i) {
        Attribute* attr = m_attributes.At(i);
        attr->Value = ProcessValue(attr->Value, attr->AttrType);
    }
}

void XmlParser::ApplyDefaults() {
    const ElementDecl* def = m_elements.Node(m_partName);
    if (def == nullptr) {
        return;
    }
    for (int i = 0; i < def->Count(); ++i) {
        const AttributeDecl* decl = def->At(i);
        Attribute* attr = m_attributes.Node(decl->Name);
        // Declared values copied into tags count against the same budget as
        // entity text: one declaration must not multiply itself into every tag.
        if (attr == nullptr && (decl->DefaultType == dtDefault || decl->DefaultType == dtFixed) &&
            Budget(decl->Value.size())) {
            attr = m_attributes.Add(std::make_unique<Attribute>(decl->Name, decl->Value));
            if (attr != nullptr) {
                attr->ValueType = avDefault;
            }
        }
        if (attr == nullptr) {
            continue;
        }
        if (decl->DefaultType == dtImplied) {
            attr->ValueType = avImplied;
        } else if (decl->DefaultType == dtFixed) {
            attr->ValueType = avFixed;
            if (attr->Value != decl->Value && Budget(decl->Value.size())) {
                attr->Value = decl->Value;
            }
        }
        attr->AttrType = decl->AttrType;
    }
}

std::string XmlParser::ExternalText(const EntityDecl& entity) {
    std::unique_ptr<XmlParser> scanner = OpenCharged(&entity, "", "");
    return scanner ? std::string(scanner->DocText()) : std::string();
}

std::string XmlParser::ReplaceGeneral(const std::string& text, int depth) {
    std::string out;
    std::size_t i = 0;
    for (;;) {
        const std::size_t amp = text.find('&', i);
        const std::size_t semi = amp == std::string::npos || amp + 2 > text.size()
                                     ? std::string::npos
                                     : text.find(';', amp + 2);
        if (semi == std::string::npos) {
            out.append(text, i, std::string::npos);
            return out;
        }
        out.append(text, i, amp - i);
        const std::string name = text.substr(amp + 1, semi - amp - 1);
        char ch;
        const EntityDecl* entity = nullptr;
        if (Predefined(name, ch)) {
            out += ch;
        } else if (depth < kMaxEntityDepth && (entity = m_entities.Node(name)) != nullptr) {
            const std::string replacement =
                entity->IsExternal() ? ExternalText(*entity) : entity->Value;
            if (Budget(replacement.size() + 1)) {
                out += ReplaceGeneral(replacement, depth + 1);
            } else {
                out.append(text, amp, semi + 1 - amp);
            }
        } else {
            out.append(text, amp, semi + 1 - amp);
        }
        i = semi + 1;
    }
}

std::string XmlParser::ProcessValue(const std::string& raw, AttributeType type) {
    const std::string general = ReplaceGeneral(raw, 0);

    // Character references. Bytes they produce are marked: white space written as
    // a reference is kept, as XML's attribute-value normalisation does.
    std::string value;
    std::vector<bool> literal;
    value.reserve(general.size());
    literal.reserve(general.size());
    std::size_t i = 0;
    for (;;) {
        const std::size_t ref = general.find("&#", i);
        const std::size_t semi =
            ref == std::string::npos ? std::string::npos : general.find(';', ref + 2);
        if (semi == std::string::npos) {
            value.append(general, i, std::string::npos);
            literal.resize(value.size(), true);
            break;
        }
        value.append(general, i, ref - i);
        literal.resize(value.size(), true);
        const std::string_view digits(general.data() + ref + 2, semi - ref - 2);
        int number;
        if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
            number = ParseNumber(digits.substr(1), true, 0);
        } else {
            number = ParseNumber(digits, false, 32);
        }
        value += static_cast<char>(number & 0xFF);
        literal.push_back(false);
        i = semi + 1;
    }

    std::string out;
    out.reserve(value.size());
    if (type == atUnknown || type == atCData) {
        for (std::size_t k = 0; k < value.size(); ++k) {
            out += literal[k] && IsWs(value[k]) && value[k] != ' ' ? ' ' : value[k];
        }
    } else {
        bool pendingSpace = false;
        for (std::size_t k = 0; k < value.size(); ++k) {
            if (literal[k] && IsWs(value[k])) {
                pendingSpace = !out.empty();
                continue;
            }
            if (pendingSpace) {
                out += ' ';
                pendingSpace = false;
            }
            out += value[k];
        }
    }
    return ConvertEncoding(out);
}

bool XmlParser::AnalyzeText() {
    std::string text;
    std::string run;
    const char* p = m_curStart;
    const char* last = p;
    auto flush = [&] {
        if (!run.empty()) {
            text += ConvertEncoding(run);
            run.clear();
        }
    };
    for (;;) {
        const char c = *p;
        if (c == 0) {
            if (m_stack.empty()) {
                break;
            }
            flush();
            p = PopEntity();  // the text goes on after the reference
            continue;
        }
        if (c == '<') {
            break;
        }
        if (c != '&') {
            run += c;
            last = p;
            ++p;
            continue;
        }
        flush();
        const char* semi = FindSemicolon(p + 1);
        if (semi == nullptr) {
            ++p;  // an "&" that starts no reference is dropped
            continue;
        }
        const std::string name(p + 1, semi);
        last = semi;
        p = semi + 1;
        char ch;
        if (!name.empty() && name[0] == '#') {
            const bool hex = name.size() > 1 && name[1] == 'x';
            text += static_cast<char>(
                ParseNumber(std::string_view(name).substr(hex ? 2 : 1), hex, 32) & 0xFF);
        } else if (Predefined(name, ch)) {
            text += ch;
        } else if (const EntityDecl* entity = m_entities.Node(name)) {
            // Read in place. Past the depth or size bound the reference gives nothing.
            if (static_cast<int>(m_stack.size()) >= kMaxEntityDepth) {
                continue;
            }
            auto node = std::make_unique<StackNode>();
            node->returnTo = p;
            node->encoding = m_currentEncoding;
            if (entity->IsExternal()) {
                node->external = OpenCharged(entity, "", "");
                if (!node->external) {
                    continue;
                }
            } else {
                if (!Budget(entity->Value.size() + 1)) {
                    continue;
                }
                node->text = entity->Value;
            }
            p = node->Begin();
            PushEntity(std::move(node));
        } else {
            run += name;  // an unknown name stands for itself
        }
    }
    flush();
    m_next = p;
    m_curFinal = last;
    if (m_collapseText) {
        std::string collapsed;
        bool pendingSpace = false;
        for (const char c : text) {
            if (IsWs(c)) {
                pendingSpace = !collapsed.empty();
                continue;
            }
            if (pendingSpace) {
                collapsed += ' ';
                pendingSpace = false;
            }
            collapsed += c;
        }
        if (collapsed.empty()) {
            return false;
        }
        text = std::move(collapsed);
    }
    m_partText = std::move(text);
    m_partKind = pkText;
    return true;
}

std::unique_ptr<XmlParser> XmlParser::OpenExternal(const std::string& systemId, const std::string&,
                                                   const std::string&) {
    std::string path = systemId;
#ifdef _WIN32
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    const bool relative = !(path.size() >= 2 && path[0] == '\\' && path[1] == '\\') &&
                          !(path.size() >= 2 && path[1] == ':');
#else
    const bool relative = path.empty() || path[0] != '/';
#endif
    if (relative && (m_sourceName.empty() || m_sourceName[0] != '<')) {
        path = FolderPart(m_sourceName) + path;
    }
    auto scanner = std::make_unique<XmlParser>();
    scanner->ReadFileLimited(path, FileShareMode::DenyNone, kMaxExternalFileSize);
    return scanner;
}

std::string XmlParser::ConvertEncoding(const std::string& text) {
    return XmlTextToNarrow(text, m_currentEncoding == "UTF-8");
}

void XmlParser::DeclarationFound(const DtdDeclaration&) {}

}  // namespace parevo

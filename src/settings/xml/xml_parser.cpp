#include "settings/xml/xml_parser.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/paths.h"

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

struct TXmlParser::StackNode {
    const char* returnTo = nullptr;
    std::string encoding;
    std::string text;                      // an internal entity's replacement text
    std::unique_ptr<TXmlParser> external;  // or the scanner holding an external one
    const char* Begin() const { return external ? external->m_buffer.c_str() : text.c_str(); }
};

namespace {

bool IsWs(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsNameStart(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || c >= 0xF8;
}

// Compares with the literal without running past the NUL that ends the data.
bool StartsWith(const char* p, const char* literal) {
    for (; *literal != 0; ++p, ++literal) {
        if (*p != *literal) {
            return false;
        }
    }
    return true;
}

const char* SkipWs(const char* p) {
    while (IsWs(*p)) {
        ++p;
    }
    return p;
}

const char* EndOfData(const char* p) {
    return p + std::strlen(p);
}

// The last byte of a part that runs to the end of the data; never before `start`.
const char* LastByte(const char* start, const char* from) {
    const char* end = EndOfData(from);
    return end > start ? end - 1 : start;
}

// Bytes up to white space, ">" or the end; at least one byte unless at one of those.
std::string Token(const char*& p, const char* stops = "") {
    const char* s = p;
    while (*p != 0 && !IsWs(*p) && *p != '>' && std::strchr(stops, *p) == nullptr) {
        ++p;
    }
    return std::string(s, p);
}

// A quoted string at p (either quote); p moves past it. Unterminated: to the end.
bool ReadQuoted(const char*& p, std::string& out) {
    const char quote = *p;
    if (quote != '"' && quote != '\'') {
        return false;
    }
    const char* close = std::strchr(p + 1, quote);
    if (close == nullptr) {
        const char* end = EndOfData(p);
        out.assign(p + 1, end);
        p = end;
    } else {
        out.assign(p + 1, close);
        p = close + 1;
    }
    return true;
}

TExternalID ReadExternalId(const char* p) {
    TExternalID id;
    if (StartsWith(p, "SYSTEM")) {
        p = SkipWs(p + 6);
        ReadQuoted(p, id.SystemId);
    } else if (StartsWith(p, "PUBLIC")) {
        p = SkipWs(p + 6);
        ReadQuoted(p, id.PublicId);
        p = SkipWs(p);
        ReadQuoted(p, id.SystemId);
    }
    id.Final = p;
    return id;
}

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

TAttrType AttrTypeOf(std::string_view word) {
    static const std::pair<const char*, TAttrType> kTypes[] = {
        {"CDATA", atCData},     {"ID", atID},
        {"IDREF", atIdRef},     {"IDREFS", atIdRefs},
        {"ENTITY", atEntity},   {"ENTITIES", atEntities},
        {"NMTOKEN", atNmToken}, {"NMTOKENS", atNmTokens}};
    for (const auto& [name, type] : kTypes) {
        if (word == name) {
            return type;
        }
    }
    return atUnknown;
}

unsigned char Windows1252Byte(std::uint32_t codePoint) {
    // Code points of 80-9F hex; the five undefined positions stand for themselves.
    static const std::uint16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    if (codePoint < 0x80) {
        return static_cast<unsigned char>(codePoint);
    }
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == codePoint) {
            return static_cast<unsigned char>(0x80 + i);
        }
    }
    if (codePoint >= 0xA0 && codePoint <= 0xFF) {
        return static_cast<unsigned char>(codePoint);
    }
    return 0xBF;
}

}  // namespace

const char* PartKindName(TPartType kind) {
    static const char* const kNames[] = {
        "",          "XML Prolog", "Comment", "PI",   "DTD Declaration",
        "Start Tag", "Empty Tag",  "End Tag", "Text", "CDATA"};
    const int index = static_cast<int>(kind);
    return index >= 0 && index <= static_cast<int>(pkCData) ? kNames[index] : "";
}

std::string Utf8ToWindows1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const std::size_t n = text.size();
    std::size_t i = 0;
    auto at = [&](std::size_t k) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(text[k]));
    };
    while (i < n) {
        const std::uint32_t b = at(i);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
        } else if ((b & 0xE0) == 0xC0 && i + 1 < n) {
            out += static_cast<char>(Windows1252Byte(((b & 0x1F) << 6) | (at(i + 1) & 0x3F)));
            i += 2;
        } else if ((b & 0xF0) == 0xE0 && i + 2 < n) {
            out += static_cast<char>(Windows1252Byte(
                ((b & 0x0F) << 12) | ((at(i + 1) & 0x3F) << 6) | (at(i + 2) & 0x3F)));
            i += 3;
        } else {
            // Not decodable: one 0xBF for the lead byte and the continuation bytes
            // that follow it (at most three); a stray continuation byte is alone.
            out += static_cast<char>(0xBF);
            ++i;
            if (b >= 0xC0) {
                for (int k = 0; k < 3 && i < n && (at(i) & 0xC0) == 0x80; ++k) {
                    ++i;
                }
            }
        }
    }
    return out;
}

std::string TNvpList::Name(int index) const {
    const TNvpNode* node = At(index);
    return node ? node->Name : std::string();
}

std::string TNvpList::Value(int index) const {
    const TNvpNode* node = At(index);
    return node ? node->Value : std::string();
}

std::string TNvpList::Value(std::string_view name) const {
    const TNvpNode* node = Node(name);
    return node ? node->Value : std::string();
}

std::string TAttrList::Name(int index) const {
    const TAttr* node = At(index);
    return node ? node->Name : std::string();
}

std::string TAttrList::Value(int index) const {
    const TAttr* node = At(index);
    return node ? node->Value : std::string();
}

std::string TAttrList::Value(std::string_view name) const {
    const TAttr* node = Node(name);
    return node ? node->Value : std::string();
}

TXmlParser::TXmlParser() {
    ResetScanState();
}

TXmlParser::~TXmlParser() = default;

void TXmlParser::Clear() {
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

void TXmlParser::ResetScanState() {
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

void TXmlParser::Rewind() {
    ResetScanState();
}

bool TXmlParser::ReadFile(const std::string& fileName, TFileShareMode mode) {
    return ReadFileLimited(fileName, mode, kMaxDocumentSize);
}

bool TXmlParser::ReadFileLimited(const std::string& fileName, TFileShareMode, std::int64_t limit) {
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
    const std::filesystem::path path(fileName);
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

void TXmlParser::LoadFromBuffer(std::string_view data, const std::string& sourceName) {
    Clear();
    m_buffer.assign(data.data(), data.size());
    m_sourceName = sourceName;
    ResetScanState();
}

std::string_view TXmlParser::DocText() const {
    return std::string_view(m_buffer.c_str());
}

void TXmlParser::PushEntity(std::unique_ptr<StackNode> node) {
    m_semiFrom = m_semiAt = nullptr;
    m_stack.push_back(std::move(node));
}

const char* TXmlParser::PopEntity() {
    m_semiFrom = m_semiAt = nullptr;
    std::unique_ptr<StackNode> node = std::move(m_stack.back());
    m_stack.pop_back();
    m_currentEncoding = node->encoding;
    const char* returnTo = node->returnTo;
    m_retired.push_back(std::move(node));
    return returnTo;
}

bool TXmlParser::Budget(std::size_t bytes) {
    if (bytes > kMaxExpansionBytes - m_expanded) {
        return false;
    }
    m_expanded += bytes;
    return true;
}

std::unique_ptr<TXmlParser> TXmlParser::OpenCharged(const TEntityDef* entity,
                                                    const std::string& systemId,
                                                    const std::string& publicId) {
    // Every open costs part of the budget, so a document cannot have thousands
    // of files read; a file larger than what is left uses the budget up.
    if (m_externalDepth >= kMaxEntityDepth || !Budget(kExternalOpenCost)) {
        return nullptr;
    }
    std::unique_ptr<TXmlParser> scanner =
        entity != nullptr ? OpenExternal(entity->SystemId, entity->PublicId, entity->NotationName)
                          : OpenExternal(systemId, publicId, std::string());
    if (scanner && !Budget(scanner->DocText().size())) {
        m_expanded = kMaxExpansionBytes;
        return nullptr;
    }
    return scanner;
}

const char* TXmlParser::FindSemicolon(const char* p) {
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

bool TXmlParser::NextPart() {
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

void TXmlParser::AnalyzeProlog() {
    const char* p = m_curStart;
    ReadAttributes(p + 5, m_attributes);
    if (m_stack.empty()) {
        m_xmlVersion = m_attributes.Value("version");
        m_encoding = m_attributes.Value("encoding");
        m_standalone = m_attributes.Value("standalone") == "yes";
    }
    std::string encoding = m_attributes.Value("encoding");
    for (char& c : encoding) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    m_currentEncoding = encoding.empty() ? "UTF-8" : encoding;
    const char* close = std::strstr(p + 5, "?>");
    m_curFinal = close != nullptr ? close + 1 : LastByte(p, p + 5);
    m_next = m_curFinal + 1;
    m_partKind = pkXmlDecl;
    m_partName.clear();
    m_partText.clear();
}

void TXmlParser::AnalyzeComment() {
    const char* p = m_curStart;
    const char* close = std::strstr(p + 4, "-->");
    m_curFinal = close != nullptr ? close + 2 : LastByte(p, p + 4);
    m_next = m_curFinal + 1;
    m_partKind = pkComment;
}

void TXmlParser::AnalyzePI() {
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

void TXmlParser::AnalyzeCData() {
    const char* p = m_curStart;
    const char* close = std::strstr(p + 9, "]]>");
    m_partText = ConvertEncoding(std::string(p + 9, close != nullptr ? close : EndOfData(p + 9)));
    m_curFinal = close != nullptr ? close + 2 : LastByte(p, p + 9);
    m_next = m_curFinal + 1;
    m_partKind = pkCData;
}

const char* TXmlParser::ReadAttributes(const char* p, TAttrList& list) {
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
                    list.Add(std::make_unique<TAttr>(name, std::move(value)));
                    state = kName;
                } else {
                    ++p;
                }
                break;
        }
    }
}

void TXmlParser::AnalyzeTag() {
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
        TAttr* attr = m_attributes.At(i);
        attr->Value = ProcessValue(attr->Value, attr->AttrType);
    }
}

void TXmlParser::ApplyDefaults() {
    const TElemDef* def = m_elements.Node(m_partName);
    if (def == nullptr) {
        return;
    }
    for (int i = 0; i < def->Count(); ++i) {
        const TAttrDef* decl = def->At(i);
        TAttr* attr = m_attributes.Node(decl->Name);
        // Declared values copied into tags count against the same budget as
        // entity text: one declaration must not multiply itself into every tag.
        if (attr == nullptr && (decl->DefaultType == dtDefault || decl->DefaultType == dtFixed) &&
            Budget(decl->Value.size())) {
            attr = m_attributes.Add(std::make_unique<TAttr>(decl->Name, decl->Value));
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

std::string TXmlParser::ExternalText(const TEntityDef& entity) {
    std::unique_ptr<TXmlParser> scanner = OpenCharged(&entity, "", "");
    return scanner ? std::string(scanner->DocText()) : std::string();
}

std::string TXmlParser::ReplaceGeneral(const std::string& text, int depth) {
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
        const TEntityDef* entity = nullptr;
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

std::string TXmlParser::ProcessValue(const std::string& raw, TAttrType type) {
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

bool TXmlParser::AnalyzeText() {
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
        } else if (const TEntityDef* entity = m_entities.Node(name)) {
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

void TXmlParser::AnalyzeDtd() {
    const char* p = m_curStart;
    m_partKind = pkDtd;
    m_partName.clear();
    m_partText.clear();
    if (p == m_dtdStart && m_stack.empty()) {
        m_curFinal = m_dtdFinal;
        m_next = m_curFinal + 1;
        return;
    }
    const char* q = SkipWs(p + 9);
    m_rootName = Token(q, "[");
    q = SkipWs(q);
    const TExternalID external = ReadExternalId(q);
    q = SkipWs(external.Final);
    // The external subset first, so that the internal one, read later, wins.
    if (!external.SystemId.empty() || !external.PublicId.empty()) {
        ReadExternalSubset(external.SystemId, external.PublicId, 0);
    }
    if (*q == '[') {
        q = ReadSubset(q + 1, true, 0);
        if (*q == ']') {
            ++q;
        }
    }
    const char* close = std::strchr(q, '>');
    m_curFinal = close != nullptr ? close : LastByte(p, q);
    m_next = m_curFinal + 1;
    if (m_stack.empty()) {
        m_dtdStart = p;
        m_dtdFinal = m_curFinal;
    }
}

void TXmlParser::ReadExternalSubset(const std::string& systemId, const std::string& publicId,
                                    int depth) {
    if (depth >= kMaxEntityDepth) {
        return;
    }
    std::unique_ptr<TXmlParser> scanner = OpenCharged(nullptr, systemId, publicId);
    if (!scanner) {
        return;
    }
    const char* first = std::strstr(scanner->m_buffer.c_str(), "<!");
    if (first == nullptr) {
        return;
    }
    ++m_externalDepth;
    m_semiFrom = m_semiAt = nullptr;
    ReadSubset(first, false, depth + 1);
    m_semiFrom = m_semiAt = nullptr;
    --m_externalDepth;
}

void TXmlParser::ReadParEntity(const TEntityDef& entity, int depth) {
    if (depth >= kMaxEntityDepth) {
        return;
    }
    // A copy: the declarations read may replace this very entity.
    const std::string text = entity.IsExternal() ? ExternalText(entity) : entity.Value;
    if (!Budget(text.size() + 1)) {
        return;
    }
    m_semiFrom = m_semiAt = nullptr;
    ReadSubset(text.c_str(), false, depth + 1);
    m_semiFrom = m_semiAt = nullptr;
}

const char* TXmlParser::ReadSubset(const char* p, bool internal, int depth) {
    for (;;) {
        p = SkipWs(p);
        const char c = *p;
        if (c == 0 || (c == ']' && internal)) {
            return p;
        }
        if (StartsWith(p, "<!ELEMENT")) {
            p = ReadElementDecl(p);
        } else if (StartsWith(p, "<!ATTLIST")) {
            p = ReadAttListDecl(p);
        } else if (StartsWith(p, "<!ENTITY")) {
            p = ReadEntityDecl(p);
        } else if (StartsWith(p, "<!NOTATION")) {
            p = ReadNotationDecl(p);
        } else if (StartsWith(p, "<!--")) {
            const char* close = std::strstr(p + 4, "-->");
            const char* end = close != nullptr ? close + 3 : EndOfData(p);
            TDtdElementRec rec;
            rec.ElementType = deComment;
            rec.Start = p;
            rec.Final = end - 1;
            DeclarationFound(rec);
            p = end;
        } else if (StartsWith(p, "<?")) {
            const char* close = std::strstr(p + 2, "?>");
            const char* end = close != nullptr ? close : EndOfData(p);
            const char* nameEnd = p + 2;
            while (nameEnd < end && !IsWs(*nameEnd) && *nameEnd != '?' && *nameEnd != '>') {
                ++nameEnd;
            }
            TDtdElementRec rec;
            rec.ElementType = dePI;
            rec.Start = p;
            rec.Target.assign(p + 2, nameEnd);
            const char* rest = SkipWs(nameEnd);
            rec.Content.assign(rest < end ? rest : end, end);
            p = close != nullptr ? close + 2 : end;
            rec.Final = p - 1;
            DeclarationFound(rec);
        } else if (StartsWith(p, "<![")) {
            // Conditional sections are passed over whole.
            const char* close = std::strstr(p + 3, "]]>");
            p = close != nullptr ? close + 3 : EndOfData(p);
        } else if (c == '%') {
            const char* semi = FindSemicolon(p + 1);
            if (semi == nullptr) {
                ++p;  // a "%" that starts no reference is passed over alone
                continue;
            }
            const std::string name(p + 1, semi);
            p = semi + 1;
            if (const TEntityDef* entity = m_parEntities.Node(name)) {
                ReadParEntity(*entity, depth + 1);
            }
        } else {
            ++p;
        }
    }
}

const char* TXmlParser::ReadElementDecl(const char* start) {
    const char* q = SkipWs(start + 9);
    const std::string name = Token(q, "(");
    q = SkipWs(q);
    const char* close = std::strchr(q, '>');
    const char* end = close != nullptr ? close : EndOfData(q);
    const char* modelEnd = end;
    while (modelEnd > q && IsWs(modelEnd[-1])) {
        --modelEnd;
    }
    const std::string model(q, modelEnd);
    TElemType type = etAny;
    if (model == "EMPTY") {
        type = etEmpty;
    } else if (!model.empty() && model[0] == '(') {
        type = StartsWith(SkipWs(model.c_str() + 1), "#PCDATA") ? etMixed : etChildsOnly;
    }
    TElemDef* def = m_elements.Node(name);
    if (def == nullptr) {
        auto fresh = std::make_unique<TElemDef>();
        fresh->Name = name;
        def = m_elements.Add(std::move(fresh));
        if (def == nullptr) {
            return close != nullptr ? close + 1 : end;  // too many declarations
        }
    }
    def->Definition = model;
    def->ElemType = type;
    TDtdElementRec rec;
    rec.ElementType = deElement;
    rec.Start = start;
    rec.Final = close != nullptr ? close : LastByte(start, end);
    rec.ElemDef = def;
    DeclarationFound(rec);
    return close != nullptr ? close + 1 : end;
}

const char* TXmlParser::ReadAttListDecl(const char* start) {
    const char* q = SkipWs(start + 9);
    const std::string elemName = Token(q);
    TElemDef* def = m_elements.Node(elemName);
    if (def == nullptr) {
        auto fresh = std::make_unique<TElemDef>();
        fresh->Name = elemName;
        fresh->Definition = "ANY";
        fresh->ElemType = etAny;
        def = m_elements.Add(std::move(fresh));
        if (def == nullptr) {
            const char* close = std::strchr(q, '>');  // too many declarations
            return close != nullptr ? close + 1 : EndOfData(q);
        }
    }
    for (;;) {
        q = SkipWs(q);
        if (*q == 0 || *q == '>') {
            break;
        }
        if (!IsNameStart(*q)) {
            ++q;
            continue;
        }
        auto attr = std::make_unique<TAttrDef>();
        const char* declStart = q;
        attr->Name = Token(q, "(\"'");
        q = SkipWs(q);
        if (*q == '(' || StartsWith(q, "NOTATION")) {
            attr->AttrType = *q == '(' ? atEnumeration : atNotation;
            if (*q != '(') {
                attr->TypeDef = Token(q, "(");
                q = SkipWs(q);
            }
            if (*q == '(') {
                const char* close = std::strchr(q, ')');
                const char* end = close != nullptr ? close + 1 : EndOfData(q);
                attr->Notations.assign(q, end);
                q = end;
            }
            if (attr->TypeDef.empty()) {
                attr->TypeDef = attr->Notations;
            }
        } else {
            attr->TypeDef = Token(q, "\"'");
            attr->AttrType = AttrTypeOf(attr->TypeDef);
        }
        q = SkipWs(q);
        if (*q == '#') {
            const std::string keyword = Token(q, "\"'");
            if (keyword == "#REQUIRED") {
                attr->DefaultType = dtRequired;
            } else if (keyword == "#FIXED") {
                attr->DefaultType = dtFixed;
                q = SkipWs(q);
                ReadQuoted(q, attr->Value);
            } else {
                attr->DefaultType = dtImplied;
            }
        } else if (ReadQuoted(q, attr->Value)) {
            attr->DefaultType = dtDefault;
        }
        const int existing = def->IndexOf(attr->Name);
        if (existing >= 0) {
            def->Remove(existing);
        }
        const TAttrDef* added = def->Add(std::move(attr));
        if (added == nullptr) {
            continue;
        }
        TDtdElementRec rec;
        rec.ElementType = deAttList;
        rec.Start = declStart;
        rec.Final = q > declStart ? q - 1 : declStart;
        rec.ElemDef = def;
        rec.AttrDef = added;
        DeclarationFound(rec);
    }
    return *q == '>' ? q + 1 : q;
}

const char* TXmlParser::ReadEntityDecl(const char* start) {
    const char* q = SkipWs(start + 8);
    bool parameter = false;
    if (*q == '%' && IsWs(q[1])) {
        parameter = true;
        q = SkipWs(q + 1);
    }
    auto entity = std::make_unique<TEntityDef>();
    entity->Name = Token(q, "\"'");
    q = SkipWs(q);
    if (!ReadQuoted(q, entity->Value)) {
        const TExternalID id = ReadExternalId(q);
        entity->SystemId = id.SystemId;
        entity->PublicId = id.PublicId;
        q = SkipWs(id.Final);
        if (StartsWith(q, "NDATA")) {
            q = SkipWs(q + 5);
            entity->NotationName = Token(q);
        }
    }
    const char* close = std::strchr(q, '>');
    const char* end = close != nullptr ? close + 1 : EndOfData(q);
    TSortedList<TEntityDef>& list = parameter ? m_parEntities : m_entities;
    const int existing = list.IndexOf(entity->Name);
    if (existing >= 0) {
        list.Remove(existing);
    }
    const TEntityDef* added = list.Add(std::move(entity));
    if (added == nullptr) {
        return end;
    }
    TDtdElementRec rec;
    rec.ElementType = parameter ? deParEntity : deEntity;
    rec.Start = start;
    rec.Final = end - 1;
    rec.EntityDef = added;
    DeclarationFound(rec);
    return end;
}

const char* TXmlParser::ReadNotationDecl(const char* start) {
    const char* q = SkipWs(start + 10);
    auto notation = std::make_unique<TNotationDef>();
    notation->Name = Token(q, "\"'");
    q = SkipWs(q);
    const TExternalID id = ReadExternalId(q);
    notation->SystemId = id.SystemId;
    notation->PublicId = id.PublicId;
    q = id.Final;
    const char* close = std::strchr(q, '>');
    const char* end = close != nullptr ? close + 1 : EndOfData(q);
    const int existing = m_notations.IndexOf(notation->Name);
    if (existing >= 0) {
        m_notations.Remove(existing);
    }
    const TNotationDef* added = m_notations.Add(std::move(notation));
    if (added == nullptr) {
        return end;
    }
    TDtdElementRec rec;
    rec.ElementType = deNotation;
    rec.Start = start;
    rec.Final = end - 1;
    rec.NotationDef = added;
    DeclarationFound(rec);
    return end;
}

std::unique_ptr<TXmlParser> TXmlParser::OpenExternal(const std::string& systemId,
                                                     const std::string&, const std::string&) {
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
    auto scanner = std::make_unique<TXmlParser>();
    scanner->ReadFileLimited(path, TFileShareMode::DenyNone, kMaxExternalFileSize);
    return scanner;
}

std::string TXmlParser::ConvertEncoding(const std::string& text) {
    return m_currentEncoding == "UTF-8" ? Utf8ToWindows1252(text) : text;
}

void TXmlParser::DeclarationFound(const TDtdElementRec&) {}

}  // namespace parevo

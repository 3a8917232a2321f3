#pragma once
// XmlParser: a lenient pull scanner over a whole XML document held in memory as
// 8-bit text. It never raises and never rejects a document: malformed text is
// taken apart by recovery rules. It also reads the document type declaration
// (internal subset and external files) and applies declared entities and
// attribute defaults to later text and tags.
//
// Hostile input is bounded: entity replacement nests at most kMaxEntityDepth
// deep and expands to at most kMaxExpansionBytes per scan of a document; an
// external file is read only when it is a regular file of at most
// kMaxExternalFileSize bytes (and each open is charged to the expansion budget),
// and a document of at most kMaxDocumentSize bytes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace parevo {

constexpr int kMaxEntityDepth = 16;
constexpr std::size_t kMaxExpansionBytes = 1 << 20;
constexpr std::int64_t kMaxExternalFileSize = 1 << 20;
// A settings file is well under a kilobyte; a document beyond this is not read,
// which also bounds what deep nesting can cost.
constexpr std::int64_t kMaxDocumentSize = 1 << 20;
// Entries of one sorted list (the attributes of a tag, the declarations of a
// document); more are dropped, so inserting in the worst order stays cheap.
constexpr int kMaxListEntries = 4096;
// What opening an external file costs of the expansion budget, besides its size:
// at most kMaxExpansionBytes / kExternalOpenCost files are opened per scan.
constexpr std::size_t kExternalOpenCost = 1024;

enum XmlPartKind {
    pkNone,
    pkXmlDecl,
    pkComment,
    pkPI,
    pkDtd,
    pkStartTag,
    pkEmptyTag,
    pkEndTag,
    pkText,
    pkCData
};

// "XML Prolog", "Start Tag", ...
const char* PartKindName(XmlPartKind kind);

// Name/value pair; the base of attributes and declaration records.
class NameValuePair {
  public:
    NameValuePair() = default;
    NameValuePair(std::string name, std::string value)
        : Name(std::move(name)), Value(std::move(value)) {}
    virtual ~NameValuePair() = default;
    std::string Name;
    std::string Value;
};

// An owning list kept in ascending byte order of the names (unsigned, case
// counting). A new entry goes before every entry of an equal name, so the newest
// of equal names is found first.
template <typename T>
class SortedList {
  public:
    // None when the list is full.
    T* Add(std::unique_ptr<T> node) {
        if (Count() >= kMaxListEntries) {
            return nullptr;
        }
        const std::size_t at = LowerBound(node->Name);
        T* raw = node.get();
        m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(at), std::move(node));
        return raw;
    }
    // Binary search with exact comparison; none when absent.
    T* Node(std::string_view name) const {
        const std::size_t at = LowerBound(name);
        return at < m_items.size() && m_items[at]->Name == name ? m_items[at].get() : nullptr;
    }
    int IndexOf(std::string_view name) const {
        const std::size_t at = LowerBound(name);
        return at < m_items.size() && m_items[at]->Name == name ? static_cast<int>(at) : -1;
    }
    void Remove(int index) { m_items.erase(m_items.begin() + index); }
    int Count() const { return static_cast<int>(m_items.size()); }
    T* At(int index) const {
        return index >= 0 && index < Count() ? m_items[static_cast<std::size_t>(index)].get()
                                             : nullptr;
    }
    void Clear() { m_items.clear(); }

  private:
    std::size_t LowerBound(std::string_view name) const {
        std::size_t lo = 0;
        std::size_t hi = m_items.size();
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            // std::string_view compares as unsigned char.
            if (std::string_view(m_items[mid]->Name) < name) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        return lo;
    }
    std::vector<std::unique_ptr<T>> m_items;
};

// A sorted list of name-value pairs, read by index or by name.
template <typename T>
class NamedValueList : public SortedList<T> {
  public:
    // By index; outside the list the empty text.
    std::string Name(int index) const {
        const T* node = this->At(index);
        return node ? node->Name : std::string();
    }
    std::string Value(int index) const {
        const T* node = this->At(index);
        return node ? node->Value : std::string();
    }
    // By name; the empty text when absent.
    std::string Value(std::string_view name) const {
        const T* node = this->Node(name);
        return node ? node->Value : std::string();
    }
};

using NameValueList = NamedValueList<NameValuePair>;

enum AttributeValueKind { avNormal, avImplied, avFixed, avDefault };
enum AttributeType {
    atUnknown,
    atCData,
    atID,
    atIdRef,
    atIdRefs,
    atEntity,
    atEntities,
    atNmToken,
    atNmTokens,
    atNotation,
    atEnumeration
};

class Attribute : public NameValuePair {
  public:
    using NameValuePair::NameValuePair;
    AttributeValueKind ValueType = avNormal;
    AttributeType AttrType = atUnknown;
};

using AttributeList = NamedValueList<Attribute>;

enum AttributeDefault { dtDefault, dtRequired, dtImplied, dtFixed };

class AttributeDecl : public NameValuePair {
  public:
    // Value holds the default value.
    std::string TypeDef;
    std::string Notations;
    AttributeType AttrType = atUnknown;
    AttributeDefault DefaultType = dtImplied;
};

enum ElementContent { etEmpty, etAny, etChildsOnly, etMixed };

// One element declaration: its attribute declarations, sorted by name.
class ElementDecl : public SortedList<AttributeDecl> {
  public:
    std::string Name;
    std::string Definition;
    ElementContent ElemType = etAny;
};

class EntityDecl : public NameValuePair {
  public:
    // Value holds the replacement text of an internal entity.
    std::string SystemId;
    std::string PublicId;
    std::string NotationName;
    bool IsExternal() const { return !SystemId.empty() || !PublicId.empty(); }
};

class NotationDecl : public NameValuePair {
  public:
    std::string SystemId;
    std::string PublicId;
};

struct ExternalId {
    std::string SystemId;
    std::string PublicId;
    const char* Final = nullptr;  // where the identifiers end
};

enum DtdDeclarationKind {
    deElement,
    deAttList,
    deEntity,
    deParEntity,
    deNotation,
    dePI,
    deComment
};

// What DeclarationFound is told about one declaration.
struct DtdDeclaration {
    DtdDeclarationKind ElementType = deComment;
    const char* Start = nullptr;
    const char* Final = nullptr;
    const ElementDecl* ElemDef = nullptr;
    const AttributeDecl* AttrDef = nullptr;
    const EntityDecl* EntityDef = nullptr;
    const NotationDecl* NotationDef = nullptr;
    std::string Target;  // processing instruction
    std::string Content;
};

// How the file is shared while it is read (meaningful on Windows only).
enum class FileShareMode { DenyWrite, DenyNone };

class XmlParser {
  public:
    XmlParser();
    virtual ~XmlParser();
    XmlParser(const XmlParser&) = delete;
    XmlParser& operator=(const XmlParser&) = delete;

    // Drops the document and everything read from it, except CurrentEncoding.
    void Clear();
    // Reads the whole file; off when it cannot be opened or read (or is no
    // regular file, or is too large), leaving an empty buffer.
    bool ReadFile(const std::string& fileName, FileShareMode mode = FileShareMode::DenyWrite);
    // Takes the document from memory; `sourceName` starting with "<" means no
    // folder for relative external identifiers.
    void LoadFromBuffer(std::string_view data, const std::string& sourceName = "<buffer>");
    void Rewind();
    bool NextPart();

    XmlPartKind PartKind() const { return m_partKind; }
    const std::string& PartName() const { return m_partName; }
    const std::string& PartText() const { return m_partText; }
    const AttributeList& PartAttributes() const { return m_attributes; }
    // First and last byte of the current part; valid until the next NextPart.
    const char* PartStart() const { return m_curStart; }
    const char* PartEnd() const { return m_curFinal; }

    bool CollapseText() const { return m_collapseText; }
    void SetCollapseText(bool on) { m_collapseText = on; }
    const std::string& CurrentEncoding() const { return m_currentEncoding; }
    void SetCurrentEncoding(std::string encoding) { m_currentEncoding = std::move(encoding); }

    const std::string& SourceName() const { return m_sourceName; }
    const std::string& XmlVersion() const { return m_xmlVersion; }
    const std::string& Encoding() const { return m_encoding; }
    bool Standalone() const { return m_standalone; }
    const std::string& RootName() const { return m_rootName; }
    // The document's bytes up to the first NUL.
    std::string_view DocText() const;

    const SortedList<ElementDecl>& Elements() const { return m_elements; }
    const SortedList<EntityDecl>& Entities() const { return m_entities; }
    const SortedList<EntityDecl>& ParEntities() const { return m_parEntities; }
    const SortedList<NotationDecl>& Notations() const { return m_notations; }

    // Gives a scanner holding the named file, or none. The caller owns it.
    virtual std::unique_ptr<XmlParser> OpenExternal(const std::string& systemId,
                                                    const std::string& publicId,
                                                    const std::string& notation);
    // Translates from UTF-8 to the narrow encoding when CurrentEncoding is exactly
    // "UTF-8" (a change only on Windows).
    virtual std::string ConvertEncoding(const std::string& text);
    virtual void DeclarationFound(const DtdDeclaration& rec);

  private:
    struct StackNode;

    void ResetScanState();
    bool ReadFileLimited(const std::string& fileName, FileShareMode mode, std::int64_t limit);
    void PushEntity(std::unique_ptr<StackNode> node);
    const char* PopEntity();  // where to go on

    void AnalyzeProlog();
    void AnalyzeComment();
    void AnalyzePI();
    void AnalyzeDtd();
    void AnalyzeCData();
    void AnalyzeTag();
    bool AnalyzeText();  // off when the part is dropped

    const char* ReadAttributes(const char* p, AttributeList& list);
    void ApplyDefaults();
    std::string ProcessValue(const std::string& raw, AttributeType type);
    std::string ReplaceGeneral(const std::string& text, int depth);
    std::string ExternalText(const EntityDecl& entity);
    // OpenExternal for an entity (or, without one, the identifiers), charged to
    // the expansion budget; none past the budget or the nesting bound.
    std::unique_ptr<XmlParser> OpenCharged(const EntityDecl* entity, const std::string& systemId,
                                           const std::string& publicId);

    const char* ReadSubset(const char* p, bool internal, int depth);
    const char* ReadElementDecl(const char* start);
    const char* ReadAttListDecl(const char* start);
    const char* ReadEntityDecl(const char* start);
    const char* ReadNotationDecl(const char* start);
    void ReadExternalSubset(const std::string& systemId, const std::string& publicId, int depth);
    void ReadParEntity(const EntityDecl& entity, int depth);
    const char* FindSemicolon(const char* p);
    bool Budget(std::size_t bytes);

    std::string m_buffer;  // the document and a NUL
    std::string m_sourceName;
    bool m_collapseText = true;
    std::string m_xmlVersion;
    std::string m_encoding;
    bool m_standalone = false;
    std::string m_rootName;
    std::string m_currentEncoding;
    const char* m_dtdStart = nullptr;  // remembered declaration in the document itself
    const char* m_dtdFinal = nullptr;

    SortedList<ElementDecl> m_elements;
    SortedList<EntityDecl> m_entities;
    SortedList<EntityDecl> m_parEntities;
    SortedList<NotationDecl> m_notations;

    XmlPartKind m_partKind = pkNone;
    std::string m_partName;
    std::string m_partText;
    AttributeList m_attributes;
    const char* m_curStart = nullptr;
    const char* m_curFinal = nullptr;
    const char* m_next = nullptr;  // where the next part starts
    bool m_atEnd = false;

    std::vector<std::unique_ptr<StackNode>> m_stack;
    // Popped during the current part; kept until the next so positions stay valid.
    std::vector<std::unique_ptr<StackNode>> m_retired;
    std::size_t m_expanded = 0;  // replacement bytes taken since the last Rewind
    int m_externalDepth = 0;     // nesting of scanners opened for external subsets
    // The last ";" search: from m_semiFrom the first ";" is m_semiAt (the NUL when none).
    const char* m_semiFrom = nullptr;
    const char* m_semiAt = nullptr;
};

}  // namespace parevo

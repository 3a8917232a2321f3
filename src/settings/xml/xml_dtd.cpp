// The scanner's reading of document type declarations: the internal and
// external subsets, parameter entities, and the element, attribute-list, entity
// and notation declarations.
#include <cstring>
#include <string>

#include "settings/xml/xml_parser.h"
#include "settings/xml/xml_scan.h"

namespace parevo {

using namespace xml_scan;

void XmlParser::AnalyzeDtd() {
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
    const ExternalId external = ReadExternalId(q);
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

void XmlParser::ReadExternalSubset(const std::string& systemId, const std::string& publicId,
                                   int depth) {
    if (depth >= kMaxEntityDepth) {
        return;
    }
    std::unique_ptr<XmlParser> scanner = OpenCharged(nullptr, systemId, publicId);
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

void XmlParser::ReadParEntity(const EntityDecl& entity, int depth) {
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

const char* XmlParser::ReadSubset(const char* p, bool internal, int depth) {
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
            DtdDeclaration rec;
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
            DtdDeclaration rec;
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
            if (const EntityDecl* entity = m_parEntities.Node(name)) {
                ReadParEntity(*entity, depth + 1);
            }
        } else {
            ++p;
        }
    }
}

const char* XmlParser::ReadElementDecl(const char* start) {
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
    ElementContent type = etAny;
    if (model == "EMPTY") {
        type = etEmpty;
    } else if (!model.empty() && model[0] == '(') {
        type = StartsWith(SkipWs(model.c_str() + 1), "#PCDATA") ? etMixed : etChildsOnly;
    }
    ElementDecl* def = m_elements.Node(name);
    if (def == nullptr) {
        auto fresh = std::make_unique<ElementDecl>();
        fresh->Name = name;
        def = m_elements.Add(std::move(fresh));
        if (def == nullptr) {
            return close != nullptr ? close + 1 : end;  // too many declarations
        }
    }
    def->Definition = model;
    def->ElemType = type;
    DtdDeclaration rec;
    rec.ElementType = deElement;
    rec.Start = start;
    rec.Final = close != nullptr ? close : LastByte(start, end);
    rec.ElemDef = def;
    DeclarationFound(rec);
    return close != nullptr ? close + 1 : end;
}

const char* XmlParser::ReadAttListDecl(const char* start) {
    const char* q = SkipWs(start + 9);
    const std::string elemName = Token(q);
    ElementDecl* def = m_elements.Node(elemName);
    if (def == nullptr) {
        auto fresh = std::make_unique<ElementDecl>();
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
        auto attr = std::make_unique<AttributeDecl>();
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
        const AttributeDecl* added = def->Add(std::move(attr));
        if (added == nullptr) {
            continue;
        }
        DtdDeclaration rec;
        rec.ElementType = deAttList;
        rec.Start = declStart;
        rec.Final = q > declStart ? q - 1 : declStart;
        rec.ElemDef = def;
        rec.AttrDef = added;
        DeclarationFound(rec);
    }
    return *q == '>' ? q + 1 : q;
}

const char* XmlParser::ReadEntityDecl(const char* start) {
    const char* q = SkipWs(start + 8);
    bool parameter = false;
    if (*q == '%' && IsWs(q[1])) {
        parameter = true;
        q = SkipWs(q + 1);
    }
    auto entity = std::make_unique<EntityDecl>();
    entity->Name = Token(q, "\"'");
    q = SkipWs(q);
    if (!ReadQuoted(q, entity->Value)) {
        const ExternalId id = ReadExternalId(q);
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
    SortedList<EntityDecl>& list = parameter ? m_parEntities : m_entities;
    const int existing = list.IndexOf(entity->Name);
    if (existing >= 0) {
        list.Remove(existing);
    }
    const EntityDecl* added = list.Add(std::move(entity));
    if (added == nullptr) {
        return end;
    }
    DtdDeclaration rec;
    rec.ElementType = parameter ? deParEntity : deEntity;
    rec.Start = start;
    rec.Final = end - 1;
    rec.EntityDef = added;
    DeclarationFound(rec);
    return end;
}

const char* XmlParser::ReadNotationDecl(const char* start) {
    const char* q = SkipWs(start + 10);
    auto notation = std::make_unique<NotationDecl>();
    notation->Name = Token(q, "\"'");
    q = SkipWs(q);
    const ExternalId id = ReadExternalId(q);
    notation->SystemId = id.SystemId;
    notation->PublicId = id.PublicId;
    q = id.Final;
    const char* close = std::strchr(q, '>');
    const char* end = close != nullptr ? close + 1 : EndOfData(q);
    const int existing = m_notations.IndexOf(notation->Name);
    if (existing >= 0) {
        m_notations.Remove(existing);
    }
    const NotationDecl* added = m_notations.Add(std::move(notation));
    if (added == nullptr) {
        return end;
    }
    DtdDeclaration rec;
    rec.ElementType = deNotation;
    rec.Start = start;
    rec.Final = end - 1;
    rec.NotationDef = added;
    DeclarationFound(rec);
    return end;
}

}  // namespace parevo

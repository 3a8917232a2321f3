#pragma once
// The byte-level readers the XML scanner and its DTD reader share. The scanned
// data always ends in a NUL byte, which every reader stops at.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "settings/xml/xml_parser.h"

namespace parevo::xml_scan {

inline bool IsWs(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline bool IsNameStart(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || c >= 0xF8;
}

// Compares with the literal without running past the NUL that ends the data.
inline bool StartsWith(const char* p, const char* literal) {
    for (; *literal != 0; ++p, ++literal) {
        if (*p != *literal) {
            return false;
        }
    }
    return true;
}

inline const char* SkipWs(const char* p) {
    while (IsWs(*p)) {
        ++p;
    }
    return p;
}

inline const char* EndOfData(const char* p) {
    return p + std::strlen(p);
}

// The last byte of a part that runs to the end of the data; never before `start`.
inline const char* LastByte(const char* start, const char* from) {
    const char* end = EndOfData(from);
    return end > start ? end - 1 : start;
}

// Bytes up to white space, ">" or the end; at least one byte unless at one of those.
inline std::string Token(const char*& p, const char* stops = "") {
    const char* s = p;
    while (*p != 0 && !IsWs(*p) && *p != '>' && std::strchr(stops, *p) == nullptr) {
        ++p;
    }
    return std::string(s, p);
}

// A quoted string at p (either quote); p moves past it. Unterminated: to the end.
inline bool ReadQuoted(const char*& p, std::string& out) {
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

inline ExternalId ReadExternalId(const char* p) {
    ExternalId id;
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

inline AttributeType AttrTypeOf(std::string_view word) {
    static const std::pair<const char*, AttributeType> kTypes[] = {
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

}  // namespace parevo::xml_scan

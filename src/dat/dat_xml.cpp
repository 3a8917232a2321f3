// The Logiqx XML form through expat, which streams, checks well-formedness and
// guards against entity expansion; no DTD or other file is ever fetched.
#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "dat/dat_reader.h"

namespace parevo::dat_reader {

namespace {

struct ParserFree {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

class LogiqxReader {
  public:
    LogiqxReader(XML_Parser parser, Collector& out) : m_parser(parser), m_out(out) {}

    static void XMLCALL Start(void* self, const XML_Char* name, const XML_Char** attributes) {
        static_cast<LogiqxReader*>(self)->OnStart(name, attributes);
    }
    static void XMLCALL End(void* self, const XML_Char*) {
        static_cast<LogiqxReader*>(self)->OnEnd();
    }
    static void XMLCALL Text(void* self, const XML_Char* text, int length) {
        auto* reader = static_cast<LogiqxReader*>(self);
        if (reader->m_inHeaderName) {
            reader->m_headerName.append(text, static_cast<size_t>(length));
        }
    }

    // The fault a handler met; expat's own otherwise.
    Fault Failure() const {
        if (m_fault) {
            return *m_fault;
        }
        return Fault{static_cast<int>(XML_GetCurrentLineNumber(m_parser)),
                     XML_ErrorString(XML_GetErrorCode(m_parser))};
    }
    void Finish() {
        if (!m_sawRoot) {
            throw Fault{0, "not a DAT file: it holds no XML element"};
        }
        m_out.SetName(m_headerName);
    }

  private:
    int Line() const { return static_cast<int>(XML_GetCurrentLineNumber(m_parser)); }

    static std::string Attribute(const XML_Char** attributes, const char* wanted) {
        for (; attributes[0] != nullptr; attributes += 2) {
            if (std::strcmp(attributes[0], wanted) == 0) {
                return attributes[1];
            }
        }
        return std::string();
    }

    // Exceptions must not cross expat's C frames: the parser stops, and the
    // fault is raised once XML_Parse has returned.
    void Stop(Fault fault) {
        if (!m_fault) {
            m_fault = std::move(fault);
        }
        XML_StopParser(m_parser, XML_FALSE);
    }

    void OnStart(const XML_Char* name, const XML_Char** attributes) {
        const std::string element = name;
        ++m_depth;
        if (m_depth == 1) {
            m_sawRoot = true;
            if (element != "datafile") {
                Stop(Fault{Line(), "not a DAT file: its root element is <" + element +
                                       ">, not <datafile>"});
            }
        } else if (m_depth == 2 && (element == "game" || element == "machine")) {
            m_game = Attribute(attributes, "name");
            m_inGame = true;
        } else if (m_depth == 3 && m_inGame && element == "rom") {
            RomFields rom;
            rom.name = Attribute(attributes, "name");
            rom.size = Attribute(attributes, "size");
            rom.crc = Attribute(attributes, "crc");
            rom.md5 = Attribute(attributes, "md5");
            rom.sha1 = Attribute(attributes, "sha1");
            rom.sha256 = Attribute(attributes, "sha256");
            rom.serial = Attribute(attributes, "serial");
            rom.status = Attribute(attributes, "status");
            try {
                m_out.AddRom(m_game, rom, std::string(), Line());
            } catch (const Fault& fault) {
                Stop(fault);
            }
        } else if (m_depth == 2 && element == "header") {
            m_inHeader = true;
        } else if (m_depth == 3 && m_inHeader && element == "name") {
            m_inHeaderName = true;
            m_headerName.clear();
        }
    }

    void OnEnd() {
        if (m_depth == 2) {
            m_inGame = false;
            m_inHeader = false;
        }
        if (m_depth == 3) {
            m_inHeaderName = false;
        }
        --m_depth;
    }

    XML_Parser m_parser;
    Collector& m_out;
    std::optional<Fault> m_fault;
    int m_depth = 0;
    bool m_sawRoot = false;
    bool m_inGame = false;
    bool m_inHeader = false;
    bool m_inHeaderName = false;
    std::string m_game;
    std::string m_headerName;
};

}  // namespace

void ParseLogiqx(std::string_view text, Collector& out) {
    const std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate(nullptr));
    if (!parser) {
        throw std::bad_alloc();
    }
    LogiqxReader reader(parser.get(), out);
    XML_SetUserData(parser.get(), &reader);
    XML_SetElementHandler(parser.get(), &LogiqxReader::Start, &LogiqxReader::End);
    XML_SetCharacterDataHandler(parser.get(), &LogiqxReader::Text);
    // XML_Parse takes an int length: the text goes in pieces.
    constexpr size_t kPiece = 1 << 20;
    do {
        const size_t piece = std::min(text.size(), kPiece);
        const bool last = piece == text.size();
        if (XML_Parse(parser.get(), text.data(), static_cast<int>(piece),
                      last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
            throw reader.Failure();
        }
        text.remove_prefix(piece);
    } while (!text.empty());
    reader.Finish();
}

}  // namespace parevo::dat_reader

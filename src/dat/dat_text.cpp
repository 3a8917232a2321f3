// The clrmamepro text form: blocks of `name ( key value ... )`, values bare or
// in double quotes, `rom ( ... )` nested in a game's block.
#include <cctype>

#include "dat/dat_reader.h"

namespace parevo::dat_reader {

namespace {

struct Token {
    enum Kind { Open, Close, Word, End } kind = End;
    std::string text;  // a word, or the inside of a quoted value
    int line = 0;
};

class Lexer {
  public:
    explicit Lexer(std::string_view text) : m_text(text) {}

    Token Next() {
        while (m_at < m_text.size() && IsSpace(m_text[m_at])) {
            m_line += m_text[m_at] == '\n' ? 1 : 0;
            ++m_at;
        }
        Token token;
        token.line = m_line;
        if (m_at == m_text.size()) {
            return token;
        }
        const char c = m_text[m_at];
        if (c == '(' || c == ')') {
            ++m_at;
            token.kind = c == '(' ? Token::Open : Token::Close;
            return token;
        }
        token.kind = Token::Word;
        if (c == '"') {
            const size_t close = m_text.find('"', m_at + 1);
            if (close == std::string_view::npos) {
                throw Fault{m_line, "a quoted value is not closed"};
            }
            token.text = m_text.substr(m_at + 1, close - m_at - 1);
            for (const char q : token.text) {
                m_line += q == '\n' ? 1 : 0;
            }
            m_at = close + 1;
            return token;
        }
        const size_t start = m_at;
        while (m_at < m_text.size() && !IsSpace(m_text[m_at]) && m_text[m_at] != '(' &&
               m_text[m_at] != ')' && m_text[m_at] != '"') {
            ++m_at;
        }
        token.text = m_text.substr(start, m_at - start);
        return token;
    }

  private:
    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    std::string_view m_text;
    size_t m_at = 0;
    int m_line = 1;
};

class ClrMameProReader {
  public:
    ClrMameProReader(std::string_view text, Collector& out) : m_lexer(text), m_out(out) {}

    void Read() {
        for (Token name = m_lexer.Next(); name.kind != Token::End; name = m_lexer.Next()) {
            if (name.kind != Token::Word) {
                throw Fault{name.line, "expected the name of a block"};
            }
            const Token open = m_lexer.Next();
            if (open.kind != Token::Open) {
                throw Fault{open.line, "expected \"(\" after \"" + name.text + "\""};
            }
            if (name.text == "game" || name.text == "machine" || name.text == "resource") {
                ReadGame(name.line);
            } else {
                ReadBlock(name.line, [this, &name](const std::string& key, const Token& value) {
                    if (name.text == "clrmamepro" && key == "name") {
                        m_out.SetName(value.text);
                    }
                });
            }
        }
    }

  private:
    // Reads `key value` pairs up to the block's ")". A nested block is handed
    // over as a value with kind Open, and must be read (or skipped) by `field`.
    template <typename Field>
    void ReadBlock(int openedOn, Field&& field) {
        // Real DATs nest two deep; a bound keeps the reader's stack small.
        constexpr int kDeepest = 16;
        if (++m_depth > kDeepest) {
            throw Fault{openedOn, "blocks are nested too deep"};
        }
        for (;;) {
            const Token key = m_lexer.Next();
            if (key.kind == Token::Close) {
                --m_depth;
                return;
            }
            if (key.kind == Token::End) {
                throw Fault{openedOn, "the block opened here is not closed"};
            }
            if (key.kind != Token::Word) {
                throw Fault{key.line, "expected a name, found \"(\""};
            }
            const Token value = m_lexer.Next();
            if (value.kind == Token::End) {
                throw Fault{openedOn, "the block opened here is not closed"};
            }
            if (value.kind == Token::Close) {
                --m_depth;
                return;  // a flag without a value ends the block
            }
            field(key.text, value);
            if (value.kind == Token::Open && !m_nestedRead) {
                SkipBlock(value.line);
            }
            m_nestedRead = false;
        }
    }

    void SkipBlock(int openedOn) {
        ReadBlock(openedOn, [](const std::string&, const Token&) {});
    }

    void ReadGame(int openedOn) {
        std::string game;
        std::string serial;
        std::vector<std::pair<RomFields, int>> roms;
        ReadBlock(openedOn, [&](const std::string& key, const Token& value) {
            if (value.kind == Token::Open) {
                if (key == "rom") {
                    roms.emplace_back(ReadRom(value.line), value.line);
                    m_nestedRead = true;
                }
            } else if (key == "name") {
                game = value.text;
            } else if (key == "serial") {
                serial = value.text;
            }
        });
        for (const auto& [rom, line] : roms) {
            m_out.AddRom(game, rom, serial, line);
        }
    }

    RomFields ReadRom(int openedOn) {
        RomFields rom;
        ReadBlock(openedOn, [&rom](const std::string& key, const Token& value) {
            std::string* field = key == "name"     ? &rom.name
                                 : key == "size"   ? &rom.size
                                 : key == "crc"    ? &rom.crc
                                 : key == "md5"    ? &rom.md5
                                 : key == "sha1"   ? &rom.sha1
                                 : key == "sha256" ? &rom.sha256
                                 : key == "serial" ? &rom.serial
                                 : key == "status" ? &rom.status
                                                   : nullptr;
            if (field != nullptr && value.kind == Token::Word) {
                *field = value.text;
            }
        });
        return rom;
    }

    Lexer m_lexer;
    Collector& m_out;
    bool m_nestedRead = false;  // the field handler read the nested block itself
    int m_depth = 0;
};

}  // namespace

bool LooksLikeClrMamePro(std::string_view text) {
    try {
        Lexer lexer(text);
        return lexer.Next().kind == Token::Word && lexer.Next().kind == Token::Open;
    } catch (const Fault&) {
        return false;
    }
}

void ParseClrMamePro(std::string_view text, Collector& out) {
    ClrMameProReader(text, out).Read();
}

}  // namespace parevo::dat_reader

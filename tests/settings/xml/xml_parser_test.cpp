// The XML scanner, grouped by rule: tags, attributes, values, texts,
// declarations, encodings, end of data, and the bounds on hostile input.
#include "settings/xml/xml_parser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace parevo {
namespace {

using Attrs = std::vector<std::pair<std::string, std::string>>;

struct Part {
    XmlPartKind kind;
    std::string name;
    std::string text;
    Attrs attrs;
};

Attrs AttrsOf(const XmlParser& scanner) {
    Attrs attrs;
    for (int i = 0; i < scanner.PartAttributes().Count(); ++i) {
        attrs.emplace_back(scanner.PartAttributes().Name(i), scanner.PartAttributes().Value(i));
    }
    return attrs;
}

std::vector<Part> Scan(XmlParser& scanner, bool collapse = true) {
    scanner.SetCollapseText(collapse);
    scanner.Rewind();
    std::vector<Part> parts;
    while (scanner.NextPart()) {
        parts.push_back(
            {scanner.PartKind(), scanner.PartName(), scanner.PartText(), AttrsOf(scanner)});
    }
    return parts;
}

std::vector<Part> Scan(const std::string& doc, bool collapse = true) {
    XmlParser scanner;
    scanner.LoadFromBuffer(doc);
    return Scan(scanner, collapse);
}

Part First(const std::string& doc) {
    const auto parts = Scan(doc);
    return parts.empty() ? Part{pkNone, "", "", {}} : parts.front();
}

// The processed value of attribute `v` on the first tag.
std::string ValueOf(const std::string& rawValue, const std::string& prefix = "") {
    const auto parts = Scan(prefix + "<a v=\"" + rawValue + "\"/>");
    for (const Part& part : parts) {
        if (part.kind == pkEmptyTag) {
            return part.attrs.empty() ? "<none>" : part.attrs[0].second;
        }
    }
    return "<no tag>";
}

std::vector<std::string> Texts(const std::string& doc, bool collapse) {
    std::vector<std::string> texts;
    for (const Part& part : Scan(doc, collapse)) {
        if (part.kind == pkText) {
            texts.push_back(part.text);
        }
    }
    return texts;
}

TEST(XmlParserTags, KindsAndNames) {
    EXPECT_EQ(First("<a/>").kind, pkEmptyTag);
    EXPECT_EQ(First("<a />").kind, pkEmptyTag);
    EXPECT_EQ(First("<a x='1'/>").kind, pkEmptyTag);
    EXPECT_EQ(First("<a>").kind, pkStartTag);
    EXPECT_EQ(First("<a x='1'>").kind, pkStartTag);
    const Part end = First("</a>");
    EXPECT_EQ(end.kind, pkEndTag);
    EXPECT_EQ(end.name, "a");
    EXPECT_EQ(First("<Ab:c-d\tx='1'>").name, "Ab:c-d");
    // The first byte of a name is taken whatever it is.
    EXPECT_EQ(First("< a>").name, " a");
    EXPECT_EQ(First("<!doctype x>").name, "!doctype");
    EXPECT_EQ(First("<!doctype x>").kind, pkStartTag);
}

TEST(XmlParserTags, PartPositionsCoverTheDocument) {
    XmlParser scanner;
    const std::string doc = "<a>x<!--c--><b/></a>";
    scanner.LoadFromBuffer(doc);
    scanner.SetCollapseText(false);
    std::string rebuilt;
    while (scanner.NextPart()) {
        rebuilt.append(scanner.PartStart(), scanner.PartEnd() + 1);
    }
    EXPECT_EQ(rebuilt, doc);
}

TEST(XmlParserTags, UnterminatedTagRunsToTheEnd) {
    const auto parts = Scan("<a x='1'<b>");
    ASSERT_EQ(parts.size(), 1u);  // "<" is no name start: the reading stops there
    EXPECT_EQ(parts[0].name, "a");
    const auto open = Scan("<a b='1' ");
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].attrs, (Attrs{{"b", "1"}}));
}

TEST(XmlParserAttributes, ThreeStateReader) {
    EXPECT_TRUE(First("<a x=1>").attrs.empty());
    EXPECT_TRUE(First("<a x>").attrs.empty());
    EXPECT_EQ(First("<a x = \"1\" y\n=\n'2'>").attrs, (Attrs{{"x", "1"}, {"y", "2"}}));
    // Bytes that are neither "=" nor a quote are passed over where they stand.
    EXPECT_EQ(First("<a x junk = junk '3'>").attrs, (Attrs{{"x", "3"}}));
    // A quote of the other kind belongs to the value.
    EXPECT_EQ(First("<a x=\"it's\">").attrs, (Attrs{{"x", "it's"}}));
    // Unterminated value: to the end of the data.
    EXPECT_EQ(First("<a x='abc").attrs, (Attrs{{"x", "abc"}}));
}

TEST(XmlParserAttributes, SortedWithNewerEqualNameFirst) {
    EXPECT_EQ(First("<a z='2' b='1'>").attrs, (Attrs{{"b", "1"}, {"z", "2"}}));
    EXPECT_EQ(First("<a b='1' b='2'>").attrs, (Attrs{{"b", "2"}, {"b", "1"}}));
    // Bytes compare unsigned and with case: "B" < "a" < "\xE0".
    EXPECT_EQ(First("<a \xE0='3' a='2' B='1'>").attrs,
              (Attrs{{"B", "1"}, {"a", "2"}, {"\xE0", "3"}}));
}

TEST(XmlParserAttributes, ListLookups) {
    XmlParser scanner;
    scanner.LoadFromBuffer("<a m='1' c='2' x='3' c='4'>");
    ASSERT_TRUE(scanner.NextPart());
    const AttributeList& list = scanner.PartAttributes();
    EXPECT_EQ(list.Value("c"), "4");  // the newer of the two
    EXPECT_EQ(list.Value("x"), "3");
    EXPECT_EQ(list.Value("C"), "");
    EXPECT_EQ(list.Node("zz"), nullptr);
    EXPECT_EQ(list.Name(-1), "");
    EXPECT_EQ(list.Value(4), "");
}

TEST(XmlParserValues, References) {
    EXPECT_EQ(ValueOf("a&amp;b"), "a&b");
    EXPECT_EQ(ValueOf("&lt;&gt;&apos;&quot;"), "<>'\"");
    EXPECT_EQ(ValueOf("&#65;&#x42;"), "AB");
    EXPECT_EQ(ValueOf("&#xZZ;"), std::string(1, '\0'));
    EXPECT_EQ(ValueOf("&#ZZ;"), " ");
    EXPECT_EQ(ValueOf("&#321;"), "A");  // the lowest 8 bits
    EXPECT_EQ(ValueOf("&foo;"), "&foo;");
    EXPECT_EQ(ValueOf("salt & pepper"), "salt & pepper");
    // Entity references first, then character references.
    EXPECT_EQ(ValueOf("&amp;#65;"), "A");
    // A reference's name runs to the next ";".
    EXPECT_EQ(ValueOf("& x &amp;"), "& x &amp;");
}

TEST(XmlParserValues, WhiteSpaceByType) {
    EXPECT_EQ(ValueOf("a\tb\r\n c"), "a b   c");
    // Written as references, white space is kept.
    EXPECT_EQ(ValueOf("a&#9;b&#10;&#13;"), "a\tb\n\r");
    const std::string dtd = "<!DOCTYPE a [<!ATTLIST a v NMTOKENS #IMPLIED w CDATA #IMPLIED>]>";
    EXPECT_EQ(ValueOf("  x \t\n y  ", dtd), "x y");
    EXPECT_EQ(ValueOf(" &#32;x", dtd), " x");
}

TEST(XmlParserTexts, CollapseAndReferences) {
    EXPECT_EQ(Texts("<a>  a  b  </a>", true), std::vector<std::string>{"a b"});
    EXPECT_EQ(Texts("<a>  a  b  </a>", false), std::vector<std::string>{"  a  b  "});
    EXPECT_TRUE(Texts("<a> \r\n\t </a>", true).empty());
    EXPECT_EQ(Texts("<a> \r\n\t </a>", false).size(), 1u);
    EXPECT_EQ(Texts("<a>x &foo; y</a>", false), std::vector<std::string>{"x foo y"});
    EXPECT_EQ(Texts("<a>a & b</a>", false), std::vector<std::string>{"a  b"});
    EXPECT_EQ(Texts("<a>&#65;&#x42;&#zz;&lt;</a>", false), std::vector<std::string>{"AB <"});
    // The name of a reference runs to the next ";" anywhere after it.
    EXPECT_EQ(Texts("<a>x &y</a>; z", false), std::vector<std::string>{"x y</a> z"});
}

TEST(XmlParserTexts, CDataCommentsAndPIs) {
    const auto parts = Scan("<a><![CDATA[<b>&amp;]]><!-- <c> --><?pi x='1' rest?></a>");
    ASSERT_EQ(parts.size(), 5u);
    EXPECT_EQ(parts[1].kind, pkCData);
    EXPECT_EQ(parts[1].text, "<b>&amp;");
    EXPECT_EQ(parts[2].kind, pkComment);
    EXPECT_EQ(parts[3].kind, pkPI);
    EXPECT_EQ(parts[3].name, "pi");
    EXPECT_EQ(parts[3].text, "x='1' rest");
    EXPECT_EQ(parts[3].attrs, (Attrs{{"x", "1"}}));
    EXPECT_EQ(parts[4].kind, pkEndTag);
    EXPECT_EQ(PartKindName(pkCData), std::string("CDATA"));
    EXPECT_EQ(PartKindName(pkXmlDecl), std::string("XML Prolog"));
}

TEST(XmlParserTexts, UnterminatedSectionsRunToTheEnd) {
    for (const std::string doc : {"<!-- x <a/>", "<![CDATA[ x <a/>", "<?pi <a/>"}) {
        EXPECT_EQ(Scan(doc).size(), 1u) << doc;
    }
    EXPECT_EQ(Scan("<![CDATA[ x <a/>")[0].text, " x <a/>");
}

TEST(XmlParserEncodings, DeclarationSetsTheEncoding) {
    XmlParser scanner;
    scanner.LoadFromBuffer("<?xml version='1.0'?><a v='\xC3\xA9'>\xC3\xA9<![CDATA[\xC3\xA9]]></a>");
    auto parts = Scan(scanner);
    EXPECT_EQ(scanner.CurrentEncoding(), "UTF-8");
    EXPECT_EQ(scanner.XmlVersion(), "1.0");
    ASSERT_EQ(parts.size(), 5u);
    EXPECT_EQ(parts[0].kind, pkXmlDecl);
    // Values, texts and CDATA come out in the narrow encoding: Windows-1252 on
    // Windows; UTF-8, unchanged, where narrow text is UTF-8.
#ifdef _WIN32
    const std::string narrow = "\xE9";
#else
    const std::string narrow = "\xC3\xA9";
#endif
    EXPECT_EQ(parts[1].attrs[0].second, narrow);
    EXPECT_EQ(parts[2].text, narrow);
    EXPECT_EQ(parts[3].text, narrow);

    XmlParser plain;
    plain.LoadFromBuffer("<a v='\xC3\xA9'/>");
    EXPECT_EQ(Scan(plain)[0].attrs[0].second, "\xC3\xA9");
    EXPECT_EQ(plain.CurrentEncoding(), "");

    XmlParser latin;
    latin.LoadFromBuffer("<?xml version='1.0' encoding='iso-8859-1' standalone='yes'?><a/>");
    Scan(latin);
    EXPECT_EQ(latin.CurrentEncoding(), "ISO-8859-1");
    EXPECT_TRUE(latin.Standalone());
    // Clear keeps the encoding in force.
    latin.Clear();
    EXPECT_EQ(latin.CurrentEncoding(), "ISO-8859-1");
}

TEST(XmlParserEncodings, UpperCaseXmlIsAProcessingInstruction) {
    XmlParser scanner;
    scanner.LoadFromBuffer("<?XML version='1.0'?><a/>");
    const auto parts = Scan(scanner);
    EXPECT_EQ(parts[0].kind, pkPI);
    EXPECT_EQ(parts[0].name, "XML");
    EXPECT_EQ(scanner.CurrentEncoding(), "");
    EXPECT_EQ(Scan("<?xml?>")[0].kind, pkPI);
}

TEST(XmlParserDeclarations, EntitiesAndDefaults) {
    const std::string doc =
        "<!DOCTYPE r [\n"
        "  <!ELEMENT r (#PCDATA|e)*>\n"
        "  <!ELEMENT e EMPTY>\n"
        "  <!ATTLIST e d CDATA 'dv' f CDATA #FIXED 'fixed' i CDATA #IMPLIED\n"
        "              t (a|b) 'a' req ID #REQUIRED>\n"
        "  <!ENTITY who 'World'>\n"
        "  <!ENTITY nest '&who;!'>\n"
        "  <!ENTITY tag '<e i=\"1\"/>'>\n"
        "  <!NOTATION gif SYSTEM 'viewer'>\n"
        "]>\n"
        "<r>Hello &nest; &tag;<e f='mine'/></r>";
    XmlParser scanner;
    scanner.LoadFromBuffer(doc);
    const auto parts = Scan(scanner);
    EXPECT_EQ(scanner.RootName(), "r");
    ASSERT_NE(scanner.Elements().Node("r"), nullptr);
    EXPECT_EQ(scanner.Elements().Node("r")->ElemType, etMixed);
    EXPECT_EQ(scanner.Elements().Node("e")->ElemType, etEmpty);
    EXPECT_EQ(scanner.Elements().Node("e")->Count(), 5);
    EXPECT_NE(scanner.Notations().Node("gif"), nullptr);

    ASSERT_GE(parts.size(), 6u);
    EXPECT_EQ(parts[0].kind, pkDtd);
    EXPECT_EQ(parts[1].kind, pkStartTag);
    EXPECT_EQ(parts[2].kind, pkText);
    EXPECT_EQ(parts[2].text, "Hello World!");
    // The tag from the entity's text, with the declared defaults added.
    EXPECT_EQ(parts[3].kind, pkEmptyTag);
    EXPECT_EQ(parts[3].attrs, (Attrs{{"d", "dv"}, {"f", "fixed"}, {"i", "1"}, {"t", "a"}}));
    EXPECT_EQ(parts[4].kind, pkEmptyTag);
    // #FIXED replaces the given value.
    EXPECT_EQ(parts[4].attrs, (Attrs{{"d", "dv"}, {"f", "fixed"}, {"t", "a"}}));
    EXPECT_EQ(parts[5].kind, pkEndTag);

    // The value kinds of the first e.
    XmlParser again;
    again.LoadFromBuffer(doc);
    again.Rewind();
    while (again.NextPart() && again.PartKind() != pkEmptyTag) {
    }
    EXPECT_EQ(again.PartAttributes().Node("d")->ValueType, avDefault);
    EXPECT_EQ(again.PartAttributes().Node("f")->ValueType, avFixed);  // added, then fixed
    EXPECT_EQ(again.PartAttributes().Node("i")->ValueType, avImplied);
    EXPECT_EQ(again.PartAttributes().Node("t")->AttrType, atEnumeration);
}

TEST(XmlParserDeclarations, EntityInAttributeValue) {
    const std::string dtd = "<!DOCTYPE a [<!ENTITY e 'x&amp;y'><!ENTITY f '&e;&e;'>]>";
    EXPECT_EQ(ValueOf("[&f;]", dtd), "[x&yx&y]");
}

TEST(XmlParserDeclarations, ParameterEntitiesAndRewind) {
    const std::string doc =
        "<!DOCTYPE a [<!ENTITY % decl \"<!ENTITY e 'from-pe'>\"> %decl; %undeclared; ]>"
        "<a v='&e;'/>";
    XmlParser scanner;
    scanner.LoadFromBuffer(doc);
    auto parts = Scan(scanner);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].attrs, (Attrs{{"v", "from-pe"}}));
    EXPECT_NE(scanner.ParEntities().Node("decl"), nullptr);
    // A second pass jumps over the declaration it has read.
    parts = Scan(scanner);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].kind, pkDtd);
    EXPECT_EQ(parts[1].attrs, (Attrs{{"v", "from-pe"}}));
}

TEST(XmlParserDeclarations, DeclarationFoundSeesEachDeclaration) {
    struct Recorder : XmlParser {
        std::vector<DtdDeclarationKind> seen;
        void DeclarationFound(const DtdDeclaration& rec) override {
            seen.push_back(rec.ElementType);
        }
    } scanner;
    scanner.LoadFromBuffer(
        "<!DOCTYPE a [<!ELEMENT a ANY><!ATTLIST a x CDATA #IMPLIED><!ENTITY e 'v'>"
        "<!ENTITY % p 'v'><!NOTATION n PUBLIC 'p'><?pi x?><!-- c -->]><a/>");
    Scan(scanner);
    EXPECT_EQ(scanner.seen,
              (std::vector<DtdDeclarationKind>{deElement, deAttList, deEntity, deParEntity,
                                               deNotation, dePI, deComment}));
}

TEST(XmlParserDeclarations, ExternalSubsetAndEntityFromFiles) {
    test::TempDir dir;
    test::WriteText(dir / "ext.dtd",
                    "<!ENTITY ext SYSTEM 'sub/part.txt'><!ATTLIST a z CDATA 'zd'>");
    std::filesystem::create_directory(dir / "sub");
    test::WriteText(dir / "sub/part.txt", "external text");
    test::WriteText(dir / "doc.xml", "<!DOCTYPE a SYSTEM \"ext.dtd\"><a>&ext;</a>");
    XmlParser scanner;
    ASSERT_TRUE(scanner.ReadFile(dir / "doc.xml"));
    const auto parts = Scan(scanner);
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[1].attrs, (Attrs{{"z", "zd"}}));
    EXPECT_EQ(parts[2].text, "external text");
}

TEST(XmlParserEndOfData, NulEndsTheDataAndEndIsSticky) {
    XmlParser scanner;
    scanner.LoadFromBuffer(std::string("<a/>\0<b/>", 9));
    EXPECT_EQ(Scan(scanner).size(), 1u);
    EXPECT_FALSE(scanner.NextPart());
    EXPECT_FALSE(scanner.NextPart());
    EXPECT_EQ(scanner.DocText(), "<a/>");

    XmlParser empty;
    EXPECT_FALSE(empty.NextPart());
    EXPECT_TRUE(Scan("").empty());
    // "<" as the last byte is a tag with an empty name.
    const auto parts = Scan("x<");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].kind, pkStartTag);
    EXPECT_EQ(parts[1].name, "");
}

TEST(XmlParserEndOfData, ReadFileFailuresLeaveAnEmptyBuffer) {
    test::TempDir dir;
    XmlParser scanner;
    scanner.LoadFromBuffer("<a/>");
    EXPECT_FALSE(scanner.ReadFile(dir / "missing.xml"));
    EXPECT_FALSE(scanner.NextPart());
    EXPECT_FALSE(scanner.ReadFile(dir.Path()));  // a folder
    EXPECT_FALSE(scanner.NextPart());
    test::WriteText(dir / "ok.xml", "<a/>");
    ASSERT_TRUE(scanner.ReadFile(dir / "ok.xml"));
    EXPECT_EQ(scanner.SourceName(), dir / "ok.xml");
    EXPECT_EQ(Scan(scanner).size(), 1u);
}

TEST(XmlParserHostile, SelfReferenceAndExpansionAreBounded) {
    // A self-referring entity stops at the depth bound.
    const auto self = Scan("<!DOCTYPE a [<!ENTITY e 'x&e;'>]><a v='&e;'>&e;</a>");
    ASSERT_GE(self.size(), 3u);
    EXPECT_EQ(self[1].attrs[0].second.substr(0, 4), "xxxx");
    EXPECT_LE(self[1].attrs[0].second.size(), static_cast<size_t>(kMaxEntityDepth) + 8);
    EXPECT_EQ(self[2].text, std::string(kMaxEntityDepth, 'x'));

    // A billion laughs: the total expansion stays under the bound.
    std::string dtd = "<!DOCTYPE a [<!ENTITY l0 'ha'>";
    for (int i = 1; i <= 9; ++i) {
        dtd += "<!ENTITY l" + std::to_string(i) + " '";
        for (int k = 0; k < 10; ++k) {
            dtd += "&l" + std::to_string(i - 1) + ";";
        }
        dtd += "'>";
    }
    dtd += "]>";
    // The bound is per scan: each document here spends it on one place.
    const auto inValue = Scan(dtd + "<a v='&l9;'/>");
    ASSERT_EQ(inValue.size(), 2u);
    EXPECT_LE(inValue[1].attrs[0].second.size(), kMaxExpansionBytes + 64);
    EXPECT_GT(inValue[1].attrs[0].second.size(), 100000u);  // expanded up to the bound
    const auto inText = Scan(dtd + "<a>&l9;</a>");
    ASSERT_EQ(inText.size(), 4u);
    EXPECT_LE(inText[2].text.size(), kMaxExpansionBytes);
    EXPECT_GT(inText[2].text.size(), 100000u);

    // Parameter entities referring to themselves.
    EXPECT_EQ(Scan("<!DOCTYPE a [<!ENTITY % p '%p;%p;'> %p;]><a/>").size(), 2u);
}

TEST(XmlParserHostile, DeclaredDefaultsShareTheExpansionBound) {
    // One 100 KB default copied into 50 tags would be 5 MB of field text.
    std::string doc = "<!DOCTYPE r [<!ATTLIST a x CDATA '" + std::string(100000, 'd') + "'>]><r>";
    for (int i = 0; i < 50; ++i) {
        doc += "<a/>";
    }
    size_t total = 0;
    int withDefault = 0;
    for (const Part& part : Scan(doc)) {
        for (const auto& [name, value] : part.attrs) {
            total += value.size();
            withDefault += name == "x" ? 1 : 0;
        }
    }
    EXPECT_LE(total, kMaxExpansionBytes);
    EXPECT_GT(withDefault, 0);  // the first tags still get their default
}

TEST(XmlParserHostile, ListsStopGrowingAtTheirBound) {
    // Equal names insert at the front of the list; unbounded, this is quadratic.
    std::string doc = "<a";
    for (int i = 0; i < 3 * kMaxListEntries; ++i) {
        doc += " b='1'";
    }
    doc += "/>";
    const auto parts = Scan(doc);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].attrs.size(), static_cast<size_t>(kMaxListEntries));

    std::string dtd = "<!DOCTYPE a [";
    for (int i = 3 * kMaxListEntries; i > 0; --i) {
        dtd += "<!ENTITY e" + std::to_string(i) + " 'x'>";
    }
    dtd += "]><a>&e1;&e" + std::to_string(3 * kMaxListEntries) + ";</a>";
    const auto texts = Scan(dtd);
    ASSERT_EQ(texts.size(), 4u);
    // The first declarations are kept; those past the bound are unknown names.
    EXPECT_EQ(texts[2].text, "e1x");
}

TEST(XmlParserHostile, PercentWithoutSemicolonIsPassedOver) {
    const std::string doc = "<!DOCTYPE a [" + std::string(200000, '%') + "]><a/>";
    const auto parts = Scan(doc);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].kind, pkEmptyTag);
    const std::string amps = "<a>" + std::string(200000, '&') + "<b/>";
    EXPECT_EQ(Scan(amps).size(), 2u);  // the text is dropped whole: only "&"
}

TEST(XmlParserHostile, ExternalFileMustBeARegularFileOfBoundedSize) {
    test::TempDir dir;
    test::WriteText(dir / "big.ent", std::string(kMaxExternalFileSize + 1, 'x'));
    test::WriteText(dir / "doc.xml",
                    "<!DOCTYPE a [<!ENTITY big SYSTEM 'big.ent'><!ENTITY dir SYSTEM '.'>"
                    "<!ENTITY null SYSTEM '/dev/zero'>]><a>[&big;&dir;&null;]</a>");
    XmlParser scanner;
    ASSERT_TRUE(scanner.ReadFile(dir / "doc.xml"));
    const auto parts = Scan(scanner);
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[2].text, "[]");
}

TEST(XmlParserHostile, ExternalOpensAreCharged) {
    struct Counting : XmlParser {
        int opens = 0;
        std::unique_ptr<XmlParser> OpenExternal(const std::string&, const std::string&,
                                                const std::string&) override {
            ++opens;
            auto scanner = std::make_unique<XmlParser>();
            scanner->LoadFromBuffer("x");
            return scanner;
        }
    } scanner;
    std::string doc = "<!DOCTYPE a [<!ENTITY e SYSTEM 'e.txt'>]><a>";
    for (int i = 0; i < 5000; ++i) {
        doc += "&e;<!DOCTYPE b SYSTEM 'b.dtd'>";
    }
    scanner.LoadFromBuffer(doc + "</a>");
    const auto parts = Scan(scanner);
    EXPECT_GT(scanner.opens, 100);
    EXPECT_LE(scanner.opens, static_cast<int>(kMaxExpansionBytes / kExternalOpenCost));
    EXPECT_EQ(parts.back().kind, pkEndTag);  // and the document is read to its end
}

}  // namespace
}  // namespace parevo

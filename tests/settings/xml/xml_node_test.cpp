// The element tree: names, fields, text form, file writing and the lenient reader.
#include "settings/xml/xml_node.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#ifndef _WIN32
#include <sys/stat.h>
#endif
#ifndef _WIN32
#include <sys/wait.h>
#endif
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "support/temp_dir.h"
#ifndef _WIN32
#include "support/system_limits.h"
#endif

namespace parevo {
namespace {

using test::TempDir;

std::string Describe(const XmlNode& node, int level = 0) {
    std::string out(static_cast<size_t>(level), '.');
    out += node.Name();
    for (const XmlNodeField& f : node.Fields()) {
        out += " " + f.Name + "=[" + f.Value + "]";
    }
    out += "\n";
    for (int i = 0; i < node.ChildCount(); ++i) {
        out += Describe(*node.ChildAt(i), level + 1);
    }
    return out;
}

std::string Read(const std::string& text) {
    const auto root = ReadXmlText(text);
    return root ? Describe(*root) : "<none>";
}

TEST(XmlNode, NamesFieldsAndChildren) {
    XmlNode root("Settings");
    EXPECT_EQ(root.Name(), "settings");
    EXPECT_EQ(XmlNode("\xC4"
                      "BC")
                  .Name(),
              "\xC4"
              "bc");  // only A to Z change
    EXPECT_EQ(root.AddChild("ByteJump")->Name(), "bytejump");
    EXPECT_EQ(root.ChildCount(), 1);
    EXPECT_EQ(root.ChildAt(-1), nullptr);
    EXPECT_EQ(root.ChildAt(1), nullptr);
    ASSERT_NE(root.ChildAt(0), nullptr);

    XmlNode node("n");
    node.AddField("value", Variant("first"));
    node.AddField("value", Variant("second"));
    node.AddField("Other", Variant(-42));
    EXPECT_EQ(node.FieldIndex("value"), 0);
    EXPECT_EQ(node.FieldValue("value").AsText(), "first");
    EXPECT_EQ(node.FieldIndex("Value"), -1);
    EXPECT_EQ(node.FieldIndex("other"), -1);
    EXPECT_EQ(node.FieldValue("missing"), Variant(""));
    EXPECT_EQ(node.FieldValue("Other"), Variant("-42"));  // always text on the way out
    EXPECT_EQ(node.ToText(0), "<n value=\"first\" value=\"second\" Other=\"-42\" />\r\n");
}

TEST(XmlNode, VariantTextForms) {
    EXPECT_EQ(Variant(true).AsText(), "True");
    EXPECT_EQ(Variant(false).AsText(), "False");
    EXPECT_EQ(Variant(500).AsText(), "500");
    EXPECT_EQ(Variant(-7).AsText(), "-7");
    EXPECT_EQ(Variant(std::int64_t{-9000000000}).AsText(), "-9000000000");
    EXPECT_EQ(Variant("x y").AsText(), "x y");
    EXPECT_EQ(Variant(true).GetKind(), Variant::Kind::Boolean);
}

TEST(XmlNode, ToTextLayout) {
    XmlNode leaf("x");
    EXPECT_EQ(leaf.ToText(2), "  <x />\r\n");
    leaf.AddField("a", Variant(1));
    EXPECT_EQ(leaf.ToText(2), "  <x a=\"1\" />\r\n");

    XmlNode root("settings");
    root.AddChild("bytejump")->AddField("value", Variant(500));
    EXPECT_EQ(root.ToText(), "<settings>\r\n <bytejump value=\"500\" />\r\n</settings>\r\n");

    XmlNode deep("a");
    deep.AddChild("b")->AddChild("c");
    EXPECT_EQ(deep.ToText(), "<a>\r\n <b>\r\n  <c />\r\n </b>\r\n</a>\r\n");
}

TEST(XmlNode, FieldValuesAreEscapedAndReadBackExactly) {
    XmlNode node("a");
    const std::string value = std::string("x&amp;\"q\"<b>\tc\r\nd&#65;'e") + '\0' + "f";
    node.AddField("v", Variant(value));
    EXPECT_EQ(node.ToText(),
              "<a v=\"x&#38;amp;&quot;q&quot;&lt;b&gt;&#9;c&#13;&#10;d&#38;#65;'e&#0;f\" />\r\n");
    const auto back = ReadXmlText(node.ToText());
    ASSERT_TRUE(back);
    ASSERT_EQ(back->Fields().size(), 1u);
    EXPECT_EQ(back->Fields()[0].Value, value);
}

TEST(XmlNode, ReaderIsLenient) {
    EXPECT_EQ(Read(""), "<none>");
    EXPECT_EQ(Read("<?xml version=\"1.0\"?><!-- only a comment -->"), "<none>");
    EXPECT_EQ(Read("</x> text <root/><after/>"), "root\n");
    EXPECT_EQ(Read("<a><b></c><d/></a>"), "a\n.b\n.d\n");
    EXPECT_EQ(Read("<a><b>"), "a\n.b\n");
    EXPECT_EQ(Read("<a z=\"1\" a=\"2\"/>"), "a a=[2] z=[1]\n");
    EXPECT_EQ(Read("<A>text<![CDATA[<x/>]]><!-- <y/> --><?pi <z/>?><B/></A><c/>"), "a\n.b\n");
    // A value holding a raw double quote (a file written without escaping) is cut
    // there, and the elements after it become its children.
    EXPECT_EQ(Read("<s>\r\n <append value=\"a\"b\" />\r\n <bytejump value=\"5\" />\r\n</s>\r\n"),
              "s\n.append value=[a]\n..bytejump value=[5]\n");
}

TEST(XmlNode, FilesRoundTripAndWriteExactBytes) {
    TempDir dir;
    XmlNode root("settings");
    root.AddChild("append")->AddField("value", Variant("_trim"));
    root.WriteToFile(dir / "s.xml");
    EXPECT_EQ(test::ReadText(dir / "s.xml"),
              "<settings>\r\n <append value=\"_trim\" />\r\n</settings>\r\n");
    // Replaces the file; leaves no temporary file behind.
    test::WriteText(dir / "s.xml", std::string(10000, 'x'));
    root.WriteToFile(dir / "s.xml");
    EXPECT_EQ(test::ReadText(dir / "s.xml"), root.ToText());
    EXPECT_EQ(dir.List(), std::vector<std::string>{"s.xml"});
    const auto back = ReadXmlFile(dir / "s.xml");
    ASSERT_TRUE(back);
    EXPECT_EQ(Describe(*back), "settings\n.append value=[_trim]\n");
    EXPECT_EQ(ReadXmlFile(dir / "missing.xml"), nullptr);
}

TEST(XmlNode, MissingFolderIsAFileCreateError) {
    TempDir dir;
    XmlNode root("settings");
    try {
        root.WriteToFile(dir / "no-such-folder/s.xml");
        FAIL() << "no error";
    } catch (const FileCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + (dir / "no-such-folder/s.xml") +
                                             "\". No such file or directory");
    }
}

TEST(XmlNode, FailedWriteKeepsTheOldFile) {
    TempDir dir;
    XmlNode root("settings");
    // A read-only file is refused, as a direct write would be.
    test::WriteText(dir / "ro.xml", "old");
    std::filesystem::permissions(PathOf(dir / "ro.xml"), std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::group_read |
                                                             std::filesystem::perms::others_read);
#ifndef _WIN32
    if (::geteuid() != 0)  // permissions do not bind the superuser
#endif
    {
        EXPECT_THROW(root.WriteToFile(dir / "ro.xml"), FileCreateError);
        EXPECT_EQ(test::ReadText(dir / "ro.xml"), "old");
    }
#ifndef _WIN32
    // The new file cannot take the name (here the system refuses every rename).
    test::WriteText(dir / "s.xml", "old");
    EXPECT_EQ(test::RunLimited(test::kNoRenaming,
                               [&]() -> std::string {
                                   try {
                                       root.WriteToFile(dir / "s.xml");
                                   } catch (const FileCreateError&) {
                                       return {};
                                   }
                                   return "no error";
                               }),
              "");
    EXPECT_EQ(test::ReadText(dir / "s.xml"), "old");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"ro.xml", "s.xml"}));
#endif
}

#ifndef _WIN32
TEST(XmlNode, ShortWriteIsAStreamWriteError) {
    // A write that stops part-way (a full disk, here a file-size limit in a child
    // process): "Stream write error", and no temporary file left behind.
    TempDir dir;
    test::WriteText(dir / "s.xml", "old settings");
    std::string big(1 << 16, 'v');
    XmlNode root("r");
    root.AddField("v", Variant(big));
    const pid_t pid = ::fork();
    if (pid == 0) {
        struct rlimit limit {
            4096, 4096
        };
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            root.WriteToFile(dir / "s.xml");
        } catch (const StreamWriteError& e) {
            ::_exit(std::string(e.what()) == "Stream write error" ? 0 : 2);
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(4);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The old file is whole and the temporary file is gone.
    EXPECT_EQ(test::ReadText(dir / "s.xml"), "old settings");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"s.xml"});
}
#endif

// Write a random tree, read it back: the same tree. Values take every byte;
// field names of one element are distinct and written in ascending order, as
// the reader keeps them.
TEST(XmlNode, RandomTreesRoundTrip) {
    std::mt19937 rng(20261207);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const std::string nameChars = "abcdefghijklmnopqrstuvwxyz0123456789_:-.";
    auto name = [&] {
        std::string s(1, "abcdefghijklmnopqrstuvwxyz_:"[pick(28)]);
        for (int n = pick(6); n > 0; --n) {
            s += nameChars[static_cast<size_t>(pick(static_cast<int>(nameChars.size())))];
        }
        return s;
    };
    TempDir dir;
    for (int round = 0; round < 200; ++round) {
        XmlNode root(name());
        std::vector<XmlNode*> nodes{&root};
        for (int n = pick(30); n > 0; --n) {
            nodes.push_back(
                nodes[static_cast<size_t>(pick(static_cast<int>(nodes.size())))]->AddChild(name()));
        }
        for (XmlNode* node : nodes) {
            std::set<std::string> names;
            for (int n = pick(4); n > 0; --n) {
                names.insert(name());
            }
            for (const std::string& fieldName : names) {
                std::string value;
                for (int n = pick(12); n > 0; --n) {
                    value += static_cast<char>(pick(256));
                }
                node->AddField(fieldName, Variant(value));
            }
        }
        root.WriteToFile(dir / "t.xml");
        const auto back = ReadXmlFile(dir / "t.xml");
        ASSERT_TRUE(back);
        ASSERT_EQ(Describe(*back), Describe(root)) << "round " << round;
    }
}

TEST(XmlNode, DeepNestingNeitherOverflowsNorHangs) {
    std::string doc;
    for (int i = 0; i < 200000; ++i) {
        doc += "<a>";
    }
    auto root = ReadXmlText(doc);
    ASSERT_TRUE(root);
    int depth = 0;
    for (const XmlNode* n = root.get(); n->ChildCount() > 0; n = n->ChildAt(0)) {
        ++depth;
    }
    EXPECT_EQ(depth, 199999);
    root.reset();  // destroying it must not recurse either
}

}  // namespace
}  // namespace parevo

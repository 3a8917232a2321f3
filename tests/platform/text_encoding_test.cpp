// Every conversion between encodings, and the character rules that depend on them.
#include <gtest/gtest.h>

#include <string>

#include "platform/text_encoding.h"

namespace parevo {
namespace {

#ifndef _WIN32
TEST(TextEncoding, Cp437UpperHalfBecomesUtf8AndAsciiStays) {
    EXPECT_EQ(OemToNarrow("game.nds"), "game.nds");
    // 0x80 Ç, 0x81 ü, 0xE1 ß, 0x9E peseta sign, 0xB0 light shade, 0xFF no-break space.
    EXPECT_EQ(OemToNarrow("\x80\x81\xE1"), "\xC3\x87\xC3\xBC\xC3\x9F");
    EXPECT_EQ(OemToNarrow("\x9E"), "\xE2\x82\xA7");
    EXPECT_EQ(OemToNarrow("\xB0"), "\xE2\x96\x91");
    EXPECT_EQ(OemToNarrow("\xFF"), "\xC2\xA0");
}

#endif

TEST(TextEncoding, XmlTextIsUtf8OrTheWindows1252OfEarlierWindowsVersions) {
    const std::string utf8 = "Jeux-\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD";  // é, €, 中
    EXPECT_EQ(XmlTextToNarrow(utf8, true), utf8);
    EXPECT_EQ(XmlTextToNarrow(utf8, false), utf8);
    EXPECT_EQ(Windows1252ToUtf8("Jeux-\xE9 \x80 \x81"), "Jeux-\xC3\xA9 \xE2\x82\xAC \xC2\x81");
    const std::string old = "Jeux-\xE9";
#ifdef _WIN32
    EXPECT_EQ(XmlTextToNarrow(old, false), "Jeux-\xC3\xA9");
#else
    EXPECT_EQ(XmlTextToNarrow(old, false), old);      // a Linux name may be any bytes
#endif
}

TEST(TextEncoding, Utf8AndWideRoundTrip) {
    const std::string text = "Pok\xC3\xA9mon \xE3\x83\x95 \xF0\x9F\x98\x80";  // é, フ, 😀
    const std::wstring wide = Utf8ToWide(text);
    EXPECT_EQ(WideToUtf8(wide), text);
    if constexpr (sizeof(wchar_t) == 4) {
        EXPECT_EQ(wide.size(), 11u);
    } else {
        EXPECT_EQ(wide.size(), 12u);  // a surrogate pair
    }
    // What is no UTF-8 becomes U+FFFD, one byte at a time, and the rest goes on.
    EXPECT_EQ(Utf8ToWide("a\xFF\xC3"
                         "b"),
              (std::wstring{L'a', 0xFFFD, 0xFFFD, L'b'}));
    EXPECT_EQ(Utf8ToWide("\xC0\x80"), (std::wstring{0xFFFD, 0xFFFD}));  // overlong
    // Wide text that is no character comes out as U+FFFD.
    EXPECT_EQ(WideToUtf8(std::wstring{static_cast<wchar_t>(0xD800)}), "\xEF\xBF\xBD");
}

TEST(TextEncoding, Utf16PairsAreJoinedAndLoneSurrogatesReplaced) {
    EXPECT_EQ(Utf16ToUtf8(u"Pok\u00e9"), "Pok\xC3\xA9");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, u'x'}), "\xEF\xBF\xBDx");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDE00}), "\xEF\xBF\xBD");
}

TEST(TextEncoding, IsUtf8RefusesMalformedSequences) {
    struct Case {
        std::string text;
        bool utf8;
    };
    const Case cases[] = {
        {"", true},
        {"plain", true},
        {"\xC3\xA9", true},
        {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
        {"\xC3", false},              // cut off
        {"\xC0\xAF", false},          // overlong "/"
        {"\xE0\x80\xAF", false},      // overlong
        {"\xED\xA0\x80", false},      // a surrogate
        {"\xF4\x90\x80\x80", false},  // past Unicode
        {"\x82mon", false},           // code page 437 "é"
        {"a\xC3(", false},            // no continuation byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsUtf8(c.text), c.utf8) << c.text;
    }
}

TEST(TextEncoding, StoredNamesAreUtf8OrOem) {
    // A Unix tool's UTF-8 stays; anything else is read as the OEM code page.
    EXPECT_EQ(StoredNameToUtf8("Pok\xC3\xA9mon.nds"), "Pok\xC3\xA9mon.nds");
#ifndef _WIN32
    EXPECT_EQ(StoredNameToUtf8("Pok\x82mon.nds"), "Pok\xC3\xA9mon.nds");
#endif
}

TEST(TextEncoding, WideToNarrowStopsAtTheFirstZeroOrTheSize) {
    const wchar_t text[] = {L'a', L'b', 0, L'c'};
    EXPECT_EQ(WideToNarrow(text, 4), "ab");
    EXPECT_EQ(WideToNarrow(text, 1), "a");
    EXPECT_EQ(NarrowToWide(WideToNarrow(std::wstring(L"x"))), L"x");
}

TEST(TextEncoding, FirstCharactersNeverCutsInsideACharacter) {
    const std::string text = "\xC3\xA9t\xC3\xA9";  // "été"
    EXPECT_EQ(FirstUtf8Characters(text, 0), "");
    EXPECT_EQ(FirstUtf8Characters(text, 1), "\xC3\xA9");
    EXPECT_EQ(FirstUtf8Characters(text, 2), "\xC3\xA9t");
    EXPECT_EQ(FirstUtf8Characters(text, 3), text);
    EXPECT_EQ(FirstUtf8Characters(text, 9), text);
#ifndef _WIN32
    EXPECT_EQ(FirstCharacters(text, 2), "\xC3\xA9t");
#else
    EXPECT_EQ(FirstCharacters(text, 2), "\xC3\xA9");  // ANSI: bytes
#endif
}

TEST(TextEncoding, CaseIsIgnoredForAsciiLettersOnly) {
    EXPECT_TRUE(SameTextIgnoringCase("Game.NDS", "game.nds"));
    EXPECT_FALSE(SameTextIgnoringCase("game.nds", "game.nd"));
    EXPECT_FALSE(SameTextIgnoringCase("\xC3\xA9", "\xC3\x89"));  // é and É differ
    EXPECT_FALSE(SameTextIgnoringCase("[", "{"));                // 0x5B and 0x7B are no letters
    EXPECT_EQ(AsciiLower('Q'), 'q');
    EXPECT_EQ(AsciiUpper('q'), 'Q');
    EXPECT_EQ(AsciiUpper('@'), '@');
}

}  // namespace
}  // namespace parevo

// The manual page and --help name the same options.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "cli/cli_fixture.h"

namespace parevo {
namespace {

std::set<std::string> OptionsIn(const std::string& text, const std::regex& option) {
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it) {
        names.insert((*it)[1].str());
    }
    return names;
}

TEST_F(CliTest, TheManualPageListsEveryOptionOfHelpAndNoOther) {
    const Result help = Run({"--help"});
    ASSERT_EQ(help.exitCode, 0);
    const std::set<std::string> inHelp = OptionsIn(help.out, std::regex("(?:^|[ ,])(--?[a-z][a-z-]*)"));
    ASSERT_GT(inHelp.size(), 15u);

    const std::string page = test::ReadText(PAREVO_MAN_DIR "/parevo-cli.1");
    // The OPTIONS section: from its heading to the next one. Options are written
    // with escaped hyphens, after a .TP line's .B, .BI or .BR.
    const size_t start = page.find(".SH OPTIONS");
    ASSERT_NE(start, std::string::npos);
    const std::string section = page.substr(start, page.find(".SH ", start + 1) - start);
    std::string unescaped = std::regex_replace(section, std::regex(R"(\\-)"), "-");
    const std::set<std::string> inPage =
        OptionsIn(unescaped, std::regex(R"((?:^\.B[IR]? |, |" )(--?[a-z][a-z-]*))",
                                        std::regex::multiline));
    EXPECT_EQ(inPage, inHelp);
    // The exit codes the program uses are described.
    for (const char* code : {".B 0\n", ".B 1\n", ".B 2\n"}) {
        EXPECT_NE(page.find(code), std::string::npos) << code;
    }
}

}  // namespace
}  // namespace parevo

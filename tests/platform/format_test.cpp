#include "platform/format.h"

#include <gtest/gtest.h>

namespace parevo {
namespace {

TEST(Format, PipelineTemplatesFillExactly) {
    EXPECT_EQ(Format("rom (%s) %d of %d -> trimming %dkb (%02f%%), searched in %02fs",
                     {"0123 - Some ...", 1, 7, 2, 20.0, 0.0156}, '.'),
              "rom (0123 - Some ...) 1 of 7 -> trimming 2kb (20.00%), searched in 0.02s");
    EXPECT_EQ(Format("rom %d of %d -> saved %s to disk in %02fs", {7, 7, "a_trim.nds", 1.5}, '.'),
              "rom 7 of 7 -> saved a_trim.nds to disk in 1.50s");
    EXPECT_EQ(Format("rom %d of %d -> deleted %s", {2, 3, "a.nds"}, '.'),
              "rom 2 of 3 -> deleted a.nds");
    EXPECT_EQ(
        Format("rom %d of %d -> skipped deleting source; output file overwrote it.", {1, 1}, '.'),
        "rom 1 of 1 -> skipped deleting source; output file overwrote it.");
}

TEST(Format, HexIsUpperCaseWithoutLeadingZeros) {
    EXPECT_EQ(Format("%d bytes jumped. sanity check: $%x $%x $%x", {500, 0xFF, 0xFF, 0xFF}, '.'),
              "500 bytes jumped. sanity check: $FF $FF $FF");
    EXPECT_EQ(Format("$%x $%x $%x", {0, 0x0A, 0xAB}, '.'), "$0 $A $AB");
    EXPECT_EQ(Format("%x", {-1}, '.'), "FFFFFFFF");
}

TEST(Format, FixedPointUsesTwoDecimalsWidthTwoAndTheGivenSeparator) {
    EXPECT_EQ(Format("%02f", {20.0}, '.'), "20.00");
    EXPECT_EQ(Format("%02f", {20.0}, ','), "20,00");
    EXPECT_EQ(Format("%02f", {0.004}, '.'), "0.00");
    EXPECT_EQ(Format("%02f", {99.999}, '.'), "100.00");
    EXPECT_EQ(Format("%f", {1.0}, '.'), "1.00");
    EXPECT_EQ(Format("%.3f", {1.0}, '.'), "1.000");
    EXPECT_EQ(Format("%8f|%-8f|", {1.0, 1.0}, '.'), "    1.00|1.00    |");
}

TEST(Format, PercentAndWidths) {
    EXPECT_EQ(Format("100%%", {}, '.'), "100%");
    EXPECT_EQ(Format("[%5d][%-5d][%.3d]", {42, 42, 7}, '.'), "[   42][42   ][007]");
    EXPECT_EQ(Format("%d", {-12}, '.'), "-12");
    EXPECT_EQ(Format("%d", {9'000'000'000LL}, '.'), "9000000000");
}

TEST(Format, MismatchesAreProgrammingErrors) {
    EXPECT_THROW(Format("%d", {"text"}, '.'), std::invalid_argument);
    EXPECT_THROW(Format("%s", {1}, '.'), std::invalid_argument);
    EXPECT_THROW(Format("%d %d", {1}, '.'), std::invalid_argument);
    EXPECT_THROW(Format("%q", {1}, '.'), std::invalid_argument);
    EXPECT_THROW(Format("50%", {}, '.'), std::invalid_argument);
}

}  // namespace
}  // namespace parevo

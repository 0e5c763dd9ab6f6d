#include "globals.h"
#include "languagetable.h"
#include "tempappdir.h"

#include <gtest/gtest.h>

TEST(LanguageTable, UnescapesLineBreaks)
{
    EXPECT_EQ(LanguageTable::unescape("a\\r\\nb\\tc\\\\d"), QString("a\r\nb\tc\\d"));
    EXPECT_EQ(LanguageTable::unescape("trailing\\"), QString("trailing\\"));
}

TEST(LanguageTable, BadLinesAndMissingFilesAreSkipped)
{
    TempAppDir dir;
    ASSERT_TRUE(dir.writeFile("lan.tsv", "# comment\n7\tz\te\tt\tj\nxx\tbad\n99999\ttoo\tbig\n8\tonly\n"));
    EXPECT_EQ(LanguageTable::load(dir.filePath("lan.tsv")), 2);
    EXPECT_EQ(gaLanStr[4 * 7 + 1], QString("e"));
    EXPECT_EQ(gaLanStr[4 * 8 + 0], QString("only"));
    EXPECT_EQ(gaLanStr[4 * 8 + 1], QString());
    EXPECT_EQ(LanguageTable::load(dir.filePath("missing.tsv")), -1);
    EXPECT_EQ(gaLanStr[4 * 7 + 1], QString("e"));
}

TEST(LanguageTable, LanTextFollowsTheLanguageAndBounds)
{
    ASSERT_GT(LanguageTable::load(), 0);
    gLan = 1;
    EXPECT_EQ(lanText(156), QString("Unlogged"));
    EXPECT_EQ(lanText(-1), QString());
    EXPECT_EQ(lanText(5000), QString());
    gLan = 0;
}

#include "displaytext.h"

#include <gtest/gtest.h>

// Characters that reorder, hide or break the text around them are shown escaped;
// every printable character of any script is shown as it is.
TEST(DisplayText, DirectionControlAndFormatCharactersAreEscapedAndNothingElse)
{
    const struct
    {
        QString outside;
        QString shown;
    } cases[] = {
        {QString::fromUtf8("update_\u202Erar.exe"), "update_\\u202Erar.exe"},
        {QString::fromUtf8("a\u200Fb\u2066c\u2069d\u061Ce"), "a\\u200Fb\\u2066c\\u2069d\\u061Ce"},
        {QStringLiteral("line\nbreak\ttab\x1b[31m\x7f"), "line\\u000Abreak\\u0009tab\\u001B[31m\\u007F"},
        {QString::fromUtf8("zero\u200Bwidth\u2028sep"), "zero\\u200Bwidth\\u2028sep"},
        {QString::fromUtf8("tag\U000E0041"), "tag\\U000E0041"},
        {QString::fromUtf8("包 V18 パッケージ é \u05D0\u05D1 😀"), QString::fromUtf8("包 V18 パッケージ é \u05D0\u05D1 😀")},
        {QString(), QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(escapedForDisplay(c.outside), c.shown) << c.shown.toStdString();
}

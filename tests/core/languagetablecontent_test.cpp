// The compiled-in language table: quoted texts must stay exact (operators,
// stored records and peers read them) and no filled row may lack a language.
#include "globals.h"
#include "languagetable.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>

namespace {

struct QuotedRow {
    int row;
    const char* english;
};

// A spread over the subsystems: messages, main screen, keypads, parameters,
// IO names, camera view, ROI panel, statistics, network, disks.
const QuotedRow kQuotedRows[] = {
    {0, "Camera parameter file error!"},
    {2, "Func"},
    {5, "Move U"},
    {12, "Hide Set"},
    {22, "filter Size"},
    {31, "Point %1 "},
    {35, "Note: The polygon area with \r\n up to 20 vertices!"},
    {36, "The total number of area is limited, \r\n you could delete some and then add!"},
    {39, "Warning: The camera is unavailable, \r\n please check the connection!"},
    {47, "Don't Detect"},
    {58, "Return"},
    {120, "Alarm clear method:"},
    {121, "Confirm"},
    {123, "NO"},
    {127, "Stop Detection"},
    {134, "The camera was unavailable, \r\n please check the connection! \r\nWhether to eliminate the SN of \r\n camera?"},
    {136, "Start Detection"},
    {156, "Unlogged"},
    {157, "BS"},
    {160, "System parameter file error, please \r\n restore parameter group \r\n or contact supplier"},
    {176, "Motion correcte"},
    {190, "Ejector pulse when NG in prod, don't' alarm"},
    {203, "Iuput 4 used for"},
    {209, "Shut Down"},
    {217, "NG Records "},
    {218, "camera %1 detection %2 "},
    {234, "Whether to save the system \r\n parameter?"},
    {251, "deactive"},
    {265, "Safety door trigger detection"},
    {304, "RSV"},
    {306, "Thim"},
    {315, "Templates %1 / %2     %3"},
    {316, "NG %1 / Total %2      FPS %3"},
    {320, "There is not U disk, whether to \r\n insert one then try again?"},
    {357, "The password is wrong"},
    {360, "The number of camera has changed,\r\n please check the connection! \r\n Do you clear the camera SN code?"},
    {361, "%1 repeating, please revise!"},
    {378, "Transfer mold"},
    {441, "symbol"},
    {477, "1st"},
    {484, "8th"},
    {485, "3rd DLY"},
    {490, "8th DLY"},
    {541, "statistics"},
    {544, "Res statistics file error, please\r\nrestore parameter group\r\nor contact supplier"},
    {586, "Camera %1"},
    {603, "Unsuccessful communication with ZEl"},
    {612, "Default DNS"},
    {655, "Camera %1 lost for the %2 time!"},
    {657, "camera disconnect"},
    {686, "When the finished product is detected as NG, the ejector pin is not output, and the alarm does not stop the machine"},
    {701, "During %1 # re inspection"},
    {712, "Color: "},
    {720, "Production has reached the set number \n of times, please confirm and reset"},
    {723, "%1 % in production statistics export"},
    {726, "The image storage disk has been \n unplugged or has poor contact"},
    {732, "Start exporting production statistics data. The export progress can be viewed in the bottom right corner of the main interface"},
    {740, "night: from"},
    {747, "Blue min"},
    {755, "%1 detect"},
    {757, "When a mold cavity inspection alarm occurs, output O4 and stop the machine."},
    {762, "Show detect time"},
};

constexpr int kEnglish = 1;
constexpr int kRows = kLanguageTableSize / kLanguageCount;

class CompiledLanguageTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (QString& text : gaLanStr)
            text.clear();
        loaded = LanguageTable::load();
    }
    int loaded = 0;
};

} // namespace

TEST_F(CompiledLanguageTable, QuotedEnglishTextsAreExact)
{
    ASSERT_GT(loaded, 0);
    for (const QuotedRow& quoted : kQuotedRows)
        EXPECT_EQ(gaLanStr[kLanguageCount * quoted.row + kEnglish], QString::fromUtf8(quoted.english))
            << "row " << quoted.row;
    // Texts given in Chinese as well.
    EXPECT_EQ(gaLanStr[kLanguageCount * 121], QString::fromUtf8("确定"));
    EXPECT_EQ(gaLanStr[kLanguageCount * 122], QString::fromUtf8("是"));
    EXPECT_EQ(gaLanStr[kLanguageCount * 123], QString::fromUtf8("否"));
    EXPECT_EQ(gaLanStr[kLanguageCount * 156], QString::fromUtf8("未登录"));
}

TEST_F(CompiledLanguageTable, EveryFilledRowHasAllLanguagesOnce)
{
    int filled = 0;
    for (int row = 0; row < kRows; ++row) {
        int present = 0;
        for (int language = 0; language < kLanguageCount; ++language)
            present += gaLanStr[kLanguageCount * row + language].isEmpty() ? 0 : 1;
        if (present == 0)
            continue;
        ++filled;
        EXPECT_EQ(present, kLanguageCount) << "row " << row;
    }
    // Every line is a distinct row: a repeated row number would silently hide a line.
    EXPECT_EQ(loaded, filled);
    EXPECT_GE(filled, 300);
    EXPECT_FALSE(gaLanStr[kLanguageCount * 762 + 3].isEmpty());
}

TEST_F(CompiledLanguageTable, PlaceholdersSurviveTranslation)
{
    // Each language must keep the %n markers its English text carries, or QString::arg
    // leaves the number out (row 218 in Japanese is allowed only %1 and %2 as well).
    const QRegularExpression marker(QStringLiteral("%[1-9]"));
    for (int row = 0; row < kRows; ++row) {
        const QString& english = gaLanStr[kLanguageCount * row + kEnglish];
        if (english.isEmpty())
            continue;
        QSet<QString> wanted;
        for (auto it = marker.globalMatch(english); it.hasNext();)
            wanted.insert(it.next().captured());
        for (int language = 0; language < kLanguageCount; ++language) {
            QSet<QString> have;
            for (auto it = marker.globalMatch(gaLanStr[kLanguageCount * row + language]); it.hasNext();)
                have.insert(it.next().captured());
            EXPECT_EQ(have, wanted) << "row " << row << " language " << language;
        }
    }
}

#include "paramdbfixture.h"

#include "globals.h"
#include "miscfunc.h"
#include "paramdatabase.h"

#include <QJsonValue>
#include <QSqlQuery>

#include <vector>

TEST(MiscFuncTest, GreyUsesTheTableWeightsByBytePosition)
{
    EXPECT_EQ(gaRGB2Gray[255], 78074);
    EXPECT_EQ(gaRGB2Gray[256 + 255], 153277);
    EXPECT_EQ(gaRGB2Gray[512 + 255], 29767);
    int pixels[4] = {0x00FFFFFF, 0x00FF0000, 0x000000FF, 0x7F000000};
    unsigned char grey[4];
    RGBA2Gray(grey, pixels, 2, 2);
    EXPECT_EQ(grey[0], 254); // white
    EXPECT_EQ(grey[1], 29);  // byte 2 only
    EXPECT_EQ(grey[2], 76);  // byte 0 only
    EXPECT_EQ(grey[3], 0);   // byte 3 ignored
    grey[0] = 9;
    RGB2Gray(grey, pixels, 0, 5);
    EXPECT_EQ(grey[0], 9);
}

TEST(MiscFuncTest, HueSectorsAndTies)
{
    EXPECT_EQ(RGB2HueByte(255, 0, 0), 0);
    EXPECT_EQ(RGB2HueByte(0, 255, 0), 85);
    EXPECT_EQ(RGB2HueByte(0, 0, 255), 170);
    EXPECT_EQ(RGB2HueByte(255, 0, 1), 254);
    EXPECT_EQ(RGB2HueByte(0, 0, 0), 0);
    EXPECT_EQ(RGB2HueByte(7, 7, 7), 0);
    int pixel = 0x0000FF00; // byte 1
    unsigned char hue = 0;
    RGBA2Hue(&hue, &pixel, 1, 1);
    EXPECT_EQ(hue, 85);
    unsigned char g = 0x40;
    int word = 0;
    Gray2RGBA(&g, &word, 1, 1);
    EXPECT_EQ(word, 0x404040);
}

TEST(MiscFuncTest, MoveImageShiftsAndZeroFills)
{
    cv::Mat src(4, 8, CV_8UC1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            src.at<unsigned char>(y, x) = static_cast<unsigned char>(10 * y + x + 1);
    cv::Mat dst(4, 8, CV_8UC1, cv::Scalar(99));
    MoveImage(src, dst, 5, 1);
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(dst.at<unsigned char>(2, x), 0);
    EXPECT_EQ(dst.at<unsigned char>(2, 5), src.at<unsigned char>(1, 0));
    EXPECT_EQ(cv::countNonZero(dst.row(0)), 0);

    cv::Mat wide(4, 16, CV_8UC1, cv::Scalar(0));
    cv::Mat view = wide(cv::Rect(4, 0, 8, 4)); // a strided destination
    MoveImage(src, view, -2, 0);
    EXPECT_EQ(view.at<unsigned char>(0, 0), src.at<unsigned char>(0, 2));
    EXPECT_EQ(wide.at<unsigned char>(0, 0), 0);

    // Every shift, also beyond the frame, and destinations larger or smaller
    // than the source: pixel x, y is source x - dx, y - dy inside both, else 0.
    for (const cv::Size size : {cv::Size(8, 4), cv::Size(11, 6), cv::Size(5, 3)}) {
        for (int dy = -5; dy <= 5; ++dy) {
            for (int dx = -10; dx <= 10; ++dx) {
                cv::Mat out(size, CV_8UC1, cv::Scalar(99));
                MoveImage(src, out, dx, dy);
                for (int y = 0; y < out.rows; ++y) {
                    for (int x = 0; x < out.cols; ++x) {
                        const int sx = x - dx, sy = y - dy;
                        const bool inside = x < src.cols && y < src.rows && sx >= 0 && sy >= 0 && sx < src.cols
                                            && sy < src.rows && sx < out.cols && sy < out.rows;
                        ASSERT_EQ(out.at<unsigned char>(y, x), inside ? src.at<unsigned char>(sy, sx) : 0)
                            << size << " shift " << dx << "," << dy << " at " << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST(MiscFuncTest, TransformImageShiftsThenTurnsAboutThePoint)
{
    cv::Mat src(40, 60, CV_8UC1, cv::Scalar(0));
    src.at<unsigned char>(10, 30) = 255;
    cv::Mat dst;
    TransformImage(src, dst, cv::Point(3, 0), cv::Point(30, 20), 0.0);
    ASSERT_EQ(dst.size(), src.size());
    EXPECT_EQ(dst.at<unsigned char>(10, 33), 255);
    // Half a turn about (33, 20) after the shift: (33, 10) goes to (33, 30).
    TransformImage(src, dst, cv::Point(3, 0), cv::Point(33, 20), 180.0);
    EXPECT_GT(dst.at<unsigned char>(30, 33), 200);

    // A destination of the right size is written in place (the engine's check buffer).
    std::vector<unsigned char> buffer(40 * 60);
    cv::Mat view(40, 60, CV_8UC1, buffer.data());
    TransformImage(src, view, cv::Point(3, 0), cv::Point(30, 20), 0.0);
    EXPECT_EQ(view.data, buffer.data());
    EXPECT_EQ(buffer[10 * 60 + 33], 255);

    // An empty frame gives an empty result instead of an OpenCV exception.
    cv::Mat none;
    EXPECT_NO_THROW(TransformImage(cv::Mat(), none, cv::Point(1, 1), cv::Point(0, 0), 10.0));
    EXPECT_TRUE(none.empty());
}

TEST(MiscFuncTest, TolerancesAndScreenClamps)
{
    EXPECT_TRUE(PointAround({0, 0}, {2, 2}, 1));
    EXPECT_FALSE(PointAround({0, 0}, {3, 0}, 1));
    EXPECT_TRUE(PointAround({0, 0}, {49, 49}, 100));
    EXPECT_FALSE(PointAround({0, 0}, {50, 0}, 100));
    EXPECT_TRUE(LineAround(10, 12, 15, 0, 20, 1));
    EXPECT_FALSE(LineAround(10, 12, 21, 0, 20, 1));

    gShowW = 1024;
    gShowH = 600;
    for (const auto& [in, out] : {std::pair{2, 3}, {598, 597}, {597, 597}, {300, 300}}) {
        int v = in;
        CheckInRange(&v, 0, 0, 0);
        EXPECT_EQ(v, out) << in;
    }
    QRect r(QPoint(-10, 50), QPoint(90, 150));
    CheckInRange(&r, 0, 0, true);
    EXPECT_EQ(r, QRect(QPoint(3, 50), QPoint(103, 150)));
    QRect swapped(QPoint(1100, 700), QPoint(1000, 500));
    CheckInRange(&swapped, 0, 0, false);
    EXPECT_EQ(swapped, QRect(QPoint(1000, 500), QPoint(1021, 597)));
    QRect moved(QPoint(1000, 10), QPoint(1050, 20));
    CheckInRange(&moved, 0, 0, true);
    EXPECT_EQ(moved, QRect(QPoint(971, 10), QPoint(1021, 20)));
    gShowW = 1920;
    gShowH = 1080;
}

TEST(MiscFuncTest, JsonStringsOnly)
{
    const QJsonArray array{QString("a"), 1, QString("b"), QJsonValue()};
    EXPECT_EQ(jsonArray2StringList(array), (QStringList{"a", "b"}));
}

using SchemaTest = ParamDbTest;

TEST_F(SchemaTest, AddsAMissingColumnOnce)
{
    exec("create table RECORD (recordtime text, recordpassword text, remarks text)");
    QSqlDatabase db = QSqlDatabase::database("dbIn");
    EXPECT_FALSE(columnExists(db, "RECORD", "recordtype"));
    EXPECT_TRUE(addColumnIfNotExists(db, "RECORD", "recordtype", "TEXT"));
    EXPECT_TRUE(columnExists(db, "RECORD", "recordtype"));
    EXPECT_FALSE(addColumnIfNotExists(db, "RECORD", "recordtype", "TEXT"));
    // Names are identifiers, never statement text.
    EXPECT_FALSE(addColumnIfNotExists(db, "RECORD", "x", "TEXT; drop table RECORD"));
    EXPECT_FALSE(addColumnIfNotExists(db, "RECORD); drop table RECORD; --", "y", "TEXT"));
    QSqlQuery query(db);
    ASSERT_TRUE(query.exec("select count(*) from RECORD"));
}

TEST_F(SchemaTest, ParameterTablesAreCreatedOnceAndKeepTheirRows)
{
    // The fixture made them already: a second run must neither fail nor empty them.
    exec("insert into cammer7 (name, value) values ('detect0', '1 2 3')");
    QSqlDatabase db = QSqlDatabase::database("dbIn");
    ASSERT_TRUE(ParamDatabase::createTables(db));
    QSqlQuery query(db);
    ASSERT_TRUE(query.exec("select value from cammer7 where name = 'detect0'"));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toString(), QString("1 2 3"));
    for (const char* column : {"name", "value"})
        EXPECT_TRUE(columnExists(db, "sysparam", column));
}

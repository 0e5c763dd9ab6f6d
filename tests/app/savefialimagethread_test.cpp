#include "shellfixture.h"

#include "clock.h"
#include "failpicture.h"
#include "globals.h"
#include "qttesthelpers.h"
#include "savefialimagethread.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QMutexLocker>
#include <QTest>

#include <vector>

namespace {
constexpr int kW = 32;
constexpr int kH = 16;

class SaveFailImageTest : public AppDirTest
{
protected:
    void SetUp() override
    {
        resetShellGlobals();
        Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53)));
        gPicNumNG = 3;
        gPicNumOK = 3;
        for (int slot = 0; slot < 2; ++slot) {
            storePicture(slot);
            gpFailImage[1][2][slot] = &pictures[slot];
        }
    }
    // What the detection cycle does before it marks a slot.
    void storePicture(int slot)
    {
        const std::vector<QRgb> pixels(kW * kH, slot == 0 ? 0xFFFF0000u : 0xFF00FF00u);
        pictures[slot].store(pixels.data(), kW, kH);
    }
    void TearDown() override
    {
        writer.stop();
        resetShellGlobals();
        Clock::reset();
    }

    FailPicture pictures[2];
    SaveFialImageThread writer;
};
}

TEST_F(SaveFailImageTest, NgImageIsNamedByItsFirstNgRoiAndTheIndexIsTaken)
{
    QSignalSpy saved(&writer, &SaveFialImageThread::sigImageSaved);
    gisSaveFail[1][2][0] = 1;
    gFailIndex[1][2] = 3;
    EXPECT_EQ(writer.saveOnce(), 1);
    const QString path = "./alarmimage/camera2/detect3/NG/3_2026-03-14_09.26.53.jpg";
    ASSERT_TRUE(QFile::exists(path));
    const QImage image(path);
    EXPECT_EQ(image.size(), QSize(kW, kH));
    EXPECT_GT(qRed(image.pixel(5, 5)), 200);
    EXPECT_EQ(gisSaveFail[1][2][0], 0);
    EXPECT_EQ(gFailIndex[1][2], 0);
    ASSERT_EQ(saved.count(), 1);
    EXPECT_EQ(saved[0][0].toInt(), 1);
    EXPECT_EQ(saved[0][1].toInt(), 2);
    EXPECT_FALSE(saved[0][2].toBool());
    EXPECT_EQ(saved[0][3].toString(), path);
    EXPECT_EQ(writer.saveOnce(), 0) << "nothing pending";
}

TEST_F(SaveFailImageTest, OkImageHasNoPrefixAndLeavesThePendingNgNumber)
{
    gisSaveFail[1][2][1] = 1;
    gFailIndex[1][2] = 5;
    EXPECT_EQ(writer.saveOnce(), 1);
    EXPECT_TRUE(QFile::exists("./alarmimage/camera2/detect3/OK/2026-03-14_09.26.53.jpg"));
    EXPECT_EQ(gFailIndex[1][2], 5);
}

TEST_F(SaveFailImageTest, TwoPicturesInOneSecondAreBothKept)
{
    gisSaveFail[1][2][0] = 1;
    gFailIndex[1][2] = 2;
    writer.saveOnce();
    EXPECT_TRUE(pictures[0].isEmpty()) << "taken out of the table";
    gisSaveFail[1][2][0] = 1;
    gFailIndex[1][2] = 2;
    EXPECT_EQ(writer.saveOnce(), 0) << "marked without a new picture: nothing stale is written";
    storePicture(0);
    gisSaveFail[1][2][0] = 1;
    gFailIndex[1][2] = 2;
    writer.saveOnce();
    EXPECT_EQ(QDir("./alarmimage/camera2/detect3/NG").entryList(QDir::Files, QDir::Name),
              (QStringList{"2_2026-03-14_09.26.53.jpg", "2_2026-03-14_09.26.53_2.jpg"}));
}

TEST_F(SaveFailImageTest, OldestPicturesBeyondTheLimitAreDeleted)
{
    const QString folder = "./alarmimage/camera2/detect3/NG";
    QDir().mkpath(folder);
    for (int i = 0; i < 4; ++i) {
        QFile file(QStringLiteral("%1/old%2.jpg").arg(folder).arg(i));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
        file.setFileTime(QDateTime(QDate(2026, 3, 1 + i), QTime(8, 0)), QFileDevice::FileModificationTime);
    }
    QFile note(folder + "/note.txt");
    ASSERT_TRUE(note.open(QIODevice::WriteOnly));
    note.close();

    gisSaveFail[1][2][0] = 1;
    writer.saveOnce();
    const QStringList left = QDir(folder).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(left, (QStringList{"2026-03-14_09.26.53.jpg", "note.txt", "old2.jpg", "old3.jpg"}));
}

TEST_F(SaveFailImageTest, TheThreadPollsTheTable)
{
    writer.start();
    {
        QMutexLocker lock(pMutexSaveFail);
        gisSaveFail[1][2][0] = 1;
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("./alarmimage/camera2/detect3/NG/2026-03-14_09.26.53.jpg"), 2000);
    writer.stop();
    EXPECT_TRUE(writer.isFinished());
}

TEST_F(SaveFailImageTest, PicturesMarkedBeforeTheStopAreStillWritten)
{
    {
        QMutexLocker lock(pMutexSaveFail);
        gisSaveFail[1][2][0] = 1;
        gisSaveFail[1][2][1] = 1;
    }
    // Stopped at once (a restart right after an NG): the last pass writes them.
    writer.start();
    writer.stop();
    EXPECT_EQ(QDir("./alarmimage/camera2/detect3/NG").entryList({"*.jpg"}, QDir::Files).size(), 1);
    EXPECT_EQ(QDir("./alarmimage/camera2/detect3/OK").entryList({"*.jpg"}, QDir::Files).size(), 1);
}

// The table holds pictures packed (grey levels plus marks); the file must be
// the very JPEG the 32-bit picture gave when the table held it whole, for a
// grey camera's marked picture as for a colour one.
TEST_F(SaveFailImageTest, WrittenJpegIsTheOneTheFullPictureGives)
{
    QImage grey(320, 200, QImage::Format_RGB32);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) {
            const int v = (x * 3 + y * 5 + (x * y) % 17) % 256;
            grey.setPixel(x, y, qRgb(v, v, v));
        }
    {
        QPainter painter(&grey);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::red);
        painter.drawRect(QRect(40, 30, 60, 50));
        QFont font("wqy-microhei");
        font.setPixelSize(26);
        painter.setFont(font);
        painter.drawText(QPoint(5, 80), QStringLiteral("NG 3: 25/60 / 72"));
        painter.setPen(Qt::green);
        painter.drawEllipse(QPoint(200, 120), 40, 30);
    }
    QImage colour(320, 200, QImage::Format_RGB32);
    for (int y = 0; y < colour.height(); ++y)
        for (int x = 0; x < colour.width(); ++x)
            colour.setPixel(x, y, qRgb(x % 256, y, (x ^ y) % 256));

    for (const QImage* original : {&grey, &colour}) {
        QByteArray expected;
        QBuffer buffer(&expected);
        ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
        ASSERT_TRUE(original->save(&buffer, "JPG"));

        QDir("./alarmimage").removeRecursively();
        FailPicture packed;
        packed.store(reinterpret_cast<const QRgb*>(original->constBits()), original->width(), original->height());
        gpFailImage[1][2][0] = &packed;
        gisSaveFail[1][2][0] = 1;
        ASSERT_EQ(writer.saveOnce(), 1);
        QFile file("./alarmimage/camera2/detect3/NG/2026-03-14_09.26.53.jpg");
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll() == expected) << (original == &grey ? "grey" : "colour");
    }
}

// A picture the writer had not taken when the next cycle marked the same slot is lost: it is told.
TEST_F(SaveFailImageTest, APictureReplacedBeforeItWasWrittenIsTold)
{
    MessageLog log;
    const auto told = [&log] { return log.lines.filter("replaced before it was written"); };
    SaveFialImageThread::markPicture(1, 2, 0, "cycle-a");
    SaveFialImageThread::markPicture(1, 2, 0, "cycle-a");  // the same cycle again (a Re-detect): nothing lost
    EXPECT_TRUE(told().isEmpty());
    SaveFialImageThread::markPicture(1, 2, 0, "cycle-b");
    EXPECT_EQ(writer.saveOnce(), 1);
    SaveFialImageThread::markPicture(1, 2, 0, "cycle-c");  // the slot was free again
    EXPECT_EQ(told(), QStringList{"picture of camera 2, detection 3 (NG) of cycle cycle-a replaced before it was written"});
}

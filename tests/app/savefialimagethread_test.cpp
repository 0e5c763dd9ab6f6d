#include "shellfixture.h"

#include "clock.h"
#include "globals.h"
#include "savefialimagethread.h"

#include <QDir>
#include <QFile>
#include <QImage>
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
            pixels[slot].assign(kW * kH, slot == 0 ? 0xFFFF0000u : 0xFF00FF00u);
            gpFailImage[1][2][slot] = reinterpret_cast<unsigned char*>(pixels[slot].data());
        }
        writer.setImageSize(1, kW, kH);
    }
    void TearDown() override
    {
        writer.stop();
        resetShellGlobals();
        Clock::reset();
    }

    std::vector<quint32> pixels[2];
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

#include "shellfixture.h"

#include "clock.h"
#include "failpicture.h"
#include "globals.h"
#include "qttesthelpers.h"
#include "savefialimagethread.h"
#include "terminationsignals.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QFileInfo>
#include <QMap>
#include <QMutexLocker>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <unistd.h>
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
    void storePicture(int slot, QRgb colour = 0)
    {
        const std::vector<QRgb> pixels(kW * kH, colour ? colour : slot == 0 ? 0xFFFF0000u : 0xFF00FF00u);
        QMutexLocker lock(pMutexSaveFail);
        pictures[slot].store(pixels.data(), kW, kH);
    }
    void TearDown() override
    {
        writer.stop();
        resetShellGlobals();
        Clock::reset();
    }

    // What the camera unit and the detection cycle do for one camera's picture.
    void markNew(int camera, int detection, int slot, const QString& cycleId, QRgb colour, QSize size = QSize(kW, kH))
    {
        FailPicture& stored = table[camera][detection][slot];
        {
            const std::vector<QRgb> pixels(size.width() * size.height(), colour);
            QMutexLocker lock(pMutexSaveFail);
            stored.store(pixels.data(), size.width(), size.height());
            gpFailImage[camera][detection][slot] = &stored;
        }
        SaveFialImageThread::markPicture(camera, detection, slot, cycleId);
    }

    FailPicture pictures[2];
    FailPicture table[kMaxCameras][kMaxDetections][2];
    SaveFialImageThread writer;
};
}

TEST_F(SaveFailImageTest, NgImageIsNamedByItsFirstNgRoiAndTheIndexIsTaken)
{
    QSignalSpy saved(&writer, &SaveFialImageThread::sigImageSaved);
    gFailIndex[1][2] = 3;
    SaveFialImageThread::markPicture(1, 2, 0, "cycle-a");
    EXPECT_EQ(gisSaveFail[1][2][0], 1) << "waits for the writer";
    EXPECT_EQ(gFailIndex[1][2], 0) << "taken with its picture";
    EXPECT_EQ(writer.saveOnce(), 1);
    const QString path = "./alarmimage/camera2/detect3/NG/3_2026-03-14_09.26.53.jpg";
    ASSERT_TRUE(QFile::exists(path));
    const QImage image(path);
    EXPECT_EQ(image.size(), QSize(kW, kH));
    EXPECT_GT(qRed(image.pixel(5, 5)), 200);
    EXPECT_EQ(gisSaveFail[1][2][0], 0);
    ASSERT_EQ(saved.count(), 1);
    EXPECT_EQ(saved[0][0].toInt(), 1);
    EXPECT_EQ(saved[0][1].toInt(), 2);
    EXPECT_FALSE(saved[0][2].toBool());
    EXPECT_EQ(saved[0][3].toString(), path);
    EXPECT_EQ(saved[0][4].toString(), "cycle-a");
    EXPECT_EQ(writer.saveOnce(), 0) << "nothing pending";
}

TEST_F(SaveFailImageTest, OkImageHasNoPrefixAndLeavesThePendingNgNumber)
{
    gFailIndex[1][2] = 5;
    SaveFialImageThread::markPicture(1, 2, 1, "");
    EXPECT_EQ(writer.saveOnce(), 1);
    EXPECT_TRUE(QFile::exists("./alarmimage/camera2/detect3/OK/2026-03-14_09.26.53.jpg"));
    EXPECT_EQ(gFailIndex[1][2], 5);
}

TEST_F(SaveFailImageTest, TwoPicturesInOneSecondAreBothKept)
{
    gFailIndex[1][2] = 2;
    SaveFialImageThread::markPicture(1, 2, 0, "");
    EXPECT_TRUE(pictures[0].isEmpty()) << "taken out of the table";
    writer.saveOnce();
    gFailIndex[1][2] = 2;
    SaveFialImageThread::markPicture(1, 2, 0, "");
    EXPECT_EQ(writer.saveOnce(), 0) << "marked without a new picture: nothing stale is written";
    storePicture(0);
    SaveFialImageThread::markPicture(1, 2, 0, "");
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

    SaveFialImageThread::markPicture(1, 2, 0, "");
    writer.saveOnce();
    const QStringList left = QDir(folder).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(left, (QStringList{"2026-03-14_09.26.53.jpg", "note.txt", "old2.jpg", "old3.jpg"}));
}

TEST_F(SaveFailImageTest, TheThreadWritesWhatIsMarked)
{
    writer.start();
    SaveFialImageThread::markPicture(1, 2, 0, "");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("./alarmimage/camera2/detect3/NG/2026-03-14_09.26.53.jpg"), 2000);
    writer.stop();
    EXPECT_TRUE(writer.isFinished());
}

TEST_F(SaveFailImageTest, PicturesMarkedBeforeTheStopAreStillWritten)
{
    SaveFialImageThread::markPicture(1, 2, 0, "");
    SaveFialImageThread::markPicture(1, 2, 1, "");
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
        SaveFialImageThread::markPicture(1, 2, 0, "");
        ASSERT_EQ(writer.saveOnce(), 1);
        QFile file("./alarmimage/camera2/detect3/NG/2026-03-14_09.26.53.jpg");
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll() == expected) << (original == &grey ? "grey" : "colour");
    }
}


namespace {
int redOf(const QString& path)
{
    return qRed(QImage(path).pixel(kW / 2, kH / 2));
}
} // namespace

// The next cycles' pictures of a camera come before the writer took the first: all are
// written, in order, each with its own cycle, first NG ROI and the time it was taken.
TEST_F(SaveFailImageTest, AnNgPictureIsNeverReplacedBeforeItIsWritten)
{
    gPicNumNG = 10;
    QSignalSpy saved(&writer, &SaveFialImageThread::sigImageSaved);
    for (int i = 0; i < 4; ++i) {
        storePicture(0, qRgb(40 + 50 * i, 0, 0));
        gFailIndex[1][2] = i + 1;   // as the camera unit records its first NG ROI
        SaveFialImageThread::markPicture(1, 2, 0, QStringLiteral("cycle-%1").arg(i));
        Clock::advance(2000);
    }
    Clock::advance(30000);   // the writers lag behind the moulds
    ASSERT_EQ(writer.saveOnce(), 4);
    ASSERT_EQ(saved.count(), 4);
    for (int i = 0; i < 4; ++i) {
        const QString path = saved[i][3].toString();
        EXPECT_EQ(saved[i][4].toString(), QStringLiteral("cycle-%1").arg(i));
        EXPECT_EQ(QFileInfo(path).fileName(), QStringLiteral("%1_2026-03-14_09.26.%2.jpg").arg(i + 1).arg(53 + 2 * i)) << path.toStdString();
        EXPECT_NEAR(redOf(path), 40 + 50 * i, 4) << path.toStdString();
    }
}

// Pictures come faster than they are written: each one is written or, lost, named with its
// camera, detection, result and cycle, or its time when it has no cycle id (networking and
// API off), in one line per reason however many there are.
TEST_F(SaveFailImageTest, EveryPictureIsWrittenOrNamedAsLost)
{
    gPicNumNG = 1000;
    MessageLog log;
    constexpr int kMarked = 60;
    QStringList names;
    for (int i = 0; i < kMarked; ++i) {
        const int camera = i % kMaxCameras, detection = i % 2;   // several of every slot
        const QString cycleId = i % 3 == 0 ? QStringLiteral("cycle-%1").arg(i) : QString();
        markNew(camera, detection, 0, cycleId, 0xFFFF0000u);
        const QString picture = QStringLiteral("camera %1, detection %2 (NG)").arg(camera + 1).arg(detection + 1);
        names << (cycleId.isEmpty() ? picture + " taken at 2026-03-14 09:26:53.000" : picture + " of cycle " + cycleId);
    }
    QSignalSpy saved(&writer, &SaveFialImageThread::sigImageSaved);
    const int written = writer.saveOnce();
    QStringList accounted;
    for (const QList<QVariant>& picture : saved) {
        const QString name = QStringLiteral("camera %1, detection %2 (NG)").arg(picture[0].toInt() + 1).arg(picture[1].toInt() + 1);
        const QString id = picture[4].toString();
        accounted << (id.isEmpty() ? name + " taken at 2026-03-14 09:26:53.000" : name + " of cycle " + id);
    }
    const QStringList lines = log.lines.filter(" not written");
    EXPECT_EQ(lines.size(), written < kMarked ? 1 : 0) << log.lines.join('\n').toStdString();
    for (const QString& line : lines)
        accounted << line.section(": ", 1).split("; ");
    std::sort(names.begin(), names.end());
    std::sort(accounted.begin(), accounted.end());
    EXPECT_EQ(accounted, names);
}

// A full queue gives up its oldest OK pictures for NG ones; with no OK picture left the
// new picture is the one lost.
TEST_F(SaveFailImageTest, AFullQueueDropsOkPicturesBeforeNgOnes)
{
    gPicNumNG = gPicNumOK = 1000;
    MessageLog log;
    constexpr int kFull = SaveFialImageThread::kMaxQueued;
    QStringList expectedLost;
    const auto name = [](int camera, int detection, const char* result) {
        return QStringLiteral("camera %1, detection %2 (%3) taken at 2026-03-14 09:26:53.000").arg(camera + 1).arg(detection + 1).arg(result);
    };
    for (int i = 0; i < kFull; ++i) {   // half NG, half OK
        const int camera = i % kMaxCameras, detection = i / kMaxCameras, slot = i % 2;
        markNew(camera, detection, slot, "", slot == 0 ? 0xFFFF0000u : 0xFF00FF00u);
        if (slot == 1)
            expectedLost << name(camera, detection, "OK");
    }
    EXPECT_EQ(SaveFialImageThread::queuedCount(), kFull);
    for (int i = 0; i < kFull / 2; ++i)
        markNew(7, 7, 0, "", 0xFFFF0000u);
    markNew(6, 7, 0, "", 0xFFFF0000u);
    expectedLost << name(6, 7, "NG");
    markNew(5, 7, 1, "", 0xFF00FF00u);
    expectedLost << name(5, 7, "OK");
    EXPECT_EQ(SaveFialImageThread::queuedCount(), kFull);

    QSignalSpy saved(&writer, &SaveFialImageThread::sigImageSaved);
    EXPECT_EQ(writer.saveOnce(), kFull);
    for (const QList<QVariant>& picture : saved)
        EXPECT_FALSE(picture[2].toBool()) << "only NG pictures were left";
    const QStringList lines = log.lines.filter("not written, the writers' queue was full: ");
    ASSERT_EQ(lines.size(), 1) << log.lines.join('\n').toStdString();
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("%1 picture(s) not written").arg(expectedLost.size())));
    EXPECT_EQ(lines.first().section(": ", 1).split("; "), expectedLost);
    EXPECT_EQ(gisSaveFail[0][0][0], 0) << "nothing of it waits any more";
}

// However large the pictures, the queue holds no more than its bytes.
TEST_F(SaveFailImageTest, TheQueueIsBoundedInMemory)
{
    MessageLog log;
    const QSize colour(1024, 1024);   // kept whole: 4 MiB
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 40; ++i)
            markNew(i % kMaxCameras, 0, 0, "", qRgb(i, 90, 200), colour);
        // The picture that fills the last of it is still taken.
        EXPECT_EQ(SaveFialImageThread::queuedBytes(), SaveFialImageThread::kMaxQueuedBytes);
        const int held = SaveFialImageThread::queuedCount();
        EXPECT_LT(held, 40);
        EXPECT_EQ(writer.saveOnce(), held);
        // Each new most is told once; the same most reached again is not.
        EXPECT_EQ(log.lines.filter("pictures waiting for the writers: up to").size(), held) << round;
    }

    // With nothing waiting, a picture larger than all of it is taken rather than lost.
    markNew(0, 1, 0, "", qRgb(1, 90, 200), QSize(3600, 3600));
    ASSERT_GT(SaveFialImageThread::queuedBytes(), SaveFialImageThread::kMaxQueuedBytes);
    EXPECT_EQ(writer.saveOnce(), 1);
}

// Several writers at once: each folder's pictures are still written one after another in
// the order marked, and its keep count holds.
TEST_F(SaveFailImageTest, SeveralWritersKeepEachFolderInOrder)
{
    static_assert(SaveFialImageThread::kWriters > 1, "one writer cannot keep pace with 8 cameras");
    constexpr int kFolders = 4, kEach = SaveFialImageThread::kMaxQueued / kFolders;   // none dropped
    QMutex mutex;
    QMap<QString, QStringList> ids;   // per folder, as written
    int count = 0;
    QObject::connect(&writer, &SaveFialImageThread::sigImageSaved, &writer,
                     [&](int, int, bool, QString path, QString cycleId) {
                         QMutexLocker lock(&mutex);
                         ids[QDir::cleanPath(QFileInfo(path).path())] << cycleId;
                         ++count;
                     },
                     Qt::DirectConnection);
    writer.start();
    for (int i = 0; i < kEach; ++i)
        for (int f = 0; f < kFolders; ++f)
            markNew(f, 1, 0, QString::number(i), qRgb(20 * i, 0, 0));
    ASSERT_TRUE(waitUntil([&] { QMutexLocker lock(&mutex); return count == kFolders * kEach; }, 10000));
    writer.stop();
    QStringList order;
    for (int i = 0; i < kEach; ++i)
        order << QString::number(i);
    for (int f = 0; f < kFolders; ++f) {
        const QString folder = SaveFialImageThread::folderFor(f, 1, 0);
        EXPECT_EQ(ids.value(QDir::cleanPath(folder)), order) << folder.toStdString();
        QVector<int> reds;
        for (const QString& file : QDir(folder).entryList({"*.jpg"}, QDir::Files))
            reds << qRound(redOf(folder + '/' + file) / 20.0);
        std::sort(reds.begin(), reds.end());
        EXPECT_EQ(reds, (QVector<int>{kEach - 3, kEach - 2, kEach - 1})) << "the last three kept in " << folder.toStdString();
    }
}

// A writer stays in its folder until its picture is stored and told: the other writer, idle,
// must wait for that folder however long the first one takes (the name of the second picture
// is chosen from what the first left there).
TEST_F(SaveFailImageTest, TwoWritersNeverWriteIntoOneFolderAtOnce)
{
    QMutex mutex;
    int inside = 0, most = 0, saved = 0;
    QStringList ids;
    QObject::connect(&writer, &SaveFialImageThread::sigImageSaved, &writer,
                     [&](int, int, bool, QString, QString cycleId) {
                         bool first = false;
                         {
                             QMutexLocker lock(&mutex);
                             most = qMax(most, ++inside);
                             first = saved++ == 0;
                             ids << cycleId;
                         }
                         // The first writer lingers: a second one let into the folder shows up meanwhile.
                         for (int ms = 0; first && ms < 600; ms += 5) {
                             QThread::msleep(5);
                             QMutexLocker lock(&mutex);
                             if (saved > 1)
                                 break;
                         }
                         QMutexLocker lock(&mutex);
                         --inside;
                     },
                     Qt::DirectConnection);
    markNew(0, 1, 0, "a", qRgb(40, 0, 0));
    markNew(0, 1, 0, "b", qRgb(80, 0, 0));
    writer.start();
    ASSERT_TRUE(waitUntil([&] { QMutexLocker lock(&mutex); return saved == 2 && inside == 0; }, 10000));
    writer.stop();
    EXPECT_EQ(most, 1) << "two writers were in one folder at once";
    EXPECT_EQ(ids, QStringList({"a", "b"}));
    EXPECT_EQ(QDir(SaveFialImageThread::folderFor(0, 1, 0)).entryList({"*.jpg"}, QDir::Files).size(), 2);
}

// exit() from anywhere (a library ending the program) while the writers wait for pictures,
// watched as main watches it: the process ends, and the picture marked just before is written.
TEST_F(SaveFailImageTest, ExitWhileTheWritersWaitEndsTheProcess)
{
    EXPECT_EXIT(
        {
            alarm(20);   // a hang ends the child as a failure, never the suite
            TerminationSignals::atExitBegin(SaveFialImageThread::stopAllAtExit);
            writer.start();
            TerminationSignals::watchExit();
            QThread::msleep(3 * SaveFialImageThread::kPollMs);   // both writers waiting
            SaveFialImageThread::markPicture(1, 2, 0, "");
            std::exit(5);
        },
        ::testing::ExitedWithCode(5), "");
    EXPECT_TRUE(QFile::exists("./alarmimage/camera2/detect3/NG/2026-03-14_09.26.53.jpg"));
}

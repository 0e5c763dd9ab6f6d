// Every stored file on a full file system: a small tmpfs in a private mount namespace
// (a forked child, so the test process keeps its own mounts).
#include "shellfixture.h"

#include "clock.h"
#include "countfile.h"
#include "failpicture.h"
#include "globals.h"
#include "logmanager.h"
#include "paragroupstore.h"
#include "qttesthelpers.h"
#include "recordstore.h"
#include "resstatisticsparam.h"
#include "savefialimagethread.h"
#include "spacereclaim.h"
#include "storedfile.h"
#include "versionjson.h"
#include "wizardpara.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStorageInfo>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <glog/logging.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kSkipped = "SKIP";
const char kTmpfsOptions[] = "size=768k";

// Runs body with the working folder on a fresh small tmpfs seen by no other process;
// the body's failure text, empty when everything held.
QString onSmallTmpfs(const std::function<QString()>& body, const char* options = kTmpfsOptions)
{
    char folder[] = "/tmp/mm-fulldisk-XXXXXX";
    if (!mkdtemp(folder))
        return QStringLiteral("mkdtemp failed");
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return QStringLiteral("pipe failed");
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        QByteArray result;
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || mount("tmpfs", folder, "tmpfs", 0, options) != 0 || chdir(folder) != 0)
            result = kSkipped;
        else
            result = body().toUtf8();
        (void)!write(pipeEnds[1], result.constData(), size_t(result.size()));
        _exit(0);
    }
    close(pipeEnds[1]);
    QByteArray result;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, int(n));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    rmdir(folder);
    if (!WIFEXITED(status))
        return QStringLiteral("child crashed");
    return QString::fromUtf8(result);
}

// Takes every free page of the file system.
bool fillDisk()
{
    QFile filler(QStringLiteral("filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray chunk(4096, 'x');
    while (filler.write(chunk) == chunk.size()) {
    }
    return true;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One stored file: how the program writes it, and how the test sees its content.
struct StoredCase
{
    QString path;
    std::function<bool()> write;
    std::function<void(int)> setValue;   // changes what the next write stores
};

} // namespace

TEST(FullDiskTest, StoredFilesKeepTheirOldContentWarnOnceAndAreWrittenOnceThereIsRoom)
{
    const QString failure = onSmallTmpfs([]() -> QString {
        QStringList warned;
        QStringList saved;
        StoredFile::setFailureHandler([&warned](const QString& path, const QString&) { warned << path; });
        StoredFile::setSavedHandler([&saved](const QString& path) { saved << path; });
        WizardPara para;
        // A learnt template: larger than a settings file, it must be held for the retry all the same.
        QByteArray picture(280 * 1024, 't');
        ResStatisticsParam statistics;
        const std::vector<StoredCase> cases = {
            {QStringLiteral("count.ini"), [] { return CountFile::write(QStringLiteral("count.ini")); },
             [](int v) { gAllNum[0] = v; }},
            {QStringLiteral("config.json"), [] { return writeVersionToJson(QStringLiteral("config.json")); },
             [](int v) { numCamera = v; }},
            {QStringLiteral("sysadd.txt"), [&para] { para.SaveAddFile(); return true; },
             [&para](int v) { para.groupIndex = v; }},
            {QStringLiteral("resstatistics.json"), [&statistics] { statistics.saveConfig(); return true; },
             [&statistics](int v) { statistics.morningsStart = v; }},
            {QStringLiteral("cammer11/template0.bmp"),
             [&picture] { return StoredFile::write(QStringLiteral("cammer11/template0.bmp"), picture); },
             [&picture](int v) { picture[0] = char('0' + v); }},
        };
        QDir().mkpath(QStringLiteral("cammer11"));
        QFile json(QStringLiteral("config.json"));
        if (!json.open(QIODevice::WriteOnly) || json.write("{\"api\": 1}") <= 0)
            return QStringLiteral("cannot lay config.json");
        json.close();

        QMap<QString, QByteArray> before;
        for (const StoredCase& c : cases) {
            c.setValue(1);
            if (!c.write())
                return c.path + QStringLiteral(": first write failed");
            before[c.path] = contentOf(c.path);
            if (before[c.path].isEmpty())
                return c.path + QStringLiteral(": empty after the first write");
        }
        if (!fillDisk())
            return QStringLiteral("cannot fill the disk");
        for (int round = 0; round < 2; ++round) {
            for (const StoredCase& c : cases) {
                c.setValue(2 + round);
                if (c.path == QLatin1String("count.ini") && c.write())
                    return QStringLiteral("count.ini: a write on a full disk reported success");
                c.write();
                if (contentOf(c.path) != before[c.path])
                    return c.path + QStringLiteral(": old content lost on a full disk");
            }
        }
        if (warned.size() != int(cases.size()))
            return QStringLiteral("expected one warning per file, got: ") + warned.join(',');
        if (StoredFile::failingPaths() != warned)
            return QStringLiteral("failing paths not in the order they failed: ") + StoredFile::failingPaths().join(',');
        if (QDir().entryList(QDir::Files | QDir::Hidden).size() != int(cases.size()))
            return QStringLiteral("temporary files left behind: ") + QDir().entryList(QDir::Files | QDir::Hidden).join(',');

        QFile::remove(QStringLiteral("filler"));
        if (StoredFile::retryPending() != 0)
            return QStringLiteral("retry failed with room again");
        for (const StoredCase& c : cases) {
            if (contentOf(c.path) == before[c.path])
                return c.path + QStringLiteral(": the retry did not store the latest content");
        }
        if (!StoredFile::failingPaths().isEmpty())
            return QStringLiteral("paths still marked failing");
        if (saved != warned)
            return QStringLiteral("not each file told as saved after all, in order: ") + saved.join(',');
        StoredFile::setSavedHandler({});
        return QString();
    });
    if (failure == QLatin1String(kSkipped))
        GTEST_SKIP() << "needs root for a private mount namespace";
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
}

TEST(FullDiskTest, PicturesKeepTheReserveAndNeverLeaveAShortJpeg)
{
    const QString failure = onSmallTmpfs([]() -> QString {
        QMutex mutex;
        pMutexSaveFail = &mutex;
        std::vector<quint32> pixels(64 * 48);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = quint32(i * 2654435761u);   // noise: a JPEG of some size
        FailPicture picture;
        gpFailImage[0][0][0] = &picture;
        gPicNumNG = 1000;
        SaveFialImageThread writer;
        const auto saveOne = [&writer, &mutex, &picture, &pixels] {
            {
                QMutexLocker lock(&mutex);
                picture.store(pixels.data(), 64, 48);
            }
            SaveFialImageThread::markPicture(0, 0, 0, QString());
            return writer.saveOnce();
        };
        const QString folder = SaveFialImageThread::folderFor(0, 0, 0);
        const auto pictures = [&folder] { return QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files); };

        // The reserve is kept by removing the oldest pictures, never by filling the disk.
        writer.setFreeSpaceReserve(512 * 1024);
        int written = 0;
        for (int i = 0; i < 40; ++i)
            written += saveOne();
        if (written != 40)
            return QStringLiteral("pictures skipped while old ones could make room: %1").arg(written);
        QStorageInfo storage(QDir::currentPath());
        if (storage.bytesAvailable() < 512 * 1024 - 64 * 1024)
            return QStringLiteral("reserve not kept: %1 free").arg(storage.bytesAvailable());

        // A disk filled by someone else: old pictures make room or the new one is skipped,
        // and none is ever left short.
        writer.setFreeSpaceReserve(0);
        if (!fillDisk())
            return QStringLiteral("cannot fill the disk");
        for (int i = 0; i < 4; ++i)
            saveOne();
        const QStringList kept = pictures();
        if (QDir(folder).entryList(QDir::Files | QDir::Hidden).size() != kept.size())
            return QStringLiteral("a temporary picture was left behind");
        for (const QString& name : kept) {
            const QByteArray bytes = contentOf(folder + '/' + name);
            if (!bytes.endsWith("\xff\xd9"))
                return name + QStringLiteral(": a cut-short JPEG");
        }
        gpFailImage[0][0][0] = nullptr;
        SaveFialImageThread::clearQueue();
        pMutexSaveFail = nullptr;
        return QString();
    });
    if (failure == QLatin1String(kSkipped))
        GTEST_SKIP() << "needs root for a private mount namespace";
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
}

// Another file fills the picture disk. Pictures go only where their going brings the reserve
// back, the fewest that do, each pruning told; where it cannot, every stored picture stays (also
// the oldest that the count limit would let go) and each new one is named as not written.
TEST(FullDiskTest, StoredPicturesGoOnlyWhereThatBringsTheReserveBack)
{
    const QString failure = onSmallTmpfs([]() -> QString {
        QMutex mutex;
        pMutexSaveFail = &mutex;
        std::vector<quint32> pixels(64 * 48);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = quint32(i * 2654435761u);
        FailPicture tables[4];
        gPicNumNG = 5;   // each folder full to its count: the next picture takes the oldest's place
        qint64 virtualMs = 0;
        MonotonicClock::setSource([&virtualMs] { return virtualMs; });
        SaveFialImageThread writer;
        writer.setFreeSpaceReserve(0);
        const auto saveOne = [&](int camera) {
            {
                QMutexLocker lock(&mutex);
                tables[camera].store(pixels.data(), 64, 48);
                gpFailImage[camera][0][0] = &tables[camera];
            }
            SaveFialImageThread::markPicture(camera, 0, 0, QString());
            return writer.saveOnce();
        };
        const auto stored = [] {
            QStringList all;
            for (int camera = 0; camera < 4; ++camera) {
                const QString folder = SaveFialImageThread::folderFor(camera, 0, 0);
                for (const QString& name : QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name))
                    all << folder + '/' + name;
            }
            return all;
        };
        const auto freeBytes = [] {
            QStorageInfo storage(QDir::currentPath());
            return storage.bytesAvailable();
        };
        MessageLog log;
        for (int i = 0; i < 5; ++i) {
            Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(9, 0, i)));
            for (int camera = 0; camera < 4; ++camera)
                saveOne(camera);
        }
        const QStringList before = stored();
        if (before.size() != 20)
            return QStringLiteral("%1 pictures laid, not 20").arg(before.size());
        const qint64 pictureBytes = QFileInfo(before.first()).size();
        // What a removal wins is what the file system frees (whole pages), not the file's size.
        const qint64 freedBytes = SpaceReclaim::mostFreed(QFileInfo(before.first()));
        // The reserve that leaves the next picture of pictureBytes short of what n pictures free.
        const auto short_ = [&](double pictures) { return freeBytes() + qint64(pictures * freedBytes) - pictureBytes; };

        // Each folder's pictures free far less than the reserve lacks: all of them stay.
        if (!fillDisk())
            return QStringLiteral("cannot fill the disk");
        writer.setFreeSpaceReserve(256 * 1024);
        int written = 0;
        for (int camera = 0; camera < 4; ++camera)
            written += saveOne(camera);
        const int kept = int(stored().size());
        qInfo().noquote() << QStringLiteral("disk full, reserve out of reach: %1 written, %2 of 20 stored pictures kept")
                                 .arg(written).arg(kept);
        if (written != 0 || kept != 20)
            return QStringLiteral("reserve out of reach: %1 written, %2 of 20 stored pictures kept").arg(written).arg(kept);
        virtualMs += SaveFialImageThread::kLossReportMs;
        writer.saveOnce();   // the losses after the first are told together, a report period later
        const QStringList lost = log.lines.filter(QStringLiteral("picture(s) not written, free space below the reserve"));
        if (lost.join(' ').count(QStringLiteral("(NG) taken at")) != 4)
            return QStringLiteral("the four pictures not written are not all named: ") + log.lines.join('\n');
        if (!log.lines.filter(QStringLiteral("removed")).isEmpty())
            return QStringLiteral("a pruning was told though none was made: ") + log.lines.join('\n');

        // One and a half pictures short: the two oldest of the folder go, the rest stay.
        writer.setFreeSpaceReserve(short_(1.5));
        Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(9, 1, 0)));
        if (saveOne(2) != 1)
            return QStringLiteral("the picture was not written though two old ones made room");
        const QStringList after = stored();
        const QString folder = SaveFialImageThread::folderFor(2, 0, 0) + '/';
        QStringList expected = before;
        expected.removeAll(folder + QStringLiteral("2026-03-14_09.00.00.jpg"));
        expected.removeAll(folder + QStringLiteral("2026-03-14_09.00.01.jpg"));
        expected << folder + QStringLiteral("2026-03-14_09.01.00.jpg");
        expected.sort();
        QStringList sortedAfter = after;
        sortedAfter.sort();
        if (sortedAfter != expected)
            return QStringLiteral("not the two oldest alone went: ") + sortedAfter.join(',');
        const QStringList told = log.lines.filter(QStringLiteral("to keep the free-space reserve"));
        if (told.size() != 1 || !told.first().contains(QStringLiteral("2 file(s)"))
            || !told.first().contains(QString::number(2 * pictureBytes / 1024)))
            return QStringLiteral("the pruning was not told with its count and size: ") + told.join('\n');

        // Half a picture short: the oldest that the count lets go makes the room, nothing more goes.
        writer.setFreeSpaceReserve(short_(0.5));
        Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(9, 2, 0)));
        if (saveOne(1) != 1)
            return QStringLiteral("the picture was not written though the count's oldest made room");
        const QString folder1 = SaveFialImageThread::folderFor(1, 0, 0) + '/';
        expected.removeAll(folder1 + QStringLiteral("2026-03-14_09.00.00.jpg"));
        expected << folder1 + QStringLiteral("2026-03-14_09.02.00.jpg");
        expected.sort();
        sortedAfter = stored();
        sortedAfter.sort();
        if (sortedAfter != expected)
            return QStringLiteral("not the count's oldest alone went: ") + sortedAfter.join(',');
        if (log.lines.filter(QStringLiteral("to keep the free-space reserve")).size() != 1)
            return QStringLiteral("the count limit's own removal was told as a pruning: ") + log.lines.join('\n');

        // Removals that free less than the files' sizes: the two oldest linked under another name
        // (as a copy elsewhere keeps them), and the count's oldest held by a mount (it will not go).
        // What is won is what the file system tells: the next pictures go, and the reserve holds.
        const QString folder3 = SaveFialImageThread::folderFor(3, 0, 0) + '/';
        QDir().mkpath(QStringLiteral("copy"));
        for (const char* name : {"2026-03-14_09.00.00.jpg", "2026-03-14_09.00.01.jpg"})
            if (::link(QFile::encodeName(folder3 + name).constData(), QByteArray("copy/") + name) != 0)
                return QStringLiteral("cannot link %1").arg(name);
        const QByteArray held = QFile::encodeName(SaveFialImageThread::folderFor(0, 0, 0) + QStringLiteral("/2026-03-14_09.00.00.jpg"));
        if (mount(held.constData(), held.constData(), nullptr, MS_BIND, nullptr) != 0)
            return QStringLiteral("cannot hold a picture by a mount");
        for (const auto& [camera, pictures] : {std::pair<int, double>{0, 0.5}, {3, 1.5}}) {
            const qint64 reserve = short_(pictures);
            writer.setFreeSpaceReserve(reserve);
            Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(9, 3, camera)));
            if (saveOne(camera) != 1)
                return QStringLiteral("camera %1: the picture was not written though old ones made room").arg(camera + 1);
            // The picture itself takes what was kept for it, rounded up to a page.
            if (freeBytes() + 4096 <= reserve)
                return QStringLiteral("camera %1: %2 bytes free, below the reserve of %3").arg(camera + 1).arg(freeBytes()).arg(reserve);
        }
        const QString folder0 = SaveFialImageThread::folderFor(0, 0, 0) + '/';
        const QStringList left3 = QDir(folder3).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
        const QStringList left0 = QDir(folder0).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
        if (left3 != QStringList{"2026-03-14_09.00.00.jpg", "2026-03-14_09.00.01.jpg", "2026-03-14_09.00.04.jpg", "2026-03-14_09.03.03.jpg"})
            return QStringLiteral("the linked pictures were not kept, or not the next two went: ") + left3.join(',');
        if (!left0.contains(QStringLiteral("2026-03-14_09.00.00.jpg")) || left0.contains(QStringLiteral("2026-03-14_09.00.01.jpg")))
            return QStringLiteral("not the picture after the held one went: ") + left0.join(',');

        for (int camera = 0; camera < 4; ++camera)
            gpFailImage[camera][0][0] = nullptr;
        SaveFialImageThread::clearQueue();
        Clock::reset();
        MonotonicClock::setSource({});
        pMutexSaveFail = nullptr;
        return QString();
    });
    if (failure == QLatin1String(kSkipped))
        GTEST_SKIP() << "needs root for a private mount namespace";
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
}

// Restoring a parameter group over a full disk leaves the working parameters as they were.
TEST(FullDiskTest, AGroupRestoreThatDoesNotFitKeepsTheWorkingParameters)
{
    const QString failure = onSmallTmpfs([]() -> QString {
        const QByteArray working(64 * 1024, 'w');
        QFile param(QStringLiteral("PARAM.db"));
        if (!QDir().mkpath(QStringLiteral("paraGroup/big")) || !param.open(QIODevice::WriteOnly)
            || param.write(working) != working.size())
            return QStringLiteral("cannot lay the working parameters");
        param.close();
        QFile group(QStringLiteral("paraGroup/big/PARAM.db"));
        if (!group.open(QIODevice::WriteOnly) || group.write(QByteArray(256 * 1024, 'g')) <= 0)
            return QStringLiteral("cannot lay the group");
        group.close();
        if (!fillDisk())
            return QStringLiteral("cannot fill the disk");
        QFile::remove(QStringLiteral("filler"));
        // Room for less than the group's copy.
        QFile filler(QStringLiteral("filler"));
        if (!filler.open(QIODevice::WriteOnly) || filler.write(QByteArray(QStorageInfo(QDir::currentPath()).bytesAvailable() - 128 * 1024, 'x')) <= 0)
            return QStringLiteral("cannot leave a little room");
        filler.close();
        QString error;
        if (ParaGroupStore::restore(QStringLiteral("big"), &error))
            return QStringLiteral("a restore that did not fit reported success");
        if (contentOf(QStringLiteral("PARAM.db")) != working)
            return QStringLiteral("PARAM.db lost its content: ") + error;
        if (QFile::exists(QStringLiteral("PARAM.db.part")))
            return QStringLiteral("a partial copy was left behind");
        return QString();
    });
    if (failure == QLatin1String(kSkipped))
        GTEST_SKIP() << "needs root for a private mount namespace";
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
}

// Many large files refused: the oldest held content goes past the bound and is counted, its path
// stays failing. A stop on the full disk spends the reserve on what is held, so the counts of the
// full period survive it.
TEST(FullDiskTest, HeldContentKeepsItsBoundAndAStopWritesItIntoTheReserve)
{
    const QString failure = onSmallTmpfs([]() -> QString {
        const qint64 third = StoredFile::kMaxHeldBytes / 3 + 1;
        if (!StoredFile::keepReserve(QStringLiteral(".reserve"), 1024 * 1024))
            return QStringLiteral("no reserve on an empty disk");
        if (!CountFile::write(QStringLiteral("count.ini")))
            return QStringLiteral("count.ini: first write failed");
        if (!fillDisk())
            return QStringLiteral("cannot fill the disk");
        const QStringList big = {QStringLiteral("a.bmp"), QStringLiteral("b.bmp"), QStringLiteral("c.bmp")};
        for (const QString& path : big)
            StoredFile::write(path, QByteArray(int(third), path.at(0).toLatin1()));
        const QByteArray mask(64 * 1024, 'm');
        StoredFile::write(QStringLiteral("ignorepoint.bmp"), mask);
        gAllNum[0] = 4242;
        if (CountFile::write(QStringLiteral("count.ini")))
            return QStringLiteral("count.ini written on a full disk");
        if (StoredFile::droppedCount() != 1)
            return QStringLiteral("%1 contents dropped, not the oldest alone").arg(StoredFile::droppedCount());
        if (StoredFile::failingPaths() != big + QStringList{QStringLiteral("ignorepoint.bmp"), QStringLiteral("count.ini")})
            return QStringLiteral("a dropped path is no longer failing: ") + StoredFile::failingPaths().join(',');

        // The stop: the reserve's room takes the small files held; the large ones still do not fit.
        if (!StoredFile::spendReserve() || QFile::exists(QStringLiteral(".reserve")))
            return QStringLiteral("the reserve was not given up");
        if (StoredFile::retryPending() != 3)
            return QStringLiteral("not the three pictures alone still failing");
        if (StoredFile::keepReserve(QStringLiteral(".reserve"), 1024 * 1024) || QFile::exists(QStringLiteral(".reserve")))
            return QStringLiteral("a reserve was made, or a part of it left, on a full disk");
        gAllNum[0] = 0;
        if (!CountFile::read(QStringLiteral("count.ini")) || gAllNum[0] != 4242)
            return QStringLiteral("the counts of the full period are lost at the stop: %1").arg(gAllNum[0]);
        if (contentOf(QStringLiteral("ignorepoint.bmp")) != mask)
            return QStringLiteral("the mask learnt on the full disk is lost at the stop");

        // Room again: the held ones are written, the dropped one waits for its writer.
        QFile::remove(QStringLiteral("filler"));
        if (StoredFile::retryPending() != 1 || QFile::exists(QStringLiteral("a.bmp")))
            return QStringLiteral("the dropped content came back or a held one was not written");
        if (QFileInfo(QStringLiteral("c.bmp")).size() != third)
            return QStringLiteral("c.bmp not written whole");
        if (!StoredFile::write(QStringLiteral("a.bmp"), "new") || !StoredFile::failingPaths().isEmpty())
            return QStringLiteral("a new write of the dropped path did not clear it");
        if (!StoredFile::keepReserve(QStringLiteral(".reserve"), 1024 * 1024))
            return QStringLiteral("the reserve was not made again with room");
        return QString();
    }, "size=48m");
    if (failure == QLatin1String(kSkipped))
        GTEST_SKIP() << "needs root for a private mount namespace";
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
}

namespace {

// The rows sql gives on file, their cells joined by a space.
QStringList queried(const QString& file, const QString& sql)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "fulldiskPeek");
        db.setDatabaseName(file);
        QSqlQuery query(db);
        if (db.open() && query.exec(sql))
            while (query.next()) {
                QStringList cells;
                for (int i = 0; i < query.record().count(); ++i)
                    cells << query.value(i).toString();
                out << cells.join(' ');
            }
    }
    QSqlDatabase::removeDatabase("fulldiskPeek");
    return out;
}

QStringList recordTexts(const QString& file)
{
    return queried(file, QStringLiteral("select recordtime, remarks from RECORD"));
}

QString integrityOf(const QString& file)
{
    return queried(file, QStringLiteral("pragma integrity_check")).join(',');
}

} // namespace

// Records a full disk refuses are held in order with their own times, told once, written when
// there is room (the rows of a finished day into that day's archive), and bounded.
TEST(FullDiskTest, RecordsAreHeldInOrderAndWrittenIntoTheirDay)
{
    const QString failure = onSmallTmpfs([]() -> QString {
        QStringList warned;
        QStringList saved;
        StoredFile::setFailureHandler([&warned](const QString& path, const QString&) { warned << path; });
        StoredFile::setSavedHandler([&saved](const QString& path) { saved << path; });
        qint64 virtualMs = 0;
        MonotonicClock::setSource([&virtualMs] { return virtualMs; });
        Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(9, 0, 0)));
        QString result;
        {
            RecordStore store;
            QDir().mkpath(QString::fromLatin1(RecordStore::kArchiveDir));
            if (!store.open() || !store.insert("Primary", "before", "run"))
                return QStringLiteral("cannot lay RECORD.db");
            if (!fillDisk())
                return QStringLiteral("cannot fill the disk");
            for (int i = 1; i <= 3; ++i) {
                Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(9, 0, i)));
                virtualMs += 6000;
                if (store.insert("Primary", QStringLiteral("ng %1").arg(i), "run"))
                    return QStringLiteral("a record reported written on a full disk");
            }
            if (store.heldCount() != 3 || warned != QStringList{QStringLiteral("RECORD.db")})
                return QStringLiteral("%1 held, told: %2").arg(store.heldCount()).arg(warned.join(','));
            QFile::remove(QStringLiteral("filler"));
            Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(9, 0, 4)));
            if (!store.insert("Primary", "ng 4", "run") || store.heldCount() != 0)
                return QStringLiteral("held records not written with room");
            const QStringList expected = {"09.00.00 before", "09.00.01 ng 1", "09.00.02 ng 2", "09.00.03 ng 3",
                                          "09.00.04 ng 4"};
            if (recordTexts(QStringLiteral("RECORD.db")) != expected)
                return QStringLiteral("rows not in order with their times: ") + recordTexts("RECORD.db").join(',');
            if (saved != warned)
                return QStringLiteral("RECORD.db not told as saved after all");

            // Held over midnight: the evening's row goes into its day's archive, not today's file.
            if (!fillDisk())
                return QStringLiteral("cannot fill the disk again");
            Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(23, 59, 59)));
            virtualMs += 6000;
            store.insert("Primary", "evening", "run");
            Clock::setFixed(QDateTime(QDate(2026, 3, 15), QTime(0, 0, 1)));
            virtualMs += 6000;
            store.insert("Primary", "morning", "run");
            QFile::remove(QStringLiteral("filler"));
            if (!store.writeHeld())
                return QStringLiteral("held rows of two days not written");
            const QStringList archived = recordTexts(RecordStore::archivePath(QDate(2026, 3, 14)));
            if (archived.isEmpty() || archived.last() != QLatin1String("23.59.59 evening"))
                return QStringLiteral("the evening's row is not in its day: ") + archived.join(',');
            if (recordTexts(QStringLiteral("RECORD.db")) != QStringList{QStringLiteral("00.00.01 morning")})
                return QStringLiteral("today's file: ") + recordTexts(QStringLiteral("RECORD.db")).join(',');

            // The bound: the oldest held go first, counted.
            if (!fillDisk())
                return QStringLiteral("cannot fill the disk a third time");
            virtualMs += 6000;
            for (int i = 0; i < RecordStore::kMaxHeldRecords + 2; ++i)
                store.insert("Primary", QStringLiteral("flood %1").arg(i), "run");
            if (store.heldCount() != RecordStore::kMaxHeldRecords || store.droppedCount() != 2)
                return QStringLiteral("%1 held, %2 dropped").arg(store.heldCount()).arg(store.droppedCount());
            // Many held: soon after a failed try a record only joins them; the next try writes them all.
            QFile::remove(QStringLiteral("filler"));
            if (store.insert("Primary", "flood end", "run") || store.droppedCount() != 3)
                return QStringLiteral("a try within the retry period");
            if (!store.writeHeld())
                return QStringLiteral("the flood not written with room");
            const QStringList flood = recordTexts(QStringLiteral("RECORD.db"));
            if (flood.size() != 1 + RecordStore::kMaxHeldRecords || !flood.at(1).endsWith(QLatin1String(" flood 3"))
                || !flood.last().endsWith(QLatin1String(" flood end")))
                return QStringLiteral("not the oldest dropped: %1 rows, %2").arg(flood.size()).arg(flood.value(1));
        }
        Clock::reset();
        MonotonicClock::setSource({});
        StoredFile::setSavedHandler({});
        return result;
    }, "size=4m");
    if (failure == QLatin1String(kSkipped))
        GTEST_SKIP() << "needs root for a private mount namespace";
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
}

namespace {

// Rollback journals left beside the databases of the folder and of the archive.
QStringList journalsLeft()
{
    QStringList left = QDir().entryList({QStringLiteral("*-journal")}, QDir::Files);
    for (const QString& name : QDir(RecordStore::kArchiveDir).entryList({QStringLiteral("*-journal")}, QDir::Files))
        left << QString::fromLatin1(RecordStore::kArchiveDir) + '/' + name;
    return left;
}

// A writer holding a full disk's worth of records of 13 March that gets room back and writes
// them all in one transaction, killed (SIGKILL, as a power cut) after delayMs, or at its first
// write into the database file with a negative delay. With the day's archive damaged, the
// writer is at 14 March by then: the day's file was kept apart and the held rows go there.
// Returns the writer's status.
int heldWriterKilled(int delayMs, bool archiveDamaged)
{
    const pid_t writer = fork();
    if (writer != 0) {
        int status = 0;
        waitpid(writer, &status, 0);
        return status;
    }
    Clock::setFixed(QDateTime(QDate(2026, 3, 13), QTime(23, 0, 0)));
    MonotonicClock::setSource([] { return qint64(0); });
    RecordStore store;
    if (!store.open() || !store.insert("Primary", "before", "run") || !fillDisk())
        _exit(2);
    for (int i = 0; i < RecordStore::kMaxHeldRecords; ++i)
        store.insert("Primary", QStringLiteral("held %1").arg(i), "run");
    QFile::remove(QStringLiteral("filler"));
    const QDate day(2026, 3, 13);
    QString written = QString::fromLatin1(RecordStore::kFileName);
    if (archiveDamaged) {
        Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(7, 0, 0)));
        if (!QDir().mkpath(RecordStore::archivePath(day)) || !store.today().isOpen()
            || !QFile::exists(RecordStore::unmergedPath(day)))
            _exit(2);
        written = RecordStore::unmergedPath(day);
    }
    const int watch = inotify_init();
    if (delayMs < 0 && (watch < 0 || inotify_add_watch(watch, QFile::encodeName(QFileInfo(written).path()), IN_MODIFY) < 0))
        _exit(2);
    const QByteArray name = QFile::encodeName(QFileInfo(written).fileName());
    std::thread([watch, delayMs, name] {
        if (delayMs >= 0) {
            QThread::msleep(unsigned(delayMs));
            raise(SIGKILL);
        }
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t length = read(watch, buffer, sizeof buffer);
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && name == event->name)
                    raise(SIGKILL);
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
    }).detach();
    store.writeHeld();
    _exit(0);
}

} // namespace

// The held records' transaction cut at moments spread over it, the next start a day later: the
// finished day is archived with all of them or none, never with a part or damaged, and today's
// file starts clean. The same where the day's archive was damaged and the rows went to the file
// kept apart: it joins the archive whole once that is mended.
TEST(FullDiskTest, AKillWhileHeldRecordsAreWrittenLeavesAllOrNoneAfterTheNextStart)
{
    const QString failure = onSmallTmpfs([]() -> QString {
        const QDate day(2026, 3, 13);
        const QString archive = RecordStore::archivePath(day);
        const QString file = QString::fromLatin1(RecordStore::kFileName);
        const QStringList today{QStringLiteral("08.00.00 today")};
        int whole = 0;
        int cuts = 0;
        for (bool damaged : {false, true}) {
            for (int delayMs : {-1, 0, 1, 2, 5, 10, 20, 40, 80, 160}) {
                const QString round = QStringLiteral("%1kill at %2 ms: ").arg(damaged ? "damaged archive, " : "").arg(delayMs);
                for (const QString& name : QDir().entryList(QDir::Files | QDir::Hidden))
                    QFile::remove(name);
                QDir(RecordStore::kArchiveDir).removeRecursively();
                const int status = heldWriterKilled(delayMs, damaged);
                if (!WIFSIGNALED(status) && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
                    return round + QStringLiteral("the writer failed: %1").arg(status);
                ++cuts;
                if (!damaged) {
                    QFile cut(file);
                    if (!cut.open(QIODevice::ReadWrite)
                        || !cut.setFileTime(QDateTime(day, QTime(23, 0)), QFileDevice::FileModificationTime))
                        return round + QStringLiteral("no RECORD.db");
                }
                Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(8, 0, 0)));
                {
                    RecordStore store;
                    if (!store.open() || !store.insert("Primary", "today", "run"))
                        return round + QStringLiteral("no start the next day");
                }
                if (damaged) {
                    if (!QFile::exists(RecordStore::unmergedPath(day)))
                        return round + QStringLiteral("the day kept apart is gone");
                    QDir(archive).removeRecursively();
                    RecordStore store;   // the start after the archive's mend
                    if (!store.open())
                        return round + QStringLiteral("no start after the mend");
                }
                const int rows = recordTexts(archive).size();
                if (rows != 1 && rows != 1 + RecordStore::kMaxHeldRecords)
                    return round + QStringLiteral("%1 rows archived (%2)").arg(rows).arg(integrityOf(archive));
                whole += rows > 1 ? 1 : 0;
                if (integrityOf(archive) != QLatin1String("ok"))
                    return round + QStringLiteral("archive damaged: ") + integrityOf(archive);
                if (recordTexts(file) != today || integrityOf(file) != QLatin1String("ok"))
                    return round + QStringLiteral("today's file: ") + recordTexts(file).join(',');
                if (!journalsLeft().isEmpty() || QFile::exists(RecordStore::unmergedPath(day)))
                    return round + QStringLiteral("left: ") + journalsLeft().join(',');
            }
        }
        Clock::reset();
        qInfo("held records' transaction: %d of %d cuts after its commit", whole, cuts);
        return QString();
    }, "size=8m");
    if (failure == QLatin1String(kSkipped))
        GTEST_SKIP() << "needs root for a private mount namespace";
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
}

// The log goes on once the disk that filled under it has room again, though it is flushed
// every second meanwhile.
TEST(FullDiskTest, TheLogGoesOnOnceThereIsRoomAgain)
{
    const QString failure = onSmallTmpfs([]() -> QString {
        LogManager::__instance = new LogManager(nullptr);
        qInfo("before the fill");
        LogManager::flush();
        if (!fillDisk())
            return QStringLiteral("cannot fill the disk");
        // A burst larger than the stream's buffer: the write itself meets the full disk.
        for (int i = 0; i < 200; ++i)
            qInfo("while full %d %s", i, QByteArray(200, 'f').constData());
        LogManager::flush();
        QFile::remove(QStringLiteral("filler"));
        // Lines and the flush timer's flushes, over more than a flush period.
        for (int i = 0; i < 15; ++i) {
            qInfo("room again %d", i);
            LogManager::flush();
            QThread::msleep(100);
        }
        QByteArray all;
        for (const QFileInfo& file : QDir(LogManager::kLogDir).entryInfoList({QStringLiteral("LOG_*.log")}, QDir::Files))
            all += contentOf(file.filePath());
        if (!all.contains("before the fill"))
            return QStringLiteral("no log at all");
        for (int i = 0; i < 15; ++i)
            if (!all.contains(QStringLiteral("room again %1").arg(i).toUtf8()))
                return QStringLiteral("the log stopped for good: line %1 of the room missing").arg(i);
        return QString();
    });
    if (failure == QLatin1String(kSkipped))
        GTEST_SKIP() << "needs root for a private mount namespace";
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
}

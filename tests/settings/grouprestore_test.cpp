#include "groupprocess.h"
#include "paragroupstore.h"
#include "qttesthelpers.h"
#include "storedfile.h"
#include "tempappdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QMap>
#include <QRegularExpression>
#include <QThread>
#include <vector>

#include <gtest/gtest.h>
#include <algorithm>
#include <csignal>
#include <limits>
#include <iostream>

namespace {
constexpr int kCameras = 8;
constexpr const char* kChildVariable = "MM_GROUP_RESTORE_CHILD";
// Large enough that copying the group takes a while, so kills land in the middle.
constexpr int kTemplateBytes = 2 * 1024 * 1024;

QByteArray content(const QString& tag, int bytes = 0)
{
    QByteArray data = tag.toUtf8();
    if (bytes > data.size())
        data.append(QByteArray(bytes - data.size(), '.'));
    return data;
}

// The template folder of camera c in group 0 ("cammer<camera><group>").
QString cameraFolder(int c)
{
    return QStringLiteral("cammer%1").arg(c) + '0';
}

// The files of a parameter set with the given templates in each camera's folder.
QStringList setFiles(const QList<int>& templates = {0})
{
    QStringList files{"PARAM.db", "name.txt"};
    for (int c = 0; c < kCameras; ++c)
        for (int t : templates)
            files << cameraFolder(c) + QStringLiteral("/template%1.bmp").arg(t);
    return files;
}

void writeSet(const TempAppDir& dir, const QString& base, const QString& tag, const QStringList& files, int bytes)
{
    for (const QString& file : files)
        ASSERT_TRUE(dir.writeFile(base + file, content(QStringLiteral("%1 %2").arg(tag, file),
                                                       file.startsWith("cammer") ? bytes : 0)));
}

// The working set "old" (8 camera folders, the database, the IO names, no group)
// and the group "g" holding the set "new".
void layOut(const TempAppDir& dir, int templateBytes)
{
    writeSet(dir, QString(), "old", setFiles(), templateBytes);
    writeSet(dir, "paraGroup/g/", "new", setFiles(), templateBytes);
    ASSERT_TRUE(dir.writeFile("sysadd.txt", "-1"));
}

// The files of a set's item under base: the file itself or the files in the folder.
QStringList filesAt(const QString& base, const QString& item)
{
    if (QFileInfo(base + item).isFile())
        return {item};
    QStringList files;
    for (const QString& file : QDir(base + item).entryList(QDir::Files))
        files << item + '/' + file;
    return files;
}

// "old" or "new" when every item under base (the two files, the 8 camera folders) is
// exactly that set's, each file with its content; else "missing N" when items lack N
// files of the set they are nearest to, or "mixed" when whole items of both are there.
QString setAt(const TempAppDir& dir, const QString& base, const QMap<QString, QStringList>& sets)
{
    QStringList items;
    for (const QStringList& files : sets)
        for (const QString& file : files)
            if (!items.contains(file.section('/', 0, 0)))
                items << file.section('/', 0, 0);
    QStringList tags;
    int missing = 0;
    for (const QString& item : items) {
        const QStringList present = filesAt(base, item);
        int fewest = std::numeric_limits<int>::max();
        for (auto set = sets.cbegin(); set != sets.cend(); ++set) {
            const QStringList expected = set.value().filter(QRegularExpression('^' + QRegularExpression::escape(item) + "(/|$)"));
            const bool own = std::all_of(present.cbegin(), present.cend(), [&](const QString& file) {
                return dir.readFile(base + file).startsWith(set.key().toUtf8());
            });
            if (own && present == expected)
                tags << set.key();
            int absent = 0;
            for (const QString& file : expected)
                absent += present.contains(file) ? 0 : 1;
            fewest = std::min(fewest, absent);
        }
        missing += fewest;
    }
    tags.removeDuplicates();
    if (missing > 0)
        return QStringLiteral("missing %1").arg(missing);
    return tags.size() == 1 ? tags.first() : QStringLiteral("mixed");
}

// "old" or "new" when every working item belongs to that set (and the group index
// to it), else a description of the mix.
QString workingSet(const TempAppDir& dir)
{
    const QString files = setAt(dir, QString(), {{"old", setFiles()}, {"new", setFiles()}});
    const QString index = dir.readFile("sysadd.txt").trimmed() == "0" ? "new" : "old";
    return files == index ? files : files + ',' + index;
}
} // namespace

// Run only as the child of the kill test: restores and is killed somewhere inside.
TEST(GroupRestoreChild, RestoresUntilKilled)
{
    if (qEnvironmentVariableIsEmpty(kChildVariable))
        GTEST_SKIP() << "the child of GroupRestore.AKillAtAnyMomentLeavesAWholeSetAfterTheNextStart";
    QFile ready("ready");
    ASSERT_TRUE(ready.open(QIODevice::WriteOnly));
    ready.close();
    QString error;
    EXPECT_TRUE(ParaGroupStore::restore("g", &error)) << error.toStdString();
}

// Killed (SIGKILL) at moments spread over the whole restore of 8 cameras: after the
// start-up recovery the working set is wholly the old one or wholly the group's,
// and the recovery says which happened.
TEST(GroupRestore, AKillAtAnyMomentLeavesAWholeSetAfterTheNextStart)
{
    QStringList outcomes;
    std::vector<int> delays{0, 1, 2, 4, 7, 10, 15, 20, 30, 45, 70, 100, 150, 250};
    for (size_t round = 0; round < delays.size(); ++round) {
        const int delayMs = delays[round];
        SCOPED_TRACE(delayMs);
        TempAppDir dir;
        layOut(dir, kTemplateBytes);
        GroupProcess child;
        ASSERT_TRUE(startTestChild(child, "GroupRestoreChild.*", kChildVariable, "1", dir.path()));
        // A child that ended by itself is not killed: its pid may be another process's by now.
        if (!child.waitForFinished(delayMs))
            ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();

        QString group;
        const ParaGroupStore::Recovery recovery = ParaGroupStore::recoverRestore(&group);
        const QString set = workingSet(dir);
        EXPECT_TRUE(set == "old" || set == "new") << set.toStdString();
        if (recovery != ParaGroupStore::Recovery::None) {
            EXPECT_EQ(group, "g");
            EXPECT_EQ(set, recovery == ParaGroupStore::Recovery::Finished ? "new" : "old");
        }
        EXPECT_FALSE(QFileInfo::exists(".paraGroupRestore")) << "nothing staged is left";
        outcomes << set;
        // A loaded machine takes longer over the restore: later kills until one comes after its end.
        if (round + 1 == delays.size() && set != "new" && delayMs < 16000)
            delays.push_back(delayMs * 2);
    }
    EXPECT_TRUE(outcomes.contains("new")) << outcomes.join('|').toStdString();
}

// Stopped before each single step in turn (as a kill there would): the next start
// finishes the switch once the journal is written and drops the copy before; a
// restore that runs through gives the group's set at once.
TEST(GroupRestore, AStopBeforeEachStepIsFinishedOrUndoneAtTheNextStart)
{
    int stopAt = 0;
    QStringList outcomes;
    for (;; ++stopAt) {
        SCOPED_TRACE(stopAt);
        TempAppDir dir;
        layOut(dir, 16);
        ASSERT_TRUE(dir.writeFile("cammer71/template0.bmp", "own camera, not in the group"));
        ParaGroupStore::setStepHook([stopAt](int step) { return step < stopAt; });
        QString error;
        const bool restored = ParaGroupStore::restore("g", &error);
        ParaGroupStore::setStepHook({});
        QString group;
        const ParaGroupStore::Recovery recovery = ParaGroupStore::recoverRestore(&group);
        const QString set = workingSet(dir);
        EXPECT_EQ(dir.readFile("cammer71/template0.bmp"), "own camera, not in the group");
        EXPECT_FALSE(QFileInfo::exists(".paraGroupRestore"));
        if (restored) {
            EXPECT_EQ(recovery, ParaGroupStore::Recovery::None);
            EXPECT_EQ(set, "new");
            break;
        }
        EXPECT_EQ(error, "restore stopped");
        EXPECT_EQ(group, "g");
        EXPECT_EQ(set, recovery == ParaGroupStore::Recovery::Finished ? "new" : "old") << set.toStdString();
        outcomes << set;
        ASSERT_LT(stopAt, 100);
    }
    EXPECT_TRUE(outcomes.contains("old") && outcomes.contains("new")) << outcomes.join('|').toStdString();
}

// A template a full disk kept back in the working set is not written over the restored
// group's by the retry; one of a camera the group does not hold still is.
TEST(GroupRestore, TheRetryNeverWritesTheSetPutAsideOverTheGroup)
{
    TempAppDir dir;
    layOut(dir, 16);
    // A folder that is missing fails the write, as a full disk would, and the content is held.
    EXPECT_FALSE(StoredFile::write("cammer00/held/template0.bmp", "old, held"));
    EXPECT_FALSE(StoredFile::write("cammer71/held/template0.bmp", "own camera, held"));
    QString error;
    ASSERT_TRUE(ParaGroupStore::restore("g", &error)) << error.toStdString();
    ASSERT_TRUE(QDir().mkpath("cammer00/held") && QDir().mkpath("cammer71/held"));
    EXPECT_EQ(StoredFile::retryPending(), 0);
    EXPECT_FALSE(QFileInfo::exists("cammer00/held/template0.bmp"));
    EXPECT_EQ(dir.readFile("cammer71/held/template0.bmp"), "own camera, held");
    EXPECT_EQ(workingSet(dir), "new");
}

// Backing up over a group replaces each of its files in one step: the group never lacks its
// database, which would make it one that cannot be restored.
TEST(GroupBackup, BackingUpOverAGroupNeverLeavesItWithoutItsFiles)
{
    TempAppDir dir;
    layOut(dir, 0);
    QString error;
    const int missing = timesMissing(dir.filePath("paraGroup/g/PARAM.db"), [&] {
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(ParaGroupStore::backup("g", &error)) << error.toStdString();
    });
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(dir.readFile("paraGroup/g/PARAM.db"), QByteArray("old PARAM.db"));
}

namespace {
constexpr const char* kBackupChildVariable = "MM_GROUP_BACKUP_CHILD";
// The group's earlier backup had a fourth template per camera that has gone since.
const QList<int> kOldTemplates{0, 1, 2, 9};
const QList<int> kNewTemplates{0, 1, 2};
constexpr int kBackupTemplateBytes = 1024 * 1024;

// The group "g" holds the set "old"; the working set is "new", without template 9.
void layOutBackup(const TempAppDir& dir, int templateBytes)
{
    writeSet(dir, "paraGroup/g/", "old", setFiles(kOldTemplates), templateBytes);
    writeSet(dir, QString(), "new", setFiles(kNewTemplates), templateBytes);
}

QString groupSet(const TempAppDir& dir)
{
    return setAt(dir, "paraGroup/g/", {{"old", setFiles(kOldTemplates)}, {"new", setFiles(kNewTemplates)}});
}
} // namespace

// Run only as the child of the backup kill tests: backs up the group named by the variable
// ("<group> <step>") and is killed inside, by itself before that step or by the parent.
TEST(GroupBackupChild, BacksUpUntilKilled)
{
    const QStringList task = qEnvironmentVariable(kBackupChildVariable).split(' ');
    if (task.size() != 2)
        GTEST_SKIP() << "the child of GroupBackup.AKillAtAnyMomentLeavesTheGroupWholeAfterTheNextStart";
    ParaGroupStore::setStepHook([killStep = task.at(1).toInt()](int step) {
        if (step == killStep)
            ::raise(SIGKILL);
        return true;
    });
    QFile ready("ready");
    ASSERT_TRUE(ready.open(QIODevice::WriteOnly));
    ready.close();
    QString error;
    EXPECT_TRUE(ParaGroupStore::backup(task.at(0), &error)) << error.toStdString();
}

namespace {
// Backs up into group in a child process, killed before its step killStep or, when that
// is negative, after delayUs; then runs the start's recovery. True when the child ended itself.
bool backUpInChild(const TempAppDir& dir, const QString& group, int killStep, qint64 delayUs)
{
    GroupProcess child;
    EXPECT_TRUE(startTestChild(child, "GroupBackupChild.*", kBackupChildVariable,
                               QStringLiteral("%1 %2").arg(group).arg(killStep), dir.path()));
    if (killStep < 0) {
        QThread::usleep(static_cast<unsigned long>(delayUs));
        ::kill(pid_t(child.processId()), SIGKILL);
    }
    EXPECT_TRUE(child.waitForFinished(60000));
    ParaGroupStore::recoverGroups();
    return child.exitStatus() == QProcess::NormalExit;
}
} // namespace

// SIGKILLed before each step of a backup in turn, and at moments spread evenly over a
// whole backup of 8 cameras: the group the next start finds is wholly the earlier backup
// or wholly the new one, and a new group is whole or not there at all.
TEST(GroupBackup, AKillAtAnyMomentLeavesTheGroupWholeAfterTheNextStart)
{
    QMap<QString, int> outcomes;
    const auto check = [&outcomes](const TempAppDir& dir) {
        const QString set = groupSet(dir);
        EXPECT_TRUE(set == "old" || set == "new") << set.toStdString();
        const QString fresh = setAt(dir, "paraGroup/h/", {{"new", setFiles(kNewTemplates)}});
        EXPECT_TRUE(QFileInfo::exists("paraGroup/h") ? fresh == "new" : true) << fresh.toStdString();
        EXPECT_EQ(ParaGroupStore::groups().removeAll("g"), 1);
        EXPECT_FALSE(QFileInfo::exists("paraGroup/.backup")) << "nothing staged is left";
        ++outcomes[set];
    };
    for (int step = 0;; ++step) {
        SCOPED_TRACE(step);
        ASSERT_LT(step, 100);
        TempAppDir dir;
        layOutBackup(dir, 16);
        const bool ended = backUpInChild(dir, step % 2 ? "g" : "h", step / 2, 0);
        check(dir);
        if (ended && step % 2)
            break;
    }
    EXPECT_TRUE(outcomes.value("old") > 0 && outcomes.value("new") > 0);
    std::cout << "kills before each step: old " << outcomes.value("old") << ", new " << outcomes.value("new")
              << std::endl;

    constexpr int kKills = 40;
    qint64 backupNs = 0;
    {
        TempAppDir dir;
        layOutBackup(dir, kBackupTemplateBytes);
        QElapsedTimer timer;
        timer.start();
        QString error;
        ASSERT_TRUE(ParaGroupStore::backup("g", &error)) << error.toStdString();
        backupNs = timer.nsecsElapsed();
    }
    outcomes.clear();
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE(kill);
        TempAppDir dir;
        layOutBackup(dir, kBackupTemplateBytes);
        // From the start to a little after the end of a backup as long as the one timed above.
        backUpInChild(dir, "g", -1, backupNs * 5 / 4 * kill / kKills / 1000);
        check(dir);
    }
    QStringList summary;
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
        summary << QStringLiteral("%1: %2").arg(it.key()).arg(it.value());
    std::cout << kKills << " kills over a backup of " << backupNs / 1000000 << " ms: "
              << summary.join(", ").toStdString() << std::endl;
}

namespace {
// Fake file calls: the exchange and the renames fail with the errno given (0: the system's call),
// the renames only from the nth call on, as many as given; each flush notes whether the copy was whole and the journal absent.
int gExchangeErrno = 0;
int gRenameErrno = 0;
int gRenameFailsFrom = 0;
int gRenameFails = 0;
int gRenames = 0;
int gSyncErrno = 0;
QStringList gSyncsSaw;

int failWith(int number)
{
    errno = number;
    return -1;
}

struct FakeFileCalls
{
    explicit FakeFileCalls(int exchangeErrno, int renameErrno = 0, int renameFailsFrom = 0, int renameFails = 1,
                           int syncErrno = 0)
    {
        gExchangeErrno = exchangeErrno;
        gRenameErrno = renameErrno;
        gRenameFailsFrom = renameFailsFrom;
        gRenameFails = renameFails;
        gRenames = 0;
        gSyncErrno = syncErrno;
        gSyncsSaw.clear();
        ParaGroupStore::FileCalls calls = ParaGroupStore::systemFileCalls();
        calls.exchange = [](const char* from, const char* to) {
            return gExchangeErrno ? failWith(gExchangeErrno) : ParaGroupStore::systemFileCalls().exchange(from, to);
        };
        calls.rename = [](const char* from, const char* to) {
            const int call = gRenames++;
            return gRenameErrno && call >= gRenameFailsFrom && call < gRenameFailsFrom + gRenameFails
                       ? failWith(gRenameErrno)
                       : ParaGroupStore::systemFileCalls().rename(from, to);
        };
        calls.syncfs = [](int fd) {
            const QString copy = QFileInfo::exists("paraGroup/.backup") ? "paraGroup/.backup/new/" : ".paraGroupRestore/new/";
            gSyncsSaw << QStringLiteral("%1 journal %2")
                             .arg(QFileInfo::exists(copy + "PARAM.db") ? "copy" : "no copy",
                                  QFileInfo::exists(copy + "../journal") ? "written" : "absent");
            return gSyncErrno ? failWith(gSyncErrno) : ParaGroupStore::systemFileCalls().syncfs(fd);
        };
        ParaGroupStore::setFileCalls(calls);
    }
    ~FakeFileCalls() { ParaGroupStore::setFileCalls(ParaGroupStore::systemFileCalls()); }
};
} // namespace

// A move into the group that the disk refuses (full, I/O error) leaves the group listed and
// wholly its earlier backup, with nothing left staged: the next backup works at once. Without
// the one-step exchange the group goes aside and comes back when the copy cannot follow.
TEST(GroupBackup, AMoveThatFailsKeepsTheEarlierBackupListedAndTheNextOneWorks)
{
    struct Case
    {
        const char* what;
        int exchangeErrno, renameErrno, renameFailsFrom;
        const char* result;
    };
    for (const Case& c : {Case{"a full disk", ENOSPC, 0, 0, "old"}, Case{"an I/O error", EIO, 0, 0, "old"},
                          Case{"no exchange", ENOSYS, 0, 0, "new"}, Case{"no exchange on this disk", EINVAL, 0, 0, "new"},
                          Case{"no exchange, the copy not moved", ENOSYS, ENOSPC, 1, "old"}}) {
        SCOPED_TRACE(c.what);
        TempAppDir dir;
        layOutBackup(dir, 16);
        QString error;
        {
            FakeFileCalls calls(c.exchangeErrno, c.renameErrno, c.renameFailsFrom);
            EXPECT_EQ(ParaGroupStore::backup("g", &error), QByteArray(c.result) == "new") << error.toStdString();
        }
        EXPECT_EQ(groupSet(dir), c.result);
        EXPECT_TRUE(ParaGroupStore::groups().contains("g"));
        EXPECT_FALSE(QFileInfo::exists("paraGroup/.backup")) << "nothing is finished later";
        ASSERT_TRUE(ParaGroupStore::backup("g", &error)) << error.toStdString();
        EXPECT_EQ(groupSet(dir), "new");
    }
}

// A group aside (no exchange, and neither the copy nor the group could take its name) keeps the
// copy: no backup writes over it, and the next start puts it in place. A removal finishes a
// backup still waiting first, so the group removed stays removed.
TEST(GroupBackup, AWaitingBackupIsFinishedBeforeAnotherAndNeverBringsBackARemovedGroup)
{
    {
        TempAppDir dir;
        layOutBackup(dir, 16);
        QString error;
        {
            FakeFileCalls calls(ENOSYS, ENOSPC, 1, 100);   // the group goes aside, nothing comes back
            EXPECT_FALSE(ParaGroupStore::backup("g", &error));
            EXPECT_FALSE(ParaGroupStore::groups().contains("g"));
            EXPECT_FALSE(ParaGroupStore::backup("h", &error));
            EXPECT_EQ(error, "the earlier backup could not be finished");
        }
        EXPECT_EQ(ParaGroupStore::recoverGroups(), ParaGroupStore::Recovery::Finished);
        EXPECT_EQ(groupSet(dir), "new");
        EXPECT_FALSE(QFileInfo::exists("paraGroup/.backup"));
    }
    TempAppDir dir;
    layOutBackup(dir, 16);
    ParaGroupStore::setStepHook([](int) { return !QFileInfo::exists("paraGroup/.backup/journal"); });
    QString error;
    EXPECT_FALSE(ParaGroupStore::backup("g", &error));
    ParaGroupStore::setStepHook({});
    ASSERT_TRUE(QFileInfo::exists("paraGroup/.backup/journal"));
    ASSERT_TRUE(ParaGroupStore::remove("g", &error)) << error.toStdString();
    ParaGroupStore::recoverGroups();   // the next start
    EXPECT_FALSE(QFileInfo::exists("paraGroup/g"));
    EXPECT_TRUE(ParaGroupStore::groups().isEmpty());
}

// The copy reaches the disk before the journal that makes it the group's (a power cut must not
// leave a journal over copies still in memory); a flush that fails writes no journal and keeps
// the earlier backup, and the working set for a restore.
TEST(GroupBackup, TheCopyIsFlushedBeforeItsJournalIsWritten)
{
    for (const bool restoring : {false, true}) {
        SCOPED_TRACE(restoring ? "restore" : "backup");
        for (const int syncErrno : {0, EIO}) {
            TempAppDir dir;
            restoring ? layOut(dir, 16) : layOutBackup(dir, 16);
            QString error;
            FakeFileCalls calls(0, 0, 0, 0, syncErrno);
            const bool done = restoring ? ParaGroupStore::restore("g", &error) : ParaGroupStore::backup("g", &error);
            EXPECT_EQ(done, syncErrno == 0) << error.toStdString();
            EXPECT_EQ(gSyncsSaw, QStringList{"copy journal absent"});
            EXPECT_EQ(restoring ? workingSet(dir) : groupSet(dir), syncErrno ? "old" : "new");
            EXPECT_FALSE(QFileInfo::exists("paraGroup/.backup") || QFileInfo::exists(".paraGroupRestore"));
        }
    }
}

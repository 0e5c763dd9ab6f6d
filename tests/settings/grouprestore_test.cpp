#include "groupprocess.h"
#include "paragroupstore.h"
#include "qttesthelpers.h"
#include "tempappdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <vector>

#include <gtest/gtest.h>
#include <csignal>

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

// The working set "old" (8 camera folders, the database, the IO names, no group)
// and the group "g" holding the set "new".
void layOut(const TempAppDir& dir, int templateBytes)
{
    for (const QString& set : {QStringLiteral("old"), QStringLiteral("new")}) {
        const QString base = set == "old" ? QString() : QStringLiteral("paraGroup/g/");
        ASSERT_TRUE(dir.writeFile(base + "PARAM.db", content(set + " param")));
        ASSERT_TRUE(dir.writeFile(base + "name.txt", content(set + " names")));
        for (int c = 0; c < kCameras; ++c)
            ASSERT_TRUE(dir.writeFile(base + QStringLiteral("cammer%10/template0.bmp").arg(c),
                                      content(QStringLiteral("%1 camera %2").arg(set).arg(c), templateBytes)));
    }
    ASSERT_TRUE(dir.writeFile("sysadd.txt", "-1"));
}

// "old" or "new" when every working item belongs to that set (and the group index
// to it), else a description of the mix.
QString workingSet(const TempAppDir& dir)
{
    QStringList tags;
    const auto tagOf = [&dir](const QString& item) {
        const QByteArray data = dir.readFile(item);
        return data.isEmpty() ? QStringLiteral("missing %1").arg(item) : QString::fromUtf8(data.left(3));
    };
    tags << tagOf("PARAM.db") << tagOf("name.txt");
    for (int c = 0; c < kCameras; ++c)
        tags << tagOf(QStringLiteral("cammer%10/template0.bmp").arg(c));
    tags << (dir.readFile("sysadd.txt").trimmed() == "0" ? "new" : "old");
    tags.removeDuplicates();
    return tags.size() == 1 ? tags.first() : tags.join(',');
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
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kChildVariable, "1");
        child.setProcessEnvironment(environment);
        child.setWorkingDirectory(dir.path());
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=GroupRestoreChild.*"});
        ASSERT_TRUE(child.waitForStarted());
        ASSERT_TRUE(waitUntil([&] { return QFile::exists("ready"); }, 20000));
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
        ASSERT_TRUE(dir.writeFile("cammer70/template0.bmp", "own camera, not in the group"));
        ParaGroupStore::setStepHook([stopAt](int step) { return step < stopAt; });
        QString error;
        const bool restored = ParaGroupStore::restore("g", &error);
        ParaGroupStore::setStepHook({});
        QString group;
        const ParaGroupStore::Recovery recovery = ParaGroupStore::recoverRestore(&group);
        const QString set = workingSet(dir);
        EXPECT_EQ(dir.readFile("cammer70/template0.bmp"), "own camera, not in the group");
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
    EXPECT_EQ(dir.readFile("paraGroup/g/PARAM.db"), QByteArray("old param"));
}

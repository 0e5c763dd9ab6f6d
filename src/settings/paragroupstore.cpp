#include "paragroupstore.h"
#include "storedfile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <utility>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char kParamFile[] = "PARAM.db";
const char kNamesFile[] = "name.txt";
// Template and ignore-point folders: "cammer<camera><group>".
const char kTemplateFolders[] = "cammer*";
const char kIndexFile[] = "sysadd.txt";
// Beside the working set (same file system, so a rename is one step), not a group.
const char kStaging[] = "./.paraGroupRestore";
// Made whole under this name, then renamed to kStaging.
const char kStagingDraft[] = "./.paraGroupRestore.draft";
// Inside the staging folder: the group's items, the working items put aside, the
// list of items to switch (written once the copy is whole) and the group's name.
const char kNewFolder[] = "new";
const char kOldFolder[] = "old";
const char kJournalFile[] = "journal";
const char kGroupFile[] = "group";

// Inside kFolder and hidden, so groups() never lists them: a backup's copy ("new") with
// its journal once the copy is whole, and a group being removed.
const char kBackupStaging[] = ".backup";
const char kRemoving[] = ".removing";

QString inStaging(const char* name)
{
    return QDir(QLatin1String(kStaging)).filePath(QLatin1String(name));
}

ParaGroupStore::StepHook gStepHook;
int gStep = 0;
ParaGroupStore::FileCalls gCalls = ParaGroupStore::systemFileCalls();

// False when a test stops the restore at this step.
bool nextStep()
{
    return !gStepHook || gStepHook(gStep++);
}

QString staged(const char* folder, const QString& item)
{
    return QDir(inStaging(folder)).filePath(item);
}

bool removeItem(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return !info.exists() && !info.isSymLink() ? true : QFile::remove(path);
}

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

// A switch the start finishes (the test's stop hook off), said in the log.
ParaGroupStore::Recovery finishAtStart(const char* action, const QString& group,
                                       const std::function<bool(QString*)>& finish)
{
    const ParaGroupStore::StepHook hook = std::exchange(gStepHook, ParaGroupStore::StepHook());
    QString error;
    const bool finished = finish(&error);
    gStepHook = hook;
    if (!finished)
        qCritical().noquote() << "parameter group" << action << "of" << group << "could not be finished:" << error;
    else
        qWarning().noquote() << "parameter group" << action << "of" << group << "was interrupted and has been finished";
    return ParaGroupStore::Recovery::Finished;
}

QString inGroups(const char* name)
{
    return QDir(QLatin1String(ParaGroupStore::kFolder)).filePath(QLatin1String(name));
}

QString inBackupStaging(const char* name)
{
    return QDir(inGroups(kBackupStaging)).filePath(QLatin1String(name));
}

// 0 when there is nothing at path.
quint64 inodeOf(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? quint64(status.st_ino) : 0;
}

// A power cut must not leave a journal on the disk without the copies it lists.
bool writeJournal(const QString& path, const QJsonObject& entry, QString* error)
{
    const int folder = ::open(QFile::encodeName(QFileInfo(path).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = folder >= 0 && gCalls.syncfs(folder) == 0;
    if (folder >= 0)
        ::close(folder);
    if (!synced)
        return fail(error, QStringLiteral("cannot flush %1 to the disk").arg(QFileInfo(path).path()));
    QSaveFile journal(path);
    const QByteArray text = QJsonDocument(entry).toJson();
    if (!journal.open(QIODevice::WriteOnly) || journal.write(text) != text.size() || !journal.commit())
        return fail(error, QStringLiteral("cannot write %1").arg(path));
    return true;
}

// A staging folder, whose files tell a start what was under way, goes in one step: renamed to
// aside (a name every start drops unread), then removed. Removed in place, a cut could leave it
// without the file that names its group.
void dropInOneStep(const QString& folder, const QString& aside)
{
    QDir(aside).removeRecursively();
    QDir(QDir().rename(folder, aside) ? aside : folder).removeRecursively();
}

// Empty when there is none (the copy was not whole yet).
QJsonObject readJournal(const QString& path)
{
    QFile journal(path);
    return journal.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(journal.readAll()).object() : QJsonObject();
}

// The folder fresh takes the name target in one step, and what target held goes to fresh.
// Without that exchange (an old kernel, some file systems) target goes aside first, and comes
// back when fresh cannot follow; a start that finds target missing then finishes the move.
// Any other error (a full disk, an I/O error) leaves both as they were.
bool swapInto(const QString& fresh, const QString& target, const QString& aside)
{
    const QByteArray from = QFile::encodeName(fresh);
    const QByteArray to = QFile::encodeName(target);
    if (inodeOf(target) == 0)
        return gCalls.rename(from.constData(), to.constData()) == 0;
    if (gCalls.exchange(from.constData(), to.constData()) == 0)
        return true;
    if (errno != ENOSYS && errno != EINVAL)
        return false;
    const QByteArray away = QFile::encodeName(aside);
    if (!(removeItem(aside) && gCalls.rename(to.constData(), away.constData()) == 0))
        return false;
    if (gCalls.rename(from.constData(), to.constData()) == 0)
        return true;
    gCalls.rename(away.constData(), to.constData());
    return false;
}
}  // namespace

QStringList ParaGroupStore::groups()
{
    return QDir(kFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

int ParaGroupStore::indexOf(const QString& name)
{
    return name.isEmpty() ? -1 : groups().indexOf(name);
}

bool ParaGroupStore::isValidName(const QString& name)
{
    const QString trimmed = name.trimmed();
    return !trimmed.isEmpty() && trimmed == name && !name.contains('/') && !name.contains('\\')
           && !name.startsWith('.');
}

QStringList ParaGroupStore::workingItems(const QString& dir)
{
    const QDir base(dir);
    QStringList items;
    for (const char* file : {kParamFile, kNamesFile})
        if (base.exists(file))
            items << file;
    items << base.entryList({kTemplateFolders}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    return items;
}

bool ParaGroupStore::copyItem(const QString& from, const QString& to, QString* error)
{
    // Always into a fresh staging folder: what it replaces goes only after the switch.
    if (QFileInfo(from).isDir()) {
        if (!QDir().mkpath(to))
            return fail(error, QStringLiteral("cannot create %1").arg(to));
        const QDir source(from);
        for (const QString& entry : source.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot))
            if (!copyItem(source.filePath(entry), QDir(to).filePath(entry), error))
                return false;
        return true;
    }
    QFile source(from);
    if (!source.copy(to))
        return fail(error, QStringLiteral("cannot copy %1: %2").arg(from, source.errorString()));
    return true;
}

bool ParaGroupStore::backup(const QString& name, QString* error)
{
    if (!isValidName(name))
        return fail(error, QStringLiteral("invalid group name"));
    recoverGroups();
    // Its copy holds the only whole set of a group moved aside: it is never written over.
    if (QFileInfo::exists(inGroups(kBackupStaging)))
        return fail(error, QStringLiteral("the earlier backup could not be finished"));
    gStep = 0;
    const QString copy = inBackupStaging(kNewFolder);
    const auto dropped = [error](const QString& reason) {
        QDir(inGroups(kBackupStaging)).removeRecursively();
        return fail(error, reason);
    };
    if (!QDir().mkpath(copy))
        return dropped(QStringLiteral("cannot create %1").arg(copy));
    for (const QString& item : workingItems(QStringLiteral("."))) {
        if (!nextStep())
            return fail(error, QStringLiteral("backup stopped"));
        QString reason;
        if (!copyItem(item, QDir(copy).filePath(item), &reason))
            return dropped(reason);
    }
    if (!nextStep())
        return fail(error, QStringLiteral("backup stopped"));
    // From here on the copy takes the group's place, by this call or the next start.
    const quint64 inode = inodeOf(copy);
    QString reason;
    if (!writeJournal(inBackupStaging(kJournalFile), {{"group", name}, {"inode", QString::number(inode)}}, &reason))
        return dropped(reason);
    return finishBackup(name, inode, error);
}

bool ParaGroupStore::finishBackup(const QString& group, quint64 copyInode, QString* error)
{
    const QString target = QDir(kFolder).filePath(group);
    if (inodeOf(target) != copyInode) {
        if (!nextStep())
            return fail(error, QStringLiteral("backup stopped"));
        const QString copy = inBackupStaging(kNewFolder);
        if (inodeOf(copy) != copyInode || !swapInto(copy, target, inBackupStaging(kOldFolder))) {
            // The group still holds its earlier backup (or there was none): the copy goes, and
            // nothing finishes it later. Only a group left aside keeps the copy for the next start.
            if (inodeOf(target) != 0 || inodeOf(inBackupStaging(kOldFolder)) == 0)
                dropInOneStep(inGroups(kBackupStaging), inGroups(kRemoving));
            return fail(error, QStringLiteral("cannot put %1 in place").arg(target));
        }
    }
    // The earlier backup (now in the staging folder) goes with it.
    if (!nextStep())
        return fail(error, QStringLiteral("backup stopped"));
    dropInOneStep(inGroups(kBackupStaging), inGroups(kRemoving));
    qInfo().noquote() << "parameter group" << group << "backed up";
    return true;
}

ParaGroupStore::Recovery ParaGroupStore::recoverGroups(QString* group)
{
    QDir(inGroups(kRemoving)).removeRecursively();
    if (!QFileInfo::exists(inGroups(kBackupStaging)))
        return Recovery::None;
    const QJsonObject entry = readJournal(inBackupStaging(kJournalFile));
    const QString name = entry.value("group").toString();
    const quint64 inode = entry.value("inode").toString().toULongLong();
    if (group)
        *group = name;
    if (!isValidName(name) || inode == 0) {
        QDir(inGroups(kBackupStaging)).removeRecursively();
        qWarning().noquote() << "parameter group backup: an unfinished copy was dropped, the group is kept";
        return Recovery::RolledBack;
    }
    return finishAtStart("backup", name, [&name, inode](QString* error) { return finishBackup(name, inode, error); });
}

bool ParaGroupStore::restore(const QString& name, QString* error)
{
    if (!isValidName(name) || indexOf(name) < 0)
        return fail(error, QStringLiteral("no group %1").arg(name));
    const QString source = QDir(kFolder).filePath(name);
    QStringList items = workingItems(source);
    if (!items.contains(kParamFile))
        return fail(error, QStringLiteral("group %1 holds no %2").arg(name, kParamFile));
    recoverGroups();
    recoverRestore();
    gStep = 0;
    const auto stopped = [error] { return fail(error, QStringLiteral("restore stopped")); };

    // 1. The whole group beside the working set; the working set is not touched yet.
    // The staging folder appears with the group's name in it, so a start can always tell.
    QDir draft(kStagingDraft);
    draft.removeRecursively();
    QFile stagedGroup(draft.filePath(kGroupFile));
    const bool drafted = QDir().mkpath(draft.filePath(kNewFolder)) && QDir().mkpath(draft.filePath(kOldFolder))
                         && stagedGroup.open(QIODevice::WriteOnly) && stagedGroup.write(name.toUtf8()) > 0;
    stagedGroup.close();
    if (!drafted || !QDir().rename(kStagingDraft, kStaging)) {
        QDir(kStagingDraft).removeRecursively();
        return fail(error, QStringLiteral("cannot create %1").arg(kStaging));
    }
    for (const QString& item : items) {
        if (!nextStep())
            return stopped();
        if (!copyItem(QDir(source).filePath(item), staged(kNewFolder, item), error)) {
            QDir(kStaging).removeRecursively();
            return false;
        }
    }
    if (!nextStep())
        return stopped();
    QFile index(staged(kNewFolder, kIndexFile));
    if (!index.open(QIODevice::WriteOnly) || index.write(QByteArray::number(indexOf(name)) + '\n') <= 0
        || !index.flush()) {
        QDir(kStaging).removeRecursively();
        return fail(error, QStringLiteral("cannot write %1").arg(index.fileName()));
    }
    index.close();
    items << kIndexFile;

    // 2. The journal: from here on the switch is finished, by this call or the next start.
    if (!nextStep())
        return stopped();
    if (!writeJournal(inStaging(kJournalFile), {{"group", name}, {"items", QJsonArray::fromStringList(items)}},
                      error)) {
        QDir(kStaging).removeRecursively();
        return false;
    }
    return finishSwitch(name, items, error);
}

bool ParaGroupStore::finishSwitch(const QString& group, const QStringList& items, QString* error)
{
    // A template a full disk kept back belongs to the set going aside: its retry must not
    // write it over the group's.
    for (const QString& item : items)
        StoredFile::forgetHeldUnder(item);
    for (const QString& item : items) {
        const QString fresh = staged(kNewFolder, item);
        if (!QFileInfo::exists(fresh))
            continue;  // already in place
        const QString old = staged(kOldFolder, item);
        // The working item goes aside (one that appeared after a stop, when the
        // old one is already aside, is dropped), then the group's takes its place.
        if (QFileInfo::exists(item) && !nextStep())
            return fail(error, QStringLiteral("restore stopped"));
        if (QFileInfo::exists(item) && !(QFileInfo::exists(old) ? removeItem(item) : QFile::rename(item, old)))
            return fail(error, QStringLiteral("cannot move %1 aside").arg(item));
        if (!nextStep())
            return fail(error, QStringLiteral("restore stopped"));
        if (!QFile::rename(fresh, item))
            return fail(error, QStringLiteral("cannot put %1 in place").arg(item));
    }
    // The journal goes after what it lists is gone, the folder last: a folder
    // without "new" is a finished switch.
    for (const char* part : {kOldFolder, kNewFolder, kJournalFile}) {
        if (!nextStep())
            return fail(error, QStringLiteral("restore stopped"));
        removeItem(inStaging(part));
    }
    dropInOneStep(kStaging, kStagingDraft);
    qInfo().noquote() << "parameter group" << group << "restored";
    return true;
}

ParaGroupStore::Recovery ParaGroupStore::recoverRestore(QString* group)
{
    QDir(kStagingDraft).removeRecursively();
    if (!QFileInfo::exists(kStaging))
        return Recovery::None;
    const QJsonObject entry = readJournal(inStaging(kJournalFile));
    const QString name = entry.value("group").toString();
    if (group) {
        QFile stagedGroup(inStaging(kGroupFile));
        *group = stagedGroup.open(QIODevice::ReadOnly) ? QString::fromUtf8(stagedGroup.readAll()) : name;
    }
    QStringList items;
    for (const QJsonValue& item : entry.value("items").toArray()) {
        // Only names of working items, never a path.
        if (isValidName(item.toString()))
            items << item.toString();
    }
    if (name.isEmpty() || items.isEmpty()) {
        const bool copying = QFileInfo::exists(inStaging(kNewFolder));
        QDir(kStaging).removeRecursively();
        if (!copying)
            return Recovery::Finished;  // stopped while clearing up after the switch
        // Stopped while copying: the working set was never touched.
        qWarning().noquote() << "parameter group restore: an unfinished copy was dropped, the working set is kept";
        return Recovery::RolledBack;
    }
    return finishAtStart("restore", name, [&name, &items](QString* error) { return finishSwitch(name, items, error); });
}

void ParaGroupStore::setStepHook(StepHook hook)
{
    gStepHook = std::move(hook);
}

ParaGroupStore::FileCalls ParaGroupStore::systemFileCalls()
{
    return {[](const char* from, const char* to) { return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE); },
            [](const char* from, const char* to) { return ::rename(from, to); }, [](int fd) { return ::syncfs(fd); }};
}

void ParaGroupStore::setFileCalls(const FileCalls& calls)
{
    gCalls = calls;
}

bool ParaGroupStore::remove(const QString& name, QString* error)
{
    // A backup of it still waiting would bring the group back at the next start.
    recoverGroups();
    if (!isValidName(name) || indexOf(name) < 0)
        return fail(error, QStringLiteral("no group %1").arg(name));
    // Out of the list in one step: a stop while deleting never leaves half a group to restore.
    const QString removing = inGroups(kRemoving);
    QDir(removing).removeRecursively();
    if (!QDir().rename(QDir(kFolder).filePath(name), removing))
        return fail(error, QStringLiteral("cannot delete group %1").arg(name));
    if (!QDir(removing).removeRecursively())
        qWarning().noquote() << "parameter group" << name << "deleted, but" << removing << "is left";
    return true;
}

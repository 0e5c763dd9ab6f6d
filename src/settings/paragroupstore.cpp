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

QString inStaging(const char* name)
{
    return QDir(QLatin1String(kStaging)).filePath(QLatin1String(name));
}

ParaGroupStore::StepHook gStepHook;
int gStep = 0;

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
           && name != QLatin1String(".") && name != QLatin1String("..");
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
    const QFileInfo info(from);
    if (info.isDir()) {
        // A folder is replaced whole, so templates removed since are not left behind.
        if (QFileInfo::exists(to) && !QDir(to).removeRecursively())
            return fail(error, QStringLiteral("cannot clear %1").arg(to));
        if (!QDir().mkpath(to))
            return fail(error, QStringLiteral("cannot create %1").arg(to));
        const QDir source(from);
        for (const QString& entry : source.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot))
            if (!copyItem(source.filePath(entry), QDir(to).filePath(entry), error))
                return false;
        return true;
    }
    // Copied beside, then put in place: a full disk never leaves the old file gone and
    // the new one cut short. A new file also lets an open connection read the old one.
    const QString part = to + QStringLiteral(".part");
    QFile::remove(part);
    QFile source(from);
    if (!source.copy(part)) {
        QFile::remove(part);
        return fail(error, QStringLiteral("cannot copy %1: %2").arg(from, source.errorString()));
    }
    QString reason;
    if (!StoredFile::replace(part, to, &reason)) {
        QFile::remove(part);
        return fail(error, QStringLiteral("cannot replace %1: %2").arg(to, reason));
    }
    return true;
}

bool ParaGroupStore::backup(const QString& name, QString* error)
{
    if (!isValidName(name))
        return fail(error, QStringLiteral("invalid group name"));
    const QString target = QDir(kFolder).filePath(name);
    if (!QDir().mkpath(target))
        return fail(error, QStringLiteral("cannot create %1").arg(target));
    for (const QString& item : workingItems(QStringLiteral(".")))
        if (!copyItem(item, QDir(target).filePath(item), error))
            return false;
    return true;
}

bool ParaGroupStore::restore(const QString& name, QString* error)
{
    if (!isValidName(name) || indexOf(name) < 0)
        return fail(error, QStringLiteral("no group %1").arg(name));
    const QString source = QDir(kFolder).filePath(name);
    QStringList items = workingItems(source);
    if (!items.contains(kParamFile))
        return fail(error, QStringLiteral("group %1 holds no %2").arg(name, kParamFile));
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
    QSaveFile journal(inStaging(kJournalFile));
    const QByteArray text =
        QJsonDocument(QJsonObject{{"group", name}, {"items", QJsonArray::fromStringList(items)}}).toJson();
    if (!journal.open(QIODevice::WriteOnly) || journal.write(text) != text.size() || !journal.commit()) {
        QDir(kStaging).removeRecursively();
        return fail(error, QStringLiteral("cannot write %1").arg(journal.fileName()));
    }
    return finishSwitch(name, items, error);
}

bool ParaGroupStore::finishSwitch(const QString& group, const QStringList& items, QString* error)
{
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
    QDir(kStaging).removeRecursively();
    qInfo().noquote() << "parameter group" << group << "restored";
    return true;
}

ParaGroupStore::Recovery ParaGroupStore::recoverRestore(QString* group)
{
    QDir(kStagingDraft).removeRecursively();
    if (!QFileInfo::exists(kStaging))
        return Recovery::None;
    QFile journal(inStaging(kJournalFile));
    const QJsonObject entry =
        journal.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(journal.readAll()).object() : QJsonObject();
    journal.close();
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
    const StepHook hook = std::exchange(gStepHook, StepHook());
    QString error;
    const bool finished = finishSwitch(name, items, &error);
    gStepHook = hook;
    if (!finished)
        qCritical().noquote() << "parameter group restore of" << name << "could not be finished:" << error;
    else
        qWarning().noquote() << "parameter group restore of" << name << "was interrupted and has been finished";
    return Recovery::Finished;
}

void ParaGroupStore::setStepHook(StepHook hook)
{
    gStepHook = std::move(hook);
}

bool ParaGroupStore::remove(const QString& name, QString* error)
{
    if (!isValidName(name) || indexOf(name) < 0)
        return fail(error, QStringLiteral("no group %1").arg(name));
    if (!QDir(QDir(kFolder).filePath(name)).removeRecursively())
        return fail(error, QStringLiteral("cannot delete group %1").arg(name));
    return true;
}

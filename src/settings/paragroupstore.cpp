#include "paragroupstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const char kParamFile[] = "PARAM.db";
const char kNamesFile[] = "name.txt";
// Template and ignore-point folders: "cammer<camera><group>".
const char kTemplateFolders[] = "cammer*";

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
    if ((QFileInfo::exists(to) && !QFile::remove(to)) || !QFile::rename(part, to)) {
        QFile::remove(part);
        return fail(error, QStringLiteral("cannot replace %1").arg(to));
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
    const QStringList items = workingItems(source);
    if (!items.contains(kParamFile))
        return fail(error, QStringLiteral("group %1 holds no %2").arg(name, kParamFile));
    for (const QString& item : items)
        if (!copyItem(QDir(source).filePath(item), item, error))
            return false;
    return true;
}

bool ParaGroupStore::remove(const QString& name, QString* error)
{
    if (!isValidName(name) || indexOf(name) < 0)
        return fail(error, QStringLiteral("no group %1").arg(name));
    if (!QDir(QDir(kFolder).filePath(name)).removeRecursively())
        return fail(error, QStringLiteral("cannot delete group %1").arg(name));
    return true;
}

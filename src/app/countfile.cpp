#include "countfile.h"

#include "globals.h"
#include "storedfile.h"

#include <QFile>
#include <QSettings>
#include <QStringList>

namespace {

struct CounterList
{
    const char* key;
    int* values;
};

const CounterList kLists[] = {
    {"list_allnum", gAllNum},
    {"list_failnum", gFailNum},
    {"list_allcyclenum", gAllCycleNum},
    {"list_failcyclenum", gFailCycleNum},
};

struct CounterValue
{
    const char* key;
    int* value;
};

const CounterValue kValues[] = {
    {"gSyncNGNum", &gSyncNGNum},
    {"gSyncNGcycleNum", &gSyncNGCycleNum},
};

} // namespace

namespace CountFile {

bool write(const QString& path)
{
    // The text is the INI form QSettings reads back (a list is "a, b, c").
    QByteArray text = "[General]\n";
    for (const CounterList& list : kLists) {
        QStringList items;
        for (int i = 0; i < kMaxCameras; ++i)
            items << QString::number(list.values[i]);
        text += QByteArray(list.key) + '=' + items.join(", ").toLatin1() + '\n';
    }
    for (const CounterValue& value : kValues)
        text += QByteArray(value.key) + '=' + QByteArray::number(*value.value) + '\n';

    return StoredFile::write(path, text);
}

bool read(const QString& path)
{
    if (!QFile::exists(path))
        return false;
    QSettings settings(path, QSettings::IniFormat);
    for (const CounterList& list : kLists) {
        const QStringList items = settings.value(list.key).toStringList();
        for (int i = 0; i < kMaxCameras; ++i)
            list.values[i] = i < items.size() ? items.at(i).trimmed().toInt() : 0;
    }
    for (const CounterValue& value : kValues)
        *value.value = settings.value(value.key).toInt();
    return true;
}

} // namespace CountFile

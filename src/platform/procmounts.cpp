#include "procmounts.h"

#include "hostpaths.h"

#include <QFile>
#include <QList>

namespace {
constexpr const char* kMountsFile = "/proc/mounts";
constexpr int kOctalDigits = 3;

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}
} // namespace

namespace ProcMounts {

QString decodeField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + kOctalDigits < field.size()
            && isOctal(field.at(i + 1)) && isOctal(field.at(i + 2)) && isOctal(field.at(i + 3))) {
            out.append(char(field.mid(i + 1, kOctalDigits).toInt(nullptr, 8)));
            i += kOctalDigits;
        } else {
            out.append(field.at(i));
        }
    }
    return QString::fromLocal8Bit(out);
}

QVector<MountEntry> parse(const QByteArray& content)
{
    QVector<MountEntry> table;
    for (const QByteArray& line : content.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3)
            continue;
        table.append({decodeField(fields.at(0)), decodeField(fields.at(1)), decodeField(fields.at(2))});
    }
    return table;
}

QVector<MountEntry> read(bool* ok)
{
    QFile file(HostPaths::path(kMountsFile));
    const bool opened = file.open(QIODevice::ReadOnly);
    if (ok)
        *ok = opened;
    return opened ? parse(file.readAll()) : QVector<MountEntry>();
}

int countOf(const QVector<MountEntry>& table, const QString& target)
{
    int count = 0;
    for (const MountEntry& entry : table) {
        if (entry.device == target || entry.mountPoint == target)
            ++count;
    }
    return count;
}

bool isMounted(const QVector<MountEntry>& table, const QString& device, const QString& mountPoint)
{
    for (const MountEntry& entry : table) {
        if (entry.device == device && entry.mountPoint == mountPoint)
            return true;
    }
    return false;
}

bool isMountPoint(const QVector<MountEntry>& table, const QString& mountPoint)
{
    for (const MountEntry& entry : table) {
        if (entry.mountPoint == mountPoint)
            return true;
    }
    return false;
}

QString rootDevice(const QVector<MountEntry>& table)
{
    QString device;
    for (const MountEntry& entry : table) {
        if (entry.mountPoint == QLatin1String("/"))
            device = entry.device;
    }
    return device;
}

} // namespace ProcMounts

// Usage: export_result_statistics <day file>[,<day file>...]
// For each day file writes ./ResStatistics/<date>/<group>.csv (one row per
// hour, camera and detection: cycles and NG) and prints "Done <file>".
// Exits 1 when a file could not be exported.

#include "counttypes.h"
#include "resstatisticsdatabase.h"
#include "resstatisticsparam.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTextStream>

#include <cstdio>

namespace {
constexpr const char* kOutputRoot = "./ResStatistics";
constexpr const char* kHeader = "hour,camera,detection,cycles,NG\r\n";
constexpr const char* kBom = "\xEF\xBB\xBF";  // lets spreadsheets read the group names as UTF-8

QString csvField(const QString& text)
{
    if (!text.contains(QRegularExpression(QStringLiteral("[\",\r\n]"))))
        return text;
    return '"' + QString(text).replace('"', QStringLiteral("\"\"")) + '"';
}

// A group name as a file name: no folders, no hidden files.
QString fileNameFor(QString name)
{
    name.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>|\\x00-\\x1f]")), QStringLiteral("_"));
    if (name.isEmpty() || name.startsWith('.'))
        name.prepend('_');
    return name;
}

void appendRows(QByteArray& out, const CountDetect& entry, int morningStart, const QString& camera,
                const QString& detection)
{
    for (int i = 0; i < kHoursPerDay; ++i) {
        const int ok = i < entry.OK.size() ? entry.OK.at(i) : 0;
        const int ng = i < entry.NG.size() ? entry.NG.at(i) : 0;
        out += QStringLiteral("%1,%2,%3,%4,%5\r\n")
                   .arg((morningStart + i) % kHoursPerDay)
                   .arg(csvField(camera), csvField(detection))
                   .arg(ok + ng)
                   .arg(ng)
                   .toUtf8();
    }
}

QByteArray groupCsv(const CountGroup& group)
{
    QByteArray out = QByteArray(kBom) + kHeader;
    auto camera = [&](const CountCamera& c, const QString& name) {
        appendRows(out, c.cycle, group.morningStart, name, QStringLiteral("cycle"));
        for (int d = 0; d < c.detects.size(); ++d)
            appendRows(out, c.detects.at(d), group.morningStart, name, QString::number(d + 1));
    };
    camera(group.total, QStringLiteral("all"));
    for (int c = 0; c < group.cameras.size(); ++c)
        camera(group.cameras.at(c), QString::number(c + 1));
    return out;
}

bool exportDay(const QString& path, QString* error)
{
    QByteArray text;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("export"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!QFile::exists(path) || !db.open()) {
            *error = QStringLiteral("cannot open ") + path;
        } else {
            QSqlQuery query(db);
            text = ResStatisticsDatabase::readJsonText(query);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("export"));
    if (!error->isEmpty())
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject()) {
        *error = QStringLiteral("no statistics in ") + path;
        return false;
    }
    CountGroupList day;
    ResStatisticsParam::StuCountFromJson(day, document.object());
    QString date = day.date;
    if (!QDate::fromString(date, QLatin1String(kDayDateFormat)).isValid())
        date = QFileInfo(path).completeBaseName();
    const QString folder = QStringLiteral("%1/%2").arg(QLatin1String(kOutputRoot), fileNameFor(date));
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create ") + folder;
        return false;
    }
    for (const CountGroup& group : day.groups) {
        QSaveFile file(folder + '/' + fileNameFor(group.groupName) + QStringLiteral(".csv"));
        if (!file.open(QIODevice::WriteOnly) || file.write(groupCsv(group)) < 0 || !file.commit()) {
            *error = QStringLiteral("cannot write ") + file.fileName() + QStringLiteral(": ") + file.errorString();
            return false;
        }
    }
    return true;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: export_result_statistics <day file>[,<day file>...]\n");
        return 2;
    }
    int failures = 0;
    for (const QString& path : args.at(1).split(',', Qt::SkipEmptyParts)) {
        QString error;
        if (exportDay(path, &error)) {
            std::printf("Done %s\n", qPrintable(path));
        } else {
            ++failures;
            std::fprintf(stderr, "%s\n", qPrintable(error));
        }
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}

#include "languagetable.h"

#include "globals.h"

#include <QDebug>
#include <QFile>
#include <QTextStream>

// The table lives in a static library: register its resource explicitly.
static void initLanguageResource()
{
    Q_INIT_RESOURCE(language);
}

namespace LanguageTable {

QString unescape(const QString& field)
{
    QString out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        const QChar c = field.at(i);
        if (c != '\\' || i + 1 == field.size()) {
            out += c;
            continue;
        }
        const QChar next = field.at(++i);
        switch (next.unicode()) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        default: out += c; out += next; break;
        }
    }
    return out;
}

int load(const QString& path)
{
    initLanguageResource();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "language table not readable:" << path << file.errorString();
        return -1;
    }
    QTextStream in(&file);
    in.setCodec("UTF-8");
    int rows = 0;
    int lineNumber = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        ++lineNumber;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QStringList fields = line.split('\t');
        bool ok = false;
        const int row = fields.value(0).toInt(&ok);
        if (!ok || row < 0 || 4 * row + 3 >= kLanguageTableSize || fields.size() < 2) {
            qWarning() << "language table: bad line" << lineNumber << "in" << path;
            continue;
        }
        for (int language = 0; language < kLanguageCount; ++language)
            gaLanStr[4 * row + language] = unescape(fields.value(1 + language));
        ++rows;
    }
    return rows;
}

} // namespace LanguageTable

#include "versionjson.h"

#include "globals.h"
#include "storedfile.h"

#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

bool writeVersionToJson(const QString& path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        qWarning() << "writeVersionToJson: cannot read" << path;
        return false;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(in.readAll(), &error);
    in.close();
    // A damaged file is left as it is rather than replaced by two keys.
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning() << "writeVersionToJson: not a JSON object:" << path << error.errorString();
        return false;
    }
    QJsonObject object = doc.object();
    object.insert("version", QString::fromLatin1(kProgramVersion));
    object.insert("camcount", numCamera);

    return StoredFile::write(path, QJsonDocument(object).toJson());
}

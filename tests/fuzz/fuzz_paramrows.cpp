// The ROI rows ("cammer0") and system parameter rows ("sysparam") as read
// from the parameter database, in an in-memory SQLite file. Each input line
// is one row, "name<TAB>value" for cammer0 or "sys:name<TAB>value" for
// sysparam. After one load and save the rows are the program's own, and a
// second load and save must leave them unchanged.
#include "cammersingleton.h"
#include "fuzzsupport.h"
#include "paramdatabase.h"
#include "roimaskowner.h"
#include "wizardpara.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

namespace {

constexpr int kMaxRows = 64;
const QStringList kTables{QStringLiteral("sysparam"), QStringLiteral("cammer0")};

QStringList snapshot()
{
    QStringList rows;
    for (const QString& table : kTables) {
        QSqlQuery query(ParamDatabase::database());
        query.exec(QStringLiteral("select name, value from %1 order by name").arg(table));
        while (query.next())
            rows << table + ':' + query.value(0).toString() + '=' + query.value(1).toString();
    }
    return rows;
}

void loadAndSave()
{
    WizardPara para;
    para.LoadDatafromFile();
    para.SaveDatatoFile();
    RoiMaskOwner owner;
    CammerSingleton store(0, &owner);
    store.LoadDatafromFile();
    store.SaveDatatoFile();
}

} // namespace

extern "C" void fuzzSetUp()
{
    // The stores write small files beside the database ("sysadd.txt"): a folder of our own.
    static QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path()))
        FuzzSupport::fail("no working folder");
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), ParamDatabase::kConnectionName);
    db.setDatabaseName(QStringLiteral(":memory:"));
    if (!db.open() || !ParamDatabase::createTables(db))
        FuzzSupport::fail("no in-memory parameter database");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QStringList lines = QString::fromUtf8(FuzzSupport::bytes(data, size)).split('\n');
    if (lines.size() > kMaxRows)
        return 0;
    QSqlQuery query(ParamDatabase::database());
    for (const QString& table : kTables)
        query.exec(QStringLiteral("delete from %1").arg(table));
    for (const QString& line : lines) {
        const int tab = line.indexOf('\t');
        if (tab < 0)
            continue;
        const bool sys = line.startsWith(QLatin1String("sys:"));
        const QString name = line.mid(sys ? 4 : 0, tab - (sys ? 4 : 0));
        query.prepare(QStringLiteral("insert into %1 values(?, ?)").arg(sys ? kTables[0] : kTables[1]));
        query.addBindValue(name);
        query.addBindValue(line.mid(tab + 1));
        query.exec();
    }
    loadAndSave();
    const QStringList first = snapshot();
    loadAndSave();
    if (snapshot() != first)
        FuzzSupport::fail("a saved row changed in a load and save round trip");
    return 0;
}

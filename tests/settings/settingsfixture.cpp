#include "settingsfixture.h"

#include "ccomp_diawait.h"
#include "editbox.h"
#include "globals.h"
#include "modalanswerer.h"
#include "paramdatabase.h"
#include "warnbox.h"
#include "choosebox.h"
#include "wizardparawidget.h"

#include <QAbstractScrollArea>
#include <QDialog>
#include <QScroller>
#include <QStackedWidget>
#include <QSqlQuery>

namespace {
const char* const kSysparamKeys[] = {"trigInDelay", "exposeTime", "sharp",   "contrast", "adjustPlus",
                                     "numFailDetect", "numAllDetect", "isPswUsed", "password", "system1",
                                     "system2",  "system3",  "system4",  "system5",  "system6",  "system7",
                                     "system8",  "system9",  "system10", "system11", "system12", "system13",
                                     "system14", "NgShowSwitch", "isColors"};
}  // namespace

void SettingsTest::SetUp()
{
    CameraUnitTest::SetUp();
    QSqlQuery q(QSqlDatabase::database(ParamDatabase::kConnectionName));
    for (const char* key : kSysparamKeys) {
        q.prepare("insert into sysparam values(?, '0')");
        q.addBindValue(QString::fromLatin1(key));
        ASSERT_TRUE(q.exec());
    }
    live->exposeTime[0] = 500;
    live->gamma[0] = 70;
    live->trigInDelay[0] = 5;
    live->detectEnable[0] = live->detectEnable[1] = 1;
    ASSERT_TRUE(live->SaveDatatoFile());
    withoutDragScrolling(settings);
}

void SettingsTest::withoutDragScrolling(WizardParaWidget* screen)
{
    for (int page = 0; page < screen->pages()->count(); ++page) {
        if (auto* scroll = qobject_cast<QAbstractScrollArea*>(screen->pages()->widget(page)))
            QScroller::ungrabGesture(scroll->viewport());
    }
}

int SettingsTest::fieldIndex(const std::function<bool(const ParamField&)>& match)
{
    const auto& fields = paramFields();
    for (size_t i = 0; i < fields.size(); ++i)
        if (match(fields[i]))
            return int(i);
    return -1;
}

EditBox* SettingsTest::editFor(int field) const
{
    return qobject_cast<EditBox*>(settings->fieldControl(field));
}

QString SettingsTest::sysparam(const QString& key) const
{
    QSqlQuery q(QSqlDatabase::database(ParamDatabase::kConnectionName));
    q.prepare("select value from sysparam where name = ?");
    q.addBindValue(key);
    return q.exec() && q.next() ? q.value(0).toString() : QString("<missing>");
}

void SettingsTest::openSettings()
{
    *gpWParaBak = *gpWPara;
    settings->open();
}

void SettingsTest::answer(QList<int> results)
{
    if (results.isEmpty())
        return;
    const int result = results.takeFirst();
    new ModalAnswerer([this, result, results](QWidget* modal) {
        // The wait indicator of a slow job closes by itself: the answer is for the next dialog.
        if (qobject_cast<CComp_DiaWait*>(modal)) {
            answer(QList<int>{result} + results);
            return;
        }
        if (auto* warn = dynamic_cast<WarnBox*>(modal))
            seen << warn->text();
        else if (auto* ask = dynamic_cast<ChooseBox*>(modal))
            seen << ask->text();
        answer(results);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->done(result);
    });
}

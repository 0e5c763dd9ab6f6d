#include "cameraunitfixture.h"

#include "choosebox.h"
#include "drawroiwidget.h"
#include "editorhooks.h"
#include "globals.h"
#include "paramdatabase.h"
#include "warnbox.h"
#include "wizardpara.h"
#include "wizardparawidget.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSqlDatabase>
#include <QSqlQuery>

void CameraUnitTest::SetUp()
{
    CameraPluginTest::SetUp();
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", ParamDatabase::kConnectionName);
    db.setDatabaseName(appDir.filePath(ParamDatabase::kFileName));
    ASSERT_TRUE(db.open());
    ASSERT_TRUE(ParamDatabase::createTables(db));

    gShowW = 1920;
    gShowH = 1080;
    gDNum = 2;
    gTempNum = 2;
    gSource = -1;
    numCamera = 1;
    live = std::make_unique<WizardPara>();
    edited = std::make_unique<WizardPara>();
    gpWPara = live.get();
    gpWParaBak = edited.get();
    live->enableDefect = 1;
    warnBox = std::make_unique<WarnBox>(nullptr);
    chooseBox = std::make_unique<ChooseBox>(nullptr, 750, 370);
    gpWarnBox = warnBox.get();
    gpChooseBox = chooseBox.get();
    window->selCamera = 0;
    editor = new DrawROIWidget(window.get(), window.get());
    settings = new WizardParaWidget(window.get(), window.get());
    window->pDrawROIWidget = editor;
    window->pWizardParaWidget = settings;
    EditorHooks::wire(window.get());
    settings->hide();
    window->show();  // the settings screen counts as visible only inside a shown window

    pMutexSaveFail = &failMutex;
    failImages.assign(2 * kMaxDetections, FailPicture());
    for (int g = 0; g < kMaxDetections; ++g) {
        gFailIndex[0][g] = 0;
        for (int s = 0; s < 2; ++s)
            gpFailImage[0][g][s] = &failImages[2 * g + s];
    }
    manager = std::make_unique<CameraManager>();
    CameraManager::_instance = manager.get();
}

void CameraUnitTest::TearDown()
{
    EditorHooks::unwire();
    window.reset();  // deletes the unit, the editor and the settings screen
    unit = nullptr;
    CameraManager::_instance = nullptr;
    manager.reset();
    for (auto& group : gpFailImage[0])
        group[0] = group[1] = nullptr;
    pMutexSaveFail = nullptr;
    gpWarnBox = nullptr;
    gpChooseBox = nullptr;
    warnBox.reset();
    chooseBox.reset();
    gpWPara = nullptr;
    gpWParaBak = nullptr;
    gSource = -1;
    numCamera = 0;
    {
        QSqlDatabase db = QSqlDatabase::database(ParamDatabase::kConnectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(ParamDatabase::kConnectionName);
    CameraPluginTest::TearDown();
}

QJsonObject CameraUnitTest::unitCamera(const QString& serial)
{
    QJsonObject spec = camera(serial, kWidth, kHeight);
    spec["pattern"] = "checker";
    return spec;
}

CammerWidget* CameraUnitTest::makeUnit(QJsonObject spec, bool real)
{
    installPlugin(real ? "simrealcamera" : "simcamera");
    writeScript(real ? QJsonArray() : QJsonArray{spec}, real ? QJsonArray{spec} : QJsonArray());
    manager->loadPlugins();
    manager->findCameras();
    if (manager->cameras.isEmpty())
        return nullptr;
    unit = new CammerWidget(window.get(), 0, manager->cameras.first());
    if (unit->isOpen) {
        unit->resize(gShowW, gShowH);
        editor->setCameraUnits({unit});
        settings->setCameraUnits({unit});
    }
    return unit;
}

namespace {
void sendMouse(QWidget* w, QEvent::Type type, const QPoint& p, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(p), w->mapToGlobal(p), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}
}  // namespace

void CameraUnitTest::press(const QPoint& p) { sendMouse(unit, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton); }

void CameraUnitTest::moveTo(const QPoint& p, bool held)
{
    sendMouse(unit, QEvent::MouseMove, p, Qt::NoButton, held ? Qt::LeftButton : Qt::NoButton);
}

void CameraUnitTest::release(const QPoint& p) { sendMouse(unit, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton); }

QString CameraUnitTest::storedRow(const QString& name) const
{
    QSqlQuery q(QSqlDatabase::database(ParamDatabase::kConnectionName));
    q.prepare("select value from cammer0 where name = ?");
    q.addBindValue(name);
    return q.exec() && q.next() ? q.value(0).toString() : QString("<missing>");
}

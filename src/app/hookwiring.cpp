#include "hookwiring.h"

#include "cameramanager.h"
#include "cameraunithooks.h"
#include "choosebox.h"
#include "configprompts.h"
#include "editorhooks.h"
#include "globals.h"
#include "statsfilewarning.h"
#include "statshooks.h"
#include "vek_netmn.h"
#include "warnbox.h"

namespace HookWiring {

namespace {

void warn(const QString& text)
{
    if (!gpWarnBox)
        return;
    gpWarnBox->setText(text);
    gpWarnBox->exec();
}

} // namespace

void wire(MainWindowBase* window)
{
    // The parameter stores and the statistics store warn and ask through the shared boxes.
    ConfigPrompts::setWarn(warn);
    ConfigPrompts::setAsk([](const QString& text) {
        if (!gpChooseBox)
            return false;
        gpChooseBox->setText(text);
        return gpChooseBox->exec() == 1;
    });
    StatsFileWarning::setHandler(warn);
    StatsHooks::instance().cameraCount = [] { return int(CameraManager::getInstance()->cameras.size()); };
    CameraUnitHooks::instance().publishRoiResult = [](const param_roi& result) {
        VEK_NETMN::getInstance()->insertRoiResult(result);
    };
    EditorHooks::wire(window);
}

void unwire()
{
    ConfigPrompts::setWarn({});
    ConfigPrompts::setAsk({});
    StatsFileWarning::setHandler({});
    StatsHooks::instance().cameraCount = nullptr;
    CameraUnitHooks::instance().publishRoiResult = nullptr;
    EditorHooks::unwire();
}

} // namespace HookWiring

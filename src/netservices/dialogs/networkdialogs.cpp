#include "networkdialogs.h"

#include "ccomp_diawait.h"
#include "globals.h"
#include "networkmanager.h"
#include "networksettingdialog.h"
#include "versiondownloaddialog.h"
#include "warnbox.h"

#include <QScopeGuard>

#include <memory>

namespace {
std::function<void()> gTouchHoldStop;
}

namespace NetDialogs {

void install()
{
    NetworkManager::setJobRunner([](const std::function<void()>& job) {
        CComp_DiaWait wait(job, nullptr);
        wait.exec();
    });
    NetworkManager::setPollGate([] { return !gpNetDialog || !gpNetDialog->isHidden(); });
}

int openNetworkSettings()
{
    install();
    if (!gpNetDialog)
        gpNetDialog = new NetworkSettingDialog(nullptr);  // kept for the life of the process
    const int result = gpNetDialog->exec();
    if (result == QDialog::Accepted)
        gpNetDialog->slotUpdateZEL();
    return result;
}

int openVersionDownload(QWidget* parent)
{
    // The listing is fetched while events are served: a second tap meanwhile opens nothing more.
    static bool opening = false;
    if (opening)
        return 0;
    opening = true;
    const auto done = qScopeGuard([] { opening = false; });
    auto dialog = std::make_unique<VersionDownloadDialog>(parent);
    if (!dialog->isOnline()) {
        if (gpWarnBox) {
            gpWarnBox->setText(QStringLiteral("网络异常无法访问"));
            gpWarnBox->exec();
        }
        return 0;
    }
    return dialog->exec();
}

void setTouchHoldStop(std::function<void()> stop)
{
    gTouchHoldStop = std::move(stop);
}

void stopTouchHold()
{
    if (gTouchHoldStop)
        gTouchHoldStop();
}

} // namespace NetDialogs

#include "netdialogtest.h"

#include "globals.h"
#include "languagetable.h"
#include "networkdialogs.h"
#include "networksettingdialog.h"
#include "qttesthelpers.h"

#include <QPointer>
#include <QCoreApplication>
#include <QProcess>
#include <QTimer>
#include <QWidget>

void NetDialogTest::SetUp()
{
    m_showW = gShowW;
    m_showH = gShowH;
    m_lan = gLan;
    LanguageTable::load();
    gShowW = 1920;
    gShowH = 1080;
    gLan = 1;
    NetDialogs::install();
}

void NetDialogTest::TearDown()
{
    dropNetDialog();
    gShowW = m_showW;
    gShowH = m_showH;
    gLan = m_lan;
}

void NetDialogTest::dropNetDialog()
{
    delete gpNetDialog;
    gpNetDialog = nullptr;
}

QByteArray runServing(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(5000))
        return {};
    const bool done = waitUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    if (!done) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return process.readAllStandardOutput();
}

void answerChild(QWidget* host, const char* className, std::function<bool(QWidget*)> action, int timeoutMs)
{
    auto poll = std::make_shared<std::function<void(int)>>();
    QPointer<QWidget> guard(host);
    *poll = [=](int remaining) {
        if (!guard || remaining <= 0)
            return;
        for (QWidget* child : guard->findChildren<QWidget*>()) {
            if (child->inherits(className) && child->isVisible() && action(child))
                return;
        }
        QTimer::singleShot(20, qApp, [=] { (*poll)(remaining - 20); });
    };
    QTimer::singleShot(20, qApp, [=] { (*poll)(timeoutMs); });
}

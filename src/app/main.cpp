#include "globals.h"
#include "languagetable.h"
#include "mainwindowbase.h"
#include "terminationsignals.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TerminationSignals::install();
    gAppDirPath = QDir::currentPath();

    if (LanguageTable::load() < 0)
        qWarning() << "starting with empty texts";

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        gShowW = screen->geometry().width();
        gShowH = screen->geometry().height();
    }

    MainWindowBase window;
    gpWin = &window;
    window.setObjectName("mainWindow");
    window.setWindowTitle("mould-monitor");
    window.setStyleSheet("background-color: rgb(30, 30, 30); color: white;");
    auto* layout = new QVBoxLayout(&window);
    auto* banner = new QLabel(QString("mould-monitor %1").arg(kProgramVersion), &window);
    banner->setAlignment(Qt::AlignCenter);
    layout->addWidget(banner);
    window.showFullScreen();
    qInfo().noquote() << "main window shown" << gShowW << "x" << gShowH;

    const int rc = app.exec();
    gpWin = nullptr;
    qInfo() << "exit" << rc;
    return rc;
}

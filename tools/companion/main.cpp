// The companion stand-in.
//   companion CONFIG_JSON             serve the monitor's link (as the box starts it)
//   companion --snapshot OUT.png      write the shared screen frame of camera 0 to a PNG
// Beside CONFIG_JSON it logs every report to "companion.log" (URL, body, a tab and the
// id it was sent under) and reads its
// heartbeat answer from "companion.json" (default: connected and registered);
// "hang": true there stops the process at the next heartbeat (alive, answering nothing).
// MM_COMPANION_PORT (default 10431) and MM_COMPANION_START_DELAY_MS (a slow
// start before it listens) come from the environment.
#include "companionserver.h"
#include "framesnapshot.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--snapshot")) {
        QString error;
        if (!FrameSnapshot::write(args.at(2), &error)) {
            std::fprintf(stderr, "companion: %s\n", qPrintable(error));
            return 1;
        }
        return 0;
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: companion CONFIG_JSON | companion --snapshot OUT.png\n");
        return 2;
    }
    const int delayMs = qEnvironmentVariableIntValue("MM_COMPANION_START_DELAY_MS");
    if (delayMs > 0)
        QThread::msleep(ulong(delayMs));
    bool ok = false;
    int port = qEnvironmentVariableIntValue("MM_COMPANION_PORT", &ok);
    if (!ok || port <= 0 || port > 65535)
        port = CompanionServer::kDefaultPort;
    CompanionServer server(QFileInfo(args.at(1)).absolutePath());
    QString error;
    if (!server.listen(quint16(port), &error)) {
        std::fprintf(stderr, "companion: %s\n", qPrintable(error));
        return 1;
    }
    return app.exec();
}

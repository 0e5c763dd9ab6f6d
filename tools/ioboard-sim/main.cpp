// ioboard-sim: the IO board on a pseudo-terminal, for tests and the demo.

#include "boardsimulator.h"
#include "terminationsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

void say(const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Reads command lines from stdin without blocking the event loop; EOF just stops reading.
void watchStdin(BoardSimulator* sim, QObject* owner)
{
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, owner);
    auto pending = std::make_shared<QByteArray>();
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [sim, notifier, pending] {
        char chunk[512];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            notifier->setEnabled(false);
            return;
        }
        pending->append(chunk, int(n));
        int eol;
        while ((eol = pending->indexOf('\n')) >= 0) {
            const QString reply = sim->execute(QString::fromUtf8(pending->left(eol)));
            pending->remove(0, eol + 1);
            if (!reply.isEmpty())
                say(reply);
        }
    });
}

void serveSocket(QLocalServer* server, BoardSimulator* sim)
{
    QObject::connect(server, &QLocalServer::newConnection, server, [server, sim] {
        while (QLocalSocket* client = server->nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QLocalSocket::readyRead, client, [client, sim] {
                while (client->canReadLine()) {
                    const QString reply = sim->execute(QString::fromUtf8(client->readLine()));
                    if (!reply.isEmpty())
                        client->write((reply + QLatin1Char('\n')).toUtf8());
                }
            });
        }
    });
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ioboard-sim"));
    TerminationSignals::install();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The IO board on a pseudo-terminal. Prints \"pty <path>\" once the terminal is ready; point the "
        "monitor at it with MM_IO_DEVICE=<path> (or at the --link path, e.g. /tmp/ioboard.tty: never in the "
        "monitor's folder, which Qt may scan at start).\n\n") + BoardSimulator::usageText());
    parser.addHelpOption();
    const QCommandLineOption linkOption(QStringLiteral("link"), QStringLiteral("Also make <path> (outside the monitor's folder) a symbolic link to the terminal."), QStringLiteral("path"));
    const QCommandLineOption pathFileOption(QStringLiteral("path-file"), QStringLiteral("Write the terminal's path into <file>."), QStringLiteral("file"));
    const QCommandLineOption recordOption(QStringLiteral("record"), QStringLiteral("Append every new output and input word to <file>, one line each: <ISO time> <CLOCK_MONOTONIC ms> out|in 0x<word>."), QStringLiteral("file"));
    const QCommandLineOption socketOption(QStringLiteral("socket"), QStringLiteral("Accept command lines on the unix socket <path> (a relative path is taken in the working folder)."), QStringLiteral("path"));
    const QCommandLineOption autoOption(QStringLiteral("auto"), QStringLiteral("Pulse input N every S seconds (for MS ms) from the start."), QStringLiteral("N:S[:MS]"));
    parser.addOptions({linkOption, pathFileOption, recordOption, socketOption, autoOption});
    parser.process(app);

    BoardSimulator sim;
    QString error;
    if (!sim.openPty(&error)) {
        say(QStringLiteral("error: %1").arg(error));
        return 1;
    }
    if (parser.isSet(recordOption) && !sim.setRecordFile(parser.value(recordOption), &error)) {
        say(QStringLiteral("error: %1").arg(error));
        return 1;
    }
    const QString link = parser.value(linkOption);
    if (!link.isEmpty()) {
        QFile::remove(link);
        if (!QFile::link(sim.slavePath(), link)) {
            say(QStringLiteral("error: cannot create the link %1").arg(link));
            return 1;
        }
    }
    if (parser.isSet(pathFileOption)) {
        QFile file(parser.value(pathFileOption));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(sim.slavePath().toLocal8Bit() + '\n') < 0) {
            say(QStringLiteral("error: cannot write %1").arg(file.fileName()));
            return 1;
        }
    }
    QLocalServer server;
    if (parser.isSet(socketOption)) {
        // Qt takes a bare name as a name in its own folder (/tmp), where simulators started
        // in different folders would remove each other's socket: a relative path is a path.
        const QString socketPath = QFileInfo(parser.value(socketOption)).absoluteFilePath();
        QLocalServer::removeServer(socketPath);
        if (!server.listen(socketPath)) {
            say(QStringLiteral("error: cannot listen on %1: %2").arg(socketPath, server.errorString()));
            return 1;
        }
        serveSocket(&server, &sim);
    }
    if (parser.isSet(autoOption)) {
        const QString reply = sim.execute(QStringLiteral("auto ") + parser.value(autoOption).replace(QLatin1Char(':'), QLatin1Char(' ')));
        if (!reply.startsWith(QLatin1String("ok"))) {
            say(reply);
            return 1;
        }
    }

    QObject::connect(&sim, &BoardSimulator::quitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    watchStdin(&sim, &app);
    say(QStringLiteral("pty %1").arg(sim.slavePath()));

    const int rc = app.exec();
    // Leave no link behind that points at a terminal which is gone.
    if (!link.isEmpty() && QFileInfo(link).symLinkTarget() == sim.slavePath())
        QFile::remove(link);
    return rc;
}

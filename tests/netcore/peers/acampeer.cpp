// Runs one side of the camera discovery protocol, or one waiting send of the
// broadcast core, inside a network namespace that a test made.
//   acampeer device <seconds> <command-log>
//   acampeer host
//   acampeer send <destination> <port> <local address> <wait ms> <payload>
#include "shellrunner.h"
#include "udp_acam_client.h"
#include "udp_acam_server.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>

namespace {

// Records the commands the device would run; nothing is run (the clock stays untouched).
class RecordingRunner : public ShellRunner
{
public:
    explicit RecordingRunner(const QString& path) : m_file(path) { m_file.open(QIODevice::Append); }
    ShellResult run(const QString& program, const QStringList& args, int, const QByteArray&) override
    {
        m_file.write((QStringList{program} + args).join(' ').toUtf8() + '\n');
        m_file.flush();
        ShellResult result;
        result.started = true;
        result.exitCode = 0;
        return result;
    }

private:
    QFile m_file;
};

void print(const QJsonObject& object)
{
    std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

QJsonArray devicesJson(const QMap<QString, gvcp_discover_ack_payload>& devices)
{
    QJsonArray list;
    for (const gvcp_discover_ack_payload& d : devices)
        list.append(QJsonObject{{"id", d.idText()}, {"ip", d.ipText()}, {"mask", d.maskText()},
                                {"gateway", d.gatewayText()}, {"requester", d.requesterText()},
                                {"model", d.modelText()}});
    return list;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    if (mode == "device" && args.size() == 3) {
        RecordingRunner runner(args.at(2));
        ShellRunner::setInstance(&runner);
        UDP_ACam_Server server;
        print(QJsonObject{{"id", server.deviceId()}, {"interfaces", server.interfaces().size()}});
        QTimer::singleShot(args.at(1).toInt() * 1000, &app, &QCoreApplication::quit);
        const int rc = app.exec();
        ShellRunner::setInstance(nullptr);
        return rc;
    }
    if (mode == "host") {
        UDP_ACam_Client client;
        const QJsonArray found = devicesJson(client.findCamera());
        QJsonArray plan;
        for (const UDP_ACam_Client::ForceIpPlan& e : client.planForceIP())
            plan.append(QJsonObject{{"id", e.id}, {"ip", e.ip}, {"mask", e.mask}, {"gateway", e.gateway},
                                    {"local", e.localIp}});
        client.ActForceIP();
        print(QJsonObject{{"found", found}, {"plan", plan}, {"after", devicesJson(client.devices())}});
        return 0;
    }
    if (mode == "send" && args.size() == 6) {
        UDP_Core core;
        Udpsend_Cond cond;
        cond.dstip = args.at(1).toStdString();
        cond.dstport = args.at(2).toInt();
        cond.localip = args.at(3).toStdString();
        cond.waittime_ms = args.at(4).toInt();
        std::string reply;
        const int rc = core.send_core(cond, args.at(5).toStdString(), reply);
        print(QJsonObject{{"rc", rc}, {"reply", QString::fromStdString(reply)}});
        return 0;
    }
    std::fprintf(stderr, "usage: acampeer device <seconds> <log> | host | send <dst> <port> <local> <wait> <payload>\n");
    return 2;
}

#include "networkmanager.h"

#include "clock.h"
#include "hostpaths.h"
#include "shellrunner.h"
#include "storedfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>
#include <QtConcurrent>
#include <QtDebug>

namespace {

NetworkManager::JobRunner gJobRunner;
NetworkManager::PollGate gPollGate;

void runJob(const std::function<void()>& job)
{
    if (gJobRunner)
        gJobRunner(job);
    else
        job();
}

bool pollAllowed()
{
    return !gPollGate || gPollGate();
}

QByteArray readHostFile(const char* hostPath, bool* opened = nullptr)
{
    QFile file(HostPaths::path(QString::fromLatin1(hostPath)));
    const bool ok = file.open(QIODevice::ReadOnly);
    if (opened)
        *opened = ok;
    return ok ? file.readAll() : QByteArray();
}

QJsonArray cardArray(const QByteArray& bytes, bool* valid = nullptr)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    const QJsonValue cards = doc.object().value(QStringLiteral("netcard_info"));
    if (valid)
        *valid = error.error == QJsonParseError::NoError && cards.isArray();
    return cards.toArray();
}

bool saveCardFile(const char* hostPath, const QJsonArray& cards, QString* error)
{
    const QString path = HostPaths::path(QString::fromLatin1(hostPath));
    const QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("netcard_info"), cards}}).toJson(QJsonDocument::Indented);
    QString reason;
    if (!StoredFile::write(path, bytes, &reason)) {
        if (error)
            *error = path + QStringLiteral(": ") + reason;
        return false;
    }
    return true;
}

QString cardName(const QJsonValue& card)
{
    return card.toObject().value(QStringLiteral("name")).toString();
}

// The file's entries with the given cards in their places: an entry of a card that is not
// among the saved ones (absent at this moment) stays as it was; new cards go at the end.
QJsonArray mergeCards(const QJsonArray& stored, const QJsonArray& cards, const QSet<QString>& saved)
{
    QJsonArray merged;
    QSet<QString> placed;
    const auto place = [&](const QString& name) {
        for (const QJsonValue& card : cards)
            if (cardName(card) == name && !placed.contains(name)) {
                merged.append(card);
                placed.insert(name);
            }
    };
    for (const QJsonValue& entry : stored) {
        const QString name = cardName(entry);
        if (saved.contains(name))
            place(name);
        else
            merged.append(entry);
    }
    for (const QJsonValue& card : cards)
        place(cardName(card));
    return merged;
}

} // namespace

NetworkManager* NetworkManager::instance = nullptr;

void NetworkManager::setJobRunner(JobRunner runner)
{
    gJobRunner = std::move(runner);
}

void NetworkManager::setPollGate(PollGate gate)
{
    gPollGate = std::move(gate);
}

NetworkManager* NetworkManager::getInstance()
{
    if (!instance)
        instance = new NetworkManager();
    return instance;
}

NetworkManager::NetworkManager()
    : m_pollTimer(new QTimer(this))
    , m_ifconfig(std::make_unique<QFutureWatcher<ShellResult>>())
{
    initnetcard(false);
    connect(m_pollTimer, &QTimer::timeout, this, &NetworkManager::pollTick);
    connect(m_ifconfig.get(), &QFutureWatcher<ShellResult>::finished, this,
            [this] { finishTick(m_ifconfig->result(), m_rateDue); });
}

NetworkManager::~NetworkManager()
{
    m_ifconfig->waitForFinished();
}

QStringList NetworkManager::presentCards()
{
    static const QRegularExpression kCardName(QStringLiteral("\\s+(\\S+):\\s+"));
    QStringList names;
    const QString text = QString::fromLatin1(readHostFile("/proc/net/dev"));
    auto it = kCardName.globalMatch(text);
    while (it.hasNext()) {
        const QString name = it.next().captured(1);
        if (name != QLatin1String("lo"))
            names << name;
    }
    return names;
}

bool NetworkManager::initnetcard(bool force)
{
    const QString wiredPath = HostPaths::path(QString::fromLatin1(kWiredFile));
    if (!QFile::exists(wiredPath) || force) {
        runJob([this] { run_upnetcard(); });
        if (!QFile::exists(wiredPath))
            return false;
    }
    const QByteArray wired = readHostFile(kWiredFile);
    QStringList present = presentCards();

    m_cards = QJsonArray();
    for (const QJsonValue& card : cardArray(wired)) {
        const QString name = card.toObject().value(QStringLiteral("name")).toString();
        if (present.removeOne(name))
            m_cards.append(card);
    }
    if (m_cards.isEmpty()) {
        QFile::remove(HostPaths::path(QString::fromLatin1(kReportFile)));
        return false;
    }

    bool valid = false;
    const QJsonArray wireless = cardArray(readHostFile(kWirelessFile), &valid);
    if (valid) {
        for (const QJsonValue& card : wireless) {
            const QString name = card.toObject().value(QStringLiteral("name")).toString();
            if (present.removeOne(name))
                m_cards.append(card.toObject());
        }
    }
    return true;
}

QMap<QString, stu_netinfo> NetworkManager::readNetInfo() const
{
    QMap<QString, stu_netinfo> cards;
    for (const QJsonValue& card : m_cards) {
        const stu_netinfo info = json2stu(card.toObject());
        cards.insert(info.name, info);
    }
    return cards;
}

stu_netinfo NetworkManager::json2stu(const QJsonObject& object)
{
    stu_netinfo card;
    const auto readText = [&object](const char* key, QString& field) {
        const QJsonValue v = object.value(QLatin1String(key));
        if (v.isString())
            field = v.toString();
    };
    const auto readBool = [&object](const char* key, bool& field) {
        const QJsonValue v = object.value(QLatin1String(key));
        if (v.isBool())
            field = v.toBool();
    };
    readText("mac", card.mac);
    readText("name", card.name);
    readText("address", card.address);
    readText("netmask", card.netmask);
    readText("gateway", card.gateway);
    readText("dns", card.dns);
    readBool("isdhcp", card.isdhcp);
    readText("describe", card.describe);
    readText("status", card.status);
    readBool("iswifi", card.iswifi);
    readBool("ispriority", card.ispriority);
    const QJsonValue note = object.value(QLatin1String("describe_netplan"));
    if (note.isString()) {
        card.describe_netplan = note.toString();
        card.describe += QLatin1Char('(') + card.describe_netplan + QLatin1Char(')');
    }
    if (card.iswifi) {
        readBool("use", card.use);
        readText("hotname", card.hotname);
        readText("passwd", card.passwd);
    }
    return card;
}

QJsonObject NetworkManager::stu2json(const stu_netinfo& card) const
{
    // "describe" goes back as the file held it: the script adds its note on every run.
    QString describe = card.describe;
    const QString note = QLatin1Char('(') + card.describe_netplan + QLatin1Char(')');
    if (!card.describe_netplan.isNull() && describe.endsWith(note))
        describe.chop(note.size());

    QJsonObject object{{"name", card.name},       {"dns", card.dns},         {"gateway", card.gateway},
                       {"netmask", card.netmask}, {"address", card.address}, {"mac", card.mac},
                       {"isdhcp", card.isdhcp},   {"describe", describe},    {"status", card.status},
                       {"iswifi", card.iswifi},
                       {"ispriority", card.ispriority && card.name == m_priorityName}};
    if (card.iswifi) {
        object.insert(QStringLiteral("use"), card.use);
        object.insert(QStringLiteral("hotname"), card.hotname);
        object.insert(QStringLiteral("passwd"), card.passwd);
    }
    return object;
}

bool NetworkManager::writeCardFiles(const QList<stu_netinfo>& cards, QString* error) const
{
    QJsonArray wired;
    QJsonArray wireless;
    QSet<QString> saved;
    for (const stu_netinfo& card : cards) {
        (card.iswifi ? wireless : wired).append(stu2json(card));
        saved.insert(card.name);
    }
    QString wiredError;
    QString wirelessError;
    const bool wiredOk = saveCardFile(kWiredFile, mergeCards(cardArray(readHostFile(kWiredFile)), wired, saved), &wiredError);
    const bool wirelessOk =
        saveCardFile(kWirelessFile, mergeCards(cardArray(readHostFile(kWirelessFile)), wireless, saved), &wirelessError);
    if (error) {
        QStringList reasons;
        for (const QString& reason : {wiredError, wirelessError})
            if (!reason.isEmpty())
                reasons << reason;
        *error = reasons.join(QStringLiteral("; "));
    }
    return wiredOk && wirelessOk;
}

void NetworkManager::NDSpeed_Touch(bool on, int ms)
{
    if (!pollAllowed())
        return;
    m_tick = 0;
    if (on) {
        m_pollTimer->setInterval(ms);
        m_pollTimer->start();
    } else {
        m_pollTimer->stop();
    }
}

bool NetworkManager::isPolling() const
{
    return m_pollTimer->isActive();
}

bool NetworkManager::ifconfigPending() const
{
    return m_ifconfig->isRunning();
}

void NetworkManager::pollTick()
{
    if (!pollAllowed())
        return;
    const bool rateDue = m_tick++ % kRateEveryTicks == 0;
    if (m_ifconfig->isRunning()) {
        // The previous tick's "ifconfig" is still out: rows keep their state.
        if (rateDue)
            updateRates();
        return;
    }
    qInfo() << "start ifconfig";
    m_rateDue = rateDue;
    // Off the GUI thread: a fork and exec would cost it several milliseconds per tick.
    m_ifconfig->setFuture(QtConcurrent::run([] {
        return ShellRunner::instance().run(QStringLiteral("ifconfig"), {}, kIfconfigWaitMs);
    }));
}

void NetworkManager::finishTick(const ShellResult& result, bool rateDue)
{
    applyIfconfig(result.stdOut + result.stdErr);
    if (rateDue)
        updateRates();
    qInfo() << "ifconfig finish";
}

void NetworkManager::applyIfconfig(const QByteArray& output)
{
    static const QRegularExpression kUpBroadcast(QStringLiteral("^(\\S+):\\s+flags=\\S+<UP,BROADCAST,\\S+>\\s+.*"));
    for (const QString& block : QString::fromLocal8Bit(output).split(QStringLiteral("\n\n"))) {
        const QRegularExpressionMatch match = kUpBroadcast.match(block);
        if (!match.hasMatch())
            continue;
        stu_speedinfo& row = m_speedTable[match.captured(1)];
        if (!block.contains(QLatin1String("RUNNING")))
            row.active = false;
    }
}

void NetworkManager::updateRates()
{
    static const QRegularExpression kCounters(QStringLiteral("^\\s*(\\S+):\\s+(\\d+)\\s+"));
    bool opened = false;
    const QByteArray text = readHostFile("/proc/net/dev", &opened);
    if (!opened)
        return;
    const qint64 nowMs = MonotonicClock::ms();
    for (const QString& line : QString::fromLatin1(text).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = kCounters.match(line);
        if (!match.hasMatch())
            continue;
        const QString name = match.captured(1);
        auto row = m_speedTable.find(name);
        if (name == QLatin1String("lo") || row == m_speedTable.end())
            continue;
        bool ok = false;
        const quint64 received = match.captured(2).toULongLong(&ok);
        if (!ok)
            continue;
        const ReceiveRateMeter::Reading reading = m_rateMeter.sample(name, received, nowMs);
        row->lastBytes = row->bytes;
        row->bytes = received;
        if (reading.measured) {
            row->active = reading.bytesPerSecond != 0.0;
            row->rate = ReceiveRateMeter::rateText(reading.bytesPerSecond);
        }
    }
}

QStringList NetworkManager::getHotPoints(const QString& card)
{
    m_hotPoints.clear();
    // The name goes to tools run as root: only plain interface names pass.
    if (!isValidCardName(card))
        return {};
    ShellRunner& runner = ShellRunner::instance();
    runner.run(QStringLiteral("ifconfig"), {card, QStringLiteral("down")});
    runner.run(QStringLiteral("iwconfig"), {card, QStringLiteral("mode"), QStringLiteral("managed")});
    runner.run(QStringLiteral("ifconfig"), {card, QStringLiteral("up")});
    m_scanCard = card;
    runJob([this] { run_wireless(); });
    return m_hotPoints;
}

void NetworkManager::run_wireless()
{
    static const QRegularExpression kEssid(QStringLiteral("\\s+ESSID:\"(.*)\""));
    qInfo() << "start run wireless";
    const ShellResult result =
        ShellRunner::instance().run(QStringLiteral("iwlist"), {m_scanCard, QStringLiteral("scan")}, kScanTimeoutMs);
    for (const QString& line : QString::fromUtf8(result.stdOut + result.stdErr).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = kEssid.match(line);
        if (!match.hasMatch())
            continue;
        const QString ssid = match.captured(1);
        if (!ssid.isEmpty() && !m_hotPoints.contains(ssid))
            m_hotPoints << ssid;
    }
    qInfo() << "finish run wireless";
}

void NetworkManager::run_upnetcard()
{
    // In its own process group, so a time-out also ends what the script started.
    const ShellResult result = ShellRunner::instance().run(
        QStringLiteral("setsid"), {QStringLiteral("python3"), QString::fromLatin1(kScript)}, m_scriptTimeoutMs);
    if (result.timedOut)
        qWarning() << "card-update script ended after" << m_scriptTimeoutMs << "ms";
    else if (!result.ok())
        qWarning() << "card-update script failed:" << result.exitCode << result.stdErr.trimmed();
}

QMap<QString, QString> NetworkManager::NetInfoChk() const
{
    QMap<QString, QString> subnets;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        if (iface.name() == QLatin1String("lo") || iface.addressEntries().isEmpty())
            continue;
        QStringList parts = iface.addressEntries().first().ip().toString().split(QLatin1Char('.'), Qt::SkipEmptyParts);
        if (parts.size() != 4)
            continue;
        parts.removeLast();
        subnets[parts.join(QLatin1Char('.'))] += iface.name() + QLatin1Char(';');
    }
    return subnets;
}

bool NetworkManager::isValidCardName(const QString& name)
{
    static const QRegularExpression kName(QStringLiteral("^[A-Za-z0-9_.:-]{1,15}$"));
    static const QRegularExpression kDotsOnly(QStringLiteral("^\\.+$"));
    // A leading "-" would be read as an option by the tools.
    return kName.match(name).hasMatch() && !kDotsOnly.match(name).hasMatch() && !name.startsWith(QLatin1Char('-'));
}

bool NetworkManager::isWifi(const QString& name)
{
    if (!isValidCardName(name) || !presentCards().contains(name))
        return false;
    return QFileInfo(HostPaths::path(QStringLiteral("/sys/class/net/%1/wireless").arg(name))).isDir();
}

bool NetworkManager::getProcessAlive(const QString& name)
{
    qInfo() << "getProcessAlive";
    // Every process with its whole command line, so a script run by an interpreter is found by
    // the script's name; no shell and no grep, so the search never finds itself.
    const QStringList args{QStringLiteral("-e"), QStringLiteral("-o"), QStringLiteral("pid="), QStringLiteral("-o"),
                           QStringLiteral("args=")};
    bool alive = false;
    if (!name.isEmpty()) {
        const ShellResult result = ShellRunner::instance().run(QStringLiteral("ps"), args, kScanTimeoutMs);
        const QString search = QStringLiteral("ps ") + args.join(QLatin1Char(' '));
        const qint64 self = QCoreApplication::applicationPid();
        for (const QString& line : QString::fromLocal8Bit(result.stdOut).split(QLatin1Char('\n'))) {
            const QString entry = line.trimmed();
            const int blank = entry.indexOf(QLatin1Char(' '));
            if (blank < 0)
                continue;
            const QString command = entry.mid(blank + 1).trimmed();
            if (entry.left(blank).toLongLong() == self || command == search)
                continue;
            alive = alive || command.contains(name);
        }
    }
    qInfo() << "end" << "getProcessAlive";
    return alive;
}

bool NetworkManager::chkIPformat(const QString& text)
{
    return !text.isEmpty() && !QHostAddress(text).isNull();
}

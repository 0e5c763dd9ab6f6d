#include "versionrepository.h"

#include "clock.h"
#include "shellrunner.h"
#include "vek_netmn.h"

#include <QDir>
#include <QDomDocument>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>
#include <QtDebug>

#include <cstdio>

namespace {

const char* const kExtensions[] = {"gz", "tar", "rar"};
constexpr int kNoExtension = 100;

// Waits for the reply or the limit; a reply still running at the limit is aborted.
bool waitFor(QNetworkReply* reply, int limitMs)
{
    if (!reply->isFinished()) {
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        limit.start(limitMs);
        loop.exec();
    }
    if (reply->isFinished())
        return true;
    reply->abort();
    return false;
}

QNetworkRequest requestFor(const QString& url)
{
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(VersionRepository::kTransferTimeoutMs);
    return request;
}

// No HTTP status at all: the server was not reached.
bool unreachable(QNetworkReply* reply)
{
    return reply->error() != QNetworkReply::NoError
           && !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

} // namespace

VersionRepository::VersionRepository(QObject* parent)
    : VersionRepository(QString::fromLatin1(kDefaultServer), kDefaultPort, QString::fromLatin1(kDefaultInstallRoot), parent)
{
    const QVariant server = VEK_NETMN::getConfigValue(QString::fromLatin1(kServerKey));
    const QVariant port = VEK_NETMN::getConfigValue(QString::fromLatin1(kPortKey));
    const QVariant root = VEK_NETMN::getConfigValue(QString::fromLatin1(kRootKey));
    if (server.type() == QVariant::String && !server.toString().isEmpty())
        m_server = server.toString();
    if (port.canConvert<int>() && port.toInt() > 0)
        m_port = port.toInt();
    if (root.type() == QVariant::String && !root.toString().isEmpty())
        m_installRoot = root.toString();
}

VersionRepository::VersionRepository(const QString& server, int port, const QString& installRoot, QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_server(server)
    , m_port(port)
    , m_installRoot(QDir::cleanPath(installRoot))
{
}

VersionRepository::~VersionRepository() = default;

QString VersionRepository::baseUrl() const
{
    return QStringLiteral("http://%1:%2%3").arg(m_server).arg(m_port).arg(QString::fromLatin1(kListingPath));
}

bool VersionRepository::getNodeInfos(const QString& url, QString* text)
{
    std::unique_ptr<QNetworkReply> reply(m_network->get(requestFor(url)));
    if (!waitFor(reply.get(), kListingWaitMs)) {
        m_online = false;
        qWarning() << "error";
        return false;
    }
    if (reply->error() != QNetworkReply::NoError) {
        // A refused or unresolved server is as unreachable as a silent one.
        if (unreachable(reply.get()))
            m_online = false;
        return false;
    }
    m_online = true;
    *text = QString::fromUtf8(reply->readAll());
    m_curUrl = url;
    return true;
}

void VersionRepository::browse()
{
    m_productLines.clear();
    m_packages.clear();
    visit(baseUrl(), -1);
}

void VersionRepository::visit(const QString& url, int productLine)
{
    QString text;
    if (!getNodeInfos(url, &text))
        return;
    Listing listing;
    QString error;
    if (!parseListing(text, &listing, &error)) {
        qDebug().noquote() << error;
        return;
    }
    if (productLine >= 0 && !listing.packages.isEmpty()) {
        stu_packageInfos& entry = m_packages[productLine];
        for (const QString& name : listing.packages) {
            entry.names << name;
            entry.urls << url + name;
        }
        return;
    }
    const QString base = baseUrl();
    for (const QString& folder : listing.folders) {
        if (productLine < 0 && !folder.contains(QLatin1Char('V'))) {
            // Product lines come from the top of the listing only, so a folder
            // named like its product line cannot be followed for ever.
            m_productLines << folder;
            m_packages << stu_packageInfos();
            visit(base + folder + QLatin1Char('/'), m_productLines.size() - 1);
        } else if (productLine >= 0 && folder == QLatin1String("V17") && !url.endsWith(QLatin1String("/V17/"))) {
            visit(url + folder + QLatin1Char('/'), productLine);
        }
    }
}

bool VersionRepository::parseListing(const QString& source, Listing* listing, QString* error)
{
    QString text = source;
    text.remove(QStringLiteral("<hr>"));
    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    if (!doc.setContent(text, &message, &line, &column)) {
        if (error)
            *error = QStringLiteral("Error: Parse error at line %1, column %2: %3").arg(line).arg(column).arg(message);
        return false;
    }
    *listing = Listing();
    for (QDomNode node = doc.documentElement().firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.nodeName() != QLatin1String("body"))
            continue;
        // A file line stays one token ("name   date size"); a folder line gives
        // the name, then a token starting with a blank ("   date -").
        QStringList tokens;
        for (const QString& piece : node.toElement().text().split(QLatin1Char('/')))
            tokens << piece.split(QStringLiteral("\r\n"));
        for (int i = 0; i + 1 < tokens.size(); ++i) {
            const QString& token = tokens.at(i);
            if (!token.startsWith(QLatin1String("V17")) && !token.startsWith(QLatin1String("v17")))
                continue;
            for (const char* word : kExtensions) {
                const QString dotted = QLatin1Char('.') + QLatin1String(word);
                const int at = token.lastIndexOf(dotted);
                const int end = at + dotted.size();
                // The extension must end the name: "x.tar.gz" is not also "x.tar".
                if (at < 0 || (end < token.size() && !token.at(end).isSpace()))
                    continue;
                const QString name = token.left(end);
                if (!listing->packages.contains(name))
                    listing->packages << name;
            }
        }
        for (int i = 1; i + 1 < tokens.size(); ++i) {
            if (tokens.at(i).startsWith(QLatin1Char(' ')) && !tokens.at(i - 1).isEmpty())
                listing->folders << tokens.at(i - 1);
        }
    }
    return true;
}

QString VersionRepository::extensionOf(const QString& name)
{
    int first = kNoExtension;
    for (const char* word : kExtensions) {
        const int at = name.indexOf(QLatin1Char('.') + QLatin1String(word));
        if (at >= 0 && at < first)
            first = at;
    }
    return first == kNoExtension ? QString() : name.mid(first);
}

QString VersionRepository::targetPath(const QString& name) const
{
    return m_installRoot + QStringLiteral("/newupdate") + extensionOf(name);
}

bool VersionRepository::downloadPackage(const QString& name, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    QString url;
    for (const stu_packageInfos& entry : qAsConst(m_packages)) {
        const int index = entry.names.indexOf(name);
        if (index >= 0) {
            url = entry.urls.at(index);
            break;
        }
    }
    if (url.isEmpty())
        return fail(QStringLiteral("no package ") + name);

    // The package goes to a partial file first; the old files are touched only once it is whole.
    QFile partial(m_installRoot + QLatin1Char('/') + QString::fromLatin1(kPartialName));
    if (!partial.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning() << "path error";
        return fail(partial.fileName() + QStringLiteral(": ") + partial.errorString());
    }
    std::unique_ptr<QNetworkReply> reply(m_network->get(requestFor(url)));
    // The network pauses while this much waits unread, so memory stays flat for any package size.
    reply->setReadBufferSize(kReadBufferBytes);
    qint64 written = 0;
    bool writeFailed = false;
    connect(reply.get(), &QNetworkReply::readyRead, this, [&] {
        const QByteArray chunk = reply->readAll();
        if (writeFailed)
            return;
        if (partial.write(chunk) != chunk.size())
            writeFailed = true;
        written += chunk.size();
    });
    const bool finished = waitFor(reply.get(), kDownloadWaitMs);
    if (finished && reply->bytesAvailable() > 0) {
        const QByteArray rest = reply->readAll();
        writeFailed = writeFailed || partial.write(rest) != rest.size();
        written += rest.size();
    }
    writeFailed = writeFailed || !partial.flush();
    partial.close();

    QString reason;
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (!finished) {
        qWarning() << "error";
        reason = QStringLiteral("time-out");
    } else if (reply->error() != QNetworkReply::NoError) {
        reason = reply->errorString();
    } else if (length.isValid() && length.toLongLong() != written) {
        reason = QStringLiteral("truncated: %1 of %2 bytes").arg(written).arg(length.toLongLong());
    } else if (writeFailed) {
        reason = QStringLiteral("write error: ") + partial.errorString();
    }
    if (!reason.isEmpty()) {
        partial.remove();
        return fail(reason);
    }

    deleteBackupFile();
    backUpPackage();
    deleteFile();
    const QString target = targetPath(name);
    if (std::rename(QFile::encodeName(partial.fileName()).constData(), QFile::encodeName(target).constData()) != 0) {
        partial.remove();
        qWarning() << "path error";
        return fail(QStringLiteral("cannot store ") + target);
    }
    return true;
}

void VersionRepository::deleteBackupFile()
{
    const QFileInfo root(m_installRoot);
    QDir parent = root.dir();
    if (!parent.exists())
        return;
    const QString prefix = root.fileName() + QLatin1Char('-');
    for (const QString& entry : parent.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        // "bin-ZEV-<time>.tar.gz": more than the install folder's own name.
        if (entry.contains(QLatin1String(".tar.gz")) && entry.startsWith(prefix) && entry.size() > prefix.size())
            parent.remove(entry);
    }
}

void VersionRepository::backUpPackage()
{
    const QFileInfo root(m_installRoot);
    if (!root.isDir())
        return;
    const QString archive = root.path() + QLatin1Char('/') + root.fileName() + QLatin1Char('-')
                            + Clock::now().toString(QStringLiteral("yyyy-MM-dd-hh:mm:ss")) + QStringLiteral(".tar.gz");
    // The partial download stays out of the backup.
    const ShellResult result = ShellRunner::instance().run(
        QStringLiteral("tar"),
        {QStringLiteral("--force-local"), QStringLiteral("--exclude=") + QString::fromLatin1(kPartialName),
         QStringLiteral("-zcf"), archive, QStringLiteral("-C"), root.path(), root.fileName()},
        kBackupTimeoutMs);
    if (!result.ok())
        qWarning() << "backup failed:" << archive << result.stdErr.trimmed();
}

void VersionRepository::deleteFile()
{
    QDir root(m_installRoot);
    if (!root.exists())
        return;
    for (const QString& entry : root.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (entry.split(QLatin1Char('.')).first() == QLatin1String("newupdate"))
            root.remove(entry);
    }
}

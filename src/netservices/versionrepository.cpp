#include "versionrepository.h"

#include "clock.h"
#include "shellrunner.h"
#include "storedfile.h"
#include "vek_netmn.h"

#include <QDir>
#include <QDomDocument>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTimer>
#include <QtConcurrent>
#include <QtDebug>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

const char* const kExtensions[] = {"gz", "tar", "rar"};
constexpr const char* kDiskFull = "disk full: ";
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

namespace {

// One walk over the server's listings, made on a pool thread with a network access of its own.
struct ListingWalk
{
    QString base;
    QNetworkAccessManager network;
    bool online = true;
    QString curUrl;
    QVector<QString> productLines;
    QList<stu_packageInfos> packages;

    bool getNodeInfos(const QString& url, QString* text)
    {
        std::unique_ptr<QNetworkReply> reply(network.get(requestFor(url)));
        // A listing larger than any real one is not read to its end.
        bool tooLarge = false;
        QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(), [&](qint64 received, qint64 total) {
            if (received > VersionRepository::kMaxListingBytes || total > VersionRepository::kMaxListingBytes) {
                tooLarge = true;
                reply->abort();
            }
        });
        if (!waitFor(reply.get(), VersionRepository::kListingWaitMs)) {
            online = false;
            qWarning() << "error";
            return false;
        }
        if (tooLarge) {
            qWarning().noquote() << "listing larger than" << VersionRepository::kMaxListingBytes << "bytes left out:" << url;
            return false;
        }
        if (reply->error() != QNetworkReply::NoError) {
            // A refused or unresolved server is as unreachable as a silent one.
            if (unreachable(reply.get()))
                online = false;
            return false;
        }
        online = true;
        *text = QString::fromUtf8(reply->readAll());
        curUrl = url;
        return true;
    }

    void visit(const QString& url, int productLine)
    {
        QString text;
        if (!getNodeInfos(url, &text))
            return;
        VersionRepository::Listing listing;
        QString error;
        if (!VersionRepository::parseListing(text, &listing, &error)) {
            qDebug().noquote() << error;
            return;
        }
        if (productLine >= 0 && !listing.packages.isEmpty()) {
            stu_packageInfos& entry = packages[productLine];
            for (const QString& name : qAsConst(listing.packages)) {
                if (entry.names.size() >= VersionRepository::kMaxPackages) {
                    qWarning() << "more than" << VersionRepository::kMaxPackages << "packages: the rest left out" << url;
                    break;
                }
                entry.names << name;
                entry.urls << url + name;
            }
            return;
        }
        for (const QString& folder : qAsConst(listing.folders)) {
            if (productLine < 0 && !folder.contains(QLatin1Char('V'))) {
                if (productLines.size() >= VersionRepository::kMaxProductLines) {
                    qWarning() << "more than" << VersionRepository::kMaxProductLines << "product lines: the rest left out";
                    return;
                }
                // Product lines come from the top of the listing only, so a folder
                // named like its product line cannot be followed for ever.
                productLines << folder;
                packages << stu_packageInfos();
                visit(base + folder + QLatin1Char('/'), productLines.size() - 1);
            } else if (productLine >= 0 && folder == QLatin1String("V17") && !url.endsWith(QLatin1String("/V17/"))) {
                visit(url + folder + QLatin1Char('/'), productLine);
            }
        }
    }
};

struct BrowseResult
{
    bool online = true;
    QString curUrl;
    QVector<QString> productLines;
    QList<stu_packageInfos> packages;
};

// Waits for a pool thread's work while this thread keeps serving its events.
template <typename T> T waitServing(const QFuture<T>& future)
{
    if (!future.isFinished()) {
        QFutureWatcher<T> watcher;
        QEventLoop loop;
        QObject::connect(&watcher, &QFutureWatcher<T>::finished, &loop, &QEventLoop::quit);
        watcher.setFuture(future);
        if (!future.isFinished())
            loop.exec();
    }
    return future.result();
}

} // namespace

void VersionRepository::browse()
{
    const BrowseResult result = waitServing(QtConcurrent::run([base = baseUrl()] {
        ListingWalk walk;
        walk.base = base;
        walk.visit(base, -1);
        return BrowseResult{walk.online, walk.curUrl, walk.productLines, walk.packages};
    }));
    m_online = result.online;
    m_curUrl = result.curUrl;
    m_productLines = result.productLines;
    m_packages = result.packages;
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
                // Only a plain file name may become part of a path here.
                const QString name = safeFileName(token.left(end));
                if (name.startsWith(QLatin1String("V17"), Qt::CaseInsensitive) && name == token.left(end).trimmed()
                    && !listing->packages.contains(name))
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

QString VersionRepository::safeFileName(const QString& name)
{
    const int cut = qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    const QString last = name.mid(cut + 1);
    return last == QLatin1String(".") || last == QLatin1String("..") ? QString() : last;
}

QString VersionRepository::targetPath(const QString& name) const
{
    return m_installRoot + QStringLiteral("/newupdate") + extensionOf(safeFileName(name));
}

bool VersionRepository::checkArchive(const QString& path, const QString& extension, QString* error)
{
    struct Check
    {
        const char* extension;
        const char* program;
        const char* option;
    };
    // The whole file is read through: a cut or damaged archive fails.
    static const Check kChecks[] = {
        {".tar.gz", "tar", "-tzf"}, {".gz", "gzip", "-t"}, {".tar", "tar", "-tf"},
    };
    static const QByteArray kRarMagic("Rar!\x1a\x07", 6);
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (extension == QLatin1String(".rar")) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.read(kRarMagic.size()) != kRarMagic)
            return fail(QStringLiteral("not a rar archive"));
        return true;
    }
    for (const Check& check : kChecks) {
        if (extension != QLatin1String(check.extension))
            continue;
        QStringList args{QString::fromLatin1(check.option), path};
        if (QLatin1String(check.program) == QLatin1String("tar"))
            args.prepend(QStringLiteral("--force-local"));
        const ShellResult result =
            ShellRunner::instance().run(QString::fromLatin1(check.program), args, kArchiveCheckTimeoutMs);
        if (!result.ok())
            return fail(QStringLiteral("not a %1 archive: %2").arg(extension, QString::fromLocal8Bit(result.stdErr).trimmed()));
        return true;
    }
    return fail(QStringLiteral("no archive of a known kind: ") + extension);
}

namespace {

// Writes the whole chunk; the reason when it could not.
QString writeChunk(QFile& file, const QByteArray& chunk)
{
    errno = 0;
    if (file.write(chunk) == chunk.size())
        return QString();
    const bool full = errno == ENOSPC || errno == EDQUOT;
    return (full ? QLatin1String(kDiskFull) : QLatin1String("write error: ")) + file.errorString();
}

// "newupdate" with any extension: the names a download stores a package under.
bool isStoredPackage(const QString& fileName)
{
    return fileName.split(QLatin1Char('.')).first() == QLatin1String("newupdate");
}

// Puts what was written to path (a file, or a folder's entries) on the disk; the reason
// when it could not.
QString syncToDisk(const QString& path)
{
    const ShellResult result =
        ShellRunner::instance().run(QStringLiteral("sync"), {path}, VersionRepository::kSyncTimeoutMs);
    if (result.ok())
        return QString();
    return QStringLiteral("cannot sync %1: %2").arg(path, QString::fromLocal8Bit(result.stdErr).trimmed());
}

// Gives a file that is whole and on the disk its own name, and puts the name on the disk as
// well: whatever bears the name after a power cut is the whole file. The reason when not.
QString renameOnDisk(const QString& from, const QString& to)
{
    QString reason;
    if (!StoredFile::replace(from, to, &reason))
        return reason;
    return syncToDisk(QFileInfo(to).path());
}

} // namespace

bool VersionRepository::downloadPackage(const QString& name, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    m_diskFull = false;
    m_unsavedFile.clear();
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
    const QString extension = extensionOf(name);
    if (safeFileName(name) != name || extension.isEmpty())
        return fail(QStringLiteral("no plain package name: ") + name);

    // The package goes to a partial file first; the old files are touched only once it is whole.
    // Unbuffered, a failing write reports its own reason (a full disk) at once. The file is
    // used by one worker step at a time, each waited for before the next.
    const auto partial = std::make_shared<QFile>(m_installRoot + QLatin1Char('/') + QString::fromLatin1(kPartialName));
    const QString openError = waitServing(QtConcurrent::run([partial] {
        return partial->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ? QString()
                                                                                                  : partial->errorString();
    }));
    if (!openError.isEmpty()) {
        qWarning() << "path error";
        return fail(partial->fileName() + QStringLiteral(": ") + openError);
    }
    std::unique_ptr<QNetworkReply> reply(m_network->get(requestFor(url)));
    // The network pauses while this much waits unread, so memory stays flat for any package size.
    reply->setReadBufferSize(kReadBufferBytes);
    qint64 written = 0;
    QString stopReason;
    const auto stop = [&](const QString& reason) {
        if (stopReason.isEmpty())
            stopReason = reason;
        reply->abort();
    };
    const auto diskFull = [this](qint64 needed) {
        const QStorageInfo disk(m_installRoot);
        return disk.isValid() && disk.bytesAvailable() < needed;
    };
    // The handlers below are tied to this and dropped before the locals they use.
    auto scope = std::make_unique<QObject>();
    connect(reply.get(), &QNetworkReply::metaDataChanged, scope.get(), [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!length.isValid())
            return;
        if (length.toLongLong() > m_maxPackageBytes)
            stop(QStringLiteral("too large: %1 bytes, at most %2").arg(length.toLongLong()).arg(m_maxPackageBytes));
        else if (diskFull(length.toLongLong()))
            stop(QLatin1String(kDiskFull) + QStringLiteral("%1 bytes do not fit into %2").arg(length.toLongLong()).arg(m_installRoot));
    });

    // One chunk at a time goes to a worker; the next waits in the reply meanwhile.
    QEventLoop loop;
    bool done = false;
    QFutureWatcher<QString> writing;
    qint64 writingBytes = 0;
    const auto next = [&] {
        if (writingBytes > 0 || done)
            return;
        if (stopReason.isEmpty()) {
            const QByteArray chunk = reply->read(kReadBufferBytes);
            if (written + chunk.size() > m_maxPackageBytes) {
                stop(QStringLiteral("too large: more than %1 bytes").arg(m_maxPackageBytes));
            } else if (!chunk.isEmpty()) {
                writingBytes = chunk.size();
                writing.setFuture(QtConcurrent::run([partial, chunk] { return writeChunk(*partial, chunk); }));
                return;
            }
        }
        if (!stopReason.isEmpty() || reply->isFinished()) {
            done = true;
            loop.quit();
        }
    };
    connect(&writing, &QFutureWatcher<QString>::finished, scope.get(), [&] {
        const QString reason = writing.result();
        if (reason.isEmpty())
            written += writingBytes;
        writingBytes = 0;
        if (!reason.isEmpty())
            stop(reason);
        next();
    });
    connect(reply.get(), &QNetworkReply::readyRead, scope.get(), next);
    connect(reply.get(), &QNetworkReply::finished, scope.get(), next);
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, scope.get(), [&] {
        if (reply->isFinished())
            return;
        qWarning() << "error";
        stop(QStringLiteral("time-out"));
    });
    limit.start(kDownloadWaitMs);
    next();
    if (!done)
        loop.exec();
    scope.reset();
    // The loop ends early only when the program quits: the write under way ends first.
    if (writingBytes > 0)
        writing.waitForFinished();
    if (!done)
        stop(QStringLiteral("cut short"));

    // The first reason found stands: a full disk is reported as such, never as a cut transfer.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    QString reason = stopReason;
    if (reason.isEmpty() && reply->error() != QNetworkReply::NoError) {
        reason = reply->errorString();
    } else if (reason.isEmpty() && !length.isValid()) {
        // Without a length a cut connection cannot be told from the end of the package.
        reason = QStringLiteral("no length announced: %1 bytes received").arg(written);
    } else if (reason.isEmpty() && length.toLongLong() != written) {
        reason = QStringLiteral("truncated: %1 of %2 bytes").arg(written).arg(length.toLongLong());
    }
    const QString target = targetPath(name);
    // Everything left reads or writes whole files or folders (tar takes seconds on a real install).
    const Stored stored = waitServing(QtConcurrent::run([this, partial, reason, extension, target] {
        partial->close();
        if (!reason.isEmpty()) {
            partial->remove();
            return Stored{reason, QString()};
        }
        return storePackage(partial->fileName(), extension, target);
    }));
    if (!stored.reason.isEmpty()) {
        m_diskFull = stored.reason.startsWith(QLatin1String(kDiskFull));
        m_unsavedFile = m_diskFull ? target : stored.unsavedFile;
        return fail(stored.reason);
    }
    return true;
}

VersionRepository::Stored VersionRepository::storePackage(const QString& partial, const QString& extension,
                                                          const QString& target)
{
    const auto fail = [&partial](const QString& reason, const QString& unsaved) {
        QFile::remove(partial);
        return Stored{reason, unsaved};
    };
    QString reason;
    if (!checkArchive(partial, extension, &reason))
        return fail(reason, QString());
    // On the disk before the old packages go: the next start installs whatever bears the name.
    reason = syncToDisk(partial);
    if (!reason.isEmpty())
        return fail(reason, target);
    // Without its backup the package is not taken: the box could not go back from it.
    // The earlier backups go only once the new one is whole.
    QString archive;
    if (!backUpPackage(&archive, &reason))
        return fail(reason, archive);
    if (!archive.isEmpty())
        deleteBackupFile(archive);
    // Renamed over a package of the same name, so a cut at any point leaves the old or the new
    // one whole; packages of another name go only after it.
    changingFile(target);
    reason = renameOnDisk(partial, target);
    if (!reason.isEmpty()) {
        qWarning() << "path error";
        return fail(QStringLiteral("cannot store %1: %2").arg(target, reason), target);
    }
    QString left;
    // The new package is stored all the same: the next start keeps the newest and tries the
    // others again.
    if (!deleteFile(&left, target))
        qWarning().noquote() << "package stored as" << target << "; cannot remove the older" << left;
    return Stored();
}

QStringList VersionRepository::leftovers() const
{
    const QFileInfo root(m_installRoot);
    return {m_installRoot + QLatin1Char('/') + QLatin1String(kPartialName),
            root.path() + QStringLiteral("/.") + root.fileName() + QLatin1String(kBackupPartialSuffix)};
}

void VersionRepository::removeLeftovers()
{
    for (const QString& path : leftovers()) {
        if (QFileInfo(path).isFile() && QFile::remove(path))
            qInfo().noquote() << "left by a download cut short, removed:" << path;
    }
    // A cut between a package's rename and the removal of one of another name leaves both;
    // the one renamed last is the package that was stored.
    QFileInfoList packages = QDir(m_installRoot).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    packages.erase(std::remove_if(packages.begin(), packages.end(),
                                  [](const QFileInfo& file) { return !isStoredPackage(file.fileName()); }),
                   packages.end());
    if (packages.size() < 2)
        return;
    std::sort(packages.begin(), packages.end(),
              [](const QFileInfo& a, const QFileInfo& b) { return a.lastModified() > b.lastModified(); });
    QString left;
    if (deleteFile(&left, packages.constFirst().absoluteFilePath()))
        qInfo().noquote() << "older packages removed, kept the stored one:" << packages.constFirst().absoluteFilePath();
}

void VersionRepository::deleteBackupFile(const QString& keep)
{
    const QFileInfo root(m_installRoot);
    QDir parent = root.dir();
    if (!parent.exists())
        return;
    const QString prefix = root.fileName() + QLatin1Char('-');
    const QString kept = QFileInfo(keep).fileName();
    for (const QString& entry : parent.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        // "bin-ZEV-<time>.tar.gz": more than the install folder's own name.
        if (entry.contains(QLatin1String(".tar.gz")) && entry.startsWith(prefix) && entry.size() > prefix.size()
            && entry != kept) {
            changingFile(parent.filePath(entry));
            parent.remove(entry);
        }
    }
}

bool VersionRepository::backUpPackage(QString* archive, QString* error)
{
    const QFileInfo root(m_installRoot);
    if (!root.isDir())
        return true;
    const QString path = root.path() + QLatin1Char('/') + root.fileName() + QLatin1Char('-')
                         + Clock::now().toString(QStringLiteral("yyyy-MM-dd-hh:mm:ss")) + QStringLiteral(".tar.gz");
    const QString temporary = leftovers().constLast();
    if (archive)
        *archive = path;
    // The partial download stays out of the backup.
    const ShellResult result = ShellRunner::instance().run(
        QStringLiteral("tar"),
        {QStringLiteral("--force-local"), QStringLiteral("--exclude=") + QString::fromLatin1(kPartialName),
         QStringLiteral("-zcf"), temporary, QStringLiteral("-C"), root.path(), root.fileName()},
        kBackupTimeoutMs);
    QString reason;
    if (!result.ok())
        reason = QString::fromLocal8Bit(result.stdErr).trimmed();
    else if (!checkArchive(temporary, QStringLiteral(".tar.gz"), &reason))
        reason.prepend(QStringLiteral("written, but "));
    else
        reason = syncToDisk(temporary);
    // The earlier backups may go only once the new name is on the disk too.
    if (reason.isEmpty()) {
        changingFile(path);
        reason = renameOnDisk(temporary, path);
    }
    if (reason.isEmpty())
        return true;
    // A cut archive is no backup, and it holds the space that was missing.
    QFile::remove(temporary);
    reason = QStringLiteral("backup failed: %1: %2").arg(path, reason);
    qWarning().noquote() << reason;
    if (error)
        *error = reason;
    return false;
}

bool VersionRepository::deleteFile(QString* left, const QString& keep)
{
    QDir root(m_installRoot);
    if (!root.exists())
        return true;
    const QString kept = QFileInfo(keep).fileName();
    bool removed = true;
    for (const QString& entry : root.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!isStoredPackage(entry) || entry == kept)
            continue;
        changingFile(root.filePath(entry));
        if (root.remove(entry))
            continue;
        if (removed && left)
            *left = root.filePath(entry);
        removed = false;
    }
    return removed;
}

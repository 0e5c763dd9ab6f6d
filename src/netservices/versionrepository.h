#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class QNetworkAccessManager;

// The packages of one product line: names and, at the same index, full URLs.
struct stu_packageInfos
{
    QList<QString> names;
    QList<QString> urls;
};

// The update server as the download dialog sees it: its directory listing
// (product lines, each with a "V17" folder of packages) and the download of
// one package into the install folder as "newupdate" plus its extension.
class VersionRepository : public QObject
{
    Q_OBJECT
public:
    static constexpr const char* kListingPath = "/monitor/";
    static constexpr const char* kDefaultServer = "127.0.0.1";
    static constexpr int kDefaultPort = 10440;
    static constexpr const char* kDefaultInstallRoot = "/root/bin-ZEV";
    // Keys of "cnt_net/config.json" that move the server or the install folder.
    static constexpr const char* kServerKey = "update_serveraddr";
    static constexpr const char* kPortKey = "update_serverport";
    static constexpr const char* kRootKey = "update_root";

    static constexpr int kTransferTimeoutMs = 3000;
    static constexpr int kListingWaitMs = 1000;
    static constexpr int kDownloadWaitMs = 30000;
    static constexpr int kBackupTimeoutMs = 600000;
    static constexpr const char* kPartialName = ".newupdate.partial";
    // The backup being written, beside the install folder: "." + folder + this.
    static constexpr const char* kBackupPartialSuffix = "-backup.partial";
    static constexpr qint64 kReadBufferBytes = 1 << 20;
    // Limits of what a server may make this program hold or build.
    static constexpr qint64 kMaxListingBytes = 4 << 20;
    static constexpr int kMaxPackages = 700;   // per product line: a hundred pages
    static constexpr int kMaxProductLines = 12;
    static constexpr qint64 kMaxPackageBytes = qint64(1) << 30;
    static constexpr int kArchiveCheckTimeoutMs = 300000;
    static constexpr int kSyncTimeoutMs = 120000;

    // Server and folder from the configuration, defaults where it says nothing.
    explicit VersionRepository(QObject* parent = nullptr);
    VersionRepository(const QString& server, int port, const QString& installRoot, QObject* parent = nullptr);
    ~VersionRepository() override;

    QString baseUrl() const;
    QString installRoot() const { return m_installRoot; }

    // Fetches and parses the listing tree on a pool thread while this thread keeps serving
    // its events; product lines and their packages line up by index.
    void browse();
    bool isOnline() const { return m_online; }
    QVector<QString> productLines() const { return m_productLines; }
    QList<stu_packageInfos> packages() const { return m_packages; }

    // One listing's packages and folder names (the packages win when there are any).
    struct Listing
    {
        QStringList packages;
        QStringList folders;
    };
    // false with the parse error in *error when the text is no document.
    static bool parseListing(const QString& text, Listing* listing, QString* error = nullptr);
    // ".tar.gz" for "V17_x.tar.gz"; empty when the name has no known extension.
    static QString extensionOf(const QString& name);
    // The last part of a name after any "/" or "\\"; empty for "", "." and "..".
    static QString safeFileName(const QString& name);
    // Whether the file opens as the archive its extension names (gzip, tar, rar); else the reason.
    static bool checkArchive(const QString& path, const QString& extension, QString* error = nullptr);

    // Backs up the install folder and stores the package as "newupdate" + extension;
    // false with the reason in *error. A package is taken only when its announced length
    // arrived whole, it opens as the archive it names, it is on the disk and the backup was
    // written; the old packages change only then. The network is served in this thread, every file step runs
    // on a worker while this thread keeps serving its events (the detection cycle included).
    bool downloadPackage(const QString& name, QString* error = nullptr);
    QString targetPath(const QString& name) const;
    // Whether the last failed download found the install folder's disk full.
    bool lastFailureDiskFull() const { return m_diskFull; }
    // The file the last failed download could not write (the package or the backup); empty
    // when it failed elsewhere (network, a damaged package).
    QString lastUnsavedFile() const { return m_unsavedFile; }
    // Tests lower the size limit.
    void setMaxPackageBytes(qint64 bytes) { m_maxPackageBytes = bytes; }

    // What a download or backup cut short left (the partial package, the partial backup);
    // removed at start, before any download can run, with packages older than the stored one.
    QStringList leftovers() const;
    void removeLeftovers();

    // The file steps of a download; they block, so a worker runs them.
    // Removes the backups beside the install folder, all but keep (a path).
    void deleteBackupFile(const QString& keep = QString());
    // Writes "<folder>-<time>.tar.gz" beside the install folder, its path into *archive (no
    // folder: nothing to do); false with the reason in *error when it could not be written.
    // The archive is written under a temporary name and gets its own name only once it
    // reads whole and is on the disk, so a cut or failed backup never leaves one by that name.
    bool backUpPackage(QString* archive = nullptr, QString* error = nullptr);
    // Removes the stored packages, all but keep (a path); false with the name of one that
    // could not be removed in *left.
    bool deleteFile(QString* left = nullptr, const QString& keep = QString());

protected:
    // Called before each rename or removal that changes what the next start finds (a package,
    // a backup); tests cut the power there.
    virtual void changingFile(const QString& path) { Q_UNUSED(path) }

private:
    struct Stored
    {
        QString reason;
        QString unsavedFile;
    };
    // Checks the whole package and puts it on the disk, backs up, renames it into place (the new
    // name put on the disk too) and then removes packages of another name.
    Stored storePackage(const QString& partial, const QString& extension, const QString& target);

    QNetworkAccessManager* m_network;
    QString m_server;
    int m_port;
    QString m_installRoot;
    bool m_online = true;
    QString m_curUrl;
    QVector<QString> m_productLines;
    QList<stu_packageInfos> m_packages;
    qint64 m_maxPackageBytes = kMaxPackageBytes;
    bool m_diskFull = false;
    QString m_unsavedFile;
};

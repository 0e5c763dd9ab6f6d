#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class QDomElement;
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
    static constexpr qint64 kReadBufferBytes = 1 << 20;

    // Server and folder from the configuration, defaults where it says nothing.
    explicit VersionRepository(QObject* parent = nullptr);
    VersionRepository(const QString& server, int port, const QString& installRoot, QObject* parent = nullptr);
    ~VersionRepository() override;

    QString baseUrl() const;
    QString installRoot() const { return m_installRoot; }

    // Fetches the listing tree; product lines and their packages line up by index.
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

    // Backs up the install folder and stores the package as "newupdate" + extension;
    // false with the reason in *error. The old files change only once the package is whole.
    bool downloadPackage(const QString& name, QString* error = nullptr);
    QString targetPath(const QString& name) const;

    void deleteBackupFile();
    void backUpPackage();
    void deleteFile();

private:
    bool getNodeInfos(const QString& url, QString* text);
    void visit(const QString& url, int productLine);

    QNetworkAccessManager* m_network;
    QString m_server;
    int m_port;
    QString m_installRoot;
    bool m_online = true;
    QString m_curUrl;
    QVector<QString> m_productLines;
    QList<stu_packageInfos> m_packages;
};

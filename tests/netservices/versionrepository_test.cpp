#include "nginxserver.h"
#include "qttesthelpers.h"
#include "tempappdir.h"
#include "versionrepository.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {

QByteArray packageBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((quint32(i) * 7919u) >> 3);
    return bytes;
}

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray fileSha256(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

class UpdateServer : public AppDirTest
{
protected:
    void SetUp() override
    {
        for (int i = 1; i <= 15; ++i)
            server.writeFile(QString("monitor/lineA/V17/V17_pkg%1.tar.gz").arg(i, 2, 10, QChar('0')), "x");
        server.writeFile("monitor/lineA/V17/V18_other.tar.gz", "x");
        server.writeFile("monitor/lineA/V18/V17_wrongfolder.tar.gz", "x");
        // A folder named like its product line must not be followed again and again.
        server.writeFile("monitor/lineA/lineA/V17/V17_nested.tar.gz", "x");
        server.makeDir("monitor/lineB");
        server.writeFile("monitor/lineC/V17/V17_c.rar", packageBytes(3000));
        server.writeFile("monitor/lineC/V17/v17_d.tar", "x");
        server.writeFile("monitor/Vtools/V17/V17_t.tar.gz", "x");
        QString error;
        ASSERT_TRUE(server.start(&error)) << error.toStdString();
        root = appDir.filePath("root/bin-ZEV");
        ASSERT_TRUE(writeWholeFile(root + "/monitor.bin", "program"));
        repository = std::make_unique<VersionRepository>("127.0.0.1", server.port(), root);
    }

    NginxServer server;
    QString root;
    std::unique_ptr<VersionRepository> repository;
};

} // namespace

TEST(UpdateListing, ExtensionsAreExactAndParseErrorsReported)
{
    EXPECT_EQ(VersionRepository::extensionOf("V17_x.tar.gz"), QString(".tar.gz"));
    EXPECT_EQ(VersionRepository::extensionOf("V17_gzip_tool.rar"), QString(".rar"));
    EXPECT_EQ(VersionRepository::extensionOf("V17_plain"), QString());

    VersionRepository::Listing listing;
    QString error;
    EXPECT_FALSE(VersionRepository::parseListing("<html><body>", &listing, &error));
    EXPECT_TRUE(error.startsWith("Error: Parse error at line ")) << error.toStdString();
}

TEST_F(UpdateServer, ListingGivesTopLevelProductLinesWithOneEntryPerPackage)
{
    repository->browse();
    EXPECT_TRUE(repository->isOnline());
    ASSERT_EQ(repository->productLines(), QVector<QString>({"lineA", "lineB", "lineC"}));
    const auto packages = repository->packages();
    ASSERT_EQ(packages.size(), 3);
    ASSERT_EQ(packages[0].names.size(), 15) << packages[0].names.join(",").toStdString();
    EXPECT_EQ(packages[0].names.first(), QString("V17_pkg01.tar.gz"));
    EXPECT_EQ(packages[0].urls.first(),
              QString("http://127.0.0.1:%1/monitor/lineA/V17/V17_pkg01.tar.gz").arg(server.port()));
    EXPECT_TRUE(packages[1].names.isEmpty()) << "a product line without packages keeps its column";
    EXPECT_EQ(packages[2].names, QList<QString>({"V17_c.rar", "v17_d.tar"}));
}

TEST_F(UpdateServer, DownloadStoresWholePackageAndReplacesOldFilesOnlyThen)
{
    const QByteArray package = packageBytes(3 * 1024 * 1024 + 17);
    server.writeFile("monitor/lineA/V17/V17_pkg02.tar.gz", package);
    const QString parent = appDir.filePath("root");
    ASSERT_TRUE(writeWholeFile(parent + "/bin-ZEV-2026-01-01-00:00:00.tar.gz", "old backup"));
    ASSERT_TRUE(writeWholeFile(root + "/newupdate.rar", "older package"));
    repository->browse();

    QString error;
    ASSERT_TRUE(repository->downloadPackage("V17_pkg02.tar.gz", &error)) << error.toStdString();
    EXPECT_EQ(fileSha256(root + "/newupdate.tar.gz"), sha256(package));
    EXPECT_FALSE(QFile::exists(root + "/newupdate.rar"));
    EXPECT_FALSE(QFile::exists(root + "/" + VersionRepository::kPartialName));
    const QStringList backups = QDir(parent).entryList({"bin-ZEV-*.tar.gz"});
    ASSERT_EQ(backups.size(), 1) << backups.join(",").toStdString();
    EXPECT_NE(backups.first(), QString("bin-ZEV-2026-01-01-00:00:00.tar.gz"));

    // A rar package replaces the stored tar.gz.
    ASSERT_TRUE(repository->downloadPackage("V17_c.rar", &error)) << error.toStdString();
    EXPECT_EQ(fileSha256(root + "/newupdate.rar"), sha256(packageBytes(3000)));
    EXPECT_FALSE(QFile::exists(root + "/newupdate.tar.gz"));
}

TEST_F(UpdateServer, FailedDownloadsLeaveTheOldFiles)
{
    const QString parent = appDir.filePath("root");
    ASSERT_TRUE(writeWholeFile(parent + "/bin-ZEV-old.tar.gz", "old backup"));
    ASSERT_TRUE(writeWholeFile(root + "/newupdate.rar", "older package"));
    repository->browse();
    const auto untouched = [&] {
        return QFile::exists(parent + "/bin-ZEV-old.tar.gz") && QFile::exists(root + "/newupdate.rar")
               && QDir(parent).entryList({"bin-ZEV-*"}).size() == 1
               && !QFile::exists(root + "/" + VersionRepository::kPartialName);
    };

    // 404: the package vanished after the listing.
    QFile::remove(server.docRoot() + "/monitor/lineA/V17/V17_pkg03.tar.gz");
    QString error;
    EXPECT_FALSE(repository->downloadPackage("V17_pkg03.tar.gz", &error));
    EXPECT_TRUE(untouched());

    // The target cannot be written.
    ASSERT_TRUE(QDir().mkpath(root + "/" + VersionRepository::kPartialName));
    EXPECT_FALSE(repository->downloadPackage("V17_pkg04.tar.gz", &error));
    EXPECT_FALSE(error.isEmpty());
    QDir(root + "/" + VersionRepository::kPartialName).removeRecursively();
    EXPECT_TRUE(untouched());

    // Server down: the listing is unreachable and the box is reported offline.
    server.stop();
    EXPECT_FALSE(repository->downloadPackage("V17_pkg05.tar.gz", &error));
    EXPECT_TRUE(untouched());
    repository->browse();
    EXPECT_FALSE(repository->isOnline());
    EXPECT_TRUE(repository->productLines().isEmpty());
}

TEST(UpdateDownload, TruncatedBodyIsAFailure)
{
    TempAppDir appDir;
    const QString root = appDir.filePath("bin-ZEV");
    ASSERT_TRUE(writeWholeFile(root + "/newupdate.tar.gz", "previous"));
    // A server that promises 100000 bytes and closes after 10.
    QTcpServer peer;
    ASSERT_TRUE(peer.listen(QHostAddress::LocalHost, 0));
    const QByteArray listing = "<html><body><pre><a href=\"lineA/\">lineA/</a>   07-Dec-2026 10:00    -\r\n</pre></body></html>";
    const QByteArray inner = "<html><body><pre><a href=\"V17_cut.tar.gz\">V17_cut.tar.gz</a>   07-Dec-2026 10:00   100000\r\n"
                             "</pre></body></html>";
    QObject::connect(&peer, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = peer.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            const QByteArray request = socket->readAll();
            QByteArray body = request.startsWith("GET /monitor/ ") ? listing : inner;
            int length = body.size();
            if (request.contains(".tar.gz")) {
                body = QByteArray(10, 'x');
                length = 100000;
            }
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + QByteArray::number(length)
                          + "\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
    });
    VersionRepository repository("127.0.0.1", peer.serverPort(), root);
    repository.browse();
    ASSERT_EQ(repository.packages().value(0).names, QList<QString>({"V17_cut.tar.gz"}));
    QString error;
    EXPECT_FALSE(repository.downloadPackage("V17_cut.tar.gz", &error));
    EXPECT_EQ(appDir.readFile("bin-ZEV/newupdate.tar.gz"), QByteArray("previous"));
    EXPECT_FALSE(QFile::exists(root + "/" + VersionRepository::kPartialName));
}

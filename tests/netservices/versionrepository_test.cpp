#include "nginxserver.h"
#include "qttesthelpers.h"
#include "shellrunner.h"
#include "tempappdir.h"
#include "versionrepository.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTcpSocket>
#include <atomic>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>
#include <utility>

namespace {

QByteArray packageBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((quint32(i) * 7919u) >> 3);
    return bytes;
}

// A real archive of the kind the extension names, holding content as one file.
QByteArray archive(const QString& extension, const QByteArray& content)
{
    if (extension == ".rar")
        return QByteArray("Rar!\x1a\x07\x00", 7) + content;
    QTemporaryDir dir;
    QFile file(dir.filePath("monitor.bin"));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return {};
    file.close();
    QProcess pack;
    pack.setWorkingDirectory(dir.path());
    if (extension == ".gz")
        pack.start("gzip", {"-c", "monitor.bin"});
    else
        pack.start("tar", {extension == ".tar" ? "-cf" : "-czf", "-", "monitor.bin"});
    pack.waitForFinished(30000);
    return pack.exitCode() == 0 ? pack.readAllStandardOutput() : QByteArray();
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
        server.writeFile("monitor/lineC/V17/V17_c.rar", archive(".rar", packageBytes(3000)));
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
    const QByteArray package = archive(".tar.gz", packageBytes(3 * 1024 * 1024 + 17));
    ASSERT_FALSE(package.isEmpty());
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
    EXPECT_EQ(fileSha256(root + "/newupdate.rar"), sha256(archive(".rar", packageBytes(3000))));
    EXPECT_FALSE(QFile::exists(root + "/newupdate.tar.gz"));

    // An older package of another name that cannot be removed: the new one is stored and
    // said to be, and what is left is logged.
    class OlderPackageStays : public VersionRepository
    {
    public:
        using VersionRepository::VersionRepository;

    protected:
        void changingFile(const QString& path) override
        {
            if (path.endsWith("/newupdate.rar") && QFile::remove(path))
                QDir().mkpath(path + "/held");   // a folder of that name: the removal fails
        }
    } stuck("127.0.0.1", server.port(), root);
    stuck.browse();
    MessageLog log;
    error.clear();
    EXPECT_TRUE(stuck.downloadPackage("V17_pkg02.tar.gz", &error));
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_TRUE(stuck.lastUnsavedFile().isEmpty());
    EXPECT_EQ(fileSha256(root + "/newupdate.tar.gz"), sha256(package));
    EXPECT_EQ(log.lines.filter("package stored as " + root + "/newupdate.tar.gz").filter(root + "/newupdate.rar").size(),
              1)
        << log.lines.join('\n').toStdString();
}

namespace {

// Runs every program as it is and notes each call (the program and its last argument)
// with what the stored package holds at that moment.
class StepRecorder : public ShellRunner
{
public:
    explicit StepRecorder(std::function<QString()> state) : m_state(std::move(state)) { setInstance(this); }
    ~StepRecorder() override { setInstance(nullptr); }

    ShellResult run(const QString& program, const QStringList& args, int timeoutMs,
                    const QByteArray& stdinData) override
    {
        {
            QMutexLocker lock(&m_mutex);
            m_steps << program + " " + args.value(args.size() - 1) + " | " + m_state();
        }
        return ShellRunner::run(program, args, timeoutMs, stdinData);
    }
    QStringList takeSteps()
    {
        QMutexLocker lock(&m_mutex);
        return std::exchange(m_steps, {});
    }

private:
    std::function<QString()> m_state;
    QMutex m_mutex;
    QStringList m_steps;
};

} // namespace

TEST_F(UpdateServer, AStoredPackageIsWholeAndOnTheDiskBeforeItBearsItsName)
{
    const QByteArray package = archive(".tar.gz", packageBytes(2 * 1024 * 1024 + 5));
    ASSERT_FALSE(package.isEmpty());
    const QString target = root + "/newupdate.tar.gz";
    const QString partial = root + "/" + VersionRepository::kPartialName;
    ASSERT_TRUE(writeWholeFile(target, "previous"));
    StepRecorder recorder([&] {
        const QString stored = QFile::exists(target) ? (fileSha256(target) == sha256(package) ? "new" : "previous") : "none";
        return QFile::exists(partial) ? stored + ", partial of " + QString::number(QFile(partial).size()) : stored;
    });
    const QString wholeBytes = QString::number(package.size());

    // Cut short, yet served with the length of what is there: it does not read whole.
    server.writeFile("monitor/lineA/V17/V17_pkg02.tar.gz", package.left(package.size() / 2));
    repository->browse();
    QString error;
    EXPECT_FALSE(repository->downloadPackage("V17_pkg02.tar.gz", &error));
    EXPECT_TRUE(error.startsWith("not a .tar.gz archive")) << error.toStdString();
    EXPECT_EQ(recorder.takeSteps(),
              QStringList{"tar " + partial + " | previous, partial of " + QString::number(package.size() / 2)});
    EXPECT_EQ(appDir.readFile("root/bin-ZEV/newupdate.tar.gz"), QByteArray("previous"));
    EXPECT_FALSE(QFile::exists(partial));

    // Whole: checked, on the disk, backed up, renamed, and the new name on the disk.
    server.writeFile("monitor/lineA/V17/V17_pkg02.tar.gz", package);
    ASSERT_TRUE(repository->downloadPackage("V17_pkg02.tar.gz", &error)) << error.toStdString();
    const QString parent = appDir.filePath("root");
    const QString backup = parent + "/.bin-ZEV" + VersionRepository::kBackupPartialSuffix;
    EXPECT_EQ(recorder.takeSteps(), QStringList({"tar " + partial + " | previous, partial of " + wholeBytes,
                                                 "sync " + partial + " | previous, partial of " + wholeBytes,
                                                 "tar bin-ZEV | previous, partial of " + wholeBytes,
                                                 "tar " + backup + " | previous, partial of " + wholeBytes,
                                                 "sync " + backup + " | previous, partial of " + wholeBytes,
                                                 "sync " + parent + " | previous, partial of " + wholeBytes,
                                                 "sync " + root + " | new"}));
    EXPECT_EQ(fileSha256(target), sha256(package));
}

namespace {

constexpr const char* kCutPortVariable = "MM_TEST_CUT_PORT";
constexpr const char* kCutRootVariable = "MM_TEST_CUT_ROOT";
constexpr const char* kCutStepVariable = "MM_TEST_CUT_STEP";

// A power cut: the process dies by SIGKILL when the given step comes. The steps are the
// programs the download runs (checks, backup, syncs) and its renames and removals.
std::atomic<int> g_steps{0};
void step()
{
    if (++g_steps == qEnvironmentVariableIntValue(kCutStepVariable))
        ::kill(::getpid(), SIGKILL);
}

class CutRunner : public ShellRunner
{
public:
    CutRunner() { setInstance(this); }
    ~CutRunner() override { setInstance(nullptr); }

    ShellResult run(const QString& program, const QStringList& args, int timeoutMs,
                    const QByteArray& stdinData) override
    {
        step();
        return ShellRunner::run(program, args, timeoutMs, stdinData);
    }
};

class CutRepository : public VersionRepository
{
public:
    using VersionRepository::VersionRepository;

protected:
    void changingFile(const QString&) override { step(); }
};

} // namespace

// Run by the test below as a child of its own, never on its own.
TEST(UpdateCut, DISABLED_DownloadDiesAtOneStep)
{
    CutRunner runner;
    CutRepository repository("127.0.0.1", qEnvironmentVariableIntValue(kCutPortVariable),
                             qEnvironmentVariable(kCutRootVariable));
    repository.browse();
    QString error;
    ASSERT_TRUE(repository.downloadPackage("V17_pkg02.tar.gz", &error)) << error.toStdString();
}

TEST_F(UpdateServer, APowerCutAtAnyStepLeavesTheOldOrTheNewPackageWhole)
{
    const QByteArray package = archive(".tar.gz", packageBytes(1024 * 1024 + 3));
    ASSERT_FALSE(package.isEmpty());
    server.writeFile("monitor/lineA/V17/V17_pkg02.tar.gz", package);
    const QByteArray older = archive(".tar.gz", packageBytes(5000));
    const QString parent = appDir.filePath("root");
    for (const QString& olderName : {QString("newupdate.tar.gz"), QString("newupdate.rar")}) {
        int cutsLeavingTheNew = 0;
        bool whole = false;
        for (int step = 1; !whole && step < 30; ++step) {
            SCOPED_TRACE(QString("older package %1, cut at step %2").arg(olderName).arg(step).toStdString());
            QDir(root).removeRecursively();
            for (const QString& backup : QDir(parent).entryList({"*.tar.gz"}))
                QFile::remove(parent + "/" + backup);
            ASSERT_TRUE(writeWholeFile(parent + "/bin-ZEV-2020-01-01-00:00:00.tar.gz", "earlier backup"));
            ASSERT_TRUE(writeWholeFile(root + "/monitor.bin", "program"));
            ASSERT_TRUE(writeWholeFile(root + "/" + olderName, older));
            {
                QFile file(root + "/" + olderName);
                ASSERT_TRUE(file.open(QIODevice::ReadWrite)
                            && file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
            }

            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(kCutPortVariable, QString::number(server.port()));
            env.insert(kCutRootVariable, root);
            env.insert(kCutStepVariable, QString::number(step));
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(),
                        {"--gtest_also_run_disabled_tests", "--gtest_filter=UpdateCut.DISABLED_DownloadDiesAtOneStep"});
            ASSERT_TRUE(child.waitForStarted());
            if (!child.waitForFinished(60000)) {
                child.kill();
                child.waitForFinished();
                FAIL() << "the download did not end";
            }
            whole = child.exitStatus() == QProcess::NormalExit;
            EXPECT_TRUE(!whole || child.exitCode() == 0) << child.readAll().toStdString();

            // On the disk now: a package, and each one whole, the old or the new one.
            const QStringList stored = QDir(root).entryList({"newupdate.*"}, QDir::Files);
            EXPECT_FALSE(stored.isEmpty()) << "no package left";
            bool newOne = false;
            for (const QString& name : stored) {
                const QByteArray bytes = appDir.readFile("root/bin-ZEV/" + name);
                EXPECT_TRUE(bytes == older || bytes == package) << name.toStdString();
                newOne = newOne || bytes == package;
            }
            // The next start leaves one package, the new one once it bears a name.
            VersionRepository("127.0.0.1", server.port(), root).removeLeftovers();
            const QStringList left = QDir(root).entryList({"newupdate.*", ".newupdate*"}, QDir::Files | QDir::Hidden);
            EXPECT_EQ(left, QStringList{newOne ? QString("newupdate.tar.gz") : olderName});
            EXPECT_EQ(appDir.readFile("root/bin-ZEV/" + left.value(0)), newOne ? package : older);
            EXPECT_TRUE(QDir(parent).entryList({".*partial"}, QDir::Files | QDir::Hidden).isEmpty());
            // And a backup to go back to.
            EXPECT_FALSE(QDir(parent).entryList({"bin-ZEV-*.tar.gz"}).isEmpty());
            cutsLeavingTheNew += newOne && !whole;
        }
        EXPECT_TRUE(whole) << "the download never ran to its end";
        EXPECT_GE(cutsLeavingTheNew, 1);
    }
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

namespace {

// An update server that lies: each package name says how it answers.
class LyingServer : public QObject
{
public:
    explicit LyingServer(const QByteArray& good) : m_good(good)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    static QStringList names()
    {
        return {"V17_nolength.tar.gz", "V17_longer.tar.gz", "V17_cut.tar.gz", "V17_fake.tar.gz", "V17_huge.tar.gz",
                "V17_good.tar.gz"};
    }

private:
    void answer(QTcpSocket* socket)
    {
        const QByteArray request = socket->readAll();
        const QByteArray path = request.mid(4, request.indexOf(' ', 4) - 4);
        QByteArray head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
        QByteArray body;
        if (path == "/monitor/") {
            body = "<html><body><pre><a href=\"lineA/\">lineA/</a>   07-Dec-2026 10:00    -\r\n</pre></body></html>";
        } else if (path.endsWith("/V17/") || path.endsWith("/lineA/")) {
            body = "<html><body><pre>";
            for (const QString& name : names())
                body += name.toLatin1() + "   07-Dec-2026 10:00   100\r\n";
            // Names that would leave the install folder or carry a path are never offered.
            body += "V17_a\\..\\..\\evil.tar.gz   07-Dec-2026 10:00   100\r\n</pre></body></html>";
        } else if (path.endsWith("V17_nolength.tar.gz")) {
            socket->write(head + "\r\n" + QByteArray(5 << 20, '\0'));   // no length, then the end
            socket->disconnectFromHost();
            return;
        } else if (path.endsWith("V17_longer.tar.gz")) {
            socket->write(head + "Content-Length: 10\r\n\r\n" + QByteArray(5000, 'x'));
            socket->disconnectFromHost();
            return;
        } else if (path.endsWith("V17_cut.tar.gz")) {
            socket->write(head + "Content-Length: 10000\r\n\r\n" + m_good.left(5000));
            socket->disconnectFromHost();
            return;
        } else if (path.endsWith("V17_fake.tar.gz")) {
            body = packageBytes(20000);
        } else if (path.endsWith("V17_huge.tar.gz")) {
            socket->write(head + "Content-Length: 2000000000\r\n\r\n" + QByteArray(1000, 'x'));
            return;   // a server that would go on for ever
        } else {
            body = m_good;
        }
        socket->write(head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QByteArray m_good;
};

} // namespace

TEST(UpdateDownload, LyingCutFakeAndHugePackagesNeverReplaceTheGoodOne)
{
    TempAppDir appDir;
    const QString root = appDir.filePath("bin-ZEV");
    ASSERT_TRUE(writeWholeFile(root + "/newupdate.tar.gz", "previous"));
    const QByteArray good = archive(".tar.gz", packageBytes(40000));
    ASSERT_FALSE(good.isEmpty());
    LyingServer server(good);
    VersionRepository repository("127.0.0.1", server.port(), root);
    repository.setMaxPackageBytes(8 << 20);
    repository.browse();
    ASSERT_EQ(repository.packages().value(0).names, LyingServer::names());

    // (A cut transfer is told by the network layer itself.)
    const QStringList reasons{"no length announced", "not a .tar.gz archive", "", "not a .tar.gz archive", "too large"};
    for (int i = 0; i < reasons.size(); ++i) {
        const QString name = LyingServer::names().at(i);
        QString error;
        EXPECT_FALSE(repository.downloadPackage(name, &error)) << name.toStdString();
        EXPECT_TRUE(!error.isEmpty() && error.startsWith(reasons.at(i))) << name.toStdString() << ": " << error.toStdString();
        EXPECT_FALSE(repository.lastFailureDiskFull());
        EXPECT_EQ(appDir.readFile("bin-ZEV/newupdate.tar.gz"), QByteArray("previous")) << name.toStdString();
        EXPECT_FALSE(QFile::exists(root + "/" + VersionRepository::kPartialName));
    }

    // A full disk is told as one, not as a cut transfer, and the good package stays.
    ASSERT_TRUE(QFile::link("/dev/full", root + "/" + VersionRepository::kPartialName));
    QString error;
    EXPECT_FALSE(repository.downloadPackage("V17_good.tar.gz", &error));
    EXPECT_TRUE(error.startsWith("disk full: ")) << error.toStdString();
    EXPECT_TRUE(repository.lastFailureDiskFull());
    EXPECT_EQ(appDir.readFile("bin-ZEV/newupdate.tar.gz"), QByteArray("previous"));
    QFile::remove(root + "/" + VersionRepository::kPartialName);

    ASSERT_TRUE(repository.downloadPackage("V17_good.tar.gz", &error)) << error.toStdString();
    EXPECT_EQ(appDir.readFile("bin-ZEV/newupdate.tar.gz"), good);
    EXPECT_FALSE(repository.lastFailureDiskFull());
}

TEST(UpdateDownload, PackageNamesAreOnePlainFileName)
{
    EXPECT_EQ(VersionRepository::safeFileName("V17_a.tar.gz"), QString("V17_a.tar.gz"));
    EXPECT_EQ(VersionRepository::safeFileName("x/..\\V17_b.rar"), QString("V17_b.rar"));
    EXPECT_EQ(VersionRepository::safeFileName("V17\\.."), QString());
    EXPECT_EQ(VersionRepository::safeFileName("."), QString());
    VersionRepository::Listing listing;
    ASSERT_TRUE(VersionRepository::parseListing(
        "<html><body><pre>V17_ok.tar   1\r\nV17_x.tar\\..\\..\\etc\\cron.gz   1\r\nV17_y\\z.rar   1\r\n</pre></body></html>",
        &listing));
    EXPECT_EQ(listing.packages, QStringList({"V17_ok.tar"}));
    VersionRepository repository("127.0.0.1", 1, "/root/bin-ZEV");
    EXPECT_EQ(repository.targetPath("V17_a\\..\\b.tar.gz"), QString("/root/bin-ZEV/newupdate.tar.gz"));
}

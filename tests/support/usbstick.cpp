#include "usbstick.h"

#include "fakehostroot.h"
#include "hostpaths.h"
#include "procmounts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
constexpr const char* kImagePrefix = "mm-usbstick-";
constexpr int kToolTimeoutMs = 30000;

bool runTool(const QString& program, const QStringList& args, QString* out, QString* error)
{
    QProcess process;
    process.start(program, args);
    const bool finished = process.waitForFinished(kToolTimeoutMs);
    if (out)
        *out = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (error)
            *error = program + ": " + QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        if (!finished)
            process.kill();
        return false;
    }
    return true;
}

QString byPathName(const QString& entry)
{
    return QStringLiteral("pci-0000:00:14.0-usb-0:%1:1.0-scsi-0:0:0:0-part1").arg(QString(entry).remove(':'));
}
} // namespace

UsbStick::UsbStick(const QString& uuid, int sizeMiB)
    : m_dir(QDir::tempPath() + "/" + kImagePrefix + "XXXXXX")
    , m_uuid(uuid)
{
    const QString image = m_dir.filePath("stick.img");
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(qint64(sizeMiB) * 1024 * 1024)) {
        m_error = "cannot create " + image;
        return;
    }
    file.close();
    if (!runTool("mkfs.ext4", {"-q", "-F", "-U", uuid, image}, nullptr, &m_error))
        return;
    QString device;
    if (!runTool("losetup", {"--find", "--show", image}, &device, &m_error))
        return;
    m_device = device;
    holdWithAutoclear();
}

// The loop device is held open for the stick's life with the kernel's autoclear flag:
// when this process dies without its destructor, the last close detaches the device,
// so no run ever needs to guess which loop devices are its own leftovers.
void UsbStick::holdWithAutoclear()
{
    m_holdFd = ::open(m_device.toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);
    loop_info64 info {};
    if (m_holdFd < 0 || ::ioctl(m_holdFd, LOOP_GET_STATUS64, &info) != 0)
        return;
    info.lo_flags |= LO_FLAGS_AUTOCLEAR;
    ::ioctl(m_holdFd, LOOP_SET_STATUS64, &info);
}

UsbStick::~UsbStick()
{
    if (m_device.isEmpty())
        return;
    for (int i = 0; i < 8 && !mountPoints().isEmpty(); ++i)
        runTool("umount", {"-l", m_device}, nullptr, nullptr);
    // Detached while still held, so the number cannot have passed to another run meanwhile.
    runTool("losetup", {"-d", m_device}, nullptr, nullptr);
    if (m_holdFd >= 0)
        ::close(m_holdFd);
}

bool UsbStick::plug(const FakeHostRoot& host, const QString& entry) const
{
    const QString node = QFileInfo(m_device).fileName();
    const QByteArray udev = QStringLiteral("S:disk/by-uuid/%1\nS:disk/by-path/%2\nS:disk/by-label/stick\n"
                                           "E:ID_FS_TYPE=ext4\nE:ID_BUS=usb\n")
                                .arg(m_uuid, byPathName(entry))
                                .toUtf8();
    host.makeDir("/dev/disk/by-uuid");
    host.makeDir("/dev/disk/by-path");
    QFile::remove(HostPaths::path("/dev/disk/by-uuid/" + m_uuid));
    return host.write("/run/udev/data/" + entry, udev)
        && QFile::link("../../" + node, HostPaths::path("/dev/disk/by-uuid/" + m_uuid))
        && (QFile::exists(HostPaths::path("/dev/disk/by-path/" + byPathName(entry)))
            || QFile::link("../../" + node, HostPaths::path("/dev/disk/by-path/" + byPathName(entry))));
}

void UsbStick::pull(const FakeHostRoot&, const QString& entry) const
{
    QFile::remove(HostPaths::path("/run/udev/data/" + entry));
    QFile::remove(HostPaths::path("/dev/disk/by-uuid/" + m_uuid));
    QFile::remove(HostPaths::path("/dev/disk/by-path/" + byPathName(entry)));
}

QStringList UsbStick::mountPoints() const
{
    QFile file("/proc/self/mounts");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList points;
    for (const MountEntry& entry : ProcMounts::parse(file.readAll())) {
        if (entry.device == m_device)
            points.append(entry.mountPoint);
    }
    return points;
}

#pragma once

#include <QString>
#include <QTemporaryDir>

class FakeHostRoot;

// A real USB stick stand-in: an ext4 file-system image on a loop device, with
// the udev entry and the disk links the system would make under a fake host
// root. Needs root and a private mount namespace (the test runs under
// "unshare -m"). The destructor unmounts it and detaches the loop device; a run that
// dies first leaves none behind (autoclear), and no run touches another's devices.
class UsbStick
{
public:
    explicit UsbStick(const QString& uuid, int sizeMiB = 8);
    ~UsbStick();
    UsbStick(const UsbStick&) = delete;
    UsbStick& operator=(const UsbStick&) = delete;

    bool ok() const { return !m_device.isEmpty(); }
    QString error() const { return m_error; }
    QString device() const { return m_device; }
    QString uuid() const { return m_uuid; }

    // Writes "/run/udev/data/<entry>" and the by-uuid and by-path links (plug in),
    // or removes them again (pull out).
    bool plug(const FakeHostRoot& host, const QString& entry) const;
    void pull(const FakeHostRoot& host, const QString& entry) const;
    // Where the kernel has it mounted now (empty list when nowhere).
    QStringList mountPoints() const;

private:
    void holdWithAutoclear();

    QTemporaryDir m_dir;
    QString m_uuid;
    QString m_device;
    QString m_error;
    int m_holdFd = -1;
};

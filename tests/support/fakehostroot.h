#pragma once

#include <QTemporaryDir>
#include <QString>

// A fake host file tree (/proc, /sys, /run/udev, ...) used as the host root
// for its lifetime.
class FakeHostRoot
{
public:
    FakeHostRoot();
    ~FakeHostRoot();

    QString root() const { return m_dir.path(); }
    // Writes a host file given by its absolute host path, e.g. "/proc/cpuinfo".
    bool write(const QString& hostPath, const QByteArray& content) const;
    bool makeDir(const QString& hostPath) const;
    bool symlink(const QString& target, const QString& hostPath) const;

private:
    QTemporaryDir m_dir;
    QString m_previousRoot;
};

#include "fakehostroot.h"

#include "hostpaths.h"
#include "qttesthelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FakeHostRoot::FakeHostRoot()
    : m_dir(QDir::tempPath() + "/mm-host-XXXXXX")
    , m_previousRoot(HostPaths::root())
{
    HostPaths::setRoot(m_dir.path());
}

FakeHostRoot::~FakeHostRoot()
{
    HostPaths::setRoot(m_previousRoot);
}

bool FakeHostRoot::write(const QString& hostPath, const QByteArray& content) const
{
    return writeWholeFile(HostPaths::path(hostPath), content);
}

bool FakeHostRoot::makeDir(const QString& hostPath) const
{
    return QDir().mkpath(HostPaths::path(hostPath));
}

bool FakeHostRoot::symlink(const QString& target, const QString& hostPath) const
{
    const QString full = HostPaths::path(hostPath);
    QDir().mkpath(QFileInfo(full).absolutePath());
    return QFile::link(target, full);
}

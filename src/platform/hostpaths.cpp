#include "hostpaths.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex gRootMutex;

QString& rootStorage()
{
    static QString root = [] {
        const QString fromEnv = qEnvironmentVariable("MOULD_MONITOR_HOST_ROOT");
        return fromEnv.isEmpty() ? QStringLiteral("/") : fromEnv;
    }();
    return root;
}
} // namespace

namespace HostPaths {

QString root()
{
    QMutexLocker lock(&gRootMutex);
    return rootStorage();
}

void setRoot(const QString& newRoot)
{
    QMutexLocker lock(&gRootMutex);
    rootStorage() = newRoot.isEmpty() ? QStringLiteral("/") : newRoot;
}

QString path(const QString& absolutePath)
{
    const QString base = root();
    if (base == QLatin1String("/"))
        return absolutePath;
    QString joined = base;
    if (joined.endsWith('/'))
        joined.chop(1);
    if (!absolutePath.startsWith('/'))
        joined += '/';
    return joined + absolutePath;
}

QString hostView(const QString& realPath)
{
    QString base = root();
    if (base == QLatin1String("/"))
        return realPath;
    if (base.endsWith('/'))
        base.chop(1);
    if (realPath.startsWith(base + '/'))
        return realPath.mid(base.size());
    return realPath;
}

} // namespace HostPaths

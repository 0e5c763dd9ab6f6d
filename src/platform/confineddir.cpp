#include "confineddir.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr mode_t kDirMode = 0755;
constexpr mode_t kFileMode = 0644;
constexpr const char* kTempPrefix = ".part-";

QString errnoText(const QString& what)
{
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

bool isPlainName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") && !name.contains('/');
}
} // namespace

ConfinedDir::ConfinedDir(const QString& root)
    : m_fd(::open(QFile::encodeName(root).constData(), kDirFlags))
{
}

ConfinedDir::~ConfinedDir()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

ConfinedDir::ConfinedDir(ConfinedDir&& other) noexcept
    : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

ConfinedDir& ConfinedDir::operator=(ConfinedDir&& other) noexcept
{
    std::swap(m_fd, other.m_fd);
    return *this;
}

ConfinedDir ConfinedDir::openDir(const QString& relative, bool create, bool* created, QString* error) const
{
    if (created)
        *created = false;
    if (!isOpen())
        return ConfinedDir();
    ConfinedDir current(::dup(m_fd));
    for (const QString& step : relative.split('/', Qt::SkipEmptyParts)) {
        if (!isPlainName(step)) {
            if (error)
                *error = QStringLiteral("refused step \"%1\"").arg(step);
            return ConfinedDir();
        }
        const QByteArray name = QFile::encodeName(step);
        if (create && ::mkdirat(current.m_fd, name.constData(), kDirMode) == 0 && created)
            *created = true;
        // A link, or anything but a folder, ends the walk here.
        ConfinedDir next(::openat(current.m_fd, name.constData(), kDirFlags | O_NOFOLLOW));
        if (!next.isOpen()) {
            if (error)
                *error = errnoText(step);
            return ConfinedDir();
        }
        current = std::move(next);
    }
    return current;
}

bool ConfinedDir::writeFile(const QString& name, const QByteArray& bytes, QString* error) const
{
    if (!isOpen() || !isPlainName(name)) {
        if (error)
            *error = QStringLiteral("refused name \"%1\"").arg(name);
        return false;
    }
    const QByteArray target = QFile::encodeName(name);
    const QByteArray temp = QByteArray(kTempPrefix) + QByteArray::number(qint64(::getpid())) + '-' + target;
    ::unlinkat(m_fd, temp.constData(), 0);
    const int fd = ::openat(m_fd, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        if (error)
            *error = errnoText(name);
        return false;
    }
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    // A full disk can show only at the sync or the close.
    const bool written = done == bytes.size() && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::renameat(m_fd, temp.constData(), m_fd, target.constData()) != 0) {
        if (error)
            *error = errnoText(name);
        ::unlinkat(m_fd, temp.constData(), 0);
        return false;
    }
    return true;
}

QStringList ConfinedDir::folders() const
{
    QStringList names;
    if (!isOpen())
        return names;
    const int fd = ::dup(m_fd);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        struct stat info {};
        if (isPlainName(name) && ::fstatat(m_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISDIR(info.st_mode))
            names.append(name);
    }
    ::closedir(dir);
    names.sort();
    return names;
}

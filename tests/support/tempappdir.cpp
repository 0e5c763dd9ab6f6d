#include "tempappdir.h"

#include "qttesthelpers.h"

#include <QDir>
#include <QFile>

TempAppDir::TempAppDir()
    : m_dir(QDir::tempPath() + "/mm-test-XXXXXX")
    , m_previous(QDir::currentPath())
{
    if (m_dir.isValid())
        QDir::setCurrent(m_dir.path());
}

TempAppDir::~TempAppDir()
{
    QDir::setCurrent(m_previous);
}

bool TempAppDir::writeFile(const QString& relative, const QByteArray& content) const
{
    return writeWholeFile(filePath(relative), content);
}

QByteArray TempAppDir::readFile(const QString& relative) const
{
    QFile file(filePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString projectSourceDir()
{
    const QString env = qEnvironmentVariable("MM_SOURCE_DIR");
    return env.isEmpty() ? QString::fromUtf8(MM_TEST_SOURCE_DIR) : env;
}

QString projectBinaryDir()
{
    const QString env = qEnvironmentVariable("MM_BINARY_DIR");
    return env.isEmpty() ? QString::fromUtf8(MM_TEST_BINARY_DIR) : env;
}

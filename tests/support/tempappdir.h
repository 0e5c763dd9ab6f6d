#pragma once

#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// A temporary application folder; the test runs inside it and the previous
// working directory comes back afterwards.
class TempAppDir
{
public:
    TempAppDir();
    ~TempAppDir();

    QString path() const { return m_dir.path(); }
    QString filePath(const QString& relative) const { return m_dir.filePath(relative); }

    // Writes a file (creating parent folders); false on failure.
    bool writeFile(const QString& relative, const QByteArray& content) const;
    QByteArray readFile(const QString& relative) const;

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// Fixture form: every test of a derived fixture works in its own folder.
class AppDirTest : public ::testing::Test
{
protected:
    TempAppDir appDir;
};

// The source tree and the build tree of the project (for assets and built plug-ins).
QString projectSourceDir();
QString projectBinaryDir();

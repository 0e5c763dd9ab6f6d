#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A folder opened by descriptor, below which folders are made and files written
// without ever following a symbolic link: every step is opened relative to the
// one before with O_NOFOLLOW, so a link planted on a removable disk cannot lead
// a write out of it. Only the root itself (a mount point of ours) is followed.
class ConfinedDir
{
public:
    ConfinedDir() = default;
    explicit ConfinedDir(const QString& root);
    ~ConfinedDir();
    ConfinedDir(ConfinedDir&& other) noexcept;
    ConfinedDir& operator=(ConfinedDir&& other) noexcept;
    ConfinedDir(const ConfinedDir&) = delete;
    ConfinedDir& operator=(const ConfinedDir&) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // The folder at relative ("a/b/c"), each step a real folder; missing steps are
    // made when create is set (created then tells whether any was). "." and ".."
    // steps are refused.
    ConfinedDir openDir(const QString& relative, bool create, bool* created = nullptr, QString* error = nullptr) const;

    // Writes bytes as name: a new temporary file (never through a link), synced,
    // then renamed over name (a link of that name is replaced, not followed).
    bool writeFile(const QString& name, const QByteArray& bytes, QString* error = nullptr) const;

    // Names of the real folders inside (links excluded), sorted.
    QStringList folders() const;

private:
    explicit ConfinedDir(int fd) : m_fd(fd) {}

    int m_fd = -1;
};

#pragma once

#include <QMutex>
#include <QString>

// A text that one thread replaces while others read copies of it: every read
// and write takes the lock, so a reader gets the old or the new text whole.
// Copies carry the text, not the lock.
class GuardedText
{
public:
    GuardedText() = default;
    GuardedText(const QString& text) : m_text(text) {}
    GuardedText(const GuardedText& other) : m_text(other.get()) {}
    GuardedText& operator=(const GuardedText& other);
    GuardedText& operator=(const QString& text);

    QString get() const;
    operator QString() const { return get(); }
    bool operator==(const QString& text) const { return get() == text; }

private:
    mutable QMutex m_mutex;
    QString m_text;
};

#include "guardedtext.h"

#include <QMutexLocker>

GuardedText& GuardedText::operator=(const GuardedText& other)
{
    if (this != &other)
        *this = other.get();
    return *this;
}

GuardedText& GuardedText::operator=(const QString& text)
{
    QMutexLocker lock(&m_mutex);
    m_text = text;
    return *this;
}

QString GuardedText::get() const
{
    QMutexLocker lock(&m_mutex);
    return m_text;
}

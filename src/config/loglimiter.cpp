#include "loglimiter.h"

#include <QLocale>

#include <limits>

LogLimiter::LogLimiter(int burst, qint64 windowMs) : m_burst(burst), m_windowMs(windowMs) {}

QString LogLimiter::kindOf(const QString& text)
{
    QString kind;
    kind.reserve(text.size());
    for (const QChar c : text) {
        if (!c.isDigit())
            kind += c;
        else if (kind.isEmpty() || kind.back() != QLatin1Char('#'))
            kind += QLatin1Char('#');
    }
    return kind;
}

QString LogLimiter::summary(const Kind& kind)
{
    return QStringLiteral("%1 ... repeated %2 times").arg(kind.last, QLocale(QLocale::English).toString(kind.held));
}

QStringList LogLimiter::admit(const QString& text, qint64 nowMs)
{
    QStringList lines;
    if (m_kinds.size() >= kMaxKinds) {
        lines = flush(nowMs + m_windowMs);   // a flood of distinct lines: start afresh
        m_kinds.clear();
    }
    Kind& kind = m_kinds[kindOf(text)];
    if (nowMs - kind.windowStart >= m_windowMs) {
        if (kind.held > 0)
            lines << summary(kind);
        kind.windowStart = nowMs;
        kind.passed = 0;
        kind.held = 0;
    }
    if (kind.passed < m_burst) {
        ++kind.passed;
        lines << text;
    } else {
        ++kind.held;
        kind.last = text;
    }
    return lines;
}

QStringList LogLimiter::admit(const QMessageLogContext& context, const QString& text, qint64 nowMs)
{
    if (context.category && qstrcmp(context.category, folded().categoryName()) == 0)
        return QStringList{text};
    return admit(text, nowMs);
}

const QLoggingCategory& LogLimiter::folded()
{
    static const QLoggingCategory category("folded");
    return category;
}

QStringList LogLimiter::flush(qint64 nowMs)
{
    QStringList lines;
    for (auto it = m_kinds.begin(); it != m_kinds.end();) {
        if (nowMs - it->windowStart < m_windowMs) {
            ++it;
            continue;
        }
        if (it->held > 0)
            lines << summary(*it);
        it = m_kinds.erase(it);
    }
    return lines;
}

QStringList LogLimiter::flushAll()
{
    return flush(std::numeric_limits<qint64>::max());
}

#pragma once

#include <QHash>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

// Holds back lines that repeat: per kind of line (its text with the numbers taken out)
// a burst passes in each window, the rest is counted and reported in one line
// ("... repeated 5,000 times") when the window is over.
class LogLimiter
{
public:
    static constexpr int kBurst = 20;
    static constexpr qint64 kWindowMs = 10000;
    static constexpr int kMaxKinds = 4096;

    explicit LogLimiter(int burst = kBurst, qint64 windowMs = kWindowMs);

    // The lines to write for this message now: none, the message, or a summary of the
    // previous window before it.
    QStringList admit(const QString& text, qint64 nowMs);
    // The same for a message of any category; lines of folded() pass as they are.
    QStringList admit(const QMessageLogContext& context, const QString& text, qint64 nowMs);
    // Summaries of the windows that are over (called now and then).
    QStringList flush(qint64 nowMs);
    // Summaries of every count held, windows over or not (at exit).
    QStringList flushAll();

    static QString kindOf(const QString& text);

    // For lines their writer folds already, each naming its subject (a subscriber's address
    // and port) at most every few seconds: taking their numbers out would merge the subjects.
    static const QLoggingCategory& folded();

private:
    struct Kind
    {
        qint64 windowStart = 0;
        int passed = 0;
        int held = 0;
        QString last;
    };
    static QString summary(const Kind& kind);

    int m_burst;
    qint64 m_windowMs;
    QHash<QString, Kind> m_kinds;
};

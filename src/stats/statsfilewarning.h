#pragma once

#include <QString>
#include <functional>

// The one place where the statistics store tells the operator that its
// current-day file cannot be opened: the application shows a warning box,
// tests record the text; without a handler it is only logged.
class StatsFileWarning
{
public:
    using Handler = std::function<void(const QString& text)>;

    static void show(const QString& text);
    // An empty handler leaves only the log line.
    static void setHandler(Handler handler);
};

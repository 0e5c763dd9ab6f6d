#pragma once

#include <QString>
#include <functional>

// The one place where the statistics store tells the operator that its
// current-day file cannot be opened: a modal warning box in the program,
// replaced by a recorder in tests so no dialog blocks them.
class StatsFileWarning
{
public:
    using Handler = std::function<void(const QString& text)>;

    static void show(const QString& text);
    // An empty handler restores the warning box.
    static void setHandler(Handler handler);
};

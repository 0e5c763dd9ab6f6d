#pragma once

class QString;
class QStringList;

// The shared message and question boxes and keypads as the editing screens use them.
class SettingsPrompt
{
public:
    static void warn(const QString& text);
    // True only for YES.
    static bool ask(const QString& text);
    // After a save: the saved settings named here are read only when the program starts.
    static void warnRestartNeeded(const QStringList& settings);
    // Ends any entry on the shared keypads (a screen changes or closes).
    static void hideKeypads();
};

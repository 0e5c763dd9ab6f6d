#pragma once

class QString;

// The shared message and question boxes and keypads as the editing screens use them.
class SettingsPrompt
{
public:
    static void warn(const QString& text);
    // True only for YES.
    static bool ask(const QString& text);
    // Ends any entry on the shared keypads (a screen changes or closes).
    static void hideKeypads();
};

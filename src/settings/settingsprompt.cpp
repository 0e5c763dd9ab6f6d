#include "settingsprompt.h"

#include "choosebox.h"
#include "globals.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "warnbox.h"

#include <QStringList>

namespace {
constexpr int kRowRestartNote = 845;
}  // namespace

void SettingsPrompt::warn(const QString& text)
{
    if (!gpWarnBox)
        return;
    gpWarnBox->setText(text);
    gpWarnBox->exec();
}

bool SettingsPrompt::ask(const QString& text)
{
    if (!gpChooseBox)
        return false;
    gpChooseBox->setText(text);
    return gpChooseBox->exec() == 1;
}

void SettingsPrompt::warnRestartNeeded(const QStringList& settings)
{
    if (!settings.isEmpty())
        warn(lanText(kRowRestartNote) + QStringLiteral(":\n") + settings.join(QStringLiteral(", ")));
}

void SettingsPrompt::hideKeypads()
{
    if (gpNumPad)
        gpNumPad->HideUpdate();
    if (gpNumCharPad)
        gpNumCharPad->HideUpdate();
}

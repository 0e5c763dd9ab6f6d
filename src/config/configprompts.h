#pragma once

#include <QString>
#include <functional>

// The shared message and yes/no boxes as the configuration code reaches them:
// the widget library installs the real dialogs; until then a warning is only
// logged and a question is answered "no", so nothing changes unasked.
namespace ConfigPrompts {

using Warn = std::function<void(const QString& text)>;
using Ask = std::function<bool(const QString& text)>;

void setWarn(Warn warn);
void setAsk(Ask ask);

void warn(const QString& text);
bool ask(const QString& text);

} // namespace ConfigPrompts

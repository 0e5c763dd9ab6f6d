#pragma once

#include <QString>

// A name that comes from outside the program (a package on the update server,
// a wireless network, a folder on disk) as it is shown to the operator: control,
// format and direction characters appear escaped ("\u202E") instead of
// reordering or hiding the text around them. Other characters stay as they are.
QString escapedForDisplay(const QString& outside);

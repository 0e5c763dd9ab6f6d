#include "displaytext.h"

#include <QChar>
#include <QVector>

namespace {
bool actsOnText(uint code)
{
    switch (QChar::category(code)) {
    case QChar::Other_Control:        // C0, DEL, C1
    case QChar::Other_Format:         // direction marks and overrides, zero-width characters
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Surrogate:      // a lone half of a pair
        return true;
    default:
        return false;
    }
}
} // namespace

QString escapedForDisplay(const QString& outside)
{
    QString shown;
    shown.reserve(outside.size());
    for (const uint code : outside.toUcs4()) {
        if (!actsOnText(code)) {
            shown.append(QString::fromUcs4(&code, 1));
            continue;
        }
        const bool wide = code > 0xFFFF;
        shown.append(wide ? QLatin1String("\\U") : QLatin1String("\\u"));
        shown.append(QString::number(code, 16).toUpper().rightJustified(wide ? 8 : 4, QChar('0')));
    }
    return shown;
}

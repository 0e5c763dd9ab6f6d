#include "querytext.h"

namespace {

bool needsEncoding(ushort c)
{
    return c <= 0x20 || c == 0x7f || c == '&' || c == '=' || c == '?' || c == '#' || c == '%';
}

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

namespace QueryText {

QString encode(const QString& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (!needsEncoding(u)) {
            out += c;
            continue;
        }
        out += QLatin1Char('%');
        out += QLatin1Char(kHex[(u >> 4) & 0xF]);
        out += QLatin1Char(kHex[u & 0xF]);
    }
    return out;
}

QString decode(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('%') && i + 2 < text.size()) {
            const int hi = hexValue(text.at(i + 1));
            const int lo = hexValue(text.at(i + 2));
            if (hi >= 0 && lo >= 0 && needsEncoding(ushort(hi * 16 + lo))) {
                out += QChar(ushort(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out += text.at(i);
    }
    return out;
}

} // namespace QueryText

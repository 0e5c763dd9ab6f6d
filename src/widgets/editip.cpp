#include "editip.h"

#include "dialogpainter.h"
#include "edit.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {
constexpr int kHeight = 80;
constexpr int kFontPixels = 30;
constexpr int kTitleW = 160;
constexpr int kOctetW = 80;
constexpr int kOctetH = 50;
constexpr int kOctets = 4;

QFont editFont()
{
    return DialogPainter::font(kFontPixels, "wenquanyi");
}
}

EditIP::EditIP(const QString& title, int placement, QWidget* parent)
    : QWidget(parent)
    , m_title(new QLabel(title, this))
    , m_layout(new QHBoxLayout(this))
{
    setFixedHeight(kHeight);
    m_title->setFont(editFont());
    m_title->setFixedWidth(kTitleW);
    m_title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    DialogPainter::setYellowText(m_title);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_layout->addWidget(m_title, 10);

    if (placement != 0 && placement != 1)
        return;
    const int type = placement == 0 ? 9 : 33;
    for (int i = 0; i < kOctets; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setFont(editFont());
            dot->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
            DialogPainter::setYellowText(dot);
            m_layout->addWidget(dot);
        }
        auto* octet = new Edit(type, this, 1);
        octet->setFont(editFont());
        octet->setFixedSize(kOctetW, kOctetH);
        octet->setRange(0, 255);
        octet->setRestoresOnLeave(true);
        connect(octet, &QLineEdit::textChanged, this, [this] { emit textchange(getAddress()); });
        m_octets.append(octet);
        m_layout->addWidget(octet, 5);
    }
    connect(m_octets[0], &Edit::sig_Dot, this, &EditIP::SlotPressDot_0);
    connect(m_octets[1], &Edit::sig_Dot, this, &EditIP::SlotPressDot_1);
    connect(m_octets[2], &Edit::sig_Dot, this, &EditIP::SlotPressDot_2);
}

QString EditIP::getAddress()
{
    QStringList parts;
    for (Edit* octet : qAsConst(m_octets)) {
        QString part = octet->text();
        part.remove(QLatin1Char('.'));
        bool ok = false;
        part.toUInt(&ok, 10);
        parts.append(ok ? part : QStringLiteral("0"));
    }
    return parts.join(QLatin1Char('.'));
}

void EditIP::setAddress(const QString& ip)
{
    if (m_octets.isEmpty())
        return;
    // An octet left empty by the text must not keep the previous address's part.
    for (Edit* octet : qAsConst(m_octets))
        octet->clear();
    int current = 0;
    QString part;
    for (const QChar c : ip) {
        if (c == QLatin1Char('.')) {
            if (current < kOctets - 1)
                ++current;
            part.clear();
            continue;
        }
        part.append(c);
        m_octets[current]->setText(part);
    }
}

void EditIP::moveToOctet(int index)
{
    if (index >= m_octets.size())
        return;
    m_octets[index]->setText(QStringLiteral("0"));
    m_octets[index]->setFocus(Qt::OtherFocusReason);
}

void EditIP::SlotPressDot_0() { moveToOctet(1); }
void EditIP::SlotPressDot_1() { moveToOctet(2); }
void EditIP::SlotPressDot_2() { moveToOctet(3); }

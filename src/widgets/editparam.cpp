#include "editparam.h"

#include "dialogpainter.h"
#include "editbox.h"

#include <QHBoxLayout>
#include <QLabel>

EditParam::EditParam(int type, QString unit, EditBox* box)
    : Edit(type, box, 1)
    , m_box(box)
{
    if (!unit.isEmpty()) {
        m_unitLabel = new QLabel(unit, this);
        m_unitLabel->setFont(DialogPainter::font(kUnitFontPixels));
        m_unitLabel->setFixedSize(kUnitFontPixels * unit.size() + 10, 50);
        m_unitLabel->setAlignment(Qt::AlignCenter);
        const QMargins margins = textMargins();
        setTextMargins(margins.left(), margins.top(), m_unitLabel->width(), margins.bottom());
        auto* row = new QHBoxLayout(this);
        row->addStretch();
        row->addWidget(m_unitLabel);
        row->setSpacing(0);
        row->setContentsMargins(0, 0, 0, 0);
        connect(this, &QLineEdit::textChanged, this, &EditParam::ChangeLabelP);
    }
    setFocusPolicy(Qt::StrongFocus);
    setAlignment(Qt::AlignCenter);
}

void EditParam::addValue(QString key, bool replace)
{
    const int digit = key.toInt(nullptr, 10);
    const qint64 typed = replace ? digit : qint64(m_box->value()) * 10 + digit;
    m_box->setTypedValue(typed);
}

void EditParam::deleteValue(bool&)
{
    m_box->setTypedValue(m_box->value() / 10);
}

void EditParam::ChangeLabelP(QString text)
{
    if (!m_unitLabel)
        return;
    m_unitLabelX = (width() - m_unitLabel->width() + int(text.size() * kUnitFontPixels * 0.5)) / 2;
    m_unitLabel->move(m_unitLabelX, 1);
}

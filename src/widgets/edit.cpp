#include "edit.h"

#include "c_type_com.h"
#include "ccomp_dialogframe.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "numberinput.h"
#include "numcharinput.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {
constexpr int kRowPasswordPrompt = 125;
constexpr int kAnchorGap = 5;          // the keypad starts 6 px below the edit's bottom row
constexpr int kBottomReserve = 49;     // keep clear of the screen's bottom edge
constexpr int kAboveGap = 45;
constexpr int kDotKeyCode = 13;
}

Edit::Edit(int type, QWidget* parent, int style)
    : QLineEdit(parent)
    , m_type(type)
{
    if (style == 1)
        C_Type_COM::setTxtQss(this, C_Type_COM::Color2);
    connect(this, &QLineEdit::textChanged, this, &Edit::SlotRange);
}

// curEdit is a guarded pointer: it clears itself when this edit dies.
Edit::~Edit() = default;

int Edit::value() const
{
    return text().toInt(nullptr, 10);
}

void Edit::setValue(int value)
{
    setText(QString::number(value));
}

void Edit::setValue(double value)
{
    setText(QString::number(value, 'g', 6));
}

void Edit::setRange(int min, int max)
{
    m_min = min;
    m_max = max;
}

void Edit::addValue(QString key, bool replace)
{
    const QByteArray latin = key.toLatin1();
    if (latin.isEmpty())
        return;
    const QString c = QString(QChar::fromLatin1(latin.at(0)));
    setText(replace ? c : text() + c);
    setCursorPosition(text().size());
}

void Edit::deleteValue(bool& empty)
{
    QString t = text();
    t.chop(1);
    setText(t);
    if (t.isEmpty())
        empty = true;
    setCursorPosition(t.size());
}

Edit* Edit::current()
{
    return gpWin ? gpWin->curEdit.data() : nullptr;
}

void Edit::setCurrent(Edit* edit)
{
    if (gpWin)
        gpWin->curEdit = edit;
}

void Edit::SlotRange(QString text)
{
    if (m_min == -1 || m_max == -1)
        return;
    if (m_min > m_max)
        std::swap(m_min, m_max);
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    if (!ok)
        return;
    const QString clamped = QString::number(qBound(m_min, number, m_max));
    if (clamped != text)
        setText(clamped);
}

bool Edit::event(QEvent* event)
{
    // A keypad destroyed with its former host is made again before anything
    // else; the event is then handled as usual, so that a focus-in is not lost.
    NumberInput::instance();
    NumCharInput::instance();
    switch (event->type()) {
    case QEvent::FocusIn:
        if (echoMode() == QLineEdit::Password) {
            // A password edit is current without holding the focus, so each
            // press clears it and the keypad's digits are shuffled again.
            clear();
            clearFocus();
            setPlaceholderText(lanText(kRowPasswordPrompt));
        }
        setCurrent(this);
        break;
    case QEvent::FocusOut:
        leaveEntry();
        setCurrent(nullptr);
        gpNumPad->hide();
        gpNumCharPad->hide();
        break;
    case QEvent::MouseButtonPress:
        if (current())
            showKeypad();
        break;
    default:
        break;
    }
    return QLineEdit::event(event);
}

QWidget* Edit::netDialogHost() const
{
    // The network settings dialog is the outermost dialog frame above the
    // edit (the card dialog is its child window).
    QWidget* host = nullptr;
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (qobject_cast<CComp_DialogFrame*>(w))
            host = w;
    }
    return host;
}

void Edit::leaveEntry()
{
    if (!m_entryOpen)
        return;
    m_entryOpen = false;
    if (text().isEmpty())
        setText(m_textBeforeEntry);
}

void Edit::showKeypad()
{
    QWidget* parent = parentWidget();
    if (!parent)
        return;

    QWidget* pad = nullptr;
    if (m_type & CharPad) {
        pad = NumCharInput::instance();
    } else {
        NumberInput* numPad = NumberInput::instance();
        if (m_restoresOnLeave && !m_entryOpen) {
            m_textBeforeEntry = text();
            m_entryOpen = true;
        }
        numPad->eraseAll();
        pad = numPad;
    }

    int x = this->x();
    int y = this->y() + height() + kAnchorGap;
    QWidget* host = parent;
    bool inNetDialog = false;
    int mappedY = 0;
    QWidget* grand = parent->parentWidget();
    if ((m_type & HostOneUp) && grand) {
        x += parent->x();
        y += parent->y();
        host = grand;
    } else if ((m_type & HostTwoUp) && grand && grand->parentWidget()) {
        x += parent->x() + grand->x();
        y += parent->y() + grand->y();
        host = grand->parentWidget();
    } else if (m_type & HostNetDialog) {
        if (QWidget* dialog = netDialogHost()) {
            const QPoint mapped = dialog->mapFromGlobal(mapToGlobal(QPoint(0, 0)));
            mappedY = mapped.y();
            x = mapped.x();
            y = mappedY + height() + kAnchorGap;
            host = dialog;
            inNetDialog = true;
        }
    }

    const int padW = pad->width();
    const int padH = pad->height();
    if (inNetDialog) {
        // Whole inside the dialog, which cuts its children, and above the screen's bottom strip:
        // below the edit, else above it.
        const int bottom = qMin(host->height(), gShowH - kBottomReserve - host->mapToGlobal(QPoint(0, 0)).y());
        if (y + padH >= bottom)
            y = mappedY - padH - kAnchorGap;
        y = qMax(0, qMin(y, bottom - padH));
        x = qMax(0, qMin(x, host->width() - padW));
    } else {
        if (x + padW > host->width())
            x = host->width() - padW;
        if (y + padH >= gShowH - kBottomReserve)
            y = y - padH - kAboveGap;
        if (y + padH > host->height())
            y = host->height() - padH;
    }

    if (pad->parentWidget() != host)
        pad->setParent(host);
    // A press on a key looks for a widget to focus from the key up through its
    // hosts; a scroll area there would take the focus from this edit and the
    // keypad would close under the finger. The search ends at a widget whose
    // focus proxy already has the focus: this edit.
    pad->setFocusProxy(this);
    pad->move(x, y);
    pad->show();
    pad->raise();
    pad->activateWindow();
}

void Edit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Period || event->key() == kDotKeyCode)
        emit sig_Dot();
    if (event->key() == Qt::Key_Return) {
        if (gpNumCharPad && gpNumCharPad->isVisible()) {
            gpNumCharPad->HideUpdate();
        } else if (gpNumPad && gpNumPad->isVisible()) {
            gpNumPad->HideUpdate();
        } else {
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(0, 0), Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(this, &press);
        }
    }
    QLineEdit::keyPressEvent(event);
}

void Edit::focusOutEvent(QFocusEvent* event)
{
    emit focusOut();
    QLineEdit::focusOutEvent(event);
}

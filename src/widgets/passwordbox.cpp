#include "passwordbox.h"

#include "clock.h"
#include "colorbutton.h"
#include "dialogpainter.h"
#include "edit.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "modalstacking.h"
#include "numberinput.h"
#include "wizardpara.h"

#include <QPainter>
#include <cstring>

namespace {
using DP = DialogPainter;
constexpr int kRowConfirm = 121;
constexpr int kRowCancel = 124;
constexpr int kRowPasswordPrompt = 125;
constexpr int kRowPwd = 356;
constexpr int kRowWrong = 357;
constexpr int kJapanese = 3;
constexpr int kWrongMark = 2;
const char* const kServiceCode = "8162";
}

PasswordBox::PasswordBox(QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::CustomizeWindowHint);
    placeCentred();

    m_ok = new ColorButton(lanText(kRowConfirm), this, DP::kButtonClass);
    m_ok->setGeometry(100, height() - 150, DP::kButtonW, DP::kButtonH);
    connect(m_ok, &QPushButton::clicked, this, &PasswordBox::accept);
    m_cancel = new ColorButton(lanText(kRowCancel), this, DP::kButtonClass);
    m_cancel->setGeometry(width() - 320, height() - 150, DP::kButtonW, DP::kButtonH);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    m_edit = new Edit(5, this, 1);
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setGeometry(245, 70, gLan == kJapanese ? 420 : 350, 50);
    m_edit->setFont(DialogPainter::font(27));

    ColorButton::fitTexts(this);
    connect(m_edit, &QLineEdit::textChanged, this, &PasswordBox::SlotTextChanged);
    connect(NumberInput::instance(), &NumberInput::chkpassword, this, &PasswordBox::accept);
    hide();
}

PasswordBox::~PasswordBox()
{
    if (gpPasswordBox == this)
        gpPasswordBox = nullptr;
}

void PasswordBox::placeCentred()
{
    setGeometry(DialogPainter::centred(DP::kBoxW, DP::kBoxH));
}

QString PasswordBox::serviceCode()
{
    QString code = QString::fromLatin1(kServiceCode);
    if (gpWPara && gpWPara->isPswUsed)
        code += Clock::now().toString(QStringLiteral("MMddhh"));
    return code;
}

void PasswordBox::accept()
{
    const QString entered = m_edit->text();
    QString configured;
    if (gpWPara)
        configured = QString::fromLatin1(gpWPara->password,
                                         int(strnlen(gpWPara->password, WizardPara::kPasswordSize)));
    int level = 0;
    if (entered == serviceCode())
        level = 2;
    else if (entered == configured)
        level = 1;

    if (level > 0) {
        if (gpWin)
            gpWin->loginLevel = level;
        m_wrong = 0;
        m_edit->setPlaceholderText(lanText(kRowPasswordPrompt));
        QDialog::accept();
        return;
    }
    m_wrong = kWrongMark;
    if (gpWin)
        gpWin->loginLevel = 0;
    m_edit->clear();
    m_edit->setPlaceholderText(lanText(kRowWrong));
}

void PasswordBox::SlotTextChanged(QString text)
{
    if (!text.isEmpty()) {
        m_edit->setPlaceholderText(QString());
    } else if (m_wrong != kWrongMark) {
        m_edit->setPlaceholderText(lanText(kRowPasswordPrompt));
    } else {
        m_edit->setPlaceholderText(lanText(kRowWrong));
        m_wrong = 0;
    }
}

void PasswordBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DialogPainter::drawBackground(painter, rect());
    painter.setPen(Qt::yellow);
    const QRect label(gLan == kJapanese ? 45 : 95, 75, 200, 40);
    painter.setFont(DialogPainter::fittedFont(lanText(kRowPwd), label.width(), DialogPainter::kTextPixels, 0));
    painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, lanText(kRowPwd));
    DialogPainter::drawFrame(painter, width(), height());
}

int PasswordBox::exec()
{
    const ModalStacking::Lift lift(this);
    return QDialog::exec();
}

void PasswordBox::showEvent(QShowEvent* event)
{
    placeCentred();
    // The keypad may have been made again since construction.
    connect(NumberInput::instance(), &NumberInput::chkpassword, this, &PasswordBox::accept, Qt::UniqueConnection);
    m_edit->clear();
    m_edit->setPlaceholderText(lanText(kRowPasswordPrompt));
    QDialog::showEvent(event);
}

void PasswordBox::hideEvent(QHideEvent* event)
{
    if (Edit* edit = Edit::current()) {
        edit->clearFocus();
        Edit::setCurrent(nullptr);
    }
    if (gpNumPad)
        gpNumPad->HideUpdate();
    QDialog::hideEvent(event);
}

void PasswordBox::mouseReleaseEvent(QMouseEvent*)
{
    if (gpNumPad)
        gpNumPad->HideUpdate();
}

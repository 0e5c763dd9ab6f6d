#include "numberinput.h"

#include "colorbutton.h"
#include "dialogpainter.h"
#include "edit.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "numcharinput.h"
#include "passwordbox.h"

#include <QButtonGroup>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <numeric>
#include <random>

namespace {
constexpr int kKeyW = 100;
constexpr int kKeyH = 70;
constexpr int kPitchX = 106;
constexpr int kPitchY = 76;
constexpr int kOrigin = 5;
constexpr int kColumns = 4;
constexpr int kButtonClass = 3;
constexpr int kRowBS = 157;
constexpr int kRowConfirm = 121;

QPoint keyPosition(int slot)
{
    return QPoint(kOrigin + (slot % kColumns) * kPitchX, kOrigin + (slot / kColumns) * kPitchY);
}

QString layoutDigit(int id)
{
    return QString::number((id + 1) % 10);
}
}

QVector<int> genRandomNumber()
{
    // Seeded once: a clock seed per draw repeats the order of draws made close together.
    static std::mt19937 generator{std::random_device{}()};
    QVector<int> digits(10);
    std::iota(digits.begin(), digits.end(), 0);
    std::shuffle(digits.begin(), digits.end(), generator);
    return digits;
}

NumberInput::NumberInput(QWidget* parent)
    : QWidget(parent)
    , m_group(new QButtonGroup(this))
{
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
    setGeometry(0, 0, kWidth, kHeight);
    for (int id = 0; id < int(m_keys.size()); ++id) {
        auto* key = new ColorButton(layoutDigit(id), this, kButtonClass);
        key->setGeometry(QRect(keyPosition(id), QSize(kKeyW, kKeyH)));
        key->setFocusPolicy(Qt::NoFocus);
        m_group->addButton(key, id);
        m_keys[id] = key;
    }
    m_bs = new ColorButton(lanText(kRowBS), this, kButtonClass);
    m_bs->setGeometry(QRect(keyPosition(10), QSize(kKeyW, kKeyH)));
    m_bs->setFocusPolicy(Qt::NoFocus);
    m_confirm = new ColorButton(lanText(kRowConfirm), this, kButtonClass);
    m_confirm->setGeometry(QRect(keyPosition(11), QSize(kKeyW, kKeyH)));
    m_confirm->setFocusPolicy(Qt::NoFocus);
    m_bs->fitText();
    m_confirm->fitText();

    connect(m_group, &QButtonGroup::idClicked, this, &NumberInput::setContent);
    connect(m_bs, &QPushButton::clicked, this, &NumberInput::eraseContent);
    connect(m_confirm, &QPushButton::clicked, this, &NumberInput::HideUpdate);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

NumberInput::~NumberInput()
{
    if (gpNumPad == this)
        gpNumPad = nullptr;
}

NumberInput* NumberInput::instance()
{
    if (!gpNumPad)
        gpNumPad = new NumberInput(nullptr);
    return gpNumPad;
}

void NumberInput::setContent(int id)
{
    Edit* edit = Edit::current();
    if (!edit || id < 0 || id >= int(m_keys.size()))
        return;
    edit->addValue(m_keys[id]->text(), m_replace);
    m_replace = false;
}

void NumberInput::eraseContent()
{
    if (Edit* edit = Edit::current())
        edit->deleteValue(m_replace);
}

void NumberInput::eraseAll()
{
    if (Edit* edit = Edit::current()) {
        edit->setText(QString());
        edit->setCursorPosition(0);
    }
    m_replace = true;
}

void NumberInput::HideUpdate()
{
    if (isVisible()) {
        hide();
        if (gpWin)
            gpWin->update();
    }
    if (gpPasswordBox && gpPasswordBox->isVisible()) {
        emit chkpassword();
        return;
    }
    if (Edit* edit = Edit::current()) {
        edit->confirmEntry();
        edit->clearFocus();
    }
}

void NumberInput::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    DialogPainter::drawKeypad(painter, event->rect(), width(), height());
}

void NumberInput::showEvent(QShowEvent* event)
{
    Edit* edit = Edit::current();
    if (edit && edit->echoMode() == QLineEdit::Password) {
        const QVector<int> digits = genRandomNumber();
        for (int id = 0; id < int(m_keys.size()); ++id)
            m_keys[id]->setText(QString::number(digits[id]));
    } else {
        for (int id = 0; id < int(m_keys.size()); ++id)
            m_keys[id]->setText(layoutDigit(id));
    }
    QWidget::showEvent(event);
}

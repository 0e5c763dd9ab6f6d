#include "numcharinput.h"

#include "colorbutton.h"
#include "dialogpainter.h"
#include "edit.h"
#include "globals.h"

#include <QButtonGroup>
#include <QPaintEvent>
#include <QPainter>

namespace {
constexpr int kKeySize = 65;
constexpr int kPitch = 70;
constexpr int kFunctionKeyW = 80;
constexpr int kButtonClass = 3;
constexpr int kRowSymbol = 441;
constexpr int kRowCharacter = 442;
constexpr int kRowLower = 158;
constexpr int kRowCapital = 159;
constexpr int kRowBS = 157;
constexpr int kRowConfirm = 121;

struct KeyRow
{
    int y;
    int firstX;
    int firstId;
    // One string per page (lower case, capitals, symbols); the closing blank gets no key.
    const char* pages[3];
};

const KeyRow kRows[] = {
    {10, 10, 0, {"1234567890_ ", "1234567890_ ", "1234567890_ "}},
    {80, 42, 11, {"qwertyuiop ", "QWERTYUIOP ", "-=[]\\;',./ "}},
    {150, 62, 21, {"asdfghjkl ", "ASDFGHJKL ", "@#$%^?*() "}},
    {220, 106, 30, {"zxcvbnm ", "ZXCVBNM ", "`~!{}:\" "}},
};

int keyCount(const KeyRow& row)
{
    return int(qstrlen(row.pages[0])) - 1;
}
}

NumCharInput::NumCharInput(QWidget* parent)
    : QWidget(parent)
    , m_group(new QButtonGroup(this))
{
    setWindowFlags(Qt::CustomizeWindowHint);
    setGeometry(0, 0, kWidth, kHeight);
    for (const KeyRow& row : kRows) {
        for (int i = 0; i < keyCount(row); ++i) {
            const int id = row.firstId + i;
            auto* key = new ColorButton(QString(QChar::fromLatin1(row.pages[LowerCase][i])), this, kButtonClass);
            key->setGeometry(row.firstX + i * kPitch, row.y, kKeySize, kKeySize);
            key->setFocusPolicy(Qt::NoFocus);
            m_group->addButton(key, id);
            m_keys[id] = key;
        }
    }
    auto makeKey = [this](int row, int x, int y) {
        auto* key = new ColorButton(lanText(row), this, kButtonClass);
        key->setGeometry(x, y, kFunctionKeyW, kKeySize);
        key->setFocusPolicy(Qt::NoFocus);
        return key;
    };
    m_symbol = makeKey(kRowSymbol, kWidth - 90, 150);
    m_caps = makeKey(kRowLower, 10, 220);
    m_bs = makeKey(kRowBS, kWidth - 180, 220);
    m_confirm = makeKey(kRowConfirm, kWidth - 90, 220);
    for (ColorButton* key : {m_symbol, m_caps, m_bs, m_confirm})
        key->fitText();

    connect(m_group, &QButtonGroup::idClicked, this, &NumCharInput::setContent);
    connect(m_symbol, &QPushButton::clicked, this, &NumCharInput::SlotChgChar_Punc);
    connect(m_caps, &QPushButton::clicked, this, &NumCharInput::SlotCap);
    connect(m_bs, &QPushButton::clicked, this, &NumCharInput::eraseContent);
    connect(m_confirm, &QPushButton::clicked, this, &NumCharInput::HideUpdate);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

NumCharInput::~NumCharInput()
{
    if (gpNumCharPad == this)
        gpNumCharPad = nullptr;
}

NumCharInput* NumCharInput::instance()
{
    if (!gpNumCharPad)
        gpNumCharPad = new NumCharInput(nullptr);
    return gpNumCharPad;
}

void NumCharInput::showPage(Page page)
{
    m_page = page;
    for (const KeyRow& row : kRows) {
        for (int i = 0; i < keyCount(row); ++i)
            m_keys[row.firstId + i]->setText(QString(QChar::fromLatin1(row.pages[page][i])));
    }
    m_symbol->setText(lanText(page == Symbols ? kRowCharacter : kRowSymbol));
    m_caps->setText(lanText(page == Capitals ? kRowCapital : kRowLower));
    m_symbol->fitText();
    m_caps->fitText();
}

void NumCharInput::SlotCap()
{
    showPage(m_page == LowerCase || m_page == Symbols ? Capitals : LowerCase);
}

void NumCharInput::SlotChgChar_Punc()
{
    showPage(m_page == Symbols ? LowerCase : Symbols);
}

void NumCharInput::setContent(int id)
{
    Edit* edit = Edit::current();
    if (!edit || id < 0 || id >= kCharKeys)
        return;
    // Always a plain append: an edit's own addValue (a value box's digits) is the number keypad's.
    const QByteArray latin = m_keys[id]->text().toLatin1();
    if (latin.isEmpty())
        return;
    edit->setText(edit->text() + QChar::fromLatin1(latin.at(0)));
    edit->setCursorPosition(edit->text().size());
}

void NumCharInput::eraseContent()
{
    Edit* edit = Edit::current();
    if (!edit)
        return;
    QString t = edit->text();
    t.chop(1);
    edit->setText(t);
    edit->setCursorPosition(qMax(0, t.size() - 1));
}

void NumCharInput::HideUpdate()
{
    if (!isVisible())
        return;
    hide();
    if (parentWidget())
        parentWidget()->update();
}

void NumCharInput::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    DialogPainter::drawKeypad(painter, event->rect(), width(), height());
}

void NumCharInput::showEvent(QShowEvent* event)
{
    showPage(LowerCase);
    QWidget::showEvent(event);
}

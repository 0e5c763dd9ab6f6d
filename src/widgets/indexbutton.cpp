#include "indexbutton.h"

#include "colorbutton.h"
#include "combobox.h"
#include "dialogpainter.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "statisticsscreen.h"
#include "wizardpara.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPixmap>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int kButtonH = 76;
constexpr int kChoiceSnapW = 115;
constexpr int kChoiceW = 125;
constexpr int kChoiceFont = 33;
constexpr int kChoiceItemH = 66;
constexpr int kButtonClass = 4;
constexpr int kBottomMargin = 60;
constexpr int kSmallestButtonH = 50;
constexpr int kRowSpacing = 1;
constexpr int kMaxChoices = 8;
constexpr int kRowFirstDetectionName = 372;   // "Left prod", "Left mold", ...
constexpr int kRowFirstOrdinal = 477;         // "1st" to "8th"
constexpr int kRowChoiceSnap = 721;

const char* const kLogoPictures[] = {"./images/logo2.png", "./images/logo2.bmp"};

QPixmap logoPixmap(const QSize& size)
{
    for (const char* path : kLogoPictures) {
        if (QFile::exists(QString::fromLatin1(path))) {
            const QPixmap picture(QString::fromLatin1(path));
            if (!picture.isNull())
                return picture.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        }
    }
    QPixmap plain(size);
    plain.fill(QColor(0xed, 0x9d, 0x11));
    return plain;
}
}

IndexButton::IndexButton(MainWindowBase* parent)
    : QWidget(parent)
{
    m_logo = new QPushButton(this);
    m_logo->setFixedSize(kWidth, kLogoHeight);
    m_logo->setIcon(QIcon(logoPixmap(QSize(kWidth, kLogoHeight))));
    m_logo->setIconSize(QSize(kWidth, kLogoHeight));
    m_logo->setStyleSheet(QStringLiteral("QPushButton {    border: none;    outline: none;    background: transparent;}"));
    connect(m_logo, &QPushButton::clicked, this, [this] {
        m_shown = 1 - m_shown;
        ShowHide(1);
    });

    // The full-width buttons, top to bottom, and the main-window action each starts.
    struct Entry
    {
        int row;
        ColorButton* IndexButton::*member;
        void (MainWindowBase::*action)();
    };
    const Entry buttons[] = {
        {126, &IndexButton::m_multiScreen, &MainWindowBase::SlotReturn},
        {127, &IndexButton::m_startStop, &MainWindowBase::SlotStartStop},
        {215, &IndexButton::m_systemPara, &MainWindowBase::SlotSystemPara},
        {129, &IndexButton::m_resample, &MainWindowBase::SlotReTrain},
        {130, &IndexButton::m_area, &MainWindowBase::SlotAdjustArea},
        {541, &IndexButton::m_statistics, nullptr},
        {132, &IndexButton::m_mouldSnap, &MainWindowBase::SlotManualTrig1},
        {131, &IndexButton::m_productSnap, &MainWindowBase::SlotManualTrig0},
    };
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_logo);
    for (const Entry& entry : buttons) {
        auto* button = new ColorButton(lanText(entry.row), this, kButtonClass);
        button->setFixedSize(kWidth, kButtonH);
        this->*entry.member = button;
        if (entry.action && parent)
            connect(button, &QPushButton::clicked, parent, entry.action);
        layout->addWidget(button);
    }
    connect(m_statistics, &QPushButton::clicked, this, [] { StatisticsScreen::open(); });

    m_choiceSnap = new ColorButton(lanText(kRowChoiceSnap), this, kButtonClass);
    m_choiceSnap->setFixedSize(kChoiceSnapW, kButtonH);
    if (parent)
        connect(m_choiceSnap, &QPushButton::clicked, parent, &MainWindowBase::SlotMuliManualTrig);
    m_choice = new ComboBox(this);
    m_choice->setFont(DialogPainter::font(kChoiceFont));
    m_choice->setItemHeight(kChoiceItemH);
    m_choice->setFixedSize(kChoiceW, kButtonH);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &IndexButton::SlotShowHideTimeout);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_choiceSnap);
    row->addWidget(m_choice);
    layout->addLayout(row);
    layout->addStretch();
    layout->setSpacing(kRowSpacing);
    layout->setContentsMargins(0, 0, 0, kBottomMargin);

    ColorButton::fitTexts(this);
    setGeometry(gShowW - kWidth, 0, kWidth, gShowH);
    Reset();
}

void IndexButton::Reset()
{
    ShowHide(0);
    ResetComboChooseManualTrig();
}

void IndexButton::ResetComboChooseManualTrig()
{
    m_choice->clear();
    const int trigMode = gpWPara ? gpWPara->trigMode : 0;
    int count = 0;
    int firstRow = 0;
    if (trigMode == 1 || trigMode == 2) {
        count = gDNum;
        firstRow = kRowFirstDetectionName;
    } else if (trigMode == 3) {
        count = gpWPara->detectCount;
        firstRow = kRowFirstOrdinal;
    }
    for (int i = 0; i < qMin(count, kMaxChoices); ++i)
        m_choice->addItem(lanText(firstRow + i));
}

int IndexButton::CurChooseTrig() const
{
    return m_choice->currentIndex();
}

void IndexButton::ShowHide(int mode)
{
    bool v = true;
    if (mode == 0) {
        hide();
    } else if (mode == 1) {
        v = m_shown != 0;
        setVisible(v);
    }
    for (ColorButton* button : {m_resample, m_startStop, m_area, m_systemPara, m_multiScreen})
        button->setVisible(v);

    const int snapshot = gpWPara ? gpWPara->manualSnapshot : 0;
    const int trigMode = gpWPara ? gpWPara->trigMode : 0;
    const int prodDetect = gpWPara ? gpWPara->enableProdDetect : 0;
    const bool bySwitch = snapshot != 0 && trigMode == 0;
    const bool byChoice = snapshot != 0 && trigMode >= 1 && trigMode <= 3;
    m_productSnap->setVisible(bySwitch && prodDetect != 0);
    m_mouldSnap->setVisible(bySwitch);
    m_choice->setVisible(byChoice);
    m_choiceSnap->setVisible(byChoice);

    m_statistics->setVisible(gpWPara && gpWPara->useStatistics != 0);
    fitRows();
}

void IndexButton::fitRows()
{
    const QList<QWidget*> rows = {m_multiScreen, m_startStop, m_systemPara, m_resample, m_area,
                                  m_statistics,  m_mouldSnap,  m_productSnap, m_choiceSnap};
    int shown = 0;
    for (QWidget* row : rows)
        shown += row->isHidden() ? 0 : 1;
    if (shown == 0)
        return;
    const int room = height() - kLogoHeight - (shown + 1) * kRowSpacing;
    const int rowH = qBound(kSmallestButtonH, (room - kBottomMargin) / shown, kButtonH);
    for (QWidget* row : rows)
        row->setFixedHeight(rowH);
    m_choice->setFixedHeight(rowH);
    layout()->setContentsMargins(0, 0, 0, qBound(0, room - shown * rowH, kBottomMargin));
}

void IndexButton::resizeEvent(QResizeEvent* event)
{
    fitRows();
    QWidget::resizeEvent(event);
}

void IndexButton::checkShowHide()
{
    if (m_shown == 0) {
        m_shown = 1;
        ShowHide(1);
    }
}

void IndexButton::SlotShowHideTimeout()
{
    m_shown = 0;
    ShowHide(1);
    m_timer->stop();
}

void IndexButton::showEvent(QShowEvent* event)
{
    m_shown = 1;
    ShowHide(1);
    QWidget::showEvent(event);
}

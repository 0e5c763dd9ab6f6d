#include "dateseletdialog.h"

#include "clock.h"
#include "globals.h"

#include <QButtonGroup>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
constexpr int kCellW = 160, kCellH = 50;
constexpr int kTextPx = 33;
constexpr int kButtonPadding = 16;
constexpr int kEditW = 330;
constexpr int kOneRowScreenW = 1280;
constexpr int kEditFontPx = 30;
constexpr int kArrowPx = 50;
constexpr int kRowTime = 733, kRowCustom = 734, kRowDays = 735, kRowStart = 736, kRowEnd = 737;
constexpr int kRowConfirm = 121, kRowCancel = 124;
constexpr const char* kDateFormat = "yyyy-MM-dd";
constexpr int kPresetDays[] = {1, 7, 30, 180, 365};
constexpr int kCustom = 0;
constexpr int kWeek = 2, kMonth = 3, kHalfYear = 4, kYear = 5;

QDate presetStart(int mode, const QDate& today)
{
    switch (mode) {
    case kWeek: return today.addDays(-7);
    case kMonth: return today.addMonths(-1);
    case kHalfYear: return today.addMonths(-6);
    case kYear: return today.addYears(-1);
    default: return today.addDays(-1);
    }
}
// A cell as wide as its text needs in the dialog's 33 px font, at least kCellW.
int cellWidth(const QString& text, int padding = 8)
{
    QFont font;
    font.setPixelSize(kTextPx);
    return qMax(kCellW, QFontMetrics(font).horizontalAdvance(text) + padding);
}
} // namespace

DateSeletDialog::DateSeletDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint)
    , m_presets(new QButtonGroup(this))
{
    auto* presetsRow = new QGridLayout;
    auto* time = new QLabel(lanText(kRowTime), this);
    time->setFixedSize(cellWidth(time->text()), kCellH);
    time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    presetsRow->addWidget(time, 0, 0);
    // Seven cells are wider than a small panel: the choices then take two rows.
    const int perRow = gShowW < kOneRowScreenW ? 3 : int(std::size(kPresetDays)) + 1;
    for (int id = 0; id <= int(std::size(kPresetDays)); ++id) {
        const QString text = id == kCustom ? lanText(kRowCustom) : lanText(kRowDays).arg(kPresetDays[id - 1]);
        auto* button = new QRadioButton(text, this);
        button->setFixedSize(kCellW, kCellH);
        m_presets->addButton(button, id);
        presetsRow->addWidget(button, id / perRow, 1 + id % perRow);
    }

    const QString arrows = QStringLiteral(
        "QDateEdit::up-button{subcontrol-origin:border;subcontrol-position:right;image: url(./images/right.png);"
        "width: %1px;height: %1px;}QDateEdit::down-button {subcontrol-origin:border;subcontrol-position:left;"
        "image: url(./images/left.png);width: %1px;height: %1px;}").arg(kArrowPx);
    auto dateRow = [&](int row, QDateEdit*& edit) {
        auto* layout = new QHBoxLayout;
        auto* label = new QLabel(lanText(row), this);
        label->setFixedSize(cellWidth(label->text()), kCellH);
        edit = new QDateEdit(Clock::now().date(), this);
        edit->setDisplayFormat(QLatin1String(kDateFormat));
        QFont font(QStringLiteral("wenquanyi"));
        font.setPixelSize(kEditFontPx);
        edit->setFont(font);
        edit->setFixedSize(kEditW, kCellH);
        edit->setAlignment(Qt::AlignCenter);
        edit->setStyleSheet(arrows);
        layout->addWidget(label);
        layout->addWidget(edit);
        layout->addStretch();
        connect(edit, &QDateEdit::dateTimeChanged, this, [this] {
            if (presetMode != kCustom)
                m_presets->button(kCustom)->click();
        });
        return layout;
    };

    auto* buttons = new QHBoxLayout;
    auto* confirm = new QPushButton(lanText(kRowConfirm), this);
    auto* cancel = new QPushButton(lanText(kRowCancel), this);
    for (QPushButton* button : {confirm, cancel})
        button->setFixedSize(cellWidth(button->text(), kButtonPadding), kCellH);
    connect(confirm, &QPushButton::pressed, this, &QDialog::accept);
    connect(cancel, &QPushButton::pressed, this, &QDialog::reject);
    buttons->addWidget(confirm);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addLayout(presetsRow);
    layout->addLayout(dateRow(kRowStart, m_start));
    layout->addLayout(dateRow(kRowEnd, m_end));
    layout->addLayout(buttons);
    setStyleSheet(QStringLiteral("QRadioButton,QPushButton,QLabel{font-size:%1px;}").arg(kTextPx));

    connect(m_presets, &QButtonGroup::idClicked, this, &DateSeletDialog::choosePreset);
    m_presets->button(1)->click();
}

void DateSeletDialog::choosePreset(int id)
{
    presetMode = id;
    updateDate();
}

void DateSeletDialog::updateDate()
{
    if (presetMode == kCustom)
        return;
    const QDate today = Clock::now().date();
    const QSignalBlocker blockStart(m_start);
    const QSignalBlocker blockEnd(m_end);
    m_end->setDate(today);
    m_start->setDate(presetStart(presetMode, today).addDays(1));
    update();
}

QPair<QString, QString> DateSeletDialog::getDays() const
{
    return {m_start->date().toString(QLatin1String(kDateFormat)), m_end->date().toString(QLatin1String(kDateFormat))};
}

#include "widgetchangecamera.h"

#include "cameramanager.h"
#include "cammerwidget.h"
#include "colorbutton.h"
#include "combobox.h"
#include "dialogpainter.h"
#include "displaytext.h"
#include "globals.h"
#include "warnbox.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {
constexpr int kRowRepeating = 361;
constexpr int kRowCameraPosition = 866;
constexpr int kRowConfirm = 121;
constexpr int kRowCancel = 124;
constexpr int kWidth = 900;
constexpr int kRowHeight = 60;
constexpr int kComboW = 160;
constexpr int kFontPixels = 28;
}  // namespace

WidgetChangeCamera::WidgetChangeCamera(QWidget* parent, std::function<void()> restart)
    : QDialog(parent)
    , m_restart(std::move(restart))
{
    setObjectName("cameraOrder");
    setWindowFlags(Qt::FramelessWindowHint | Qt::Dialog);
    auto* layout = new QVBoxLayout(this);
    m_rows = new QGridLayout;
    layout->addLayout(m_rows);
    auto* buttons = new QHBoxLayout;
    auto* ok = new ColorButton(lanText(kRowConfirm), this, DialogPainter::kButtonClass);
    auto* cancel = new ColorButton(lanText(kRowCancel), this, DialogPainter::kButtonClass);
    ok->setObjectName("confirm");
    cancel->setObjectName("cancel");
    for (ColorButton* b : {ok, cancel}) {
        b->setFixedSize(DialogPainter::kButtonW, DialogPainter::kButtonH);
        buttons->addWidget(b);
    }
    connect(ok, &QPushButton::clicked, this, &WidgetChangeCamera::SlotOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addLayout(buttons);
}

int WidgetChangeCamera::openWith(const QVector<CammerWidget*>& units)
{
    qDeleteAll(m_rowWidgets);
    m_rowWidgets.clear();
    m_positions.clear();
    for (int i = 0; i < units.size(); ++i) {
        auto* label = new QLabel(QStringLiteral("%1  %2").arg(lanText(kRowCameraPosition).arg(i + 1),
                                                                escapedForDisplay(QString::fromLatin1(units.at(i)->cameraSN))),
                                 this);
        label->setFont(DialogPainter::font(kFontPixels));
        DialogPainter::setYellowText(label);
        auto* combo = new ComboBox(this);
        combo->setFont(DialogPainter::font(kFontPixels));
        combo->setFixedSize(kComboW, kRowHeight);
        combo->setItemHeight(kRowHeight);
        for (int p = 0; p < units.size(); ++p)
            combo->addItem(QString::number(p + 1));
        combo->setCurrentIndex(i);
        m_rows->addWidget(label, i, 0);
        m_rows->addWidget(combo, i, 1);
        m_rowWidgets << label << combo;
        m_positions << combo;
    }
    setFixedSize(kWidth, (units.size() + 2) * kRowHeight + DialogPainter::kButtonH);
    move(DialogPainter::centred(width(), height()).topLeft());
    return exec();
}

void WidgetChangeCamera::SlotOK()
{
    QVector<int> order;
    for (ComboBox* combo : qAsConst(m_positions)) {
        const int position = combo->currentIndex();
        if (order.contains(position)) {
            if (gpWarnBox) {
                gpWarnBox->setText(lanText(kRowRepeating).arg(position + 1));
                gpWarnBox->exec();
            }
            return;
        }
        order << position;
    }
    hide();
    if (!CameraManager::getInstance()->resortCameraSN(order)) {
        reject();
        return;
    }
    accept();
    if (m_restart)
        m_restart();
}

void WidgetChangeCamera::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DialogPainter::drawBackground(painter, rect());
    DialogPainter::drawFrame(painter, width(), height());
}

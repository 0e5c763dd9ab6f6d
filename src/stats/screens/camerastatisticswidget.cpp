#include "camerastatisticswidget.h"

#include "globals.h"
#include "histogram.h"
#include "resstatisticsparam.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
constexpr int kFontPx = 27;
constexpr int kTitleW = 150, kTitleH = 50;
constexpr int kValueW = 120, kValueH = 35;
constexpr int kChartHeight = 420;
constexpr int kRowOk = 542;
constexpr int kRowTotal = 547;
constexpr int kRowPassRate = 588;
constexpr int kPassRateDigits = 4;

struct Span
{
    ShiftType type;
    int titleRow;
};
constexpr Span kSpans[] = {{ShiftMorning, 545}, {ShiftNight, 546}, {ShiftDay, 587}};

QFont labelFont()
{
    QFont font(QStringLiteral("wqy-microhei"));
    font.setPixelSize(kFontPx);
    return font;
}

// At least `least` wide, wider where one of the texts needs it.
int widthFor(const QStringList& texts, int least)
{
    const QFontMetrics metrics(labelFont());
    int w = least;
    for (const QString& text : texts)
        w = qMax(w, metrics.horizontalAdvance(text) + 6);
    return w;
}

QLabel* makeLabel(const QString& text, QWidget* parent, int w, int h, Qt::Alignment align)
{
    auto* label = new QLabel(text, parent);
    label->setFont(labelFont());
    label->setFixedSize(w, h);
    label->setAlignment(align);
    return label;
}
} // namespace

CameraStatisticsWidget::CameraStatisticsWidget(int camera, int detect, QWidget* parent)
    : QWidget(parent)
    , detectIndex(detect)
    , cameraIndex(camera)
{
    auto* columns = new QVBoxLayout;
    columns->setSpacing(1);
    const int captionRows[] = {kRowTotal, kRowOk, kRowPassRate};
    QStringList captions, titles;
    for (int row : captionRows)
        captions << lanText(row);
    for (const Span& span : kSpans)
        titles << lanText(span.titleRow);
    const int valueW = widthFor(captions, kValueW);
    const int titleW = widthFor(titles, kTitleW);
    for (int s = 0; s < 3; ++s) {
        auto* column = new QVBoxLayout;
        column->setSpacing(3);
        column->addWidget(makeLabel(titles.at(s), this, titleW, kTitleH, Qt::AlignLeft | Qt::AlignVCenter));
        for (int v = 0; v < 3; ++v) {
            column->addWidget(makeLabel(captions.at(v), this, valueW, kValueH, Qt::AlignRight | Qt::AlignVCenter));
            QLabel* value = makeLabel(QStringLiteral("0"), this, valueW, kValueH, Qt::AlignRight | Qt::AlignVCenter);
            value->setStyleSheet(QStringLiteral("color:green;"));
            values[s * 3 + v] = value;
            column->addWidget(value);
        }
        column->addStretch();
        columns->addLayout(column);
    }

    morningChart = new Histogram(this);
    nightChart = new Histogram(this);
    for (Histogram* chart : {morningChart, nightChart})
        chart->setFixedHeight(kChartHeight);
    auto* charts = new QVBoxLayout;
    charts->setSpacing(5);
    charts->addWidget(morningChart);
    charts->addWidget(nightChart);

    auto* page = new QHBoxLayout(this);
    page->setContentsMargins(10, 10, 10, 10);
    page->setSpacing(5);
    page->addLayout(columns);
    page->addLayout(charts);
    page->addStretch();
}

QString CameraStatisticsWidget::passRateText(int ok, int ng)
{
    const int total = ok + ng;
    if (total <= 0)
        return QStringLiteral("0%");
    return QString::number(double(ok) * 100.0 / double(total), 'g', kPassRateDigits) + '%';
}

void CameraStatisticsWidget::updateData()
{
    const ResStatisticsParam* model = ResStatisticsParam::getInstance();
    for (int s = 0; s < 3; ++s) {
        const int ok = model->getCount(kSpans[s].type, true, cameraIndex, detectIndex);
        const int ng = model->getCount(kSpans[s].type, false, cameraIndex, detectIndex);
        values[s * 3]->setText(QString::number(ok + ng));
        values[s * 3 + 1]->setText(QString::number(ok));
        values[s * 3 + 2]->setText(passRateText(ok, ng));
    }
    const std::pair<Histogram*, ShiftType> charts[] = {{morningChart, ShiftMorning}, {nightChart, ShiftNight}};
    for (const auto& [chart, shift] : charts) {
        chart->modifyDataAxisY(model->getRes(shift, true, cameraIndex, detectIndex),
                               model->getRes(shift, false, cameraIndex, detectIndex));
        chart->modifyDataAxisX(model->getShiftTimeList(shift));
    }
    update();
}

void CameraStatisticsWidget::showEvent(QShowEvent* event)
{
    updateData();
    QWidget::showEvent(event);
}

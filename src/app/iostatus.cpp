#include "iostatus.h"

#include "controlport.h"
#include "copy2movedisk.h"
#include "globals.h"
#include "statecodes.h"
#include "wizardpara.h"

#include <QPainter>
#include <QTimer>

namespace {
constexpr int kGroupSignals = 4;        // inputs 0-3 and outputs 0-3 in modes 0-2
constexpr int kMultiSignals = 9;        // inputs 0-8 and outputs 0-8 in mode 3
constexpr int kDot = 16;
constexpr int kNamePixels = 16;
constexpr int kSmallestNamePixels = 10;
const QColor kActive(40, 200, 60);
const QColor kIdle(90, 90, 90);
constexpr int kDiskW = 18, kDiskH = 24, kMarkGap = 12;
}

IOStatus::IOStatus(ControlPort* io, QWidget* parent)
    : QWidget(parent)
    , m_io(io)
    , m_timer(new QTimer(this))
{
    setObjectName("ioStatus");
    connect(m_timer, &QTimer::timeout, this, &IOStatus::refreshIfChanged);
    m_timer->start(kRefreshMs);
    if (m_io)
        connect(m_io, &ControlPort::sigIOChange, this, QOverload<>::of(&QWidget::update));
}

QVector<IOStatus::Entry> IOStatus::entries(int trigMode)
{
    const int count = trigMode == kAllGroupsTrigMode ? kMultiSignals : kGroupSignals;
    QVector<Entry> list;
    for (int i = 0; i < count; ++i)
        list.append({i, false, i});
    for (int i = 0; i < count; ++i)
        list.append({count + i, true, i});
    return list;
}

bool IOStatus::isOn(const ControlPort* io, const Entry& entry)
{
    // Outputs as the board applied them: a wanted word that never reached it is no state.
    return io && (entry.output ? io->appliedOut(entry.number) : io->IOGetIn(entry.number));
}

QString IOStatus::shownState() const
{
    // Everything the bar paints from, besides its size and the export text.
    const QVector<Entry> list = entries(gpWPara ? gpWPara->trigMode : 0);
    QString state;
    state += QLatin1Char(m_io && !m_io->isLinkUp() ? '1' : '0');
    state += QLatin1Char(hasImageDisk() ? '1' : '0');
    for (const Entry& e : list) {
        state += QLatin1Char(isOn(m_io, e) ? '1' : '0');
        state += gaName[e.nameIndex];
        state += QLatin1Char('\n');
    }
    return state;
}

void IOStatus::refreshIfChanged()
{
    // The tick catches what comes without a signal (applied outputs, the disk,
    // names); a bar that shows the same is not painted again.
    if (shownState() != m_paintedState)
        update();
}

void IOStatus::paintEvent(QPaintEvent*)
{
    m_paintedState = shownState();
    QPainter painter(this);
    painter.fillRect(rect(), QColor(25, 25, 25));
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font("wqy-microhei");
    font.setPixelSize(kNamePixels);
    painter.setFont(font);

    // The marks at the right (link lost, image disk, export progress) keep their room;
    // the inputs and outputs share the rest.
    const QString linkLost = m_io && !m_io->isLinkUp() ? QStringLiteral("IO ✕") : QString();
    const bool disk = hasImageDisk();
    const QFontMetrics metrics = painter.fontMetrics();
    int reserved = 8;
    if (!linkLost.isEmpty())
        reserved += metrics.horizontalAdvance(linkLost) + kMarkGap;
    if (disk)
        reserved += kDiskW + kMarkGap;
    if (!m_exportText.isEmpty())
        reserved += metrics.horizontalAdvance(m_exportText) + kMarkGap;

    const QVector<Entry> list = entries(gpWPara ? gpWPara->trigMode : 0);
    const int cell = qMax(1, (width() - reserved) / qMax(1, list.size()));
    for (int i = 0; i < list.size(); ++i) {
        const Entry& e = list.at(i);
        const int x = i * cell + 6;
        const int y = (height() - kDot) / 2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(isOn(m_io, e) ? kActive : kIdle);
        painter.drawEllipse(x, y, kDot, kDot);
        painter.setPen(e.output ? QColor(255, 200, 80) : Qt::white);
        const QString prefix = e.output ? QStringLiteral("O%1 ") : QStringLiteral("I%1 ");
        const QString text = prefix.arg(e.number + 1) + gaName[e.nameIndex];
        const QRect room(x + kDot + 4, 0, cell - kDot - 10, height());
        // A long name on a narrow screen is set smaller rather than cut.
        QFont cellFont = font;
        while (cellFont.pixelSize() > kSmallestNamePixels
               && QFontMetrics(cellFont).horizontalAdvance(text) > room.width())
            cellFont.setPixelSize(cellFont.pixelSize() - 1);
        painter.setFont(cellFont);
        painter.drawText(room, Qt::AlignVCenter | Qt::AlignLeft, text);
    }
    painter.setFont(font);

    int right = width() - 8;
    if (!linkLost.isEmpty()) {
        painter.setPen(Qt::red);
        painter.drawText(QRect(0, 0, right, height()), Qt::AlignVCenter | Qt::AlignRight, linkLost);
        right -= metrics.horizontalAdvance(linkLost) + kMarkGap;
    }
    if (disk) {
        // A stick: body and connector.
        const int top = (height() - kDiskH) / 2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(80, 160, 255));
        painter.drawRoundedRect(QRect(right - kDiskW, top + kDiskH / 3, kDiskW, kDiskH * 2 / 3), 3, 3);
        painter.setBrush(QColor(200, 200, 200));
        painter.drawRect(QRect(right - kDiskW + 4, top, kDiskW - 8, kDiskH / 3));
        right -= kDiskW + kMarkGap;
    }
    if (!m_exportText.isEmpty()) {
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, 0, right, height()), Qt::AlignVCenter | Qt::AlignRight, m_exportText);
    }
}

void IOStatus::setExportText(const QString& text)
{
    m_exportText = text;
    update();
}

bool IOStatus::hasImageDisk()
{
    return Copy2MoveDisk::_instance && !Copy2MoveDisk::_instance->targetPath().isEmpty();
}

void IOStatus::mousePressEvent(QMouseEvent*)
{
    emit clicked();
}

#include "iostatus.h"

#include "controlport.h"
#include "copy2movedisk.h"
#include "globals.h"
#include "statecodes.h"
#include "wizardpara.h"

#include <QPainter>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int kGroupSignals = 4;        // inputs 0-3 and outputs 0-3 in modes 0-2
constexpr int kMultiSignals = 9;        // inputs 0-8 and outputs 0-8 in mode 3
constexpr int kDot = 16;
constexpr int kSmallDot = 12;           // dots of a bar in two rows
constexpr int kLeft = 6;
constexpr int kDotGap = 4;              // dot to its name
constexpr int kCellGap = 8;             // a name to the next dot
constexpr int kOneRowPixels = 14;       // the smallest names of a bar in one row
const QColor kActive(40, 200, 60);
const QColor kIdle(90, 90, 90);
constexpr int kDiskW = 18, kDiskH = 24, kMarkGap = 12;
constexpr int kRightMargin = 8;
const char* const kLinkLost = "IO ✕";

QFont nameFont(int pixels)
{
    QFont font("wqy-microhei");
    font.setPixelSize(pixels);
    return font;
}

// One row of labels from the left: each name gets its own width plus an even share of
// what is left, or (elide) all cells share the room alike and long names are elided.
void placeRow(IOStatus::Layout& layout, const QStringList& row, QRect line, int dot, const QFontMetrics& metrics,
              bool elide)
{
    if (row.isEmpty())
        return;
    const int count = row.size();
    QVector<int> widths;
    int needed = 0;
    for (const QString& text : row) {
        widths << metrics.horizontalAdvance(text);
        needed += dot + kDotGap + widths.last() + kCellGap;
    }
    needed -= kCellGap;
    const int share = (line.width() - needed) / count;
    const int equal = (line.width() + kCellGap) / count - dot - kDotGap - kCellGap;
    int x = line.left();
    for (int i = 0; i < count; ++i) {
        const int width = elide ? qMax(0, equal) : widths.at(i) + share;
        IOStatus::Cell cell;
        cell.dot = QRect(x, line.top() + (line.height() - dot) / 2, dot, dot);
        cell.text = QRect(x + dot + kDotGap, line.top(), width, line.height());
        cell.shown = elide ? metrics.elidedText(row.at(i), Qt::ElideRight, width) : row.at(i);
        layout.cells << cell;
        x += dot + kDotGap + width + kCellGap;
    }
}

bool rowFits(const QStringList& row, int dot, const QFontMetrics& metrics, int room)
{
    int needed = -kCellGap;
    for (const QString& text : row)
        needed += dot + kDotGap + metrics.horizontalAdvance(text) + kCellGap;
    return needed <= room;
}
} // namespace

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

QString IOStatus::label(const Entry& entry)
{
    return (entry.output ? QStringLiteral("O%1 ") : QStringLiteral("I%1 ")).arg(entry.number + 1) + gaName[entry.nameIndex];
}

IOStatus::Layout IOStatus::layout(const QStringList& labels, int inputs, QSize bar, int reserved)
{
    const QRect room(kLeft, 0, qMax(1, bar.width() - reserved - kLeft), bar.height());
    const QVector<QStringList> oneRow{labels};
    const QVector<QStringList> twoRows{labels.mid(0, inputs), labels.mid(inputs)};
    const auto place = [&](const QVector<QStringList>& rows, int pixels, bool elide) {
        Layout placed;
        placed.pixelSize = pixels;
        const QFontMetrics metrics(nameFont(pixels));
        const int height = room.height() / rows.size();
        for (int r = 0; r < rows.size(); ++r)
            placeRow(placed, rows.at(r), QRect(room.left(), r * height, room.width(), height),
                     rows.size() == 1 ? kDot : kSmallDot, metrics, elide);
        return placed;
    };
    // A cut name no longer says which signal it is: the bar first takes a smaller size,
    // then a second row, and elides only where even that leaves no room.
    const struct
    {
        const QVector<QStringList>& rows;
        int smallest;
    } tries[] = {{oneRow, kOneRowPixels}, {twoRows, kReadablePixels}};
    for (const auto& attempt : tries) {
        const int height = room.height() / attempt.rows.size();
        const int dot = attempt.rows.size() == 1 ? kDot : kSmallDot;
        for (int pixels = kNamePixels; pixels >= attempt.smallest; --pixels) {
            const QFontMetrics metrics(nameFont(pixels));
            if (metrics.height() > height)
                continue;
            const bool fits = std::all_of(attempt.rows.begin(), attempt.rows.end(), [&](const QStringList& row) {
                return rowFits(row, dot, metrics, room.width());
            });
            if (fits)
                return place(attempt.rows, pixels, false);
        }
    }
    return place(twoRows, kReadablePixels, true);
}

int IOStatus::reservedWidth(bool linkLost, bool disk, const QString& exportText)
{
    const QFontMetrics metrics(nameFont(kNamePixels));
    int reserved = kRightMargin;
    if (linkLost)
        reserved += metrics.horizontalAdvance(QString::fromUtf8(kLinkLost)) + kMarkGap;
    if (disk)
        reserved += kDiskW + kMarkGap;
    if (!exportText.isEmpty())
        reserved += metrics.horizontalAdvance(exportText) + kMarkGap;
    return reserved;
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
    const QFont font = nameFont(kNamePixels);
    painter.setFont(font);

    // The marks at the right (link lost, image disk, export progress) keep their room;
    // the inputs and outputs share the rest.
    const QString linkLost = m_io && !m_io->isLinkUp() ? QString::fromUtf8(kLinkLost) : QString();
    const bool disk = hasImageDisk();
    const QFontMetrics metrics = painter.fontMetrics();
    const int reserved = reservedWidth(!linkLost.isEmpty(), disk, m_exportText);

    const QVector<Entry> list = entries(gpWPara ? gpWPara->trigMode : 0);
    QStringList labels;
    int inputs = 0;
    for (const Entry& e : list) {
        labels << label(e);
        inputs += e.output ? 0 : 1;
    }
    const Layout placed = layout(labels, inputs, size(), reserved);
    painter.setFont(nameFont(placed.pixelSize));
    for (int i = 0; i < placed.cells.size(); ++i) {
        const Cell& cell = placed.cells.at(i);
        painter.setPen(Qt::NoPen);
        painter.setBrush(isOn(m_io, list.at(i)) ? kActive : kIdle);
        painter.drawEllipse(cell.dot);
        painter.setPen(list.at(i).output ? QColor(255, 200, 80) : Qt::white);
        painter.drawText(cell.text, Qt::AlignVCenter | Qt::AlignLeft, cell.shown);
    }
    painter.setFont(font);

    int right = width() - kRightMargin;
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

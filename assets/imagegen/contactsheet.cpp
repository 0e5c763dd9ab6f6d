#include "contactsheet.h"

#include "palette.h"
#include "pictures.h"

#include <QDir>
#include <QFont>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QSet>
#include <QTextLayout>

namespace {

constexpr int kCellWidth = 320;
constexpr int kCellHeight = 190;
constexpr int kColumns = 4;
constexpr int kLabelHeight = 26;
constexpr int kSliderHeight = 35;   // a Slider row as the ROI panel lays it out
constexpr int kSliderWidth = 984;
constexpr int kFooterHeight = 190;

const QString kUiFont = QStringLiteral("wqy-microhei");
const QString kCjkSample = QStringLiteral("检测中 模具 产品 參數設定 テンプレート 検出停止 金型");

QFont uiFont(int pixelSize)
{
    QFont font(kUiFont);
    font.setPixelSize(pixelSize);
    return font;
}

// The picture scaled to fit the box, keeping its aspect; tiny pictures are enlarged
// (at most 3x) so their details can be judged.
QRect fitted(const QSize& picture, const QRect& box)
{
    QSize size = picture.scaled(box.size(), Qt::KeepAspectRatio);
    if (size.width() > 3 * picture.width())
        size = picture * 3;
    size = size.expandedTo(QSize(6, 6));  // keep thin lines visible
    return QRect(box.center() - QPoint(size.width() / 2, size.height() / 2), size);
}

void drawCell(QPainter& p, const QRect& cell, const QString& name, const QImage& image)
{
    const QRect body = cell.adjusted(0, 0, 0, -kLabelHeight);
    const QRect darkHalf(body.left(), body.top(), body.width() / 2, body.height());
    const QRect lightHalf(darkHalf.right() + 1, body.top(), body.width() - darkHalf.width(), body.height());
    p.fillRect(darkHalf, QColor(0x20, 0x20, 0x20));
    p.fillRect(lightHalf, QColor(0xd8, 0xd8, 0xd8));
    for (const QRect& half : {darkHalf, lightHalf})
        p.drawImage(fitted(image.size(), half.adjusted(6, 6, -6, -6)), image);
    p.setPen(Qt::white);
    p.setFont(uiFont(15));
    p.drawText(cell.adjusted(4, body.height(), -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("%1  %2x%3").arg(name).arg(image.width()).arg(image.height()));
}

// The slider parts as Slider::paintEvent assembles them, at 60 % of the range.
void drawSlider(QPainter& p, const QPoint& at, const QDir& dir)
{
    const int h = kSliderHeight;
    const int trackWidth = kSliderWidth - 395;
    const int trackStart = int(0.03 * trackWidth);
    const int fill = int(0.6 * int(0.93 * trackWidth));
    p.save();
    p.translate(at);
    p.setPen(Qt::green);
    p.setFont(uiFont(30));
    p.drawText(QRect(0, 0, 120, h), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("灵敏度"));
    p.drawImage(QRect(135, 3, 100, h - 6), QImage(dir.filePath(QStringLiteral("edit.png"))));
    p.drawText(QRect(135, 3, 100, h - 6), Qt::AlignCenter, QStringLiteral("60"));
    p.drawImage(QRect(315, 3, trackWidth, h - 6), QImage(dir.filePath(QStringLiteral("sliderd.png"))));
    p.drawImage(QRect(315 + trackStart, 11, fill, h - 22), QImage(dir.filePath(QStringLiteral("slideru.png"))));
    p.drawImage(QRect(315 + trackStart + fill, 3, 10, h - 6), QImage(dir.filePath(QStringLiteral("slidert.png"))));
    p.restore();
}

} // namespace

namespace ContactSheet {

QImage render(const QString& imagesDir, QStringList* missing)
{
    const QDir dir(imagesDir);
    const auto& all = pictures();
    const int rows = (int(all.size()) + kColumns - 1) / kColumns;
    QImage sheet(kColumns * kCellWidth, rows * kCellHeight + kFooterHeight, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(0x10, 0x10, 0x10));
    QPainter p(&sheet);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int i = 0; i < int(all.size()); ++i) {
        const QImage image(dir.filePath(all[i].fileName));
        if (image.isNull())
            missing->append(all[i].fileName);
        const QRect cell((i % kColumns) * kCellWidth, (i / kColumns) * kCellHeight, kCellWidth - 4, kCellHeight - 4);
        drawCell(p, cell, all[i].fileName, image);
    }
    if (missing->size() == int(all.size()))
        return QImage();

    const int footer = rows * kCellHeight;
    const QImage background(dir.filePath(QStringLiteral("background.png")));
    p.drawImage(QRect(0, footer, sheet.width(), kFooterHeight), background);
    drawSlider(p, QPoint(20, footer + 20), dir);
    p.setPen(Qt::white);
    p.setFont(uiFont(32));
    p.drawText(QRect(20, footer + 70, sheet.width() - 40, 50), Qt::AlignLeft | Qt::AlignVCenter, kCjkSample);
    p.setPen(Qt::yellow);
    p.setFont(uiFont(26));
    p.drawText(QRect(20, footer + 125, sheet.width() - 40, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Stop Detection  停止檢測  検出停止  0123456789"));
    return sheet;
}

bool checkCjkFont(QString* report)
{
    QTextLayout layout(kCjkSample, uiFont(32));
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QSet<QString> families;
    int missing = 0;
    int cjkGlyphs = 0;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QString family = run.rawFont().familyName();
        families.insert(family);
        for (quint32 index : run.glyphIndexes()) {
            missing += index == 0 ? 1 : 0;
            if (family.contains(QStringLiteral("WenQuanYi"), Qt::CaseInsensitive))
                ++cjkGlyphs;
        }
    }
    const QStringList names(families.begin(), families.end());
    *report = QStringLiteral("fonts used: %1; glyphs from WenQuanYi: %2; missing glyphs: %3")
                  .arg(names.join(QStringLiteral(", ")))
                  .arg(cjkGlyphs)
                  .arg(missing);
    return missing == 0 && cjkGlyphs > 0;
}

} // namespace ContactSheet

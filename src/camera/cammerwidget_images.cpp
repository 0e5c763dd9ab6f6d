// NG images, re-train images, templates and ignore masks of the camera unit.
#include "cammerwidget.h"

#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "failpicture.h"
#include "frameimage.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "roishapevisit.h"
#include "miscfunc.h"
#include "storedfile.h"
#include "wizardpara.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QMutexLocker>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

// A template or mask replaces the stored one only when fully written.
bool saveWhole(const QImage& image, const QString& path)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "BMP")) {
        qWarning() << "cannot encode" << path;
        return false;
    }
    return StoredFile::write(path, bytes);
}

constexpr int kRowSafetyDoor = 265;
constexpr int kRowClearMethod = 120;
constexpr int kRowOkRedetect = 143;
constexpr int kFontNg = 26;
constexpr int kFontLabel = 16;
const QPoint kHeaderAt(5, 80);
const QPoint kBannerAt(5, 110);
const QPoint kClearTextAt(55, 80);

// Alarm-clear state of the main window: the stamped texts and the state after stamping.
struct ClearStamp
{
    int state;
    int firstRow;
    int secondRow;
    int next;
};
const ClearStamp kClearStamps[] = {
    {4, kRowClearMethod, 47, 9},
    {5, kRowClearMethod, 48, 9},
    {6, kRowClearMethod, 338, 9},
    {7, kRowClearMethod, 61, 8},
    {8, kRowOkRedetect, -1, 10},
};

}  // namespace

QString CammerWidget::folderFor(int group) const
{
    return QStringLiteral("./cammer%1%2").arg(camIndex + 1).arg(group + 1);
}

bool CammerWidget::ensureFolder(int group) const
{
    // A missing folder would lose the file without notice.
    if (QDir().mkpath(folderFor(group)))
        return true;
    qWarning() << "cannot create" << folderFor(group);
    return false;
}

QVector<QRgb> CammerWidget::greyPalette() const
{
    if (m_win && m_win->greyColorTable.size() == 256)
        return m_win->greyColorTable;
    QVector<QRgb> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = qRgb(i, i, i);
    return table;
}

void CammerWidget::loadTemplates(int groups)
{
    const int slotCount = qMax(0, gTempNum);
    for (int g = 0; g < groups; ++g) {
        templateCount[g] = 0;
        pTemplate[g].assign(static_cast<size_t>(slotCount), nullptr);
        for (unsigned char*& frame : pTemplate[g])
            frame = newFrameBuffer(static_cast<size_t>(frameBytes));
        pTemplateValid[g].assign(static_cast<size_t>(slotCount), 0);
        for (int t = 0; t < slotCount; ++t) {
            unsigned char* buffer = pTemplate[g][t];
            const QImage image(QStringLiteral("%1/template%2.bmp").arg(folderFor(g)).arg(t));
            // A slot without a template stays as allocated: zero, and not resident until written.
            if (FrameImage::readTemplate(image, imageW, imageH, isColor, buffer)) {
                pTemplateValid[g][t] = 1;
                ++templateCount[g];
            } else {
                pTemplateValid[g][t] = 0;
            }
        }
        if (slotCount > 0 && !pTemplateValid[g][0]) {
            // A made-up template 0: black with a white middle half, so every group can learn.
            pTemplateValid[g][0] = 1;
            ++templateCount[g];
            const int bpp = isColor ? 4 : 1;
            unsigned char* buffer = pTemplate[g][0];
            const int x0 = imageW / 4, x1 = qMin(imageW - 1, 3 * (imageW / 4));
            const int y0 = imageH / 4, y1 = qMin(imageH - 1, 3 * (imageH / 4));
            for (int y = y0; y <= y1; ++y)
                std::memset(buffer + (static_cast<size_t>(y) * imageW + x0) * bpp, 255,
                            static_cast<size_t>(x1 - x0 + 1) * bpp);
        }
    }
}

void CammerWidget::LoadIgnorePoint()
{
    const int groups = groupCount();
    for (int g = 0; g < groups; ++g) {
        unsigned char* mask = pIgnoreMask[g];
        if (FrameImage::readIgnoreMask(QImage(QStringLiteral("%1/ignorepoint.bmp").arg(folderFor(g))), imageW, imageH,
                                       mask))
            continue;
        // Without a file the mask is clear. Reading a fresh zeroed buffer keeps it
        // out of the resident memory; writing zeros would not.
        const unsigned char* begin = mask;
        const unsigned char* end = mask + imagePixels;
        if (std::find_if(begin, end, [](unsigned char v) { return v != 0; }) != end)
            std::memset(mask, 0, static_cast<size_t>(imagePixels));
    }
}

void CammerWidget::SaveIgnorePoint(int group)
{
    if (group < 0 || group >= kGroups || !pIgnoreMask[group] || !ensureFolder(group))
        return;
    QImage image(pIgnoreMask[group], imageW, imageH, imageW, QImage::Format_Indexed8);
    image.setColorTable(greyPalette());
    const QString path = QStringLiteral("%1/ignorepoint.bmp").arg(folderFor(group));
    saveWhole(image, path);
}

void CammerWidget::SaveReTrainImage(int group)
{
    if (group < 0 || group >= kGroups || pTemplate[group].empty())
        return;
    const size_t bytes = static_cast<size_t>(frameBytes);
    std::memcpy(pCheckBuf, pCaptureBuf, bytes);
    showFrame(pCheckBuf);
    std::memcpy(pTemplate[group][0], pCheckBuf, bytes);
    SaveTemplateImage(group, 0);
}

bool CammerWidget::SaveTemplateImage(int group, int slot)
{
    if (group < 0 || group >= kGroups || slot < 0 || slot >= int(pTemplate[group].size()) || !ensureFolder(group))
        return false;
    unsigned char* tmpl = pTemplate[group][size_t(slot)];
    QImage image;
    if (isColor) {
        image = QImage(tmpl, imageW, imageH, 4 * imageW, QImage::Format_RGB32);
    } else {
        image = QImage(tmpl, imageW, imageH, imageW, QImage::Format_Indexed8);
        image.setColorTable(greyPalette());
    }
    const QString path = QStringLiteral("%1/template%2.bmp").arg(folderFor(group)).arg(slot);
    return saveWhole(image, path);
}

void CammerWidget::SaveFailImage(int group, int slot)
{
    if (group < 0 || group >= kGroups || slot < 0 || slot > 1 || !pSingleton)
        return;
    // One canvas serves the NG pictures of every camera, made one after another
    // on the GUI thread; the views' own 32-bit buffers are not touched (a grey
    // view in the camera grid never needs its own).
    static QImage canvas;
    if (canvas.width() != imageW || canvas.height() != imageH)
        canvas = QImage(imageW, imageH, QImage::Format_RGB32);
    if (canvas.isNull())
        return;  // out of memory: no picture rather than a crash
    QImage& picture = canvas;
    frameToRGB32(pCheckBuf, reinterpret_cast<QRgb*>(picture.bits()));
    {
        QPainter painter(&picture);
        QFont font("wqy-microhei");
        font.setPixelSize(kFontNg);
        painter.setFont(font);
        painter.setPen(slot == 0 ? Qt::red : Qt::green);
        painter.drawText(kHeaderAt, slot == 0 ? QStringLiteral("NG") : QStringLiteral("OK"));
        painter.drawText(kBannerAt, m_win && m_win->safetyDoorTriggered ? lanText(kRowSafetyDoor) : QString());
        font.setPixelSize(kFontLabel);
        painter.setFont(font);

        const CammerSingleton& store = *pSingleton;
        const int count = qBound(0, store.roiCount[group], static_cast<int>(kRois));
        QPoint anchor = kHeaderAt;
        for (int r = 0; r < count; ++r) {
            const bool ok = roiResult[group][r];
            if (!ok) {
                {
                    QMutexLocker lock(pMutexSaveFail);  // does nothing without a mutex
                    if (gFailIndex[camIndex][group] == 0)
                        gFailIndex[camIndex][group] = r + 1;
                }
                painter.setPen(Qt::red);
                const NgBoxList& boxes = ngBoxes[group][r];
                const int n = qBound(0, boxes.count(), static_cast<int>(NgBoxList::kMaxBoxes));
                for (int b = 1; b <= n; ++b) {
                    const int* box = boxes.entry[b];
                    painter.drawRect(QRect(QPoint(box[0], box[1]), QPoint(box[2] - 1, box[3] - 1)));
                }
            } else {
                painter.setPen(Qt::green);
            }
            switch (store.roiShape[group][r]) {
            case CammerSingleton::kShapePolygon: {
                const RePolygon& poly = store.polygonRoi[group][r];
                if (!poly.imageNodes.isEmpty()) {
                    painter.drawPolygon(poly.imageNodes.constData(), poly.imageNodes.size());
                    anchor = poly.imageNodes.first();
                }
                break;
            }
            case CammerSingleton::kShapeCircle: {
                const Circle& circle = store.circleRoi[group][r];
                painter.save();
                painter.scale(1.0 / screenSW, 1.0 / screenSH);
                circle.Draw(painter);
                painter.restore();
                anchor = circle.imageRect.topLeft();
                break;
            }
            case CammerSingleton::kShapeRect: {
                const QRect& box = store.rectRoi[group][r].imageRect;
                painter.drawRect(box);
                anchor = box.topLeft();
                break;
            }
            default:
                break;
            }
            painter.setPen(ok ? Qt::green : Qt::red);
            drawLabel(painter, QRect(QPoint(anchor.x(), anchor.y() - 26), QPoint(anchor.x() + 399, anchor.y() - 2)),
                      roiLabel(group, r, count, LabelPlace::NgImage));
        }
    }
    storeFailPicture(picture, group, slot);
}

void CammerWidget::storeFailPicture(const QImage& picture, int group, int slot)
{
    FailPicture* target = gpFailImage[camIndex][group][slot];
    if (!target)
        return;
    // Packed outside the lock, handed over by a swap; the picture it replaces
    // lends its buffers to the next one.
    static FailPicture packed;
    packed.store(reinterpret_cast<const QRgb*>(picture.constBits()), picture.width(), picture.height());
    QMutexLocker lock(pMutexSaveFail);
    target->swap(packed);
}

bool CammerWidget::IgnoreNgPixels(int group)
{
    if (group < 0 || group >= kGroups || !pIgnoreMask[group] || !pSensMask || !pSingleton)
        return false;
    const int count = qBound(0, pSingleton->roiCount[group], static_cast<int>(kRois));
    const QRect frame(0, 0, imageW, imageH);
    bool added = false;
    for (int r = 0; r < count; ++r) {
        if (roiResult[group][r])
            continue;
        const QRect box = roiImageRect(*pSingleton, group, r).intersected(frame);
        for (int y = box.top(); !box.isEmpty() && y <= box.bottom(); ++y) {
            const size_t row = static_cast<size_t>(y) * imageW;
            for (int x = box.left(); x <= box.right(); ++x) {
                if (pSensMask[row + x] && !pIgnoreMask[group][row + x]) {
                    pIgnoreMask[group][row + x] = 255;
                    added = true;
                }
            }
        }
    }
    if (!added)
        return false;
    SaveIgnorePoint(group);
    if (pRecong)
        pRecong->VarTrain(group);
    return true;
}

void CammerWidget::UpdateFailImage(int group, int slot)
{
    if (group < 0 || group >= kGroups || slot < 0 || slot > 1)
        return;
    const FailPicture* stored = gpFailImage[camIndex][group][slot];
    if (!stored)
        return;
    QString first, second;
    if (m_win) {
        int& state = m_win->alarmClearState[camIndex][group];
        for (const ClearStamp& stamp : kClearStamps) {
            if (stamp.state != state)
                continue;
            first = lanText(stamp.firstRow);
            second = stamp.secondRow >= 0 ? lanText(stamp.secondRow) : QString();
            state = stamp.next;
            break;
        }
    }
    // Nothing to stamp (most cycles): the picture stays as it is, without
    // copying it out and back.
    if (first.isEmpty() && second.isEmpty())
        return;
    QImage picture;
    {
        QMutexLocker lock(pMutexSaveFail);
        if (stored->isEmpty())
            return;
        picture = QImage(stored->width(), stored->height(), QImage::Format_RGB32);
        if (picture.isNull())
            return;
        stored->restore(reinterpret_cast<QRgb*>(picture.bits()));
    }
    {
        QPainter painter(&picture);
        QFont font("wqy-microhei");
        font.setPixelSize(kFontNg);
        painter.setFont(font);
        painter.setPen(Qt::red);
        painter.drawText(kClearTextAt, QStringLiteral("%1%2").arg(first, second));
    }
    storeFailPicture(picture, group, slot);
}

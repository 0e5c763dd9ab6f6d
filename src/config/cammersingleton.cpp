#include "cammersingleton.h"

#include "configprompts.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "miscfunc.h"
#include "paramdatabase.h"
#include "roifunctiontable.h"
#include "roimaskowner.h"
#include "wizardpara.h"

#include <QSet>
#include <QSqlQuery>
#include <QStringList>

#include <algorithm>
#include <sstream>

namespace {

constexpr int kRowCameraFileError = 0;
constexpr int kRowDetectN = 755;
constexpr int kRowProd = 753;
constexpr int kRowMold = 754;
const int kStageNameRows[4] = {372, 373, 374, 375};
constexpr int kMaxOutput = 3;
constexpr int kRingShift = 16;
constexpr int kRadiusMask = 0xFFFF;

// Default ROI: a small rectangle with the stock parameters.
constexpr int kDefaultMinWH = 3;
constexpr int kDefaultSensitivity = 25;
constexpr int kDefaultArea = 100;
const QRect kDefaultRect(QPoint(50, 50), QPoint(100, 100));

QString detectKey(int g)
{
    return QString("detect%1").arg(g);
}

QString roiKey(int g, int r)
{
    return QString("ROI%1-%2").arg(g).arg(r);
}

// Blank-separated integers read like stream extraction: after the first
// missing or unreadable number every further one reads as 0.
class NumberReader
{
public:
    explicit NumberReader(const QString& text) : m_in(text.toStdString()) {}
    long long next()
    {
        long long v = 0;
        if (m_ok && !(m_in >> v))
            m_ok = false;
        return m_ok ? v : 0;
    }

private:
    std::istringstream m_in;
    bool m_ok = true;
};

int clampCoordinate(long long v, int isX)
{
    int c = int(std::clamp<long long>(v, INT_MIN / 2, INT_MAX / 2));
    CheckInRange(&c, isX, gShowW, gShowH);
    return c;
}

} // namespace

CammerSingleton::CammerSingleton(int index, RoiMaskOwner* maskOwner) : camIndex(index), owner(maskOwner)
{
}

QString CammerSingleton::tableName() const
{
    return QString("cammer%1").arg(camIndex);
}

void CammerSingleton::storeMask(int g, int r, const cv::Mat& mask)
{
    if (owner)
        owner->roiMask[g][r] = mask;
}

void CammerSingleton::applyDefaultRoi(int g, int r)
{
    roiMinWH[g][r] = kDefaultMinWH;
    roiSensitivity[g][r] = kDefaultSensitivity;
    roiArea[g][r] = kDefaultArea;
    roiFunction[g][r] = 0;
    roiShape[g][r] = kShapeRect;
    roiOutput[r] = 0;
    ClustomRect& shape = rectRoi[g][r];
    shape.rect = kDefaultRect;
    shape.setShowA(owner ? owner->screenSW : 1.0f, owner ? owner->screenSH : 1.0f);
    shape.setImageRect();
    storeMask(g, r, shape.UpdateMask());
}

void CammerSingleton::LoadDatafromFile(RoiMaskOwner* maskOwner)
{
    if (maskOwner)
        owner = maskOwner;
    const float sx = owner ? owner->screenSW : 1.0f;
    const float sy = owner ? owner->screenSH : 1.0f;
    const QString table = tableName();
    const QString select = QString("select value from %1 where name=?").arg(table);

    for (int g = 0; g < kGroups; ++g) {
        QString value;
        const ParamDatabase::Lookup detect = ParamDatabase::selectValue(select, detectKey(g), &value);
        if (detect == ParamDatabase::Lookup::Failed) {
            qWarning("%s: group %d not loaded, it will not be saved", qPrintable(table), g);
            roiCount[g] = 0;
            groupLoaded[g] = false;
            continue;
        }
        groupLoaded[g] = true;
        if (detect == ParamDatabase::Lookup::Missing) {
            roiCount[g] = 0;
            QSqlQuery insert(ParamDatabase::database());
            ParamDatabase::execBound(insert, QString("insert into %1 values(?, ?)").arg(table), {detectKey(g), QString("0")});
            continue;
        }
        NumberReader detectRow(value);
        const long long count = detectRow.next();
        for (int& item : groupRecord[g])
            item = int(detectRow.next());
        if (count < 0 || count > kMaxRois) {
            ConfigPrompts::warn(lanText(kRowCameraFileError));
            roiCount[g] = 0;
            continue;
        }
        roiCount[g] = int(count);

        for (int r = 0; r < roiCount[g]; ++r) {
            const ParamDatabase::Lookup found = ParamDatabase::selectValue(select, roiKey(g, r), &value);
            if (found == ParamDatabase::Lookup::Failed) {
                qWarning("%s: group %d not loaded, it will not be saved", qPrintable(table), g);
                roiCount[g] = 0;
                groupLoaded[g] = false;
                break;
            }
            if (found == ParamDatabase::Lookup::Missing) {
                applyDefaultRoi(g, r);
                continue;
            }
            NumberReader in(value);
            roiMinWH[g][r] = int(in.next());
            roiSensitivity[g][r] = int(in.next());
            roiArea[g][r] = int(in.next());
            roiFunction[g][r] = int(in.next());
            const unsigned shapeWord = unsigned(in.next());
            const int output = int(in.next());
            roiOutput[r] = (output < 0 || output > kMaxOutput) ? 0 : output;
            const long long n = in.next();
            roiShape[g][r] = int(shapeWord & 0xFF);

            switch (roiShape[g][r]) {
            case kShapePolygon: {
                if (n < 1 || n > RePolygon::kMaxNodes) {
                    applyDefaultRoi(g, r);
                    break;
                }
                RePolygon& shape = polygonRoi[g][r];
                if ((shapeWord >> 8) & 0xFF)
                    shape.SetHand(true);
                QVector<QPoint> points(static_cast<int>(n));
                for (QPoint& p : points) {
                    const int x = clampCoordinate(in.next(), 1);
                    const int y = clampCoordinate(in.next(), 0);
                    p = QPoint(x, y);
                }
                shape.SetNodes(points);
                shape.setShowA(sx, sy);
                shape.setImageRect();
                storeMask(g, r, shape.UpdateMask());
                break;
            }
            case kShapeCircle: {
                Circle& shape = circleRoi[g][r];
                shape.centerX = clampCoordinate(in.next(), 1);
                shape.centerY = clampCoordinate(in.next(), 0);
                const long long p = in.next();
                shape.innerRadius = int((p >> kRingShift) & kRadiusMask);
                shape.radius = int(p & kRadiusMask);
                shape.UpdateRect();
                shape.setShowA(sx, sy);
                shape.setImageRect();
                storeMask(g, r, shape.UpdateMask());
                break;
            }
            case kShapeRect: {
                ClustomRect& shape = rectRoi[g][r];
                const int x1 = clampCoordinate(in.next(), 1);
                const int y1 = clampCoordinate(in.next(), 0);
                const int x2 = clampCoordinate(in.next(), 1);
                const int y2 = clampCoordinate(in.next(), 0);
                // Swapped corners would give a negative size: keep the same area, ordered.
                shape.rect = QRect(QPoint(x1, y1), QPoint(x2, y2)).normalized();
                shape.setShowA(sx, sy);
                shape.setImageRect();
                storeMask(g, r, shape.UpdateMask());
                break;
            }
            default:
                break;
            }
        }
    }
}

QString CammerSingleton::roiValue(int g, int r) const
{
    int shapeWord = roiShape[g][r];
    if (shapeWord == kShapePolygon && polygonRoi[g][r].getHand())
        shapeWord = kHandPolygonWord;
    QString text = QString("%1 %2 %3 %4 %5 %6 ")
                       .arg(roiMinWH[g][r])
                       .arg(roiSensitivity[g][r])
                       .arg(roiArea[g][r])
                       .arg(roiFunction[g][r])
                       .arg(shapeWord)
                       .arg(roiOutput[r]);
    switch (roiShape[g][r]) {
    case kShapePolygon: {
        const RePolygon& shape = polygonRoi[g][r];
        text += QString("%1 ").arg(shape.nodeCount);
        for (int i = 0; i < shape.nodeCount; ++i)
            text += QString("%1 %2 ").arg(shape.nodes[i].x()).arg(shape.nodes[i].y());
        break;
    }
    case kShapeCircle: {
        const Circle& shape = circleRoi[g][r];
        text += QString("%1 %2 %3 %4").arg(0).arg(shape.centerX).arg(shape.centerY).arg(
            qint64(shape.innerRadius) * 65536 + shape.radius);
        break;
    }
    case kShapeRect: {
        const QRect& rc = rectRoi[g][r].rect;
        text += QString("%1 %2 %3 %4 %5").arg(0).arg(rc.left()).arg(rc.top()).arg(rc.right()).arg(rc.bottom());
        break;
    }
    default:
        break;
    }
    return text;
}

bool CammerSingleton::SaveDatatoFile()
{
    const QString table = tableName();
    const QString remove = QString("delete from %1 where name=?").arg(table);
    const QString existing = QString("select name from %1 where name like ?").arg(table);
    bool written[kGroups] = {};
    const bool ok = ParamDatabase::inTransaction([&](QSqlQuery& query) {
        for (int g = 0; g < kGroups; ++g) {
            // An unreadable group stays untouched while it is still empty; once ROIs
            // were put into it they are the user's and are written like any other.
            if (!groupLoaded[g] && roiCount[g] == 0)
                continue;
            written[g] = true;
            const int count = std::clamp(roiCount[g], 0, kMaxRois);
            QStringList detect{QString::number(count)};
            for (int item : groupRecord[g])
                detect << QString::number(item);
            if (!ParamDatabase::writeRow(query, table, detectKey(g), detect.join(' ')))
                return false;
            for (int r = 0; r < count; ++r)
                if (!ParamDatabase::writeRow(query, table, roiKey(g, r), roiValue(g, r)))
                    return false;
            // Rows of the group's unused ROI numbers go; most saves find none, so only the
            // group's rows that exist are looked at.
            if (!ParamDatabase::execBound(query, existing, {QString("ROI%1-%").arg(g)}))
                return false;
            QSet<QString> present;
            while (query.next())
                present.insert(query.value(0).toString());
            for (int r = count; r < kMaxRois && !present.isEmpty(); ++r) {
                const QString key = roiKey(g, r);
                if (present.remove(key) && !ParamDatabase::execBound(query, remove, {key}))
                    return false;
            }
        }
        return true;
    });
    if (ok) {
        for (int g = 0; g < kGroups; ++g)
            groupLoaded[g] = groupLoaded[g] || written[g];
    }
    return ok;
}

void CammerSingleton::setSelectRoi(int i)
{
    const int g = gpWin ? gpWin->curDetect : 0;
    if (g < 0 || g >= kGroups || i < 0 || i >= roiCount[g])
        return;
    selectedRoi = i;
    selectedFunction = roiFunction[g][i];
    selectedSensitivity = roiSensitivity[g][i];
    selectedArea = roiArea[g][i];
    selectedMinWH = roiMinWH[g][i];
}

void CammerSingleton::syncParam(int roi)
{
    const int g = gpWin ? gpWin->curDetect : 0;
    if (g < 0 || g >= kGroups || roi < 0 || roi >= roiCount[g])
        return;
    using Field = RoiParamField;
    const int code = roiFunction[g][roi];
    const RoiFunctionInfo& fn = RoiFunctionTable::info(code);
    int* words[3] = {roiSensitivity[g], roiArea[g], roiMinWH[g]};
    const int cached[3] = {selectedSensitivity, selectedArea, selectedMinWH};
    const int count = qMin(roiCount[g], kMaxRois);
    for (int f = 0; f < 3; ++f) {
        const Field& field = fn.field[f];
        for (int r = 0; r < count; ++r) {
            if (r == roi || r == selectedRoi || roiFunction[g][r] != code)
                continue;
            if (field.packing == Field::Whole) {
                // Wrapping like the word it is: no range applies to a whole word here.
                const unsigned diff = unsigned(words[f][roi]) - unsigned(cached[f]);
                words[f][r] = int(unsigned(words[f][r]) + diff);
                continue;
            }
            for (bool high : {false, true}) {
                const long long diff = static_cast<long long>(RoiFunctionTable::part(words[f][roi], field.packing, high))
                                       - RoiFunctionTable::part(cached[f], field.packing, high);
                if (diff == 0)
                    continue;
                const long long moved = RoiFunctionTable::part(words[f][r], field.packing, high) + diff;
                words[f][r] = RoiFunctionTable::withPart(words[f][r], field.packing, high,
                                                         int(qBound<long long>(field.min, moved, field.max)));
            }
        }
    }
    setSelectRoi(roi);
}

void CammerSingleton::getCopyParamIndex(int src, int& dst) const
{
    const int mode = gpWPara ? gpWPara->trigMode : 0;
    const int pairing = gpWPara ? gpWPara->stageGroups : 0;
    if (mode == 3)
        dst = (src + 1 >= gDNum) ? 0 : src + 1;
    else if ((mode == 1 || mode == 2) && pairing == 2)
        dst = src < 2 ? src + 2 : src - 2;
    else if ((mode == 1 || mode == 2) && pairing == 1)
        dst = src == 2 ? 3 : 2;
    else
        dst = src == 0 ? 1 : 0;
}

void CammerSingleton::getCopyParamDescri(int src, int dst, QString& srcText, QString& dstText) const
{
    const int mode = gpWPara ? gpWPara->trigMode : 0;
    auto name = [mode](int g) {
        if (mode == 3)
            return lanText(kRowDetectN).arg(gDNum > 0 ? g % gDNum + 1 : g + 1);
        if (mode == 1 || mode == 2)
            return (g >= 0 && g < 4) ? lanText(kStageNameRows[g]) : QString();
        return lanText(g == 0 ? kRowProd : kRowMold);
    };
    srcText = name(src);
    dstText = name(dst);
}

void CammerSingleton::copyParam(int src)
{
    int dst = 0;
    getCopyParamIndex(src, dst);
    copyParam(src, dst);
}

void CammerSingleton::copyParam(int src, int dst)
{
    if (src < 0 || src >= kGroups || dst < 0 || dst >= kGroups || src == dst)
        return;
    QString srcText;
    QString dstText;
    getCopyParamDescri(src, dst, srcText, dstText);
    if (!ConfigPrompts::ask(QObject::tr("确定要同步%1参数到%2吗？").arg(srcText, dstText)))
        return;

    const int count = std::clamp(roiCount[src], 0, kMaxRois);
    roiCount[dst] = count;
    for (int r = 0; r < count; ++r) {
        switch (roiShape[src][r]) {
        case kShapePolygon:
            polygonRoi[dst][r] = polygonRoi[src][r];
            polygonRoi[dst][r].SetSelected(false);
            break;
        case kShapeCircle:
            circleRoi[dst][r] = circleRoi[src][r];
            circleRoi[dst][r].SetSelected(false);
            break;
        case kShapeRect:
            rectRoi[dst][r] = rectRoi[src][r];
            rectRoi[dst][r].SetSelected(false);
            break;
        default:
            break;
        }
        // Each group owns its mask pixels: a later edit of one must not change the other.
        if (owner)
            owner->roiMaskEdit[dst][r] = owner->roiMaskEdit[src][r].clone();
        roiShape[dst][r] = roiShape[src][r];
        roiMinWH[dst][r] = roiMinWH[src][r];
        roiSensitivity[dst][r] = roiSensitivity[src][r];
        roiArea[dst][r] = roiArea[src][r];
        roiFunction[dst][r] = roiFunction[src][r];
    }
}

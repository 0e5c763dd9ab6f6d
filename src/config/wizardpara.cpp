#include "wizardpara.h"

#include "globals.h"
#include "mainwindowbase.h"
#include "paramdatabase.h"

#include <QSqlQuery>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>
#include <vector>

namespace {

// One integer item of a sysparam row: where loading puts it and where saving
// takes it from (the two differ only for the trigger mode); null = a filler
// item, written as 0 and ignored when read.
struct Item
{
    int* read;
    int* write;
};
using Items = std::vector<Item>;

struct Row
{
    const char* key;
    Items items;
    bool isPassword = false;
};

Items f(int& field)
{
    return {{&field, &field}};
}

Items a(int* array, int from, int count)
{
    Items items;
    for (int i = from; i < from + count; ++i)
        items.push_back({&array[i], &array[i]});
    return items;
}

Items operator+(Items left, const Items& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

const Items kFiller = {{nullptr, nullptr}};

// Every row of sysparam in the order saving writes them, with the field of every item.
std::vector<Row> sysparamRows(WizardPara& w)
{
    return {
        {"trigInDelay", a(w.trigInDelay, 0, 8)},
        {"exposeTime", a(w.exposeTime, 0, 4)},
        {"sharp", a(w.sharp, 0, 4)},
        {"contrast", a(w.contrast, 0, 4)},
        {"adjustPlus", a(w.adjustPlus, 0, 4)},
        {"numFailDetect", Items{{&w.trigMode, &w.trigModeNext}} + f(w.stageGroups) + f(w.system9Item20) +
                              f(w.autoShading) + f(w.enableColorSpots) + f(w.enableBlackArea) +
                              f(w.enableWhiteArea) + f(w.enableSimilarity)},
        {"numAllDetect", a(w.gamma, 0, 8)},
        {"isPswUsed", f(w.isPswUsed)},
        {"password", {}, true},
        {"system1", f(w.semiAuto) + f(w.enableProdDetect) + f(w.system9Item20) + f(w.motionCorrect) +
                        f(w.stopClampOnStop) + f(w.preCutTime) + f(w.recheckTimes) + f(w.okRecordNum) +
                        f(w.rectToQuad)},
        {"system2", f(w.cutEjectorWhenClamping) + f(w.tempNumber) + f(w.minSpot) + f(w.ngRecordNum) +
                        f(w.ejectorPulse) + f(w.clampPulse) + f(w.ejectorPulseNgNoAlarm) + f(w.cutClampAfterMoldOk) +
                        f(w.noEjectorInProd) + f(w.pswNoDetect) + f(w.pswAddTemplate) + f(w.cameraDisconnect) +
                        f(gLan) + f(w.output4Use) + f(w.offset) + f(w.screenOffTime) + f(w.speed) +
                        f(w.inputTime)},
        {"system3", f(w.input4Use) + f(w.safetyDoorClearsAlarm) + f(w.amplify) + f(w.enableDefect) +
                        f(w.enableSpot) + f(w.enableIgnoreArea) + f(w.enableManualLocate) + f(w.showAllParams) +
                        f(w.autoLogout) + f(w.system3Item10) + f(w.safetyDoorTrigger)},
        {"system4", f(w.templateAutoUpdate) + f(w.filterSize) + f(w.area)},
        {"system5", a(w.exposeTime, 4, 2) + a(w.adjustPlus, 4, 2) + a(w.sharp, 4, 2) + a(w.contrast, 4, 2) +
                        f(w.okNgOutputPulses) + f(w.angle) + f(w.cutEjectorOnProdAlarm) + f(w.externalTrigger) +
                        f(w.cutClampOnMoldAlarm)},
        {"system6", a(w.exposeTime, 6, 2) + a(w.adjustPlus, 6, 2) + a(w.sharp, 6, 2) + a(w.contrast, 6, 2) +
                        f(w.shakeEraseTime) + f(w.useStatistics) + f(w.system6Item11) + f(w.pswStopDetect)},
        {"system7", f(w.ioPort) + f(w.system7Item2) + f(w.grayChannel) + f(w.manualSnapshot) +
                        a(w.outInitState, 0, 3) + f(w.noLensOptimization) + a(w.outInitState, 3, 1) +
                        f(w.factoryParams) + f(w.system7Item11) + f(w.system7Item12) + f(w.realTimeRoi) +
                        f(w.separateSampling) + a(w.outInitState, 4, 5) + f(w.enableWhiteNumber)},
        {"system8", f(w.detectCount) + a(w.rowTrigger, 0, 8) + a(w.rowNgAction, 0, 8) + f(w.cutEjectorAfterProdOk) +
                        f(w.useLog) + f(w.matchBrightness)},
        {"system9", a(w.detectRow, 0, 8) + f(w.matchAccuracy) + f(w.zoomLayers) + f(w.outputOnCavityNg) +
                        f(w.output4Pulse) + f(w.continuationArea) + f(w.noDetectModeRelease) +
                        f(w.prodNgNoEjector) + f(w.continuousReplication) + kFiller + f(w.inputResetRecheck) +
                        f(w.system9Item19) + f(w.system9Item20)},
        {"system10", a(w.inFunc, 0, 8) + a(w.outFunc, 0, 8) + f(w.days) + f(w.lostUpanAlarm) +
                         f(w.useDiskSaveImage) + f(w.resampleWithoutCut)},
        {"system11", a(w.system11TableA, 0, 8) + a(w.system11TableB, 0, 8) + f(w.sequentialDetect) +
                         a(w.ngTemplate, 0, 2) + f(w.noEjectorOnStop)},
        {"system12", f(w.angleCorrection) + a(w.mirrorH, 0, 8) + a(w.mirrorV, 0, 8) +
                         f(w.suppressRefreshAfterAlarm) + f(w.addAllTemplates) + f(w.separateDetectSignal)},
        {"system13", a(w.saturation, 0, 8) + a(w.noise3D, 0, 8) + f(w.enableBlackNumber) +
                         f(w.prodNgSkipRecheck) + f(w.reInspectionDelay) + f(w.shieldPin)},
        {"system14", f(w.cavityNgPulse) + f(w.recheckDelay) + f(w.okMoldNumber) + f(w.imageZoom) +
                         f(w.noAlarmSoundOnNg) + f(w.polygonOpenStart) + a(w.noise2D, 0, 8) + f(w.stopCutOutput4) +
                         f(w.prodAlarmOutputO5) + f(w.cavityAlarmOutputO4) + f(w.defectEdgeIgnore) +
                         f(w.showDetectTime) + f(w.recheckAllCameras)},
        {"NgShowSwitch", f(w.NgShowSwitch)},
        {"isColors", a(w.isColors, 0, 8)},
    };
}

// Loading reads the rows in this order; "system9" is the last to carry system9Item20.
const char* const kLoadOrder[] = {"trigInDelay", "exposeTime", "adjustPlus", "numFailDetect", "numAllDetect",
                                  "isPswUsed",   "password",   "system1",    "system2",       "system3",
                                  "system4",     "sharp",      "contrast",   "system5",       "system6",
                                  "system7",     "system8",    "system9",    "system10",      "system11",
                                  "system12",    "system13",   "system14",   "isColors",      "NgShowSwitch"};

// Rows that loading creates when missing, with their stored defaults.
struct DefaultRow
{
    const char* key;
    const char* value;
};
const char kTwentyZeros[] = "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0";
const DefaultRow kDefaultRows[] = {
    {"system7", "0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0"},
    {"system8", kTwentyZeros},
    {"system9", kTwentyZeros},
    {"system10", kTwentyZeros},
    {"system11", kTwentyZeros},
    {"system12", kTwentyZeros},
    {"system13", kTwentyZeros},
    {"system14", kTwentyZeros},
    {"isColors", "0 0 0 0 0 0 0 0"},
    {"NgShowSwitch", "1"},
};

const char kSelectSql[] = "select value from sysparam where name=?";
const char kInsertSql[] = "insert into sysparam values(?, ?)";

// Items are read like stream extraction: the first missing or unreadable
// number and every one after it read as 0; surplus numbers are ignored.
// Fields listed in keep are left as they are.
void readItems(const QString& value, const Items& items, const std::set<const int*>& keep = {})
{
    std::istringstream in(value.toStdString());
    bool failed = false;
    for (const Item& item : items) {
        int v = 0;
        if (!failed && !(in >> v)) {
            failed = true;
            v = 0;
        }
        if (item.read && !keep.count(item.read))
            *item.read = failed ? 0 : v;
    }
}

QString writeItems(const Items& items)
{
    QStringList parts;
    for (const Item& item : items)
        parts << QString::number(item.write ? *item.write : 0);
    return parts.join(' ');
}

const DefaultRow* defaultRowFor(const QString& key)
{
    for (const DefaultRow& row : kDefaultRows) {
        if (key == row.key)
            return &row;
    }
    return nullptr;
}

// A value outside [lo, hi] becomes the fallback.
void bound(int& v, int lo, int hi, int fallback)
{
    if (v < lo || v > hi)
        v = fallback;
}

// The camera settings' valid range and their fallbacks.
constexpr int kCameraValueMax = 10000;

} // namespace

WizardPara::WizardPara()
{
    detectEnable[1] = 1;
    maxColorArea = 1000;
    matchAccuracy = 5;
    zoomLayers = 5;
    resampleWithoutCut = 1;
    days = 31;
    detectCount = 2;
    fps = -1;
    groupIndex = -1;
    groupName = QString("default");
}

void WizardPara::LoadDatafromFile()
{
    readGroupIndex();

    const std::vector<Row> rows = sysparamRows(*this);
    // Fields already read from a stored row: a row inserted with its defaults
    // must not zero them (system9Item20 is also kept in two earlier rows).
    std::set<const int*> stored;
    for (const char* key : kLoadOrder) {
        const auto row = std::find_if(rows.begin(), rows.end(), [key](const Row& r) { return qstrcmp(r.key, key) == 0; });
        QString value;
        const ParamDatabase::Lookup found = ParamDatabase::selectValue(kSelectSql, key, &value);
        if (found == ParamDatabase::Lookup::Failed)
            continue; // an unreadable row keeps the start values and is not replaced
        if (found == ParamDatabase::Lookup::Missing) {
            const DefaultRow* fallback = defaultRowFor(key);
            if (!fallback)
                continue;
            QSqlQuery insert(ParamDatabase::database());
            ParamDatabase::execBound(insert, kInsertSql, {key, fallback->value});
            // The inserted defaults count for this run too.
            value = fallback->value;
        }
        if (row->isPassword) {
            const QByteArray latin1 = value.toLatin1();
            if (latin1.size() < kPasswordSize) {
                std::memset(password, 0, sizeof password);
                std::memcpy(password, latin1.constData(), size_t(latin1.size()));
            }
        } else if (found == ParamDatabase::Lookup::Missing) {
            readItems(value, row->items, stored);
        } else {
            readItems(value, row->items);
            for (const Item& item : row->items)
                stored.insert(item.read);
        }
    }

    applyBounds();
    deriveDetections();
    fillIoNames();
}

void WizardPara::applyBounds()
{
    for (int c = 0; c < 8; ++c) {
        bound(exposeTime[c], 0, kCameraValueMax, 30);
        bound(adjustPlus[c], 0, kCameraValueMax, 32);
        bound(sharp[c], 0, kCameraValueMax, 0);
        bound(contrast[c], 0, kCameraValueMax, 50);
        bound(gamma[c], 0, kCameraValueMax, 70);
    }
    bound(detectCount, 2, 8, 2);
    bound(trigMode, 0, 3, 0);
    trigModeNext = trigMode;
    bound(preCutTime, 0, 10000, 0);
    bound(recheckTimes, 0, 10000, 0);
    bound(filterSize, 1, 100, 3);
    bound(area, 1, 1000, 100);
    bound(minColorArea, 1, 100000, 1000);
    bound(maxColorArea, 1, 100000, 1000);
    bound(matchAccuracy, 0, 10, 5);
    bound(zoomLayers, 0, 10, 5);
    bound(tempNumber, 1, 100, 10);
    bound(ngRecordNum, 0, 20000, 0);
    bound(okRecordNum, 0, 20000, 0);
    bound(ejectorPulse, 0, 10000, 0);
    bound(clampPulse, 0, 10000, 0);
    bound(motionCorrect, -1, 0, -1);
    bound(angle, 0, 180, 0);
    bound(autoLogout, 0, 10000, 0);
    bound(amplify, 0, 4, 0);
    bound(offset, 1, 8255, 8000);
    if (screenOffTime != 0)
        bound(screenOffTime, 30, 9999, 600);
    bound(speed, 0, 100, 12);
    bound(inputTime, 0, 100000000, 60);
    bound(gLan, 0, 3, 0);
    bound(ioPort, 0, 100, 0);
    bound(minSpot, 1, 100, 3);
    if (days <= 0)
        days = 31;
    bound(system9Item20, 0, 100000000, 0);

    // Indexes into fixed tables (IO rows, TriginNo, the function-name tables)
    // are kept inside them; a bad stored value turns the entry off or to its first choice.
    for (int i = 0; i < 8; ++i) {
        bound(detectRow[i], -1, 7, -1);
        bound(rowTrigger[i], 0, 7, 0);
        bound(inFunc[i], 0, kInFunctions - 1, 0);
        bound(outFunc[i], 0, kOutFunctions - 1, 0);
    }

    const int switches[] = {enableDefect,      enableSpot,        enableBlackArea,  enableWhiteArea,
                            enableWhiteNumber, enableBlackNumber, enableColorSpots, enableSimilarity};
    if (std::all_of(std::begin(switches), std::end(switches), [](int v) { return v == 0; }))
        enableDefect = 1;
}

void WizardPara::deriveDetections()
{
    if (trigMode == 0) {
        ioGroupCount = 4;
        gDNum = 2;
        detectEnable[0] = enableProdDetect;
        detectEnable[1] = 1;
        trigInput[0] = 0;
        trigInput[1] = semiAuto ? 2 : 0;
        const int v = ejectorPulseNgNoAlarm ? outInitState[1] : cavityNgPulse ? outInitState[0] : 1;
        outInitState[5] = outInitState[6] = outInitState[7] = v;
        if (prodAlarmOutputO5 == 0)
            outInitState[4] = v;
    } else if (trigMode == 1 || trigMode == 2) {
        ioGroupCount = 4;
        gDNum = 4;
        bound(stageGroups, 0, 3, 0);
        const int p = enableProdDetect ? 1 : 0;
        // Per stageGroups: detections 0-3 (kProd = follows enableProdDetect), the
        // main window's stage flag (-1 unchanged), trigger inputs 0 and 1 in mode 1,
        // and in mode 2 input 0 and input 1 when not semi-automatic.
        constexpr int kProd = -1;
        struct Stage
        {
            int enable[4];
            int flag;
            int mode1In[2];
            int mode2In[2];
        };
        static const Stage kStages[] = {
            {{kProd, 1, 0, 0}, 1, {0, 2}, {0, 0}},
            {{0, 0, kProd, 1}, 0, {0, 3}, {3, 3}},
            {{kProd, 1, kProd, 1}, -1, {0, 255}, {255, 255}},
        };
        const Stage& s = kStages[std::min(stageGroups, 2)];
        for (int d = 0; d < 4; ++d)
            detectEnable[d] = s.enable[d] == kProd ? p : s.enable[d];
        if (s.flag >= 0 && gpWin)
            gpWin->stageFlag = s.flag;
        if (trigMode == 1) {
            trigInput[0] = s.mode1In[0];
            trigInput[1] = s.mode1In[1];
        } else {
            trigInput[0] = s.mode2In[0];
            trigInput[1] = semiAuto ? 2 : s.mode2In[1];
        }
    } else {
        gDNum = ioGroupCount = detectCount;
        for (int d = 0; d < 8; ++d) {
            if (d < detectCount) {
                const int r = detectRow[d];
                detectRowCopy[d] = r;
                detectEnable[d] = r == -1 ? 0 : 1;
                trigInput[d] = r == -1 ? -1 : TriginNo[rowTrigger[r]] - 1;
            } else {
                detectEnable[d] = 0;
                trigInput[d] = -1;
            }
        }
    }
}

bool WizardPara::SaveDatatoFile()
{
    const std::vector<Row> rows = sysparamRows(*this);
    return ParamDatabase::inTransaction([&](QSqlQuery& query) {
        for (const Row& row : rows) {
            const QString value = row.isPassword
                                      ? QString::fromLatin1(password, int(qstrnlen(password, kPasswordSize)))
                                      : writeItems(row.items);
            if (!ParamDatabase::writeRow(query, "sysparam", row.key, value))
                return false;
        }
        return true;
    });
}

#include "resstatisticsparam.h"

#include "clock.h"
#include "globals.h"
#include "resstatisticsdatabase.h"
#include "storedfile.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtDebug>
#include <algorithm>
#include <limits>

namespace {

const char kConfigFile[] = "resstatistics.json";
const char kTimeFile[] = "restime.txt";
const char kDefaultGroup[] = "default";

// The shift hours as the settings file names them.
struct HourKey
{
    const char* key;
    int ResStatisticsParam::*member;
};
const HourKey kHourKeys[] = {
    {"morningsStart", &ResStatisticsParam::morningsStart},
    {"morningsEnd", &ResStatisticsParam::morningsEnd},
    {"nightStart", &ResStatisticsParam::nightStart},
    {"nightEnd", &ResStatisticsParam::nightEnd},
};

ResStatisticsParam* gInstance = nullptr;
ResStatisticsParam::ScreenHooks gScreenHooks;

int wrapHour(int hour)
{
    return ((hour % kHoursPerDay) + kHoursPerDay) % kHoursPerDay;
}

// Hours of a shift from its start to its end hour; equal hours mean no hour.
int spanHours(int start, int end)
{
    return wrapHour(end + kHoursPerDay - start);
}

// Pads or cuts an hourly list to one value per hour of the day.
void fitToDay(QList<int>& hours)
{
    while (hours.size() < kHoursPerDay)
        hours.append(0);
    while (hours.size() > kHoursPerDay)
        hours.removeLast();
}

void fitToDay(CountDetect& d)
{
    fitToDay(d.OK);
    fitToDay(d.NG);
}

void fitToDay(CountCamera& c)
{
    fitToDay(c.cycle);
    for (CountDetect& d : c.detects)
        fitToDay(d);
}

void bump(QList<int>& hours, int hour)
{
    while (hours.size() <= hour)
        hours.append(0);
    ++hours[hour];
}

// A group with no counts yet, for the cameras there are; its morning start is
// the hour its day started at, the clock hour of hour index 0.
CountGroup emptyGroup(const QString& name, int dayStartHour)
{
    CountGroup group;
    group.morningStart = dayStartHour;
    ResStatisticsParam::initStuCountGroup(group, name);
    return group;
}

// The values of the hourly list L (index 0 = clock hour startHour) for the clock hours asked.
QList<int> atClockHours(const QList<int>& list, int startHour, const QList<int>& clockHours)
{
    QList<int> values;
    for (int hour : clockHours) {
        const int index = wrapHour(hour - startHour);
        values.append(index < list.size() ? list.at(index) : 0);
    }
    return values;
}

void growDetects(CountCamera& camera, int count)
{
    while (camera.detects.size() < count) {
        CountDetect fresh;
        ResStatisticsParam::initStuCountDetect(fresh);
        camera.detects.append(fresh);
    }
}

} // namespace

void ResStatisticsParam::setScreenHooks(ScreenHooks hooks)
{
    gScreenHooks = std::move(hooks);
}

ResStatisticsParam::ResStatisticsParam(QObject* parent)
    : QObject(parent)
{
}

ResStatisticsParam::~ResStatisticsParam()
{
    saveNow();
    if (m_databaseThread) {
        m_databaseThread->quit();
        m_databaseThread->wait();
    }
    delete database;
    if (gInstance == this)
        gInstance = nullptr;
}

ResStatisticsParam* ResStatisticsParam::getInstance()
{
    if (!gInstance)
        gInstance = new ResStatisticsParam();
    return gInstance;
}

void ResStatisticsParam::init(QString groupName, int detectCount_)
{
    if (database)
        return;
    curGroupName = groupName;
    detectCount = detectCount_;
    laodConfig();

    m_databaseThread = std::make_unique<QThread>();
    database = new ResStatisticsDatabase(this, nullptr);
    QJsonObject json;
    database->loadCountFromJson(QString::fromLatin1(ResStatisticsDatabase::kCurrentDayFile), json);
    database->moveToThread(m_databaseThread.get());
    m_databaseThread->start(QThread::InheritPriority);

    StuCountFromJson(countList, json);
    adoptLiveDayDate();
    normaliseLiveDay();
    checkCameraDetectCount(detectCount);
    calcCount(countList);
    showGroupName = countList.groups.first().groupName;

    connect(this, &ResStatisticsParam::sigUpdateRecord, database, &ResStatisticsDatabase::slotUpdateRecord);
    connect(this, &ResStatisticsParam::sigSaveRecord, database, &ResStatisticsDatabase::slotSaveRecord);
    connect(database, &ResStatisticsDatabase::sigLoadFinish, this, &ResStatisticsParam::slotRecvRecord);
    connect(this, &ResStatisticsParam::sigSaveRecord, this, [](QString, QJsonObject, bool archive) {
        if (archive && gScreenHooks.updateList)
            gScreenHooks.updateList();
    });

    for (int i = 0; i < kMaxCameras; ++i)
        cycleFlags.append(true);
    timer = new QTimer(this);
    timer->setInterval(kSaveIntervalMs);
    connect(timer, &QTimer::timeout, this, &ResStatisticsParam::checkDate);
    // The counts are served and kept whatever the screen shows: the day check
    // runs from the start and pauses only while an export reads the day.
    timer->start();
    m_quickSave = new QTimer(this);
    m_quickSave->setSingleShot(true);
    m_quickSave->setInterval(kQuickSaveMs);
    connect(m_quickSave, &QTimer::timeout, this, [this] { saveLiveDay(false); });
}

// A day read from an old, foreign or damaged file is brought to full hourly
// lists, and an empty day gets the current group, so counting never indexes
// past a list and the screen always has a first group.
void ResStatisticsParam::normaliseLiveDay()
{
    if (countList.date.isEmpty())
        countList.date = getCurDBDate();
    for (CountGroup& group : countList.groups) {
        fitToDay(group.total);
        for (CountCamera& camera : group.cameras)
            fitToDay(camera);
    }
    if (countList.groups.isEmpty())
        liveGroup();
    // Hour index 0 of the live day is its start, whatever a group read before says.
    for (CountGroup& group : countList.groups)
        group.morningStart = dayStartHour();
}

// The day file and the shift file both record which production day is
// running. When they disagree (shift file lost, or the program stopped between
// the day change and its archive), the file holding the counts is right: its
// day is archived under its own date at the next check, and a running day is
// never archived under an earlier date.
void ResStatisticsParam::adoptLiveDayDate()
{
    const QDate stored = QDate::fromString(countList.date, QLatin1String(kDayDateFormat));
    if (!stored.isValid() || countList.date == getCurDBDate())
        return;
    const QDateTime start = dayStartAt(stored, morningsStart);
    if (start > Clock::now())
        return;  // a day ahead of the clock: the clock was set back; leave the day start
    qWarning().noquote() << "statistics: the live day file holds" << countList.date << "not" << getCurDBDate()
                         << "- counting on in the day of the file";
    time = static_cast<uint>(start.toSecsSinceEpoch());
}

void ResStatisticsParam::setTimer(bool on)
{
    if (!timer)
        return;
    if (on)
        timer->start();
    else
        timer->stop();
}

void ResStatisticsParam::saveLiveDay(bool archive)
{
    if (m_quickSave)
        m_quickSave->stop();
    emit sigSaveRecord(getCurDBDate(), StuCountToJson(countList), archive);
}

void ResStatisticsParam::saveNow()
{
    if (!database)
        return;
    saveLiveDay(false);
    // The database thread handles requests in order: once this returns, the save is done.
    if (m_databaseThread && m_databaseThread->isRunning())
        QMetaObject::invokeMethod(database, [] {}, Qt::BlockingQueuedConnection);
}

void ResStatisticsParam::checkCameraDetectCount(int n)
{
    detectCount = n;
    for (CountGroup& group : countList.groups) {
        if (group.groupName != curGroupName)
            continue;
        growDetects(group.total, n);
        for (CountCamera& camera : group.cameras)
            growDetects(camera, n);
    }
}

CountGroup* ResStatisticsParam::findLiveGroup(const QString& name)
{
    for (CountGroup& group : countList.groups) {
        if (group.groupName == name)
            return &group;
    }
    return nullptr;
}

CountGroup& ResStatisticsParam::liveGroup()
{
    if (CountGroup* found = findLiveGroup(curGroupName))
        return *found;
    countList.groups.append(emptyGroup(curGroupName, dayStartHour()));
    return countList.groups.last();
}

QDateTime ResStatisticsParam::dayStartAt(const QDate& date, int hour)
{
    for (int h = wrapHour(hour); h < kHoursPerDay; ++h) {
        const QDateTime start(date, QTime(h, 0));
        if (start.isValid())
            return start;
    }
    return QDateTime(date.addDays(1), QTime(0, 0));
}

uint ResStatisticsParam::latestDayStart() const
{
    const QDateTime now = Clock::now();
    QDateTime start = dayStartAt(now.date(), morningsStart);
    if (start > now)
        start = dayStartAt(now.date().addDays(-1), morningsStart);
    return static_cast<uint>(start.toSecsSinceEpoch());
}

// 24 hours since the day start, and a later production date to go on with:
// a day that a daylight-saving change lengthens, or whose start hour was moved
// later, ends at the day-start hour instead of being archived again under its date.
bool ResStatisticsParam::dayIsOver(qint64 elapsed) const
{
    if (elapsed < kSecondsPerDay)
        return false;
    return QDateTime::fromSecsSinceEpoch(latestDayStart()).date() > QDateTime::fromSecsSinceEpoch(time).date();
}

int ResStatisticsParam::dayStartHour() const
{
    return QDateTime::fromSecsSinceEpoch(time).time().hour();
}

int ResStatisticsParam::currentHourIndex() const
{
    const qint64 elapsed = Clock::now().toSecsSinceEpoch() - static_cast<qint64>(time);
    return static_cast<int>(std::clamp<qint64>(elapsed / kSecondsPerHour, 0, kHoursPerDay - 1));
}

void ResStatisticsParam::addRecord(int detect, int /*hour*/, QList<bool> cameraOK, bool last)
{
    if (detect < 0 || detect >= kMaxDetections) {
        qWarning() << "statistics: detection index out of range:" << detect;
        return;
    }
    // A cycle after the day-start hour belongs to the new day, not to hour 23 of the last one.
    if (timer && timer->isActive()
        && dayIsOver(Clock::now().toSecsSinceEpoch() - static_cast<qint64>(time)))
        checkDate();
    CountGroup& group = liveGroup();
    const int hour = currentHourIndex();

    bool allOK = true;
    const int cameras = std::min<int>(cameraOK.size(), group.cameras.size());
    for (int c = 0; c < cameras; ++c) {
        CountCamera& camera = group.cameras[c];
        growDetects(camera, detect + 1);
        CountDetect& entry = camera.detects[detect];
        bump(cameraOK[c] ? entry.OK : entry.NG, hour);
        allOK = allOK && cameraOK[c];
        if (c < cycleFlags.size())
            cycleFlags[c] = cycleFlags[c] && cameraOK[c];
    }
    growDetects(group.total, detect + 1);
    CountDetect& totalEntry = group.total.detects[detect];
    bump(allOK ? totalEntry.OK : totalEntry.NG, hour);
    groupCycleFlag = groupCycleFlag && allOK;

    if (last) {
        const int flagged = std::min<int>(cycleFlags.size(), group.cameras.size());
        for (int c = 0; c < flagged; ++c) {
            CountDetect& cycle = group.cameras[c].cycle;
            bump(cycleFlags[c] ? cycle.OK : cycle.NG, hour);
            cycleFlags[c] = true;
        }
        bump(groupCycleFlag ? group.total.cycle.OK : group.total.cycle.NG, hour);
        groupCycleFlag = true;
    }

    calcCount(group);
    if (m_quickSave && timer->isActive() && !m_quickSave->isActive())
        m_quickSave->start();
    // The screen showing the running day follows its counts.
    if (showList.date == countList.date)
        showList = countList;
    if (gScreenHooks.checkUpdate)
        gScreenHooks.checkUpdate();
}

void ResStatisticsParam::checkDate()
{
    const qint64 elapsed = Clock::now().toSecsSinceEpoch() - static_cast<qint64>(time);
    const bool dayOver = dayIsOver(elapsed);
    calcCount(countList);
    saveLiveDay(dayOver);
    if (!dayOver)
        return;
    time = latestDayStart();
    saveConfig();
    countList.groups = {emptyGroup(curGroupName, dayStartHour())};
    countList.date = getCurDBDate();
    calcCount(countList);
}

QString ResStatisticsParam::getCurDBDate() const
{
    return QDateTime::fromSecsSinceEpoch(time).toString(QLatin1String(kDayDateFormat));
}

QStringList ResStatisticsParam::getGroups() const
{
    QStringList names;
    for (const CountGroup& group : showList.groups)
        names.append(group.groupName);
    return names;
}

CountGroup ResStatisticsParam::getGoupFromName(QString name) const
{
    for (const CountGroup& group : showList.groups) {
        if (group.groupName == name)
            return group;
    }
    return CountGroup();
}

void ResStatisticsParam::setCurGroup()
{
    // A new morning start begins the next production day: the running day's
    // hours keep the clock hour they were counted in.
    if (CountGroup* group = findLiveGroup(curGroupName)) {
        group->morningStart = dayStartHour();
        group->nightStart = nightStart;
    }
    calcCount(countList);
    if (showList.date == countList.date)
        showList = countList;
}

const CountDetect* ResStatisticsParam::selectEntry(const CountGroup& group, int camera, int detect) const
{
    if (group.groupName == QLatin1String("null"))
        return nullptr;
    if (camera != kAllCamerasIndex && (camera < 0 || camera >= group.cameras.size()))
        return nullptr;
    const CountCamera& chosen = camera == kAllCamerasIndex ? group.total : group.cameras[camera];
    if (detect == kWholeCycleIndex)
        return &chosen.cycle;
    if (detect < 0 || detect >= chosen.detects.size())
        return nullptr;
    return &chosen.detects[detect];
}

QList<int> ResStatisticsParam::getRes(ShiftType t, bool ok, int camera, int detect) const
{
    const CountGroup group = getGoupFromName(showGroupName);
    const CountDetect* entry = selectEntry(group, camera, detect);
    if (!entry)
        return {};
    const QList<int>& hours = ok ? entry->OK : entry->NG;
    // A shift whose start and end are equal has no hour.
    if ((t == ShiftMorning && spanHours(morningsStart, morningsEnd) == 0)
        || (t == ShiftNight && spanHours(nightStart, nightEnd) == 0))
        return {};
    // Each value under its clock hour: index 0 is the hour the shown day started at.
    return atClockHours(hours, group.morningStart, getShiftTimeList(t));
}

int ResStatisticsParam::getCount(ShiftType t, bool ok, int camera, int detect) const
{
    const CountGroup group = getGoupFromName(showGroupName);
    const CountDetect* entry = selectEntry(group, camera, detect);
    if (!entry)
        return 0;
    const sCount* span = nullptr;
    switch (t) {
    case ShiftMorning: span = &entry->morning; break;
    case ShiftNight: span = &entry->night; break;
    case ShiftDay: span = &entry->day; break;
    }
    if (!span)
        return 0;
    return ok ? span->ok : span->ng;
}

QList<int> ResStatisticsParam::getShiftTimeList(ShiftType t) const
{
    int start = 0;
    int end = 0;
    switch (t) {
    case ShiftMorning: start = morningsStart; end = morningsEnd; break;
    case ShiftNight: start = nightStart; end = nightEnd; break;
    case ShiftDay: start = 0; end = kHoursPerDay; break;
    default: return {};
    }
    if (end <= start)
        end += kHoursPerDay;
    QList<int> hours;
    for (int h = start; h < end; ++h)
        hours.append(wrapHour(h));
    return hours;
}

void ResStatisticsParam::slotUpdateRecord(int row, QString path)
{
    if (row != 0) {
        emit sigUpdateRecord(path);
        return;
    }
    showList = countList;
    calcCount(showList);
    emit sigLoadFinish(true);
}

void ResStatisticsParam::slotRecvRecord(QJsonObject json, bool ok)
{
    if (ok)
        StuCountFromJson(showList, json);
    else
        initStuCount(showList);
    calcCount(showList);
    emit sigLoadFinish(ok);
}

void ResStatisticsParam::laodConfig()
{
    QFile file(QString::fromLatin1(kConfigFile));
    if (!file.open(QIODevice::ReadOnly)) {
        createNewTime();
        saveConfig();
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning().noquote() << "laodConfig fail, Error parsing JSON:" << error.errorString();
        createNewTime();
        saveConfig();
        return;
    }
    laodConfigFromJson(document.object());
}

void ResStatisticsParam::laodConfigFromJson(QJsonObject obj)
{
    for (const HourKey& entry : kHourKeys) {
        const int hour = obj.value(QLatin1String(entry.key)).toInt(0);
        if (hour >= 0 && hour < kHoursPerDay)
            this->*entry.member = hour;
        else
            qWarning() << "statistics: ignoring shift hour" << entry.key << hour;
    }

    // Older files hold the day start as a number; a missing or unreadable start
    // would date the live day 1970 and archive it at once, so a fresh one is taken.
    const QJsonValue value = obj.value(QLatin1String("time"));
    bool ok = false;
    qint64 seconds = 0;
    if (value.isString()) {
        seconds = value.toString().toLongLong(&ok);
    } else if (value.isDouble()) {
        // Range-checked before the cast: a huge or non-finite number has no integer value.
        const double number = value.toDouble();
        ok = number > 0 && number <= double(std::numeric_limits<uint>::max());
        if (ok)
            seconds = static_cast<qint64>(number);
    }
    if (ok && seconds > 0 && seconds <= std::numeric_limits<uint>::max())
        time = static_cast<uint>(seconds);
    else
        createNewTime();
}

void ResStatisticsParam::saveConfig()
{
    QJsonObject obj;
    obj.insert(QStringLiteral("time"), QString::number(time));
    for (const HourKey& entry : kHourKeys)
        obj.insert(QLatin1String(entry.key), this->*entry.member);
    StoredFile::write(QString::fromLatin1(kConfigFile), QJsonDocument(obj).toJson(QJsonDocument::Indented));
}

void ResStatisticsParam::createNewTime()
{
    time = latestDayStart();
}

bool ResStatisticsParam::checkParam(QJsonObject& obj) const
{
    obj.insert(QStringLiteral("time"), QString::number(time));
    return std::any_of(std::begin(kHourKeys), std::end(kHourKeys), [&](const HourKey& entry) {
        return obj.value(QLatin1String(entry.key)).toInt(0) != this->*entry.member;
    });
}

void ResStatisticsParam::readTime()
{
    QFile file(QString::fromLatin1(kTimeFile));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream stream(&file);
        stream >> time;
        return;
    }
    createNewTime();
    StoredFile::write(QString::fromLatin1(kTimeFile), QByteArray::number(time));
}

void ResStatisticsParam::calcCount(CountDetect& d, int startHour) const
{
    // Hourly counts come from a file that may be edited or damaged: the totals
    // are summed in 64 bits and what is shown is kept in range.
    const int morningHours = spanHours(morningsStart, morningsEnd);
    const int start = startHour < 0 ? morningsStart : startHour;
    auto inMorning = [this, morningHours, start](int index) {
        return wrapHour(start + index - morningsStart) < morningHours;
    };
    auto shifts = [&inMorning](const QList<int>& hours, int sCount::*field, sCount& morning, sCount& night, sCount& day) {
        qint64 sums[2] = {0, 0};
        for (int i = 0; i < hours.size(); ++i)
            sums[inMorning(i) ? 0 : 1] += hours[i];
        auto shown = [](qint64 v) { return int(qBound<qint64>(std::numeric_limits<int>::min(), v, std::numeric_limits<int>::max())); };
        morning.*field = shown(sums[0]);
        night.*field = shown(sums[1]);
        day.*field = shown(sums[0] + sums[1]);
    };
    initStuStatisticsCount(d.morning);
    initStuStatisticsCount(d.night);
    initStuStatisticsCount(d.day);
    shifts(d.OK, &sCount::ok, d.morning, d.night, d.day);
    shifts(d.NG, &sCount::ng, d.morning, d.night, d.day);
}

void ResStatisticsParam::calcCount(CountCamera& c, int startHour) const
{
    for (CountDetect& d : c.detects)
        calcCount(d, startHour);
    calcCount(c.cycle, startHour);
}

void ResStatisticsParam::calcCount(CountGroup& g) const
{
    for (CountCamera& c : g.cameras)
        calcCount(c, g.morningStart);
    calcCount(g.total, g.morningStart);
}

void ResStatisticsParam::calcCount(CountGroupList& l) const
{
    for (CountGroup& g : l.groups)
        calcCount(g);
}

void ResStatisticsParam::initStuStatisticsCount(sCount& s)
{
    s = sCount();
}

void ResStatisticsParam::initStuCountDetect(CountDetect& d)
{
    d = CountDetect();
    for (int i = 0; i < kHoursPerDay; ++i) {
        d.OK.append(0);
        d.NG.append(0);
    }
}

void ResStatisticsParam::initStuCountCamera(CountCamera& c)
{
    c = CountCamera();
    initStuCountDetect(c.cycle);
    c.detects.clear();
    for (int i = 0; i < gDNum; ++i) {
        CountDetect d;
        initStuCountDetect(d);
        c.detects.append(d);
    }
}

void ResStatisticsParam::initStuCountGroup(CountGroup& g, QString name)
{
    g.cameras.clear();
    for (int i = 0; i < numCamera; ++i) {
        CountCamera c;
        initStuCountCamera(c);
        g.cameras.append(c);
    }
    initStuCountCamera(g.total);
    g.groupName = name;
}

void ResStatisticsParam::initStuCount(CountGroupList& l) const
{
    l.groups = {emptyGroup(QString::fromLatin1(kDefaultGroup), CountGroup().morningStart)};
    l.date = getCurDBDate();
}

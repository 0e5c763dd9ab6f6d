#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <deque>
#include <utility>
#include <vector>

// The detection cycle's safety rules, written as checks on what the cycle does
// (outputs, log lines, signals, counters, its public state) and kept against a
// model of what the setup and the events ask for. Rules 8 and 9 judge by the
// world instead (what each camera would see, the looks the machine and the
// operator ask for, the stores of the counts), whatever the cycle chose to
// check. The harness (cyclerun.h) feeds the model; the rules are checked after
// every event and timer delivery.

// Each rule by its name; a failure names the rule it broke.
enum class CycleRule {
    NgHolds,          // 1: clamp and alarm stay on from a confirmed NG until a release the setup allows
    NoFalseRelease,   // 2: no check that saw no camera, camera return or other detection's OK releases
    EveryEdgeTold,    // 3: every trigger edge is a check, a "not inspected" or a "no camera could be checked"
    CycleCountsOnce,  // 4: each closed cycle counts once, NG cycles counted = cycles with an NG
    NothingPending,   // 5: once triggers stop nothing is left busy, counting, rechecking or open
    StageSwitches,    // 6: the stage flag switches once per closed or given-up cycle
    DoorFlag,         // 7: safetyDoorTriggered is 1 during a door cycle, 0 outside one
    // Judged by the world, not by what the cycle chose to check:
    PartGuarded,      // 8: a mould that holds a part and was looked at keeps its clamp on
    StoresAgree,      // 9: count.ini, gSync*, the statistics and the records count a mould alike
};
constexpr int kCycleRuleCount = 9;
const char* ruleName(CycleRule rule);

// A setup as the random sequences choose it (the parameter record's fields).
struct CycleSetup
{
    int trigMode = 0;
    int stageGroups = 0;
    int detections = 2;  // gDNum
    std::array<int, 8> enable{};
    std::array<int, 8> trigInput{};
    std::array<int, 8> delay{};  // tenths of a second
    int cameras = 2;
    int recheckTimes = 0;
    int recheckDelay = 1;
    bool recheckAllCameras = false;
    int preCutTime = 0;
    bool doorTrigger = false;
    bool doorClears = false;
    int shakeErase = 0;
    bool noAlarmSound = false;
    // The settings that change an NG's outputs and the shielded input.
    bool prodNgNoEjector = false;
    bool cutClampOnMoldAlarm = false;
    bool cutEjectorOnProdAlarm = false;
    bool noEjectorInProd = false;
    int shieldPin = 0;
    // The ways an alarm is lifted besides the operator and the door.
    bool prodNgSkipRecheck = false;
    int clearingInput = -1;      // the input whose function clears the alarm (trigger mode 3)
    int reInspectionDelay = 0;   // tenths of a second from its signal to its release
    bool inputResetRecheck = false;

    bool twoStage() const { return trigMode == 1 || trigMode == 2; }
    // The detection that looks at the mould in the stage in use (stage flag 1: detections 1
    // and 2, 0: detections 3 and 4); -1 in the multi-detection mode, where each is its own,
    // and where it is not in use.
    int mouldDetection(int stageFlag) const;
    // Set: the mould detection taken as this one whatever the stage (to tell a fault that does so).
    int fixedMould = -1;
    // What the door's check looks at: the mould of the stage presented last, else
    // every detection of the stage in use the door does not trigger.
    QVector<int> doorChecks(int mouldStage, int stageFlag) const;
    // A detection that looks at the product taken out rather than at the mould.
    bool productDetection(int detection) const { return trigMode != 3 && detection % 2 == 0; }
    // An NG of this detection that does not stop the machine (a product NG set to sound only).
    bool ngStopsNothing(int detection) const { return prodNgNoEjector && trigMode != 3 && detection % 2 == 0; }
    bool rechecked(int detection) const;
    // Detections a check is counted under: in the two-stage modes both stages share a trigger.
    int group(int detection) const { return twoStage() ? detection % 2 : detection; }
    // The detections of the current cycle for the stage flag, in order.
    QVector<int> active(int stageFlag) const;
    bool triggers(int detection, int input) const;
    // Longest time a cycle may take after its last trigger (delays and rechecks), ms.
    int settleMs() const;
    QString describe() const;
};

// One observation of the cycle, in the order it happened within a delivery.
struct CycleNote
{
    enum Kind { Judge, LogLine, Started, Finished, Released };
    explicit CycleNote(Kind k) : kind(k) {}
    Kind kind;
    int camera = -1;
    int detection = -1;
    bool ok = true;          // Judge: the verdict; Finished: !ng
    int recheckMade = 0;     // Judge: the window's recheck count of the detection then
    QString text;            // LogLine
    int method = 0;          // Released: how (AlarmClearMethod); detection: the alarmed one
    bool byOperator = false; // Released: by the operator's tap
};

// What the rules look at after a delivery (read from the cycle and the window).
struct CycleView
{
    qint64 nowMs = 0;
    unsigned outputs = 0;
    bool preCut = false;
    int stageFlag = 0;
    int doorFlag = 0;
    int openSerial = 0;
    int allCycles[8] = {};
    int failCycles[8] = {};
    int ngCycles = 0;
    // The other stores of the counts: count.ini's steps, gSyncNGNum (also on Modbus), the
    // statistics (cycles closed by sendRecord, NG ones, per camera) and the NG records.
    int allSteps[8] = {};
    int failSteps[8] = {};
    int ngSteps = 0;
    int statsCycles = 0;
    int statsNgCycles = 0;
    int statsCameraNgCycles[8] = {};
    int ngRecords = 0;
    // The GUI thread is stalled, or what queued up is being handed over: the cycle has not run since.
    bool catchingUp = false;
    // The detections counting down or checking.
    unsigned busy = 0;
    // The outputs the cycle's alarm book holds (-1: it has none): each is applied.
    qint64 bookHeld = -1;
    // The GUI thread's last stall ended then (now while it lasts): its timers ran late.
    qint64 stallEndMs = -1000000;
};

struct RuleFailure
{
    CycleRule rule;
    qint64 atMs;
    QString what;
};

class CycleRules
{
public:
    static constexpr int kGraceMs = 150;  // a pass of the cycle and its input debounce

    explicit CycleRules(const CycleSetup& setup);

    // Events the harness applies.
    // An input's pulse that lasted the shake-erase time: riseMs when the IO thread saw it rise,
    // visibleMs from when the cycle may take it. paused: it rose while detection was stopped;
    // the start drops it unseen.
    // stageSure: stageFlag is the one the cycle takes the edge in (not so for an edge told while
    // a stall's queue is handed over, where stages alternate).
    void steadyEdge(int input, qint64 riseMs, qint64 visibleMs, bool certain, int stageFlag, bool paused = false,
                    bool stageSure = true);
    // The operator's release at nowMs: a plain one lifts what stood then; with Re-detect each
    // detection in `rechecked` is checked again (its own outputs kept for that check), with the
    // switch to the mould everything lifted waits for the check of `handTo`.
    // nowMs is the tap that opened the box; it may be told when the box is confirmed, later.
    void operatorRelease(qint64 nowMs, const QVector<int>& rechecked = {}, int handTo = -1, bool certain = true);
    void redetect(int detection, bool certain, qint64 nowMs = -1);
    void cameraBack(qint64 nowMs);
    // ranMs: when the cycle last ran its timers (before a stall that queued the stop).
    void stopped(qint64 ranMs);
    void started(qint64 nowMs);
    // A new process of the program: the cycle under way and the NG kept for the next close are gone.
    void restarted();
    // Everything one delivery did, then the state it left; checks rules 1, 2, 4, 6, 7.
    void delivered(const std::vector<CycleNote>& notes, const CycleView& view);
    // The world the cycle looks at (rule 8): what each camera would see in each detection from
    // atMs on, whether it can be reached, pauses the program makes on its own (an editor, the
    // learning), and a Re-detect the operator asks for.
    void worldParts(int camera, unsigned detections, qint64 atMs);
    void worldCamera(int camera, bool connected, qint64 atMs);
    void worldPause(bool paused, qint64 atMs);
    // The cycle's pause holds its countdowns (they go on after it) rather than dropping them.
    void pausesHold(bool hold);
    void lookAgain(int detection, qint64 nowMs, bool certain);

    // After the closing moulds and the settle time: rules 3 and 5.
    // closesOnce: the closing moulds triggered every detection of the cycle exactly once.
    void quiescent(const CycleView& view, bool idle, const QString& pendingWhat, bool closesOnce);

    const std::vector<RuleFailure>& failures() const { return m_failures; }
    unsigned failedRules() const { return m_failedRules; }

private:
    struct Hold
    {
        bool on = false;
        qint64 since = 0;     // on from here at the latest
        qint64 decided = 0;   // decided here at the earliest
    };
    // A release on its way: from its signal until it is due the cycle may lift what it lifts.
    struct Release
    {
        qint64 signal = 0;
        qint64 due = 0;
        // kPlain: lifted when it comes; kOwnCheck: each lifted detection waits for its own
        // check; a detection: everything lifted waits for that detection's check.
        int handTo = kPlain;
        bool byClearingInput = false;
        unsigned toldRedetects = 0;   // its Re-detects the model told
        bool made = false;            // made while detection ran: with its rechecks, whatever comes after
        bool byDoor = false;          // the door's: made before the door's own check
        qint64 edgeVisible = -1;      // an input's: the cycle may take its edge from then
    };
    // A release with Re-detect that waits for its check: lifted on OK, kept on NG.
    struct Recheck
    {
        qint64 signal = 0;
        int detection = 0;
    };
    static constexpr int kPlain = -1;
    static constexpr int kOwnCheck = -2;
    struct Wait
    {
        bool on = false;
        unsigned ngCameras = 0;
        int generation = 0;   // the first check that began it; its rechecks keep it
    };
    // An edge that ends the recheck waits it finds, applied once the delivery that takes it
    // is over (a recheck due before it still comes first).
    struct EdgeEnd
    {
        unsigned detections = 0;
        int generations[8] = {};
        qint64 visible = 0;   // the cycle may take the edge from here
        qint64 at = 0;        // and holds the NG from here at the latest
    };

    void fail(CycleRule rule, qint64 at, const QString& what);
    // Rule 8's bookkeeping and check.
    void look(int detection, qint64 riseMs, qint64 visibleMs, bool certain);
    void excuse(unsigned detections, qint64 atMs);
    bool partThroughout(int camera, int detection, qint64 from, qint64 to) const;
    bool reachableThroughout(int camera, qint64 from, qint64 to) const;
    void checkGuarded(const CycleView& view);
    void checkStores(const CycleView& view, bool settled);
    void note(const CycleNote& n, qint64 now);
    void check(const CycleNote& line, qint64 now);
    void confirm(int detection, unsigned cameras, qint64 since, qint64 decided = -1);
    void decidedNg(int detection, qint64 at);
    void releaseUpTo(qint64 signal);
    void addRelease(qint64 signal, qint64 due, int handTo, bool byClearingInput = false);
    // The clearing input's release with its recheck: the Re-detects of the NGs that stood at
    // its signal, told once each (from its earliest time until a grace after it).
    void recheckByClearingInput(Release& release);
    // Whether a release on its way may lift a hold decided then.
    bool releasable(qint64 decided) const;
    // A product NG decided at or before `at` stands.
    bool holdsProductNg(qint64 at) const;
    // A check of the detection decided (ok or not): the releases that waited for it.
    // okCameras: the cameras that check saw OK.
    void resolveRechecks(int detection, bool ok, bool decided, unsigned okCameras = 0);
    // A check that decided NG keeps what was handed to it: the NGs stood at the signal are its
    // own from now, but for the cameras it saw OK.
    void keepHanded(qint64 signal, int detection, unsigned okCameras);
    void released(const CycleNote& n, qint64 now);
    void processReleases(qint64 now);
    void dropOpenCycle();
    void endWaits(unsigned detections, qint64 visible);

    // What one delivery did that may (wrongly) release an output, and its opens and closes.
    struct Causes
    {
        bool noCamera = false;
        bool anyCheck = false;
        unsigned okDetections = 0;
        bool started = false;
        int starts = 0;
        int flips = 0;
    };

    CycleSetup m_setup;
    Causes m_causes;
    Hold m_ng[8][8];       // [detection][camera]
    Hold m_notInspected[8];
    // When each detection's last NG was decided (-1: none standing), whoever holds it: a
    // camera that could not be checked holds one the model has no camera for.
    qint64 m_ngLineAt[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    // When each detection's "not inspected" stop was told, until an OK or a release after it.
    qint64 m_uninspectedAt[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    // A release with Re-detect lifted each detection's NG decided by then for its own check:
    // until that check decides, the NG does not stand for the door's product skip.
    qint64 m_ownCheckSignal[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    bool m_preCutHold = false;
    Wait m_wait[8];
    std::vector<Release> m_releases;
    // The last door edge: its rise, whether it was taken as a possible product skip, and the
    // edges it counted as certain, per group.
    struct DoorEdge
    {
        qint64 rose = -1;
        qint64 visible = -1;
        bool skipTold = false;
        int counted[8] = {};
    };
    DoorEdge m_doorEdge;
    std::vector<Recheck> m_rechecks;
    qint64 m_now = 0;   // of the last delivery
    std::vector<EdgeEnd> m_edgeEnds;
    qint64 m_caughtUpAt = -1000000;   // the last stall's queue was handed over then
    int m_generations = 0;
    int m_stage = 0;   // the stage flag of the last view
    int m_shielded = 0;
    unsigned m_checkedInCycle = 0;    // detections with a first check in the open cycle
    bool m_gaveUpOnce = false;
    bool m_closedSawNothing = false;  // the last cycle ended with nothing seen and no record
    std::vector<CycleNote> m_judges;  // of the check whose line has not come yet
    bool m_running = true;
    bool m_stopPending = false;

    // Rule 3: per group, edges that must and may be told, and what was told.
    int m_edges[8] = {};
    int m_maybeEdges[8] = {};
    int m_told[8] = {};
    // Rule 4.
    int m_startedCount = 0;
    int m_finished = 0;
    int m_finishedNg = 0;
    bool m_cycleOpen = false;
    bool m_ngSinceClose = false;
    // An uninspected mould's cycle is NG on every camera: the least each camera's NG cycles reach.
    bool m_uninspectedSinceClose = false;
    int m_leastFailCycles[8] = {};
    bool m_redetectSinceClose = false;
    // Rule 9.
    bool m_anyRedetect = false;
    bool m_restartDropped = false;
    int m_redetectsToDecide = 0;
    // Re-detects an opening cycle does not take: the clearing input's, told before the cycle
    // makes them, and all but the first of one release (the first may open a cycle and close it).
    int m_lateRedetects = 0;
    unsigned m_lateUndecided = 0;   // detections such a Re-detect checks, until their check decides
    bool m_redetectOpens = false;   // Re-detects that may decide the closed cycle's record again
    // Rule 6.
    int m_expectedStage = 0;
    bool m_stageKnown = false;
    // Rule 7: the serial of the open cycle and whether the door opened it.
    int m_doorCycleSerial = 0;
    int m_plainCycleSerial = 0;
    // Rises of the door's and the other trigger edges no opening cycle has taken yet.
    // Several door edges may wait for a stalled GUI thread; second: it also triggers detections.
    std::deque<std::pair<qint64, bool>> m_doorRises;
    qint64 m_otherRose = -1;
    qint64 m_startedAt = -1;  // edges latched while stopped are taken at the start
    // Rule 2: causes seen in this delivery.
    qint64 m_cameraBackAt = -1;
    unsigned m_lastOutputs = 0;
    bool m_wasObliged = false;

    // Rule 8: the world and the looks it asks for. A look is a trigger, a door check or a
    // Re-detect; the cycle's check of it takes a frame no earlier than `frameFrom` and
    // decides by `due` (its delay and rechecks), or from `earliest` when the detection was
    // busy with an earlier look. An excuse is a release that lifts without a look.
    struct Look
    {
        int detection = 0;
        qint64 rise = 0;
        qint64 frameFrom = 0;
        qint64 earliest = 0;
        qint64 due = 0;
        qint64 span = 0;   // from its edge's visibility to `due`
        bool certain = true;
        bool busy = false;
        bool resolved = false;   // once due: the cameras that saw a part throughout since the frame
        unsigned cameras = 0;
    };
    bool excused(const Look& look, qint64 now) const;
    std::vector<Look> m_looks;
    std::vector<std::pair<qint64, unsigned>> m_excuses;
    std::vector<std::pair<qint64, unsigned>> m_parts[8];      // per camera: from then on, these detections
    std::vector<std::pair<qint64, bool>> m_reachable[8];      // per camera: from then on, connected or not
    std::vector<std::pair<qint64, qint64>> m_pauses;          // the program's own, end -1 while on
    std::vector<qint64> m_operatorRunChanges;
    bool m_pausesHold = false;
    std::vector<qint64> m_answeredAt;   // "answered by the check under way"
    int m_checkedStage = -1;            // two-stage modes: the stage of the mould presented last
    // An edge that may give up the open cycle: which stage took it is told by the detection of
    // these (both stages of its groups) that it starts, from `from` on.
    struct StageUnsure
    {
        unsigned detections = 0;
        qint64 from = 0;
    };
    StageUnsure m_stageUnsure;
    unsigned m_startedNow = 0;   // detections whose first check came in this delivery
    unsigned m_refusedNow = 0;   // and those that turned a mould away
    unsigned m_lastBusy = 0;
    // After a delivery: the detection of an unsure edge's groups that checked since its last
    // opening cycle, or became busy, tells the stage that took it.
    void followStage(const CycleView& view);
    // The detection's check was moved to checkAt.
    void putOff(int detection, qint64 checkAt);

    std::vector<RuleFailure> m_failures;
    unsigned m_failedRules = 0;
};

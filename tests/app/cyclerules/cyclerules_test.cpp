// The detection cycle's safety rules (cyclerules.h) over random sequences of
// events on a virtual clock. MM_CYCLE_SEQUENCES sets how many (CI: the
// default), MM_CYCLE_SEED the first seed ("random" for a new one each run);
// MM_CYCLE_REPORT names a file that gets one line per sequence: its seed and
// the rules it broke.
#include "cyclerun.h"

#if __has_include("alarmbook.h")
#include "alarmbook.h"
#endif
#include "alarmclearmethod.h"
#include "clock.h"
#include "testrunner.h"
#include "virtualtimedispatcher.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>

namespace {
constexpr int kDefaultSequences = 10000;
constexpr quint64 kDefaultSeed = 4500;

VirtualTimeDispatcher* virtualClock()
{
    return VirtualTimeDispatcher::instance();
}

TEST(VirtualTime, TimersFireInDueOrderOnTheVirtualClock)
{
    VirtualTimeDispatcher* clock = virtualClock();
    ASSERT_NE(clock, nullptr);
    const qint64 start = clock->now();
    EXPECT_EQ(MonotonicClock::ms(), start);
    QStringList fired;
    QTimer repeating;
    repeating.setInterval(100);
    QObject::connect(&repeating, &QTimer::timeout,
                     [&] { fired << QStringLiteral("r%1").arg(MonotonicClock::ms() - start); });
    repeating.start();
    QTimer::singleShot(150, [&] { fired << QStringLiteral("s%1").arg(MonotonicClock::ms() - start); });
    QTimer::singleShot(100, [&] { fired << QStringLiteral("t%1").arg(MonotonicClock::ms() - start); });
    clock->advance(250);
    EXPECT_EQ(fired, QStringList({"r100", "t100", "s150", "r200"})) << "due order, ties in start order";
    EXPECT_EQ(clock->now() - start, 250);

    // A stalled thread runs nothing; afterwards a late repeating timer fires once and keeps its pace from then.
    fired.clear();
    clock->stall(430);
    EXPECT_TRUE(fired.isEmpty());
    clock->deliverDue();
    EXPECT_EQ(fired, QStringList({"r680"}));
    clock->advance(100);
    EXPECT_EQ(fired, QStringList({"r680", "r780"}));
    repeating.stop();
    EXPECT_EQ(clock->nextDue(), -1) << "no timer left behind";
}

bool broke(const CycleRules& rules, CycleRule rule)
{
    return rules.failedRules() & (1u << int(rule));
}

// The rules themselves, fed by hand: each flags what it guards and nothing else.
TEST(CycleRules, EachRuleFlagsWhatItGuards)
{
    CycleSetup setup;
    setup.enable = {0, 1};
    CycleNote judge(CycleNote::Judge);
    judge.camera = 1;
    judge.detection = 1;
    judge.ok = false;
    CycleNote ngLine(CycleNote::LogLine);
    ngLine.text = QStringLiteral("detection 2: NG, checked in 3 ms, engine 1 ms");
    CycleView view;
    view.nowMs = 100;
    view.outputs = 0x5;

    // The mould of t=90 finds an NG at t=100; at t=200 the outputs are `after`.
    auto ngThen = [&](CycleRules& rules, const std::function<void()>& between, unsigned after) {
        view.nowMs = 100;
        view.outputs = 0x5;
        rules.steadyEdge(0, 90, 90, true, 0);
        rules.delivered({CycleNote(CycleNote::Started), judge, ngLine}, view);
        between();
        view.nowMs = 200;
        view.outputs = after;
        rules.delivered({}, view);
    };
    CycleRules released(setup);
    ngThen(released, [&] { released.operatorRelease(100); }, 0);
    EXPECT_EQ(released.failedRules(), 0u) << "the operator's release lets the outputs go";
    // A release lifts only what stood at its signal: a tap before the NG leaves it standing.
    CycleRules early(setup);
    ngThen(early, [&] { early.operatorRelease(99); }, 0);
    EXPECT_TRUE(broke(early, CycleRule::NgHolds)) << "a release signalled before the NG lifted it";

    // The check under way answers a Re-detect: turning it away is a fault, answering it is told.
    for (const char* line : {"detection 2: Re-detect answered by the check under way",
                             "detection 2: Re-detect not inspected, the detection is still counting down (1 so far); "
                             "the machine is stopped"}) {
        CycleRules rules(setup);
        view.outputs = 0;
        rules.redetect(1, true);
        CycleNote note(CycleNote::LogLine);
        note.text = QLatin1String(line);
        rules.delivered({note}, view);
        rules.quiescent(view, true, QString(), false);
        EXPECT_EQ(broke(rules, CycleRule::EveryEdgeTold), note.text.contains("not inspected")) << line;
    }

    CycleRules dropped(setup);
    ngThen(dropped, [] {}, 0x4);
    EXPECT_TRUE(broke(dropped, CycleRule::NgHolds)) << "the clamp went off under a confirmed NG";
    CycleNote closeOk(CycleNote::Finished);
    closeOk.ok = true;
    dropped.delivered({closeOk}, view);
    EXPECT_TRUE(broke(dropped, CycleRule::CycleCountsOnce)) << "the NG cycle closed as OK";
    dropped.steadyEdge(0, 300, 300, true, 0);
    dropped.quiescent(view, true, QString(), true);
    EXPECT_TRUE(broke(dropped, CycleRule::EveryEdgeTold)) << "the second edge left no line";
    EXPECT_FALSE(broke(dropped, CycleRule::NothingPending));
    EXPECT_FALSE(broke(dropped, CycleRule::DoorFlag));
}

// The world's rules, fed by hand: a part the mould held when a look came keeps the clamp on
// until the operator lifts it or the part is gone; the stores agree on the cycles they count.
TEST(CycleRules, TheWorldsRulesJudgeByThePartNotByTheChecks)
{
    CycleSetup setup;
    setup.enable = {0, 1};
    setup.cameras = 2;
    CycleView view;
    // Camera 2 sees a part in the mould (detection 2) from t=0; the mould's trigger at t=100.
    auto lookedAt = [&](CycleRules& rules) {
        rules.worldParts(1, 0x2, 0);
        view.nowMs = 100;
        view.outputs = 0;
        rules.steadyEdge(0, 100, 100, true, 0);
        rules.delivered({}, view);
    };
    auto clampAt = [&](CycleRules& rules, qint64 at, unsigned outputs) {
        view.nowMs = at;
        view.outputs = outputs;
        rules.delivered({}, view);
    };
    CycleRules unguarded(setup);
    lookedAt(unguarded);
    clampAt(unguarded, 1000, 0);
    EXPECT_FALSE(broke(unguarded, CycleRule::PartGuarded)) << "the check may still be deciding";
    clampAt(unguarded, 2000, 0);
    EXPECT_TRUE(broke(unguarded, CycleRule::PartGuarded)) << "no check saw the part, whatever the cycle logged";

    CycleRules released(setup);
    lookedAt(released);
    clampAt(released, 500, 0x5);
    released.operatorRelease(900);
    clampAt(released, 2000, 0);
    EXPECT_FALSE(broke(released, CycleRule::PartGuarded)) << "the operator lifted it";

    CycleRules earlyTap(setup);
    lookedAt(earlyTap);
    earlyTap.operatorRelease(-200);   // the box was tapped open before the mould came
    clampAt(earlyTap, 2000, 0);
    EXPECT_TRUE(broke(earlyTap, CycleRule::PartGuarded)) << "a release lifts only what stood at its tap";

    CycleRules taken(setup);
    lookedAt(taken);
    clampAt(taken, 500, 0x5);
    taken.worldParts(1, 0, 1500);   // the part is taken out
    clampAt(taken, 2000, 0);
    EXPECT_FALSE(broke(taken, CycleRule::PartGuarded)) << "nothing left to guard";

    CycleRules paused(setup);
    lookedAt(paused);
    paused.worldPause(true, 150);
    paused.stopped(150);
    clampAt(paused, 2000, 0);
    EXPECT_TRUE(broke(paused, CycleRule::PartGuarded)) << "a pause of the program's own drops nothing";

    // The stores: one NG cycle in the statistics and in gSync*, but none in a camera's count.
    CycleRules stores(setup);
    view = CycleView();
    view.ngCycles = view.statsNgCycles = view.statsCycles = 1;
    stores.delivered({}, view);
    EXPECT_TRUE(broke(stores, CycleRule::StoresAgree)) << "an NG cycle no camera counts";
    CycleRules steps(setup);
    view = CycleView();
    view.ngSteps = 1;
    view.failSteps[0] = view.allSteps[0] = 1;
    steps.quiescent(view, true, QString(), true);
    EXPECT_TRUE(broke(steps, CycleRule::StoresAgree)) << "an NG step in no NG cycle";
    view.ngCycles = view.statsNgCycles = view.statsCycles = view.failCycles[0] = view.allCycles[0] = 1;
    view.statsCameraNgCycles[0] = 1;
    CycleRules agreeing(setup);
    agreeing.quiescent(view, true, QString(), true);
    EXPECT_FALSE(broke(agreeing, CycleRule::StoresAgree));
}

// Setups the cycle has always handled: the rules hold on them, old cycle or new.
TEST(CycleRules, PlainMouldsKeepEveryRule)
{
    struct Case
    {
        const char* name;
        CycleSetup setup;
        std::vector<CycleEvent> events;
    };
    CycleSetup mouldOnly;
    mouldOnly.enable = {0, 1};
    CycleSetup multi;
    multi.trigMode = 3;
    multi.detections = 3;
    multi.enable = {1, 1, 1};
    multi.delay = {1, 2, 3};
    CycleSetup rechecked = mouldOnly;
    rechecked.recheckTimes = 2;
    rechecked.recheckDelay = 1;
    CycleSetup alternating;
    alternating.trigMode = 1;
    alternating.stageGroups = 2;
    alternating.enable = {1, 1, 1, 1};
    alternating.trigInput = {0, 2};
    alternating.prodNgSkipRecheck = true;
    const std::vector<Case> cases = {
        {"mould only: NG, released, OK", mouldOnly,
         {{CycleEvent::Pulse, 0, 0, 150}, {CycleEvent::Release, 600}, {CycleEvent::Verdict, 700, 1, 0, 0},
          {CycleEvent::Pulse, 1000, 0, 150}}},
        {"mould only: NG, then an OK mould releases it", mouldOnly,
         {{CycleEvent::Pulse, 0, 0, 150}, {CycleEvent::Verdict, 700, 1, 0, 0}, {CycleEvent::Pulse, 1000, 0, 150}}},
        {"multi-detection in order", multi, {{CycleEvent::Pulse, 0, 0, 150}, {CycleEvent::Pulse, 1500, 0, 150}}},
        {"a recheck that confirms", rechecked, {{CycleEvent::Pulse, 0, 0, 150}, {CycleEvent::Release, 2000}}},
        // The pause holds the next mould's edge until it ends; that edge confirms the NG waited on.
        {"a mould that comes in the program's pause", rechecked,
         {{CycleEvent::Pulse, 0, 0, 150}, {CycleEvent::Pause, 50}, {CycleEvent::Pulse, 600, 0, 150},
          {CycleEvent::Resume, 2500}, {CycleEvent::Pulse, 4000, 0, 150}}},
        // Stage 0's product NG; the next product trigger gives up the open cycle and stage 1
        // takes it: the door's product skip hands the NG to stage 1's mould check.
        {"alternating stages, a cycle given up, the door's product skip", alternating,
         {{CycleEvent::Verdict, 0, 0, 0, 0x4}, {CycleEvent::Verdict, 0, 1, 0, 0}, {CycleEvent::Pulse, 10, 0, 150},
          {CycleEvent::Pulse, 600, 0, 150}, {CycleEvent::Pulse, 1200, 1, 150}}},
    };
    for (const Case& c : cases) {
        CycleSequence seq;
        seq.setup = c.setup;
        seq.initialNg[1] = 0x2;  // camera 2 sees a part in detection 2
        seq.events = c.events;
        const CycleOutcome outcome = runSequence(seq);
        EXPECT_EQ(outcome.failedRules, 0u) << c.name << "\n" << seq.describe().toStdString() << "\n"
                                           << outcome.describe().toStdString();
    }
}

// Faults of today's cycle that the world's rules find, each being mended on a branch of its
// own. Until a mend is merged, a sequence that breaks rules only by such faults is counted
// apart instead of failing; set `mended` once it is, and those sequences count again.
struct KnownFault
{
    const char* name;
    bool mended;
    bool (*explains)(const CycleSequence& seq, const RuleFailure& failure);
};

bool marked(const RuleFailure& f, CycleRule rule, const char* marker)
{
    return f.rule == rule && f.what.contains(QLatin1String(marker));
}

extern const KnownFault kKnownFaults[];
constexpr int kFixedMould = 0;
constexpr int kPauses = 2;

// The sequence again without the causes of the faults a replay tells (`only` one of them, or
// all but those mended): the mould detection taken as the cycle takes it, no pauses and no restarts.
CycleSequence withoutReplayedCauses(const CycleSequence& seq, int only)
{
    CycleSequence again = seq;
    const auto drops = [only](int fault) { return only < 0 ? !kKnownFaults[fault].mended : only == fault; };
    if (drops(kFixedMould) && seq.setup.trigMode != 3)
        again.setup.fixedMould = 1;
    if (drops(kPauses)) {
        const auto pause = [](const CycleEvent& e) {
            return e.kind == CycleEvent::Pause || e.kind == CycleEvent::Resume || e.kind == CycleEvent::Restart;
        };
        again.events.erase(std::remove_if(again.events.begin(), again.events.end(), pause), again.events.end());
    }
    return again;
}

bool replayHolds(const CycleSequence& seq, const RuleFailure& f, int only = -1)
{
    return !(runSequence(withoutReplayedCauses(seq, only)).failedRules & (1u << int(f.rule)));
}

const KnownFault kKnownFaults[] = {
    {"the mould detection is detection 2 whatever the stage (the door's check, the product skip, the switch)", true,
     [](const CycleSequence& seq, const RuleFailure& f) {
         if (seq.setup.trigMode == 3 || seq.setup.fixedMould >= 0)
             return false;
         // The mould of stage 0 (detection 4) left to detection 2's check.
         const bool handsOver = seq.setup.prodNgSkipRecheck || seq.setup.doorTrigger
                                || std::any_of(seq.events.begin(), seq.events.end(), [](const CycleEvent& e) {
                                       return e.kind == CycleEvent::Release && e.arg == AlarmClearMethod::SwitchToMould;
                                   });
         // Where stages alternate, the switch over one stage's NG also hands the other stage's mould
         // NG to this stage's mould.
         const bool mould = f.what.contains(QLatin1String("in detection 4 "))
                            || (seq.setup.stageGroups >= 2 && f.what.contains(QLatin1String("in detection 2 ")));
         if (f.rule == CycleRule::PartGuarded)
             return seq.setup.twoStage() && handsOver && mould;
         // Taken as the cycle takes it, the rule holds.
         return replayHolds(seq, f);
     }},
    {"a door check or Re-detect answered by a check whose frame predates it", true,
     [](const CycleSequence&, const RuleFailure& f) { return marked(f, CycleRule::PartGuarded, "[answered]"); }},
    {"the program's pause drops the mould counting down; a restart drops the standing alarm", true,
     [](const CycleSequence& seq, const RuleFailure& f) {
         if (f.rule == CycleRule::PartGuarded)
             return marked(f, CycleRule::PartGuarded, "[paused]");
         // Without the pauses and restarts, the rule holds.
         const bool any = std::any_of(seq.events.begin(), seq.events.end(), [](const CycleEvent& e) {
             return e.kind == CycleEvent::Pause || e.kind == CycleEvent::Restart;
         });
         return any && replayHolds(seq, f, kPauses);
     }},
    {"count.ini, gSync*, the statistics and the records count a mould differently", true,
     [](const CycleSequence&, const RuleFailure& f) { return f.rule == CycleRule::StoresAgree; }},
    // Found by the world's rules.
    {"a mould turned away while its detection counts down is let go by the OK of the check under way, whose "
     "frame predates that mould's own", true,
     [](const CycleSequence&, const RuleFailure& f) { return marked(f, CycleRule::PartGuarded, "[busy]"); }},
    {"while a camera is lost a check may judge frames of the other cameras up to 1 s old", true,
     [](const CycleSequence&, const RuleFailure& f) { return marked(f, CycleRule::PartGuarded, "[lost]"); }},
};
constexpr int kKnownFaultCount = int(sizeof(kKnownFaults) / sizeof(kKnownFaults[0]));

// The known fault not yet mended that explains the failure, or -1.
int knownFault(const CycleSequence& seq, const RuleFailure& failure)
{
    // Cheapest first; the pauses alone, then the mould detection with them (both run the sequence
    // again), before the markers.
    static const int kCheapestFirst[] = {3, 2, 0, 1, 4, 5};
    static_assert(sizeof(kCheapestFirst) / sizeof(kCheapestFirst[0]) == kKnownFaultCount, "every known fault");
    for (int k : kCheapestFirst)
        if (!kKnownFaults[k].mended && kKnownFaults[k].explains(seq, failure))
            return k;
    return -1;
}

// The rules a sequence broke that no known fault explains.
unsigned unexplained(const CycleSequence& seq, const CycleOutcome& outcome, std::set<int>* faults = nullptr)
{
    unsigned rules = 0;
    for (const RuleFailure& f : outcome.failures) {
        const int k = knownFault(seq, f);
        if (k < 0)
            rules |= 1u << int(f.rule);
        else if (faults)
            faults->insert(k);
    }
    return rules;
}

// Seeds whose sequences once broke a rule: each found a fault of the cycle or of this harness.
TEST(CycleRules, SeedsThatFoundFaultsKeepEveryRule)
{
    const quint64 seeds[] = {
        // The harness told the model of edges and releases in another order than the cycle took them.
        318088, 311394, 27417, 1012445, 1027998, 1030142, 1053823, 2029685, 3013235, 3050264, 4054361, 5013284,
        5034650, 8046479,
        // A Re-detect's check that could not see a lost camera released its NG.
        4679,
        // A cycle's close released what a release with Re-detect kept on for a check still to come.
        10552,
        // A door signalled before an NG lifted it once the switch to the mould had handed it over.
        10125,
        // A mould turned away while a Re-detect checked a counted cycle again was never counted.
        766895238,
        // The model took edges latched during a pause that holds as they came, not as it ended;
        // several at its end may move the stage for the next; a pause queued in a stall, or
        // at its end, holds the edges queued with it (1001491, 1001598); one at the moment an
        // edge turns steady may come first (1010065).
        6633, 7069, 4703, 6935, 11319, 1001491, 1001598, 1010065,
        // The model took the stage an edge came in for the one that took it: where it gives up
        // the open cycle (7199, 8833), comes with the door's check (35897), near a restart
        // (5260), on a setup with a shielded input (14031); a restart forgets the stage presented
        // last (11760); a Re-detect's check or a stop tells nothing of it (12756).
        7199, 8833, 35897, 5260, 14031, 11760, 12756,
        // Door checks answered by the check under way put its look off (6979).
        6979,
        // The same where several edges come out of a stall at once (25273), a mould turned away
        // presents no stage (29915), a check that reached no camera does (31994); a door's
        // product skip made with the confirmation of its mould's recheck keeps what it handed
        // to it but for the cameras that recheck saw OK (24465); a release with its recheck of
        // the same millisecond as a stop's "not inspected" checks it again (43313).
        25273, 29915, 31994, 24465, 43313,
        // A product NG only a camera that could not be checked holds is skipped at the door too
        // (1007766); an NG of a release's own millisecond stands for the clearing input's recheck
        // (1051002); a check whose countdown ran before an edge was not started by it (1038597).
        1007766, 1051002, 1038597,
        // What a check was handed and kept at a stop keeps its own time: a release signalled
        // after it lifts it (1033138); a mould turned away tells no stage (1048195).
        1033138, 1048195,
    };
    for (quint64 seed : seeds) {
        const CycleSequence seq = randomSequence(seed);
        const CycleOutcome outcome = runSequence(seq);
        EXPECT_EQ(unexplained(seq, outcome), 0u) << seq.describe().toStdString() << "\n" << outcome.describe().toStdString();
    }
}

// Sequences that found each known fault on today's cycle: they keep every rule once it is mended.
TEST(CycleRules, SeedsOfKnownFaultsKeepEveryRuleOnceMended)
{
    struct Witness
    {
        quint64 seed;
        int fault;
    };
    const Witness witnesses[] = {
        // The door's product skip hands the stage-0 mould's NG (detection 4) to detection 2's check
        // (rules 1, 2 and 8); the door's check looks at detection 2 in stage 0 (rule 8).
        {4531, 0},
        {4720, 0},
        // A door check answered by the check under way; a check while a camera is lost takes a
        // frame up to 1 s old (rule 8).
        {5300, 1},
        {14051, 1},
        // The program's pause cancels the countdown: the mould is never checked nor held (rule 8).
        {4707, 2},
        {4723, 2},
        // A restart with an NG standing: the new process starts with the clamp off (rule 1).
        {4552, 2},
        // The stores count differently: a lost camera's held NG in the statistics only; NG steps
        // with no NG cycle (rule 9).
        {4507, 3},
        {4509, 3},
        // Two moulds 0.45 s apart with a delay of 0.9 s: the second is turned away and held, and
        // the first one's OK (its frame before the part came) lets the second go (rule 8).
        {102247, 4},
        {103136, 4},
        // While a camera is lost the main loop runs each second: a check judged the other
        // cameras' frames taken before its trigger (rule 8).
        {5433, 5},
    };
    QStringList waiting;
    for (const Witness& w : witnesses) {
        const CycleSequence seq = randomSequence(w.seed);
        const CycleOutcome outcome = runSequence(seq);
        if (!kKnownFaults[w.fault].mended) {
            QStringList rules;
            for (const RuleFailure& f : outcome.failures)
                if (knownFault(seq, f) == w.fault)
                    rules << QString::fromLatin1(ruleName(f.rule)).section(' ', 0, 1);
            waiting << QStringLiteral("seed %1 (%2): %3")
                           .arg(w.seed)
                           .arg(kKnownFaults[w.fault].name)
                           .arg(rules.isEmpty() ? QStringLiteral("no longer seen") : rules.join(", "));
            continue;
        }
        // Other faults not yet mended may still show in it.
        EXPECT_EQ(unexplained(seq, outcome), 0u) << seq.describe().toStdString() << "\n" << outcome.describe().toStdString();
    }
    if (!waiting.isEmpty())
        GTEST_SKIP() << "known faults not yet mended on this branch:\n" << waiting.join('\n').toStdString();
}

#if __has_include("alarmbook.h")
// The alarm book driven alone by random events: the outputs its answers switch are always
// the outputs it holds, an NG holds its outputs, a release of everything leaves none standing.
TEST(AlarmBookDriven, TheOutputsItsAnswersSwitchAreTheOutputsItHolds)
{
    for (unsigned seed = 1; seed <= 2000; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        AlarmBook book;
        unsigned applied = 0;
        std::int64_t now = 0;
        const auto apply = [&applied](const AlarmBook::Change& change) {
            applied = (applied | change.on) & ~change.off;
        };
        for (int step = 0; step < 40; ++step) {
            now += pick(0, 50);
            const int d = pick(0, 3);
            const unsigned cameras = unsigned(pick(0, 3));
            const unsigned raised = unsigned(pick(0, 7));
            QString what;
            switch (pick(0, 8)) {
            case 0:
            case 1:
                apply(book.ng(d, 0x3, cameras | 1u, raised, now));
                what = QStringLiteral("NG of detection %1, outputs %2").arg(d).arg(raised);
                EXPECT_EQ(book.held() & raised, raised) << what.toStdString();
                break;
            case 2:
                apply(book.uninspected(d, 0x3, raised, now));
                what = QStringLiteral("uninspected %1").arg(d);
                break;
            case 3:
                apply(book.ok(d, pick(0, 1) == 1));
                what = QStringLiteral("OK of %1").arg(d);
                break;
            case 4: {
                static const int kHands[] = {AlarmBook::kEachOwnCheck, AlarmBook::kReleaseNow, 1, 3};
                apply(book.lift(now - pick(0, 100), kHands[pick(0, 3)]));
                what = QStringLiteral("a lift");
                break;
            }
            case 5:
                apply(book.closeCycle());
                what = QStringLiteral("the cycle's close");
                break;
            case 6:
                book.restore(d);
                what = QStringLiteral("restore %1").arg(d);
                break;
            case 7:
                book.holdUnchecked(d, cameras);
                what = QStringLiteral("cameras %1 unchecked in %2").arg(cameras).arg(d);
                break;
            default:
                apply(book.lift(AlarmBook::kAll, AlarmBook::kReleaseNow));
                what = QStringLiteral("everything released");
                EXPECT_FALSE(book.stands()) << "seed " << seed;
                break;
            }
            ASSERT_EQ(applied, book.held()) << "seed " << seed << " step " << step << ": " << what.toStdString();
        }
    }
}
#endif

quint64 firstSeed()
{
    const QByteArray text = qgetenv("MM_CYCLE_SEED");
    if (text == "random")
        return QRandomGenerator::global()->generate64() % 1000000000;
    bool ok = false;
    const quint64 seed = text.toULongLong(&ok);
    return ok ? seed : kDefaultSeed;
}

TEST(CycleRules, RandomSequencesKeepEveryRule)
{
    const int sequences = qEnvironmentVariableIsSet("MM_CYCLE_SEQUENCES")
                              ? qEnvironmentVariableIntValue("MM_CYCLE_SEQUENCES")
                              : kDefaultSequences;
    const quint64 seed = firstSeed();
    QFile report(QString::fromLocal8Bit(qgetenv("MM_CYCLE_REPORT")));
    if (!report.fileName().isEmpty()) {
        ASSERT_TRUE(report.open(QIODevice::WriteOnly | QIODevice::Truncate)) << report.fileName().toStdString();
    }

    std::map<int, int> failing;                  // rule -> sequences that broke it
    std::map<int, int> known;                    // known fault -> sequences it explains
    std::map<int, CycleSequence> shortest;       // rule -> its shortest failing sequence
    for (int i = 0; i < sequences; ++i) {
        const CycleSequence seq = randomSequence(seed + quint64(i));
        const CycleOutcome outcome = runSequence(seq);
        // Every failure a known fault explains is counted under it instead.
        std::set<int> faults;
        const unsigned unknown = unexplained(seq, outcome, &faults);
        for (int k : faults)
            ++known[k];
        if (report.isOpen()) {
            // Seed, broken rules as a mask, then what each broke (and the known fault it is).
            QByteArray line = QByteArray::number(seq.seed) + ' ' + QByteArray::number(outcome.failedRules);
            for (const RuleFailure& f : outcome.failures)
                line += '\t' + QByteArray::number(int(f.rule) + 1) + ": " + f.what.toUtf8() + " {known "
                        + QByteArray::number(knownFault(seq, f)) + '}';
            report.write(line + '\n');
        }
        for (int r = 0; r < kCycleRuleCount; ++r) {
            if (!(unknown & (1u << r)))
                continue;
            ++failing[r];
            auto it = shortest.find(r);
            if (it == shortest.end() || seq.events.size() < it->second.events.size())
                shortest[r] = seq;
        }
    }
    std::printf("%d sequences from seed %llu\n", sequences, static_cast<unsigned long long>(seed));
    for (int r = 0; r < kCycleRuleCount; ++r)
        std::printf("%s: %d sequences fail\n", ruleName(CycleRule(r)), failing.count(r) ? failing[r] : 0);
    for (int k = 0; k < kKnownFaultCount; ++k)
        if (!kKnownFaults[k].mended)
            std::printf("known fault, not yet mended (%s): %d sequences\n", kKnownFaults[k].name,
                        known.count(k) ? known[k] : 0);
    for (const auto& [r, seq] : shortest) {
        const CycleSequence shrunk = shrinkSequence(seq, CycleRule(r));
        const CycleOutcome outcome = runSequence(shrunk);
        ADD_FAILURE() << ruleName(CycleRule(r)) << " broken in " << failing[r] << " of " << sequences
                      << " sequences; the shortest, shrunk to " << shrunk.events.size() << " events:\n"
                      << shrunk.describe().toStdString() << "\n"
                      << outcome.describe().toStdString();
    }
}
} // namespace

// The whole program runs on the virtual clock: the dispatcher is in place before the application.
int main(int argc, char** argv)
{
    QCoreApplication::setEventDispatcher(new VirtualTimeDispatcher);
    return runTestMain(argc, argv);
}

#include "shellfixture.h"

#include "controlport.h"
#include "detectioncycle.h"
#include "globals.h"
#include "wizardpara.h"

#include <QThread>
#include <opencv2/core/utility.hpp>

#include <array>
#include <mutex>
#include <random>
#include <set>

namespace {

// A camera whose verdict per cycle comes from a script, and that notes the
// thread it was checked on. It works a little, so the checks overlap.
class ScriptedUnit : public FakeUnit
{
public:
    ScriptedUnit(int camera, std::set<Qt::HANDLE>* threads, std::mutex* lock)
        : FakeUnit(camera), m_threads(threads), m_lock(lock)
    {
    }
    bool runAlgorithm(int detection) override
    {
        {
            std::lock_guard<std::mutex> guard(*m_lock);
            m_threads->insert(QThread::currentThreadId());
        }
        QThread::usleep(2000);
        return FakeUnit::runAlgorithm(detection);
    }

private:
    std::set<Qt::HANDLE>* m_threads;
    std::mutex* m_lock;
};

} // namespace

// Many frames of 8 cameras: checking them at once gives the same outputs,
// counters, records and per-camera results as checking them one by one, and
// really uses more than one thread.
TEST_F(CycleTest, ParallelChecksDecideExactlyAsSequentialChecks)
{
    constexpr int kCameras = 8;
    constexpr int kCycles = 40;
    std::mt19937 random(7);
    std::vector<std::array<bool, kCameras>> verdicts(kCycles);
    for (auto& cycleVerdicts : verdicts)
        for (bool& ok : cycleVerdicts)
            ok = random() % 4 != 0;

    auto runAll = [&](int threads, std::set<Qt::HANDLE>& used) {
        resetShellGlobals();
        win->records.clear();
        for (int output = 0; output < 8; ++output)
            io->IOSetOut(output, 0);
        io->IOFlashOut();
        std::mutex lock;
        std::vector<std::unique_ptr<ScriptedUnit>> scripted;
        QVector<DetectionUnit*> list;
        for (int c = 0; c < kCameras; ++c) {
            scripted.push_back(std::make_unique<ScriptedUnit>(c, &used, &lock));
            scripted.back()->outputs = {c % 4};
            list << scripted.back().get();
        }
        cycle = std::make_unique<DetectionCycle>(win.get(), io.get());
        win->cycle = cycle.get();
        cycle->setUnits(list);
        cycle->setCheckThreads(threads);
        numCamera = kCameras;
        QStringList trace;
        for (const auto& cycleVerdicts : verdicts) {
            for (int c = 0; c < kCameras; ++c)
                scripted[size_t(c)]->ok = cycleVerdicts[size_t(c)];
            pressInput(0);
            runPass();
            releaseInputs();
            runPass();
            QString line = QStringLiteral("out %1 fail").arg(outputWord(), 0, 16);
            for (int c = 0; c < kCameras; ++c)
                line += QStringLiteral(" %1/%2").arg(gFailNum[c]).arg(gAllNum[c]);
            trace << line;
        }
        for (const auto& unit : scripted)
            trace << QStringLiteral("checks %1 blinks %2 %3").arg(unit->checks).arg(unit->blinks)
                         .arg(unit->imageCalls.join(','));
        trace << win->records;
        cycle.reset();
        win->cycle = nullptr;
        return trace;
    };

    std::set<Qt::HANDLE> oneByOne, atOnce;
    const int libraryThreads = cv::getNumThreads();
    const QStringList sequential = runAll(1, oneByOne);
    const QStringList parallel = runAll(kCameras, atOnce);
    // The pool's checks run OpenCV's loops in their own thread, not on its workers too.
    EXPECT_EQ(cv::getNumThreads(), 1);
    cv::setNumThreads(libraryThreads);
    EXPECT_EQ(oneByOne.size(), 1u);
    EXPECT_GT(atOnce.size(), 1u) << "the cameras were not checked at once";
    ASSERT_EQ(sequential.size(), parallel.size());
    for (int i = 0; i < sequential.size(); ++i)
        EXPECT_EQ(sequential[i], parallel[i]) << "line " << i;
}

#include "alarmbook.h"

#include <algorithm>
#include <utility>

unsigned AlarmBook::held() const
{
    unsigned outputs = m_atClose;
    for (const Entry& e : m_entries)
        outputs |= e.outputs | e.keptOutputs;
    return outputs;
}

bool AlarmBook::stands() const
{
    for (const Entry& e : m_entries)
        if (e.ngCameras || e.outputs)
            return true;
    return false;
}

bool AlarmBook::anyHolds() const
{
    for (const Entry& e : m_entries)
        if (e.holds())
            return true;
    return false;
}

bool AlarmBook::ngStoodBefore(int detection, std::int64_t atMs) const
{
    const Entry& e = entry(detection);
    return e.ngCameras && e.ngAt < atMs;
}

std::vector<AlarmBook::Lift> AlarmBook::liftable(std::int64_t signalMs, unsigned spare) const
{
    std::vector<Lift> lifts;
    for (int d = 0; d < kDetections; ++d) {
        const Entry& e = m_entries[d];
        // An NG decided at or after the release's signal was not what the release was for.
        if (e.holds() && e.ngAt < signalMs && !(spare & (1u << d)))
            lifts.push_back(Lift{d, e.ngCameras | e.keptCameras});
    }
    return lifts;
}

bool AlarmBook::keep(Entry& e)
{
    const bool kept = e.keptOutputs || e.keptCameras;
    e.outputs |= std::exchange(e.keptOutputs, 0u);
    e.ngCameras |= std::exchange(e.keptCameras, 0u);
    return kept;
}

bool AlarmBook::restore(int detection)
{
    return keep(at(detection));
}

unsigned AlarmBook::holdUnchecked(int detection, unsigned checkedCameras)
{
    Entry& e = at(detection);
    const unsigned kept = (e.ngCameras | e.keptCameras) & ~checkedCameras;
    e.ngCameras |= kept;
    return kept;
}

AlarmBook::Change AlarmBook::ng(int detection, unsigned checkedCameras, unsigned ngCameras, unsigned raised,
                                std::int64_t atMs)
{
    Entry& e = at(detection);
    // What a release kept on for this check stays on, without a gap; the check's
    // verdicts say which of the kept cameras are still NG.
    keep(e);
    e.ngCameras = (e.ngCameras & ~checkedCameras) | (ngCameras & checkedCameras);
    e.outputs |= raised;
    e.ngAt = atMs;
    return Change{raised, 0};
}

AlarmBook::Change AlarmBook::uninspected(int detection, unsigned allCameras, unsigned raised, std::int64_t atMs)
{
    Entry& e = at(detection);
    keep(e);
    e.ngCameras |= allCameras;
    e.outputs |= raised;
    e.ngAt = atMs;
    return Change{raised, 0};
}

AlarmBook::Change AlarmBook::ok(int detection, bool cycleUndecided)
{
    Entry& e = at(detection);
    const unsigned outputs = e.outputs | e.keptOutputs;
    e.ngCameras = 0;
    e.outputs = 0;
    e.keptOutputs = 0;
    e.keptCameras = 0;
    // The detection's own earlier NG is what this OK answers; another's NG, or a
    // cycle not yet decided, keeps the machine stopped until the close.
    if (cycleUndecided || anyHolds())
        m_atClose |= outputs;
    return release(outputs);
}

AlarmBook::Change AlarmBook::lift(std::int64_t signalMs, int handTo, std::vector<Lift>* lifted, unsigned spare)
{
    unsigned released = 0;
    const std::vector<Lift> lifts = liftable(signalMs, spare);
    for (const Lift& lift : lifts) {
        Entry& e = m_entries[lift.detection];
        // With what an earlier lift handed to this detection's check.
        const unsigned outputs = e.outputs | e.keptOutputs;
        const unsigned cameras = e.ngCameras | e.keptCameras;
        const std::int64_t ngAt = e.ngAt;
        e.ngCameras = 0;
        e.outputs = 0;
        e.keptOutputs = 0;
        e.keptCameras = 0;
        if (handTo == kReleaseNow) {
            released |= outputs;
            continue;
        }
        Entry& check = at(handTo == kEachOwnCheck ? lift.detection : handTo);
        check.keptOutputs |= outputs;
        check.keptCameras |= cameras;
        // A later release signalled before the latest NG handed over does not lift it.
        check.ngAt = std::max(check.ngAt, ngAt);
    }
    if (lifted)
        *lifted = lifts;
    // What OKs left on for the cycle's close goes with the last alarm lifted.
    if (!anyHolds())
        released |= std::exchange(m_atClose, 0u);
    return release(released);
}

AlarmBook::Change AlarmBook::closeCycle()
{
    return release(std::exchange(m_atClose, 0u));
}

bool AlarmBook::stop()
{
    bool kept = false;
    for (Entry& e : m_entries)
        kept = keep(e) || kept;
    return kept;
}

AlarmBook::Change AlarmBook::endPreCut(bool ng, unsigned output, unsigned stoppers)
{
    bool kept = false;
    for (int d = 0; ng && d < kDetections; ++d) {
        Entry& e = m_entries[d];
        if (e.ngCameras && (stoppers & (1u << d))) {
            e.outputs |= output;
            kept = true;
        }
    }
    return kept ? Change{} : release(output);
}

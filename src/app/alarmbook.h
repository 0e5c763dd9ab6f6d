#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

// Who holds which output of the NG alarm, kept per detection: the cameras whose
// NG stands, the outputs that NG holds, what a release with Re-detect kept on
// for the detection's next check, when its NG was decided, and what OKs
// released while the cycle was undecided (it waits for the cycle's close).
// Each event answers the outputs to switch; the held set is always derived from
// the book. Cameras are bits of unit indexes, outputs bits of output numbers.
class AlarmBook
{
public:
    static constexpr int kDetections = 8;
    // A signal time that lifts every NG standing now.
    static constexpr std::int64_t kAll = std::numeric_limits<std::int64_t>::max();
    // Where a lift hands what it lifts: each lifted detection's own next check, or nowhere.
    static constexpr int kEachOwnCheck = -1;
    static constexpr int kReleaseNow = -2;

    struct Change
    {
        unsigned on = 0;   // outputs to switch on (held by the alarm)
        unsigned off = 0;  // outputs to switch off (no longer held by anything here)
    };
    // A detection whose NG a release lifted, and the cameras that NG stood on.
    struct Lift
    {
        int detection = 0;
        unsigned cameras = 0;
    };
    struct Entry
    {
        unsigned ngCameras = 0;
        unsigned outputs = 0;
        std::int64_t ngAt = 0;
        // Kept on by a release with Re-detect until this detection's next check decides.
        unsigned keptOutputs = 0;
        // Cameras that check must see OK; one it cannot look at keeps the outputs.
        unsigned keptCameras = 0;

        bool holds() const { return ngCameras || outputs || keptOutputs; }
    };

    const Entry& entry(int detection) const { return m_entries[index(detection)]; }
    // Every output the alarm holds.
    unsigned held() const;
    // An NG stands that no release has lifted (kept outputs aside).
    bool stands() const;
    bool holds(int detection) const { return entry(detection).holds(); }
    // The detection's NG stands and was decided before atMs (one of the same
    // millisecond may have come after the signal: it stands).
    bool ngStoodBefore(int detection, std::int64_t atMs) const;
    // What a release signalled at signalMs would lift (the detections in spare stay).
    std::vector<Lift> liftable(std::int64_t signalMs, unsigned spare = 0) const;
    unsigned waitingForClose() const { return m_atClose; }

    // A check that could not look at some cameras: those whose NG stands or is kept
    // for it keep their NG. Returns them.
    unsigned holdUnchecked(int detection, unsigned checkedCameras);
    // An NG decided at atMs: the checked cameras' verdicts, the outputs it holds
    // (its raised outputs that are not pulses) and what was kept for this check.
    Change ng(int detection, unsigned checkedCameras, unsigned ngCameras, unsigned raised, std::int64_t atMs);
    // A mould nobody looked at: every camera NG.
    Change uninspected(int detection, unsigned allCameras, unsigned raised, std::int64_t atMs);
    // An OK: what the detection held is released, at the cycle's close when another
    // detection holds an NG or the cycle is still undecided (cycleUndecided).
    Change ok(int detection, bool cycleUndecided);
    // A release signalled at signalMs lifts the NGs decided before it: to handTo's next
    // check (a detection, kEachOwnCheck) or released now (kReleaseNow); those in spare stand.
    Change lift(std::int64_t signalMs, int handTo, std::vector<Lift>* lifted = nullptr, unsigned spare = 0);
    // The cycle has closed: what waited for it is released.
    Change closeCycle();
    // No check will come for the detection: what was kept for one is its alarm again.
    // True when something was kept.
    bool restore(int detection);
    // Detection stopped: restores every detection. True when something was kept.
    bool stop();
    // The pre-cut's output at the cycle's close: kept by each detection of stoppers
    // whose NG stands when the cycle closed NG, released otherwise.
    Change endPreCut(bool ng, unsigned output, unsigned stoppers);

private:
    static int index(int detection) { return detection >= 0 && detection < kDetections ? detection : 0; }
    Entry& at(int detection) { return m_entries[index(detection)]; }
    // What was kept for the detection's check becomes its own alarm; true when anything was.
    static bool keep(Entry& entry);
    bool anyHolds() const;
    Change release(unsigned outputs) const { return Change{0, outputs & ~held()}; }

    std::array<Entry, kDetections> m_entries = {};
    unsigned m_atClose = 0;
};

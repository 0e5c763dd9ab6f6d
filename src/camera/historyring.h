#pragma once

#include <cstddef>
#include <memory>

// The last checked frames of one detection group, newest first, for the ROI
// editor. The newest frame is kept as it is; older ones are held compressed
// (without loss: the editor can learn a template from them). Compressing runs
// on a background thread of its own, never in the check. push() may be called
// from a check thread, read() from the GUI thread.
class HistoryRing
{
public:
    static constexpr int kFrames = 10;

    HistoryRing();
    ~HistoryRing();
    HistoryRing(const HistoryRing&) = delete;
    HistoryRing& operator=(const HistoryRing&) = delete;

    // Frames of frameBytes each from now on; drops every frame held. 0 switches the ring off.
    void reset(std::size_t frameBytes);
    bool isOn() const;
    // Adds a copy of frame as frame 0; the oldest beyond kFrames is dropped.
    void push(const unsigned char* frame);
    // Copies frame `index` (0 = newest) into dst; false when there is no such frame.
    bool read(int index, unsigned char* dst) const;
    // Frames held.
    int count() const;
    // Waits until every frame pushed so far is compressed (tests, measurements).
    void flush();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

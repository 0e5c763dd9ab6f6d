#pragma once

#include <memory>

// Saves every shared global a test may set (sizes, counts, counters, the
// language, the published objects) and puts them back when it goes, so no
// test depends on the order the suite runs in. The shared test main holds one
// around every test; a fixture may hold its own for a narrower scope.
// The keypads (gpNumPad, gpNumCharPad) are left alone: they re-create
// themselves and an old pointer to one may no longer be valid.
class SharedGlobalsGuard
{
public:
    SharedGlobalsGuard();
    ~SharedGlobalsGuard();
    SharedGlobalsGuard(const SharedGlobalsGuard&) = delete;
    SharedGlobalsGuard& operator=(const SharedGlobalsGuard&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> m_saved;
};

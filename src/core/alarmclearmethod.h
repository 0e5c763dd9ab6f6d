#pragma once

// How an NG alarm was released, as the companion process is told it.
namespace AlarmClearMethod {
enum : int {
    DontDetect = 4,     // released without detecting this mould again
    AddAsTemplate = 5,
    SwitchToMould = 6,  // re-detect, switched to the mould-cavity detection
    Redetect = 7,
    RedetectOk = 8,     // an OK check of the same detection
};
} // namespace AlarmClearMethod

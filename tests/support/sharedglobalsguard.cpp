#include "sharedglobalsguard.h"

#include "globals.h"

#include <QString>
#include <cstring>
#include <functional>
#include <type_traits>
#include <vector>

struct SharedGlobalsGuard::Saved
{
    // Copies a global now; restore() writes the copy back (arrays byte for byte).
    template <typename T>
    void keep(T& global)
    {
        if constexpr (std::is_array_v<T>) {
            static_assert(std::is_trivially_copyable_v<T>);
            std::vector<char> bytes(sizeof(T));
            std::memcpy(bytes.data(), &global, sizeof(T));
            restorers.push_back([&global, bytes] { std::memcpy(&global, bytes.data(), sizeof(T)); });
        } else {
            restorers.push_back([&global, copy = global] { global = copy; });
        }
    }

    void restore()
    {
        for (const auto& restoreOne : restorers)
            restoreOne();
    }

    std::vector<std::function<void()>> restorers;
};

SharedGlobalsGuard::SharedGlobalsGuard() : m_saved(std::make_unique<Saved>())
{
    Saved& s = *m_saved;
    s.keep(gShowW), s.keep(gShowH), s.keep(numCamera), s.keep(gDNum), s.keep(gTempNum), s.keep(gDrawHint);
    s.keep(gSource), s.keep(gLan), s.keep(gisGrayHue), s.keep(gisTempAlarm), s.keep(gPicNumNG), s.keep(gPicNumOK);
    s.keep(gTempTime), s.keep(gDeviceID), s.keep(gAppDirPath);
    s.keep(gAllNum), s.keep(gFailNum), s.keep(gAllCycleNum), s.keep(gFailCycleNum);
    s.keep(gSyncNGNum), s.keep(gSyncNGCycleNum);
    s.keep(gFailIndex), s.keep(gisSaveFail), s.keep(gpFailImage);
    s.keep(gpWin), s.keep(gpWPara), s.keep(gpWParaBak), s.keep(gpControlIO);
    s.keep(gpWarnBox), s.keep(gpChooseBox), s.keep(gpPasswordBox), s.keep(gpLostCameraWarnBox);
    s.keep(gpProductAlarmWarnBox), s.keep(pMutexIO), s.keep(pMutexSaveFail);
}

SharedGlobalsGuard::~SharedGlobalsGuard()
{
    m_saved->restore();
}

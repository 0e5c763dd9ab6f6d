#pragma once

#include "diskmanager.h"
#include "fakehostroot.h"
#include "usbstick.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

// A fake host whose "/proc" is the real one (mounts made by the code under
// test show there), real USB sticks on loop devices, a fixed clock.
class DiskTest : public ::testing::Test
{
protected:
    DiskTest();
    ~DiskTest() override;

    // A new stick with a UUID made from n, plugged in as udev entry "b8:<16 n + 1>".
    UsbStick* plugStick(int n);
    void pullStick(int n);
    static QString entryName(int n) { return QStringLiteral("b8:%1").arg(16 * n + 1); }
    static QString uuidOf(int n) { return QStringLiteral("0000000%1-1111-2222-3333-444444444444").arg(n); }
    QString mountPoint(int index) const { return DiskManager::mountPoint(index); }

    FakeHostRoot host;
    std::vector<std::unique_ptr<UsbStick>> sticks;
    std::unique_ptr<DiskManager> manager;
};

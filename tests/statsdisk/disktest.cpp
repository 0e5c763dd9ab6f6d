#include "disktest.h"

#include "clock.h"

#include <QDateTime>

DiskTest::DiskTest()
{
    host.symlink(QStringLiteral("/proc"), QStringLiteral("/proc"));
    host.makeDir(QStringLiteral("/run/udev/data"));
    Clock::setFixed(QDateTime::fromString(QStringLiteral("2026-03-10 12:00:00"), QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

DiskTest::~DiskTest()
{
    manager.reset();
    sticks.clear();
    Clock::reset();
}

UsbStick* DiskTest::plugStick(int n)
{
    if (int(sticks.size()) <= n)
        sticks.resize(n + 1);
    if (!sticks[n])
        sticks[n] = std::make_unique<UsbStick>(uuidOf(n));
    UsbStick* stick = sticks[n].get();
    EXPECT_TRUE(stick->ok()) << stick->error().toStdString();
    EXPECT_TRUE(stick->plug(host, entryName(n)));
    return stick;
}

void DiskTest::pullStick(int n)
{
    sticks.at(n)->pull(host, entryName(n));
}

#include "leddevice.h"
#include "serialport.h"

#include "fakehostroot.h"
#include "tempappdir.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// A pseudo-terminal pair whose master side the test holds.
struct Pty
{
    int master = -1;
    QString slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty() { closeMaster(); }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
};

} // namespace

TEST(SerialPort, OpensOnlyTerminalDevices)
{
    TempAppDir dir;
    ASSERT_TRUE(dir.writeFile("plain.txt", "x"));
    SerialPort port;
    EXPECT_FALSE(port.open(dir.filePath("plain.txt")));
    EXPECT_TRUE(port.errorString().contains("not a serial device"));
    EXPECT_FALSE(port.open(dir.filePath("missing")));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(SerialPort::speedFor(115200) != 0, true);
    EXPECT_EQ(SerialPort::speedFor(12345), 0u);
    Pty pty;
    ASSERT_FALSE(pty.slave.isEmpty());
    EXPECT_FALSE(port.open(pty.slave, 12345));
    QByteArray none;
    EXPECT_EQ(port.read(&none, 8, 0), SerialPort::Status::Error) << "reading a closed port";
}

TEST(SerialPort, MovesRawBytesAndReportsAHangUp)
{
    Pty pty;
    ASSERT_FALSE(pty.slave.isEmpty());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slave));

    // Bytes that a cooked terminal would translate or swallow pass unchanged.
    const QByteArray raw("\x5F\x0D\x0A\x03\x11\x13\xF5", 7);
    ASSERT_EQ(port.write(raw, 100), SerialPort::Status::Ok);
    char back[16] = {};
    QByteArray seen;
    for (int i = 0; i < 50 && seen.size() < raw.size(); ++i) {
        const ssize_t n = ::read(pty.master, back, sizeof back);
        if (n > 0)
            seen.append(back, int(n));
        usleep(2000);
    }
    EXPECT_EQ(seen, raw);

    ASSERT_EQ(::write(pty.master, raw.constData(), size_t(raw.size())), raw.size());
    QByteArray got;
    while (got.size() < raw.size() && port.read(&got, 64, 200) == SerialPort::Status::Ok) {
    }
    EXPECT_EQ(got, raw);
    EXPECT_EQ(port.read(&got, 64, 20), SerialPort::Status::Timeout);

    pty.closeMaster();
    EXPECT_EQ(port.read(&got, 64, 200), SerialPort::Status::Lost);
    EXPECT_EQ(port.write(raw, 200), SerialPort::Status::Lost) << "a write to a vanished master fails at once";
}

// A hung-up line (a USB adapter pulled out) reads as end of file forever: the
// port reports it lost, and a fresh open of the same path works again.
TEST(SerialPort, HungUpLineIsLostAndReopens)
{
    Pty pty;
    ASSERT_FALSE(pty.slave.isEmpty());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slave));
    const int other = ::open(pty.slave.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    if (::ioctl(other, TIOCVHANGUP) != 0) {
        ::close(other);
        GTEST_SKIP() << "no permission to hang up a terminal";
    }
    ::close(other);
    QByteArray got;
    EXPECT_EQ(port.read(&got, 64, 200), SerialPort::Status::Lost);
    EXPECT_EQ(port.write("\x5F", 200), SerialPort::Status::Lost);

    ASSERT_TRUE(port.open(pty.slave)) << qPrintable(port.errorString());
    ASSERT_EQ(::write(pty.master, "\x5F\xF5", 2), 2);
    while (got.size() < 2 && port.read(&got, 64, 200) == SerialPort::Status::Ok) {
    }
    EXPECT_EQ(got, QByteArray("\x5F\xF5"));
}

TEST(SerialPort, OneOwnerAtATime)
{
    Pty pty;
    ASSERT_FALSE(pty.slave.isEmpty());
    SerialPort first;
    ASSERT_TRUE(first.open(pty.slave)) << qPrintable(first.errorString());
    SerialPort second;
    EXPECT_FALSE(second.open(pty.slave));
    EXPECT_TRUE(second.errorString().contains("in use")) << qPrintable(second.errorString());
    first.close();
    ASSERT_TRUE(second.open(pty.slave)) << "free again once closed";
    second.close();

    // Another program holding the lock keeps the port refused.
    const int foreign = ::open(pty.slave.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(foreign, 0);
    ASSERT_EQ(::flock(foreign, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(first.open(pty.slave));
    EXPECT_FALSE(first.isOpen());
    ::close(foreign);
    EXPECT_TRUE(first.open(pty.slave));
}

TEST(LedDevice, LampsAndBacklightWithoutTheDevice)
{
    FakeHostRoot host;
    ASSERT_TRUE(host.write("/sys/class/backlight/intel_backlight/bl_power", "0\n"));
    TempAppDir dir;
    EXPECT_FALSE(LedDevice::open(dir.filePath("no-led")));
    EXPECT_FALSE(LedDevice::isOpen());

    LEDOnOff(LedDevice::LampNG, 1);
    LEDOnOff(LedDevice::LampRunning, 1);
    EXPECT_EQ(LedDevice::lampMask() & 0xF0, 0x90);
    LEDOnOff(LedDevice::LampNG, 0);
    LEDOnOff(9, 1);  // no such lamp
    EXPECT_EQ(LedDevice::lampMask() & 0xF0, 0x10);
    LEDOnOff(LedDevice::LampRunning, 0);

    EXPECT_FALSE(LedDevice::lcdOnOff(1)) << "no LED device, no LCD control";
    const QString blPower = host.root() + "/sys/class/backlight/intel_backlight/bl_power";
    EXPECT_TRUE(LedDevice::backlightOnOff(0));
    QFile file(blPower);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "1\n");
    file.close();
    LedDevice::switchBacklight(1, false);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "0\n");
    file.close();
    LedDevice::switchBacklight(0, true);  // device control without a device: sysfs untouched
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "0\n");
}

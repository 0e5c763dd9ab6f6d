#include "serialport.h"

#include "clock.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qint64 kNsPerMs = 1000000;
constexpr qint64 kNsPerSecond = 1000000000;

struct BaudEntry
{
    int baud;
    speed_t speed;
};

constexpr BaudEntry kBaudTable[] = {
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

// errno values after which the device is gone rather than busy.
bool isLostErrno(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF || error == EPIPE;
}

// Waits for pfd's events until MonotonicClock::ns() reaches deadlineNs, to the nanosecond (whole
// milliseconds would end a wait up to one early); ppoll's result.
int pollUntil(pollfd& pfd, qint64 deadlineNs)
{
    const qint64 left = std::max<qint64>(0, deadlineNs - MonotonicClock::ns());
    const timespec wait{time_t(left / kNsPerSecond), long(left % kNsPerSecond)};
    return ::ppoll(&pfd, 1, &wait, nullptr);
}

qint64 deadlineIn(int ms)
{
    return MonotonicClock::ns() + qint64(ms) * kNsPerMs;
}

} // namespace

SerialPort::~SerialPort()
{
    close();
}

unsigned SerialPort::speedFor(int baud)
{
    for (const BaudEntry& entry : kBaudTable) {
        if (entry.baud == baud)
            return entry.speed;
    }
    return 0;
}

bool SerialPort::open(const QString& path, int baud)
{
    close();
    m_path = path;
    const speed_t speed = speedFor(baud);
    if (speed == 0) {
        m_error = QStringLiteral("unsupported baud rate %1").arg(baud);
        return false;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        m_error = QStringLiteral("not a serial device: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    // A second writer on the line garbles the board's frames: the lock keeps
    // other well-behaved programs out, TIOCEXCL refuses later opens by others.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_error = QStringLiteral("device in use by another process: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        m_error = QStringLiteral("cannot take the device exclusively: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        m_error = QStringLiteral("cannot set the line up: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    ::tcflush(fd, TCIOFLUSH);
    m_fd = fd;
    m_error.clear();
    return true;
}

void SerialPort::close()
{
    if (m_fd >= 0) {
        // Unsent bytes would make close() wait for them to drain (up to 30 s on a UART).
        ::tcflush(m_fd, TCOFLUSH);
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
    }
}

SerialPort::Status SerialPort::fail(const char* what)
{
    const int error = errno;
    m_error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(error)));
    return isLostErrno(error) ? Status::Lost : Status::Error;
}

SerialPort::Status SerialPort::write(const QByteArray& data, int timeoutMs)
{
    if (m_fd < 0)
        return Status::Error;
    const qint64 deadline = deadlineIn(timeoutMs);
    int written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(m_fd, data.constData() + written, size_t(data.size() - written));
        if (n > 0) {
            written += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return fail("write");
        pollfd pfd{m_fd, POLLOUT, 0};
        const int rc = pollUntil(pfd, deadline);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            return fail("poll");
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            m_error = QStringLiteral("device hung up");
            return Status::Lost;
        }
        if (rc == 0) {
            // A half-written frame would only confuse the board: drop the rest.
            ::tcflush(m_fd, TCOFLUSH);
            m_error = QStringLiteral("write timed out");
            return Status::Timeout;
        }
    }
    return Status::Ok;
}

SerialPort::Status SerialPort::read(QByteArray* out, int maxBytes, int timeoutMs)
{
    return readUntil(out, maxBytes, deadlineIn(timeoutMs));
}

SerialPort::Status SerialPort::readUntil(QByteArray* out, int maxBytes, qint64 deadlineNs)
{
    if (m_fd < 0)
        return Status::Error;
    for (;;) {
        pollfd pfd{m_fd, POLLIN, 0};
        const int rc = pollUntil(pfd, deadlineNs);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            return fail("poll");
        if (rc == 0)
            return Status::Timeout;
        if (pfd.revents & POLLNVAL) {
            m_error = QStringLiteral("device closed");
            return Status::Lost;
        }
        if (pfd.revents & POLLIN) {
            QByteArray chunk(maxBytes, '\0');
            const ssize_t n = ::read(m_fd, chunk.data(), size_t(maxBytes));
            if (n > 0) {
                out->append(chunk.constData(), int(n));
                return Status::Ok;
            }
            if (n == 0) {
                m_error = QStringLiteral("end of file");
                return Status::Lost;
            }
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return fail("read");
        }
        if (pfd.revents & (POLLHUP | POLLERR)) {
            m_error = QStringLiteral("device hung up");
            return Status::Lost;
        }
    }
}

void SerialPort::flush()
{
    if (m_fd >= 0)
        ::tcflush(m_fd, TCIOFLUSH);
}

#pragma once

#include <QByteArray>
#include <QString>

// A serial line over termios: raw 8N1, no flow control, non-blocking. Every
// call waits at most the time it is given, so the IO thread never hangs on a
// board that stops reading or a device that vanishes. A pseudo-terminal works
// in place of the board's port.
class SerialPort
{
public:
    enum class Status {
        Ok,       // the bytes were written / some bytes were read
        Timeout,  // nothing moved within the time given
        Lost,     // the device hung up or disappeared: close and reopen
        Error     // not open, or an unexpected failure
    };

    static constexpr int kDefaultBaud = 115200;

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens a terminal device exclusively (false for anything that is not one,
    // or one another process holds) and sets the line up.
    bool open(const QString& path, int baud = kDefaultBaud);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    // Writes all bytes within timeoutMs; on a time-out the unsent rest is discarded.
    Status write(const QByteArray& data, int timeoutMs);
    // Waits up to timeoutMs for input and appends what is there (at most maxBytes).
    Status read(QByteArray* out, int maxBytes, int timeoutMs);
    // The same, waiting until MonotonicClock::ns() reaches deadlineNs.
    Status readUntil(QByteArray* out, int maxBytes, qint64 deadlineNs);
    // Discards whatever waits in either direction.
    void flush();

    // The termios speed constant for a baud rate; 0 when the rate is not supported.
    static unsigned speedFor(int baud);

private:
    Status fail(const char* what);

    int m_fd = -1;
    QString m_path;
    QString m_error;
};

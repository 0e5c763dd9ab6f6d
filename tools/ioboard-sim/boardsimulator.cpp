#include "boardsimulator.h"

#include "clock.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kReadChunk = 512;
constexpr int kMaxGarbage = 4096;
constexpr int kMaxPulseMs = 600000;

bool parseNumber(const QString& text, int* value)
{
    bool ok = false;
    const int v = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toInt(&ok, 16) : text.toInt(&ok, 10);
    if (ok)
        *value = v;
    return ok;
}

bool parseInput(const QString& text, int* input)
{
    return parseNumber(text, input) && *input >= 0 && *input < IOFrame::kWordBits;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

BoardSimulator::BoardSimulator(QObject* parent)
    : QObject(parent)
    , m_autoTimer(new QTimer(this))
{
    connect(m_autoTimer, &QTimer::timeout, this, [this] { pulse(m_autoInput, m_autoPulseMs); });
}

BoardSimulator::~BoardSimulator()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveKeep >= 0)
        ::close(m_slaveKeep);
}

bool BoardSimulator::openPty(QString* error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        *error = QStringLiteral("no pseudo-terminal: %1").arg(errnoText());
        return false;
    }
    const char* name = ::ptsname(m_master);
    if (!name) {
        *error = QStringLiteral("ptsname: %1").arg(errnoText());
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    m_slaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slaveKeep < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(m_slavePath, errnoText());
        return false;
    }
    // Raw from the start, so no byte is echoed or translated before the host sets the line up.
    termios tio{};
    ::tcgetattr(m_slaveKeep, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slaveKeep, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &BoardSimulator::onReadable);
    return true;
}

bool BoardSimulator::setRecordFile(const QString& path, QString* error)
{
    m_record.setFileName(path);
    if (!m_record.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, m_record.errorString());
        return false;
    }
    return true;
}

void BoardSimulator::onReadable()
{
    char chunk[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n <= 0)
            break;
        m_decoder.feed(chunk, int(n));
    }
    QByteArray frame;
    while (m_decoder.takeFrame(&frame))
        answer(IOFrame::decodeHost(frame));
}

void BoardSimulator::answer(const IOFrame::HostFrame& frame)
{
    if (frame.command != IOFrame::kCmdExchange)
        return;
    ++m_frames;
    if (!m_haveOutputs || frame.outputs != m_outputs)
        record("out", frame.outputs);
    m_outputs = frame.outputs;
    m_haveOutputs = true;
    if (m_muted)
        return;
    QByteArray reply;
    for (; m_garbagePending > 0; --m_garbagePending)
        reply.append(char(std::rand() & 0xFF));
    QByteArray board = IOFrame::encodeBoard({IOFrame::kCmdExchange, m_inputs, m_outputs});
    if (m_badSumPending > 0) {
        --m_badSumPending;
        board[IOFrame::kBoardFrameSize - 2] = char(board[IOFrame::kBoardFrameSize - 2] ^ 0x5A);
    }
    reply.append(board);
    // The host reads every 5 ms; a full pty buffer only means it is away, so the answer is dropped.
    const ssize_t written = ::write(m_master, reply.constData(), size_t(reply.size()));
    Q_UNUSED(written);
}

qint64 BoardSimulator::monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void BoardSimulator::record(const char* direction, quint16 word)
{
    if (!m_record.isOpen())
        return;
    const QString line = QStringLiteral("%1 %2 %3 0x%4\n")
                             .arg(Clock::now().toString(Qt::ISODateWithMs))
                             .arg(monotonicMs())
                             .arg(QLatin1String(direction))
                             .arg(word, 4, 16, QLatin1Char('0'));
    m_record.write(line.toUtf8());
    m_record.flush();
}

void BoardSimulator::setInputs(quint16 word)
{
    if (word != m_inputs)
        record("in", word);
    m_inputs = word;
}

void BoardSimulator::setInput(int input, bool on)
{
    const quint16 bit = quint16(1u << input);
    setInputs(on ? quint16(m_inputs | bit) : quint16(m_inputs & ~bit));
}

void BoardSimulator::pulse(int input, int ms)
{
    setInput(input, true);
    QTimer::singleShot(ms, this, [this, input] { setInput(input, false); });
}

namespace {

// A command: its name, the argument count it takes and its usage line.
struct CommandSpec
{
    const char* name;
    int minArgs;
    int maxArgs;
    const char* usage;
};

constexpr CommandSpec kCommands[] = {
    {"in", 2, 2, "in N 0|1            set input N low or high"},
    {"pulse", 1, 2, "pulse N [MS]        input N high for MS ms (default 300): a trigger"},
    {"inputs", 1, 1, "inputs WORD         set the whole input word (decimal or 0x hex)"},
    {"auto", 2, 3, "auto N SECONDS [MS] pulse input N every SECONDS seconds; SECONDS 0 stops"},
    {"mute", 1, 1, "mute 0|1            1: stop answering the host; 0: answer again"},
    {"garbage", 1, 1, "garbage N           send N random bytes (at most 4096) before the next answer"},
    {"badsum", 0, 1, "badsum [N]          corrupt the sum of the next N answers (default 1)"},
    {"status", 0, 0, "status              outputs, inputs and frames seen"},
    {"quit", 0, 0, "quit                end the simulator"},
};

} // namespace

QString BoardSimulator::usageText()
{
    QString text = QStringLiteral("Commands (one per line, on stdin or the control socket; inputs 0..15):\n");
    for (const CommandSpec& spec : kCommands)
        text += QStringLiteral("  %1\n").arg(QLatin1String(spec.usage));
    return text + QStringLiteral("Replies are one line: \"ok ...\" or \"error ...\".\n");
}

QString BoardSimulator::execute(const QString& line)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QString();
    const QString cmd = words.first().toLower();
    const QStringList args = words.mid(1);
    const CommandSpec* spec = nullptr;
    for (const CommandSpec& candidate : kCommands) {
        if (cmd == QLatin1String(candidate.name))
            spec = &candidate;
    }
    if (!spec)
        return QStringLiteral("error: unknown command: %1").arg(cmd);
    const QString usage = QStringLiteral("error: usage: %1").arg(QString::fromLatin1(spec->usage).section(QLatin1String("  "), 0, 0));
    if (args.size() < spec->minArgs || args.size() > spec->maxArgs)
        return usage;

    int input = 0;
    int value = 0;
    int ms = kDefaultPulseMs;
    const bool inputOk = !args.isEmpty() && parseInput(args[0], &input);
    if (cmd == QLatin1String("in")) {
        if (!inputOk || !parseNumber(args[1], &value))
            return usage;
        setInput(input, value != 0);
    } else if (cmd == QLatin1String("pulse")) {
        if (!inputOk || (args.size() > 1 && (!parseNumber(args[1], &ms) || ms < 1 || ms > kMaxPulseMs)))
            return usage;
        pulse(input, ms);
    } else if (cmd == QLatin1String("inputs")) {
        if (!parseNumber(args[0], &value) || value < 0 || value > 0xFFFF)
            return usage;
        setInputs(quint16(value));
    } else if (cmd == QLatin1String("auto")) {
        bool ok = false;
        const double seconds = args[1].toDouble(&ok);
        if (!inputOk || !ok || seconds < 0 || seconds > 3600
            || (args.size() > 2 && (!parseNumber(args[2], &ms) || ms < 1 || ms > kMaxPulseMs)))
            return usage;
        m_autoInput = input;
        m_autoPulseMs = ms;
        if (seconds > 0)
            m_autoTimer->start(int(seconds * 1000));
        else
            m_autoTimer->stop();
    } else if (cmd == QLatin1String("mute")) {
        if (!parseNumber(args[0], &value))
            return usage;
        m_muted = value != 0;
    } else if (cmd == QLatin1String("garbage")) {
        if (!parseNumber(args[0], &value) || value < 0 || value > kMaxGarbage)
            return usage;
        m_garbagePending = std::min(m_garbagePending + value, kMaxGarbage);
    } else if (cmd == QLatin1String("badsum")) {
        value = 1;
        if (!args.isEmpty() && (!parseNumber(args[0], &value) || value < 0))
            return usage;
        m_badSumPending += value;
    } else if (cmd == QLatin1String("status")) {
        return QStringLiteral("ok outputs 0x%1 inputs 0x%2 frames %3 bad %4")
            .arg(m_outputs, 4, 16, QLatin1Char('0'))
            .arg(m_inputs, 4, 16, QLatin1Char('0'))
            .arg(m_frames)
            .arg(m_decoder.badSums());
    } else if (cmd == QLatin1String("quit")) {
        emit quitRequested();
    }
    return QStringLiteral("ok");
}

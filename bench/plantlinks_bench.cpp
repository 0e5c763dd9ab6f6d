// The plant links' hot paths beside plain library code doing the same in the same run:
//  1. Modbus: reads of the 5 registers per second over one connection (libmodbus client)
//     against our server and against a libmodbus server answering the same registers, with
//     the GUI thread idle and while a detection every 100 ms keeps it and 8 check threads busy.
//  2. Screen share: the GUI thread's cost per frame (our grab into the cache) and the whole
//     frame (grab, fit, I420, copy under the semaphore) against grab + cv::cvtColor + memcpy.
//  3. The 100 ms detection-cycle timer's lateness with the share running and without.
// Rounds alternate ours and the reference; medians of the rounds; failed requests counted
// apart. "--single-core" pins the process to one CPU first; "--modbus" runs only the first part.
// "--modbus-port N" runs only the first part against the real program's server on 127.0.0.1:N
// (started and kept detecting by bench/modbus_detecting.sh). Loopback only; stops by itself.

#include "cnt_semaphore.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "modbusserver.h"
#include "videoshareinfo.h"
#include "videothread.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QPainter>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <modbus.h>
#include <opencv2/imgproc.hpp>
#include <sched.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <thread>
#include <vector>

namespace {

constexpr int kRounds = 7;
constexpr int kModbusRequests = 2000;
// Against the running program: rounds of about a second and a half, each over a trigger or two.
constexpr int kExternalRequests = 20000;
constexpr int kFrames = 15;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kCycleMs = 100;
constexpr int kCycleTicks = 30;
// A detection as the GUI thread and the check threads see it: busy this long every kCycleMs.
constexpr int kGuiBusyMs = 60;
constexpr int kCheckBusyMs = 25;
constexpr int kCheckThreads = 8;

void spin(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
    }
}

// While it lives, a detection every 100 ms: the owner's thread and 8 check threads busy.
class Detecting
{
public:
    explicit Detecting(QObject* inOwner)
    {
        QMetaObject::invokeMethod(inOwner, [this] {
            m_timer = new QTimer;
            QObject::connect(m_timer, &QTimer::timeout, [] { spin(kGuiBusyMs); });
            m_timer->start(kCycleMs);
        }, Qt::BlockingQueuedConnection);
        m_owner = inOwner;
        for (int i = 0; i < kCheckThreads; ++i)
            m_checks.emplace_back([this] {
                while (!m_stop) {
                    spin(kCheckBusyMs);
                    QThread::msleep(kCycleMs - kCheckBusyMs);
                }
            });
    }
    ~Detecting()
    {
        m_stop = true;
        for (std::thread& t : m_checks)
            t.join();
        QMetaObject::invokeMethod(m_owner, [this] { delete m_timer; }, Qt::BlockingQueuedConnection);
    }

private:
    QObject* m_owner = nullptr;
    QTimer* m_timer = nullptr;
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_checks;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Requests per second of one libmodbus client connection; failures counted in errors,
// the slowest request in worstMs.
double modbusRate(quint16 port, int& errors, double* worstMs = nullptr, int requests = kModbusRequests)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    if (!ctx || modbus_connect(ctx) != 0) {
        errors += requests;
        if (ctx)
            modbus_free(ctx);
        return 0;
    }
    uint16_t regs[5];
    QElapsedTimer timer;
    timer.start();
    qint64 last = 0;
    for (int i = 0; i < requests; ++i) {
        if (modbus_read_registers(ctx, 0, 5, regs) != 5)
            ++errors;
        const qint64 now = timer.nsecsElapsed();
        if (worstMs)
            *worstMs = std::max(*worstMs, (now - last) / 1e6);
        last = now;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    modbus_close(ctx);
    modbus_free(ctx);
    return requests / seconds;
}

// The reference: libmodbus's own server with the same five registers, one connection.
class LibmodbusServer
{
public:
    LibmodbusServer() : m_port(freePort())
    {
        m_ctx = modbus_new_tcp("127.0.0.1", m_port);
        m_map = modbus_mapping_new(0, 0, 5, 0);
        m_map->tab_registers[0] = 1;
        m_listen = modbus_tcp_listen(m_ctx, 1);
    }
    ~LibmodbusServer()
    {
        modbus_mapping_free(m_map);
        modbus_free(m_ctx);
    }
    quint16 port() const { return m_port; }
    // Serves one client connection until it closes.
    std::thread serveOne()
    {
        return std::thread([this] {
            int socket = m_listen;
            if (modbus_tcp_accept(m_ctx, &socket) < 0)
                return;
            uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
            for (;;) {
                const int rc = modbus_receive(m_ctx, query);
                if (rc > 0)
                    modbus_reply(m_ctx, query, rc, m_map);
                else if (rc == -1)
                    break;
            }
            modbus_close(m_ctx);
        });
    }

private:
    quint16 m_port;
    modbus_t* m_ctx = nullptr;
    modbus_mapping_t* m_map = nullptr;
    int m_listen = -1;
};

// A thread with an event loop that owns our server, as the GUI thread does in the program.
void modbusBench()
{
    QThread owner;
    QObject inOwner;   // a context that lives in the owner thread
    inOwner.moveToThread(&owner);
    owner.start();
    std::unique_ptr<ModbusServer> ours;
    QMetaObject::invokeMethod(
        &inOwner, [&] { ours = std::make_unique<ModbusServer>(QHostAddress::LocalHost, 0); },
        Qt::BlockingQueuedConnection);
    LibmodbusServer reference;
    for (const bool detecting : {false, true}) {
        std::unique_ptr<Detecting> load;
        if (detecting)
            load = std::make_unique<Detecting>(&inOwner);
        std::vector<double> oursRates, refRates;
        int oursErrors = 0, refErrors = 0;
        for (int round = 0; round < kRounds; ++round) {
            oursRates.push_back(modbusRate(ours->serverPort(), oursErrors));
            std::thread serving = reference.serveOne();
            refRates.push_back(modbusRate(reference.port(), refErrors));
            serving.join();
        }
        const double o = median(oursRates), r = median(refRates);
        std::printf("modbus read of 5 registers, one connection, %d rounds of %d requests, %s:\n", kRounds,
                    kModbusRequests, detecting ? "while detecting (GUI thread busy 60 of 100 ms)" : "GUI thread idle");
        std::printf("  ours      %9.0f req/s (errors %d)\n", o, oursErrors);
        std::printf("  libmodbus %9.0f req/s (errors %d)\n", r, refErrors);
        std::printf("  ratio ours / libmodbus = %.2f (above 1: faster)\n", r > 0 ? o / r : 0);
    }
    QMetaObject::invokeMethod(&inOwner, [&] { ours.reset(); }, Qt::BlockingQueuedConnection);
    owner.quit();
    owner.wait();
}

// The real program's server (kept detecting by the caller) beside the reference in this process.
void externalModbusBench(quint16 port)
{
    LibmodbusServer reference;
    std::vector<double> oursRates, refRates, oursWorst, refWorst;
    int oursErrors = 0, refErrors = 0;
    for (int round = 0; round < kRounds; ++round) {
        double worst = 0;
        oursRates.push_back(modbusRate(port, oursErrors, &worst, kExternalRequests));
        oursWorst.push_back(worst);
        worst = 0;
        std::thread serving = reference.serveOne();
        refRates.push_back(modbusRate(reference.port(), refErrors, &worst, kExternalRequests));
        serving.join();
        refWorst.push_back(worst);
    }
    const double o = median(oursRates), r = median(refRates);
    std::printf("modbus read of 5 registers, one connection, %d rounds of %d requests, the program on port %u:\n",
                kRounds, kExternalRequests, unsigned(port));
    std::printf("  program   %9.0f req/s (errors %d), slowest request per round median %.1f ms, max %.1f ms\n", o,
                oursErrors, median(oursWorst), *std::max_element(oursWorst.begin(), oursWorst.end()));
    std::printf("  libmodbus %9.0f req/s (errors %d), slowest request per round median %.1f ms, max %.1f ms\n", r,
                refErrors, median(refWorst), *std::max_element(refWorst.begin(), refWorst.end()));
    std::printf("  ratio program / libmodbus = %.2f (above 1: faster)\n", r > 0 ? o / r : 0);
}

// A busy main window: text, gradients and lines over the whole screen.
class BusyWindow : public MainWindowBase
{
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QLinearGradient gradient(0, 0, width(), height());
        gradient.setColorAt(0, Qt::darkGray);
        gradient.setColorAt(1, Qt::darkBlue);
        painter.fillRect(rect(), gradient);
        painter.setPen(Qt::green);
        for (int y = 20; y < height(); y += 40)
            painter.drawText(10, y, QStringLiteral("NG 1 / Total %1   camera view   FPS 12").arg(y));
        for (int x = 0; x < width(); x += 60)
            painter.drawLine(x, 0, width() - x, height());
    }
};

struct Share
{
    VideoShareInfo info;
    Share()
    {
        info.width = kWidth;
        info.height = kHeight;
        info.size = kWidth * kHeight * 3 / 2;
        info.shmid = shmget(IPC_PRIVATE, size_t(info.size), IPC_CREAT | 0600);
        info.address = shmat(info.shmid, nullptr, 0);
        info.semaphore = QSharedPointer<CNT_Semaphore>::create(IPC_PRIVATE);
        info.semid = info.semaphore->create_sem(1);
    }
    ~Share()
    {
        shmdt(info.address);
        shmctl(info.shmid, IPC_RMID, nullptr);
        info.semaphore->remove();
    }
};

double msPerFrame(const std::function<void()>& frame)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kFrames; ++i)
        frame();
    return timer.nsecsElapsed() / 1e6 / kFrames;
}

void videoBench(BusyWindow& window)
{
    Share share;
    std::vector<unsigned char> plainTarget(size_t(share.info.size));
    const std::atomic<int> allowed{1};
    VideoThread video({{0, share.info}}, &allowed);
    video.idestory();   // stopped at once: its grab is called here, nothing else runs
    QImage last;
    auto oursGui = [&] { video.updateData_main2cache(); };
    auto oursWhole = [&] {
        last = VideoThread::fitFrame(window.grab().toImage(), share.info.width, share.info.height);
        video.UpdateMemory(0, last.bits());
    };
    // What a plain implementation does on the GUI thread for the same frame.
    auto plain = [&] {
        const QImage picture = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const cv::Mat bgra(picture.height(), picture.width(), CV_8UC4, const_cast<uchar*>(picture.constBits()),
                           size_t(picture.bytesPerLine()));
        cv::Mat i420;
        cv::cvtColor(bgra, i420, cv::COLOR_BGRA2YUV_I420);
        std::memcpy(plainTarget.data(), i420.data, plainTarget.size());
    };
    std::vector<double> gui, whole, reference;
    for (int round = 0; round < kRounds; ++round) {
        gui.push_back(msPerFrame(oursGui));
        reference.push_back(msPerFrame(plain));
        whole.push_back(msPerFrame(oursWhole));
    }
    std::printf("screen share at %dx%d, %d rounds of %d frames (ms per frame, medians):\n", kWidth, kHeight,
                kRounds, kFrames);
    std::printf("  ours, GUI thread (grab)                     %6.2f\n", median(gui));
    std::printf("  ours, whole frame (grab, fit, I420, copy)   %6.2f\n", median(whole));
    std::printf("  plain grab + cv::cvtColor + memcpy          %6.2f\n", median(reference));
    std::printf("  ratio ours GUI thread / plain = %.2f, ours whole / plain = %.2f\n",
                median(gui) / median(reference), median(whole) / median(reference));
}

// Lateness of a precise 100 ms timer in this (GUI) thread, median and largest, in ms.
std::pair<double, double> cycleLateness()
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QElapsedTimer clock;
    std::vector<double> late;
    QEventLoop loop;
    qint64 expected = 0;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        late.push_back(std::max<qint64>(0, clock.elapsed() - expected));
        expected = clock.elapsed() + kCycleMs;
        if (int(late.size()) >= kCycleTicks)
            loop.quit();
    });
    clock.start();
    expected = kCycleMs;
    timer.start(kCycleMs);
    loop.exec();
    return {median(late), *std::max_element(late.begin(), late.end())};
}

void jitterBench()
{
    Share share;
    std::atomic<int> allowed{1};
    const auto off1 = cycleLateness();
    std::pair<double, double> on;
    {
        VideoThread video({{0, share.info}}, &allowed);
        on = cycleLateness();
        std::printf("  (share wrote %d frames, skipped %d meanwhile)\n", video.framesWritten(), video.framesSkipped());
    }
    const auto off2 = cycleLateness();
    std::printf("100 ms cycle timer lateness over %d ticks (median / largest, ms):\n", kCycleTicks);
    std::printf("  share off %.0f / %.0f, share on %.0f / %.0f, share off again %.0f / %.0f\n", off1.first,
                off1.second, on.first, on.second, off2.first, off2.second);
}

} // namespace

int main(int argc, char** argv)
{
    bool singleCore = false, modbusOnly = false;
    int externalPort = 0;
    for (int i = 1; i < argc; ++i) {
        singleCore = singleCore || std::strcmp(argv[i], "--single-core") == 0;
        modbusOnly = modbusOnly || std::strcmp(argv[i], "--modbus") == 0;
        if (std::strcmp(argv[i], "--modbus-port") == 0 && i + 1 < argc)
            externalPort = std::atoi(argv[++i]);
    }
    if (singleCore) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        sched_setaffinity(0, sizeof(one), &one);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules("*.info=false\n*.debug=false\n*.warning=false");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("plant links bench, %s\n", singleCore ? "single core" : "all cores");
    if (externalPort > 0 && externalPort < 65536) {
        externalModbusBench(quint16(externalPort));
        return 0;
    }

    BusyWindow window;
    window.resize(kWidth, kHeight);
    gpWin = &window;
    modbusBench();
    if (!modbusOnly) {
        videoBench(window);
        jitterBench();
    }
    gpWin = nullptr;
    return 0;
}

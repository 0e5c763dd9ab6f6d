#include "apitestkit.h"
#include "globals.h"
#include "modbusserver.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <modbus.h>
#include <thread>

namespace {

// Runs a blocking client in its own thread while this (the GUI) thread serves
// the server's calls into the main window.
template <typename F>
void inClientThread(F&& client)
{
    std::atomic<bool> done{false};
    std::thread worker([&] {
        client();
        done = true;
    });
    EXPECT_TRUE(waitUntil([&] { return done.load(); }, 20000));
    worker.join();
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

class Modbus : public AppDirTest
{
protected:
    void SetUp() override
    {
        std::fill(std::begin(gAllNum), std::end(gAllNum), 0);
        std::fill(std::begin(gFailNum), std::end(gFailNum), 0);
        gSyncNGNum = 0;
        window.runState = 1;
        window.resultState = 1;
        gpWin = &window;
        server = std::make_unique<ModbusServer>(QHostAddress::LocalHost, 0);
        ASSERT_TRUE(server->isRunning());
    }
    void TearDown() override
    {
        server.reset();
        gpWin = nullptr;
    }

    // One raw exchange: writes the bytes (in pieces when given) and reads what comes back.
    QByteArray exchange(const QList<QByteArray>& pieces, int expectBytes)
    {
        QByteArray got;
        inClientThread([&] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, server->serverPort());
            if (!socket.waitForConnected(3000))
                return;
            for (const QByteArray& piece : pieces) {
                socket.write(piece);
                socket.waitForBytesWritten(1000);
                QThread::msleep(30);
            }
            while (got.size() < expectBytes && socket.waitForReadyRead(expectBytes ? 3000 : 300))
                got += socket.readAll();
        });
        return got;
    }

    StandInWindow window;
    std::unique_ptr<ModbusServer> server;
};

} // namespace

TEST_F(Modbus, LibmodbusClientReadsStateAndCountsAndResets)
{
    gAllNum[0] = 7;
    gAllNum[3] = 12;
    gFailNum[3] = 4;
    gSyncNGNum = 5;
    window.resultState = 2;   // NG of the second detection of the cycle
    window.curDetectIndex = 1;
    uint16_t regs[6] = {};
    int readRc = -1, resetRc = -1, badRc = 0, badErrno = 0;
    uint16_t afterReset[4] = {};
    inClientThread([&] {
        modbus_t* ctx = modbus_new_tcp("127.0.0.1", server->serverPort());
        if (!ctx || modbus_connect(ctx) != 0)
            return;
        readRc = modbus_read_registers(ctx, 0, 6, regs);
        const uint16_t one = 1;
        resetRc = modbus_write_registers(ctx, 4, 1, &one);
        modbus_read_registers(ctx, 0, 4, afterReset);
        // Function 6 is not served: the client must not believe it wrote.
        badRc = modbus_write_register(ctx, 4, 1);
        badErrno = errno;
        modbus_close(ctx);
        modbus_free(ctx);
    });
    ASSERT_EQ(readRc, 6);
    EXPECT_EQ(regs[0], 1);
    EXPECT_EQ(regs[1], 2);
    EXPECT_EQ(regs[2], 12);
    EXPECT_EQ(regs[3], 5);
    EXPECT_EQ(regs[4], 0);
    EXPECT_EQ(regs[5], 0);
    EXPECT_EQ(resetRc, 1);
    EXPECT_EQ(afterReset[2], 0);
    EXPECT_EQ(afterReset[3], 5);   // the NG count over all cameras stays
    EXPECT_EQ(gFailNum[3], 0);
    EXPECT_EQ(gSyncNGNum, 5);
    EXPECT_EQ(window.countWrites, 1);
    EXPECT_EQ(badRc, -1);
    EXPECT_EQ(badErrno, EMBXILFUN);
}

TEST_F(Modbus, RegisterValuesFollowRunAndResultState)
{
    QList<unsigned short> regs = server->getData();
    EXPECT_EQ(regs, (QList<unsigned short>{1, 0, 0, 0}));
    window.runState = 3;
    window.resultState = 2;
    window.curDetectIndex = 0;
    gAllNum[1] = 0x12345;   // the low 16 bits go out
    regs = server->getData();
    EXPECT_EQ(regs, (QList<unsigned short>{0, 1, 0x2345, 0}));
}

TEST_F(Modbus, ExactBytesOfReadsWritesAndExceptions)
{
    gSyncNGNum = 0x0102;
    int resets = 0;
    const ModbusServer::ReadRegisters read = [](QList<unsigned short>& v) {
        v = {1, 0, 9, quint16(gSyncNGNum)};
        return true;
    };
    const ModbusServer::ResetCounters reset = [&] { ++resets; return true; };
    auto ask = [&](const char* request) { return ModbusServer::answer(hex(request), read, reset).toHex(); };

    // 5 registers from 0: byte 5 = 0d, byte count 0a, register 4 reads 0.
    EXPECT_EQ(ask("000100000006ff0300000005"), QByteArray("00010000000dff030a00010000000901020000"));
    // 2 from 3: register 3 and 0000.
    EXPECT_EQ(ask("000200000006010300030002"), QByteArray("00020000000701030401020000"));
    // 0 registers: the 9-byte answer.
    EXPECT_EQ(ask("000300000006010300000000"), QByteArray("000300000003010300"));
    // Reset written as 1: the first 12 bytes with length 6.
    EXPECT_EQ(ask("00040000000901100004000102" "0001"), QByteArray("000400000006011000040001"));
    EXPECT_EQ(resets, 1);
    // Writing 0 changes nothing and is honestly acknowledged; 2 is an illegal value.
    EXPECT_EQ(ask("00050000000901100004000102" "0000"), QByteArray("000500000006011000040001"));
    EXPECT_EQ(ask("00060000000901100004000102" "0002"), QByteArray("000600000003019003"));
    // A write that misses the reset register: illegal address.
    EXPECT_EQ(ask("00070000000901100005000102" "0001"), QByteArray("000700000003019002"));
    EXPECT_EQ(ask("00080000000901100000000102" "0001"), QByteArray("000800000003019002"));
    // Registers 0..4 with 1 at register 4 still reset.
    EXPECT_EQ(ask("000900000011011000000005" "0a" "00000000000000000001"), QByteArray("000900000006011000000005"));
    EXPECT_EQ(resets, 2);
    // Function 6 and unknown functions: illegal function.
    EXPECT_EQ(ask("000a00000006010600040001"), QByteArray("000a00000003018601"));
    EXPECT_EQ(ask("000b00000006012b0e010000"), QByteArray("000b0000000301ab01"));
    // Bounds: too many registers, beyond the address space, byte count not matching, short frames.
    EXPECT_EQ(ask("000c0000000601030000007e"), QByteArray("000c00000003018303"));
    EXPECT_EQ(ask("000d000000060103ffff0002"), QByteArray("000d00000003018302"));
    EXPECT_EQ(ask("000e0000000901100004000104" "0001"), QByteArray("000e00000003019003"));
    EXPECT_EQ(ask("000f00000004010300000000"), QByteArray());   // length says 10 bytes, 12 given
    EXPECT_EQ(ask("0010000000040103" "0000"), QByteArray("001000000003018303"));
    EXPECT_EQ(resets, 2);
    // The server is busy (the GUI thread did not answer in time): device busy, no reset claimed.
    const ModbusServer::ResetCounters stuck = [] { return false; };
    EXPECT_EQ(ModbusServer::answer(hex("00110000000901100004000102" "0001"), read, stuck).toHex(),
              QByteArray("001100000003019006"));
}

TEST_F(Modbus, FramesAreCutByTheirLengthWhateverArrivesTogether)
{
    gAllNum[0] = 3;
    const QByteArray read1 = hex("000100000006010300020001");
    const QByteArray read2 = hex("000200000006010300020001");
    const QByteArray answer1 = hex("00010000000501030200" "03");
    const QByteArray answer2 = hex("00020000000501030200" "03");
    // One request split in three reads.
    EXPECT_EQ(exchange({read1.left(3), read1.mid(3, 6), read1.mid(9)}, answer1.size()), answer1);
    // Two requests and the start of a third in one read, the rest later.
    EXPECT_EQ(exchange({read1 + read2 + read1.left(5), read1.mid(5)}, 3 * answer1.size()),
              answer1 + answer2 + answer1);
    // A length over 260 bytes closes the connection without an answer; the server goes on.
    EXPECT_EQ(exchange({hex("0001000001ff0103")}, 0), QByteArray());
    // A client that leaves in the middle of a frame does not disturb the next one.
    EXPECT_EQ(exchange({read1.left(7)}, 0), QByteArray());
    EXPECT_EQ(exchange({read2}, answer2.size()), answer2);
}

TEST_F(Modbus, TakenPortIsLoggedAndRetriedAndShutDownIsBounded)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    const quint16 port = holder.serverPort();
    ModbusServer second(QHostAddress::LocalHost, port);
    EXPECT_FALSE(second.isRunning());
    holder.close();
    EXPECT_TRUE(waitUntil([&] { return second.isRunning(); }, ModbusServer::kListenRetryMs + 3000));
    EXPECT_EQ(second.serverPort(), port);

    // A client waiting for its registers while the server stops does not hold the stop.
    std::atomic<bool> answered{false};
    std::thread client([&] {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(3000)) {
            socket.write(hex("000100000006010300000004"));
            socket.waitForBytesWritten(1000);
            answered = socket.waitForReadyRead(3000);
        }
    });
    QThread::msleep(200);   // the request is now waiting for this thread
    QElapsedTimer timer;
    timer.start();
    second.deinitialize();
    EXPECT_LT(timer.elapsed(), ModbusServer::kStopWaitMs);
    EXPECT_FALSE(second.isRunning());
    client.join();
}

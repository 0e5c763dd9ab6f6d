// The Modbus frame reader: frames cut from a byte stream and answered. The stream fed
// whole and cut at a point chosen by the first input byte must give the same answers,
// and every answer must be a well-formed reply to its own request.
#include "fuzzsupport.h"
#include "globals.h"
#include "modbusserver.h"

#include <QCoreApplication>
#include <QList>

namespace {

ModbusServer* server = nullptr;

struct Outcome
{
    QList<QByteArray> answers;
    bool broken = false;
    bool operator==(const Outcome& o) const { return answers == o.answers && broken == o.broken; }
};

void checkAnswer(const QByteArray& request, const QByteArray& answer)
{
    if (answer.size() < ModbusServer::kMbapBytes + 2 || answer.size() > ModbusServer::kMaxAduBytes)
        FuzzSupport::fail("an answer of impossible size");
    const int length = (quint8(answer.at(4)) << 8) | quint8(answer.at(5));
    if (length + 6 != answer.size())
        FuzzSupport::fail("an answer whose length field is not its size");
    if (answer.left(4) != request.left(4) || answer.at(6) != request.at(6))
        FuzzSupport::fail("an answer that does not echo its transaction, protocol and unit");
    if (quint8(answer.at(7)) != quint8(request.at(7)) && quint8(answer.at(7)) != (quint8(request.at(7)) | 0x80))
        FuzzSupport::fail("an answer for another function");
}

Outcome read(const QList<QByteArray>& pieces)
{
    // The same registers for both passes: a reset in the frames clears them.
    gAllNum[0] = 0x1234;
    server->publishRegisters();
    Outcome out;
    QByteArray buffer;
    for (const QByteArray& piece : pieces) {
        buffer.append(piece);
        for (;;) {
            QByteArray frame;
            const int taken = ModbusServer::takeFrame(buffer, frame);
            if (taken == 0)
                break;
            const QByteArray request = frame;
            if (taken < 0 || !server->analysis(frame)) {
                out.broken = true;
                return out;
            }
            checkAnswer(request, frame);
            out.answers << frame;
        }
    }
    return out;
}

} // namespace

extern "C" void fuzzSetUp()
{
    gpWin = nullptr;
    gSyncNGNum = 7;
    server = new ModbusServer(QHostAddress::LocalHost, 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzSupport::Split input = FuzzSupport::split(data, size);
    if (!(read({input.stream}) == read({input.head(), input.tail()})))
        FuzzSupport::fail("a cut stream was answered differently from the whole one");
    QCoreApplication::sendPostedEvents();   // the requests for fresh registers, answered
    return 0;
}

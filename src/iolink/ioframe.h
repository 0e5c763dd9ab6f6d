#pragma once

#include <QByteArray>
#include <QtGlobal>

// The serial protocol of the IO board, both directions. The host (IOThread)
// and the board (tools/ioboard-sim) both use this file, so the layout lives
// here only.
//
// Host -> board, 6 bytes, one frame every 5 ms:
//   [0] 0x5F   start
//   [1] command: 0x01 = exchange (apply the output word, answer the inputs)
//   [2] output word, bits 0-7   (bit n = output n, 1 = energised)
//   [3] output word, bits 8-15
//   [4] sum: bytes 0-3 added modulo 256
//   [5] 0xF5   end
//
// Board -> host, 8 bytes, one answer per host frame:
//   [0] 0x5F   start
//   [1] command answered (0x01)
//   [2] input word, bits 0-7    (bit n = input n, 1 = active)
//   [3] input word, bits 8-15
//   [4] output word as the board applied it, bits 0-7
//   [5] output word as the board applied it, bits 8-15
//   [6] sum: bytes 0-5 added modulo 256
//   [7] 0xF5   end
//
// Words travel low byte first. The output word is the line state: any
// inversion of an output (its initial state) is applied before encoding.
// A receiver finds frames by start byte, end byte and sum; anything else on
// the line is skipped byte by byte, so a frame that follows garbage is found.
namespace IOFrame {

constexpr quint8 kStart = 0x5F;
constexpr quint8 kEnd = 0xF5;
constexpr quint8 kCmdExchange = 0x01;
constexpr quint8 kCmdNone = 0x00;  // what a frame of the wrong size decodes to
constexpr int kHostFrameSize = 6;
constexpr int kBoardFrameSize = 8;
constexpr int kWordBits = 16;

struct HostFrame
{
    quint8 command = kCmdExchange;
    quint16 outputs = 0;
};

struct BoardFrame
{
    quint8 command = kCmdExchange;
    quint16 inputs = 0;
    quint16 outputs = 0;
};

// Bytes added modulo 256.
quint8 sum8(const char* data, int count);

QByteArray encodeHost(const HostFrame& frame);
QByteArray encodeBoard(const BoardFrame& frame);

// Decode one complete, already checked frame (as IOFrameDecoder hands it out).
HostFrame decodeHost(const QByteArray& frame);
BoardFrame decodeBoard(const QByteArray& frame);

} // namespace IOFrame

// Incremental frame finder for one frame size: any split of the byte stream
// gives the same frames. Frames with a bad sum and stray bytes are dropped
// and counted.
class IOFrameDecoder
{
public:
    explicit IOFrameDecoder(int frameSize);

    void feed(const char* data, int size);
    void feed(const QByteArray& bytes) { feed(bytes.constData(), bytes.size()); }
    // Takes the next valid frame; false when no complete frame is buffered.
    bool takeFrame(QByteArray* frame);
    // Forgets buffered bytes (after a reopen); the counters stay.
    void clear();

    quint64 badSums() const { return m_badSums; }       // start and end right, sum wrong
    quint64 skippedBytes() const { return m_skipped; }  // bytes not part of any valid frame

private:
    void dropFront(int count);

    int m_frameSize;
    QByteArray m_buffer;
    int m_pos = 0;  // first unexamined byte of m_buffer
    quint64 m_badSums = 0;
    quint64 m_skipped = 0;
};

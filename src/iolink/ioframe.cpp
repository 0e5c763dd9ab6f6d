#include "ioframe.h"

#include <initializer_list>

namespace IOFrame {

quint8 sum8(const char* data, int count)
{
    quint8 sum = 0;
    for (int i = 0; i < count; ++i)
        sum = quint8(sum + quint8(data[i]));
    return sum;
}

namespace {

quint16 wordAt(const QByteArray& frame, int index)
{
    return quint16(quint8(frame[index]) | (quint8(frame[index + 1]) << 8));
}

// Start byte, command, the words low byte first, then the sum over all of it and the end byte.
QByteArray build(int size, quint8 command, std::initializer_list<quint16> words)
{
    QByteArray frame(size, '\0');
    frame[0] = char(kStart);
    frame[1] = char(command);
    int at = 2;
    for (quint16 word : words) {
        frame[at++] = char(word & 0xFF);
        frame[at++] = char(word >> 8);
    }
    frame[size - 2] = char(sum8(frame.constData(), size - 2));
    frame[size - 1] = char(kEnd);
    return frame;
}

} // namespace

QByteArray encodeHost(const HostFrame& frame)
{
    return build(kHostFrameSize, frame.command, {frame.outputs});
}

QByteArray encodeBoard(const BoardFrame& frame)
{
    return build(kBoardFrameSize, frame.command, {frame.inputs, frame.outputs});
}

HostFrame decodeHost(const QByteArray& frame)
{
    HostFrame f;
    if (frame.size() != kHostFrameSize) {
        f.command = kCmdNone;  // never mistaken for an exchange
        return f;
    }
    f.command = quint8(frame[1]);
    f.outputs = wordAt(frame, 2);
    return f;
}

BoardFrame decodeBoard(const QByteArray& frame)
{
    BoardFrame f;
    if (frame.size() != kBoardFrameSize) {
        f.command = kCmdNone;  // never mistaken for an exchange
        return f;
    }
    f.command = quint8(frame[1]);
    f.inputs = wordAt(frame, 2);
    f.outputs = wordAt(frame, 4);
    return f;
}

} // namespace IOFrame

namespace {
constexpr int kCompactAt = 4096;
}

IOFrameDecoder::IOFrameDecoder(int frameSize)
    : m_frameSize(frameSize)
{
}

void IOFrameDecoder::feed(const char* data, int size)
{
    if (size > 0)
        m_buffer.append(data, size);
}

void IOFrameDecoder::dropFront(int count)
{
    m_pos += count;
    m_skipped += quint64(count);
}

bool IOFrameDecoder::takeFrame(QByteArray* frame)
{
    bool found = false;
    while (!found) {
        const int start = m_buffer.indexOf(char(IOFrame::kStart), m_pos);
        if (start < 0) {
            dropFront(m_buffer.size() - m_pos);
            break;
        }
        dropFront(start - m_pos);
        if (m_buffer.size() - m_pos < m_frameSize)
            break;  // wait for the rest
        const char* candidate = m_buffer.constData() + m_pos;
        const bool endOk = quint8(candidate[m_frameSize - 1]) == IOFrame::kEnd;
        const bool sumOk = quint8(candidate[m_frameSize - 2]) == IOFrame::sum8(candidate, m_frameSize - 2);
        if (endOk && sumOk) {
            *frame = QByteArray(candidate, m_frameSize);
            m_pos += m_frameSize;
            found = true;
        } else {
            if (endOk)
                ++m_badSums;
            // Only this start byte is discarded: a real frame may begin inside the bad one.
            dropFront(1);
        }
    }
    // Once nothing more can be taken, keep only the unexamined tail (shorter than a frame).
    if (m_pos > 0 && (!found || m_pos >= kCompactAt)) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    return found;
}

void IOFrameDecoder::clear()
{
    m_buffer.clear();
    m_pos = 0;
}

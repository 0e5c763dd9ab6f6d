#include "ioframe.h"

#include <QList>

#include <gtest/gtest.h>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QList<QByteArray> drain(IOFrameDecoder& decoder)
{
    QList<QByteArray> frames;
    QByteArray frame;
    while (decoder.takeFrame(&frame))
        frames.append(frame);
    return frames;
}

} // namespace

TEST(IOFrame, GoldenBytesBothDirections)
{
    // 0x5F + 0x01 + 0x05 + 0x01 = 0x66
    EXPECT_EQ(IOFrame::encodeHost({IOFrame::kCmdExchange, 0x0105}), bytes({0x5F, 0x01, 0x05, 0x01, 0x66, 0xF5}));
    // 0x5F + 0x01 + 0x03 + 0x00 + 0x05 + 0x01 = 0x69
    EXPECT_EQ(IOFrame::encodeBoard({IOFrame::kCmdExchange, 0x0003, 0x0105}),
              bytes({0x5F, 0x01, 0x03, 0x00, 0x05, 0x01, 0x69, 0xF5}));
    // The sum wraps modulo 256.
    EXPECT_EQ(IOFrame::encodeHost({IOFrame::kCmdExchange, 0xFFFF}), bytes({0x5F, 0x01, 0xFF, 0xFF, 0x5E, 0xF5}));

    const IOFrame::BoardFrame board = IOFrame::decodeBoard(bytes({0x5F, 0x01, 0x80, 0x01, 0x00, 0x80, 0x61, 0xF5}));
    EXPECT_EQ(board.inputs, 0x0180);
    EXPECT_EQ(board.outputs, 0x8000);
    EXPECT_EQ(IOFrame::decodeHost(IOFrame::encodeHost({IOFrame::kCmdExchange, 0xA55A})).outputs, 0xA55A);
    // A frame of the wrong size is no exchange: nobody applies its zero words.
    EXPECT_EQ(IOFrame::decodeHost(bytes({0x5F, 0x01, 0xF5})).command, IOFrame::kCmdNone);
    EXPECT_EQ(IOFrame::decodeBoard(IOFrame::encodeHost({IOFrame::kCmdExchange, 1})).command, IOFrame::kCmdNone);
}

TEST(IOFrame, AnySplitOfTheStreamGivesTheSameFrames)
{
    QByteArray stream;
    for (quint16 w : {0x0000, 0x5FF5, 0xF55F, 0x1234})
        stream += IOFrame::encodeBoard({IOFrame::kCmdExchange, w, quint16(~w)});
    for (int chunk : {1, 3, 7, 8, 64}) {
        IOFrameDecoder decoder(IOFrame::kBoardFrameSize);
        QList<QByteArray> frames;
        for (int i = 0; i < stream.size(); i += chunk) {
            decoder.feed(stream.mid(i, chunk));
            frames += drain(decoder);
        }
        ASSERT_EQ(frames.size(), 4) << "chunk " << chunk;
        EXPECT_EQ(IOFrame::decodeBoard(frames[1]).inputs, 0x5FF5);
        EXPECT_EQ(IOFrame::decodeBoard(frames[2]).outputs, quint16(~0xF55F));
        EXPECT_EQ(decoder.skippedBytes(), 0u);
        EXPECT_EQ(decoder.badSums(), 0u);
    }
}

TEST(IOFrame, BadSumIsDroppedAndCountedAndTheNextFrameSurvives)
{
    QByteArray corrupt = IOFrame::encodeBoard({IOFrame::kCmdExchange, 0x0001, 0});
    corrupt[6] = char(corrupt[6] + 1);
    const QByteArray good = IOFrame::encodeBoard({IOFrame::kCmdExchange, 0x0002, 0});

    IOFrameDecoder decoder(IOFrame::kBoardFrameSize);
    decoder.feed(corrupt + good);
    const QList<QByteArray> frames = drain(decoder);
    ASSERT_EQ(frames.size(), 1);
    EXPECT_EQ(IOFrame::decodeBoard(frames[0]).inputs, 0x0002);
    EXPECT_EQ(decoder.badSums(), 1u);
    EXPECT_EQ(decoder.skippedBytes(), quint64(corrupt.size()));
}

TEST(IOFrame, ResynchronisesAfterGarbageIncludingFalseStartBytes)
{
    const QByteArray good = IOFrame::encodeBoard({IOFrame::kCmdExchange, 0x00F0, 0x000F});
    // Garbage with start and end bytes in it, a truncated frame and a lone start byte right before the frame.
    const QByteArray garbage = bytes({0x00, 0xF5, 0x5F, 0x5F, 0x13, 0xF5, 0xAA}) + good.left(5) + bytes({0x5F});

    IOFrameDecoder decoder(IOFrame::kBoardFrameSize);
    decoder.feed(garbage + good + bytes({0x42, 0x42}) + good);
    const QList<QByteArray> frames = drain(decoder);
    ASSERT_EQ(frames.size(), 2);
    for (const QByteArray& frame : frames)
        EXPECT_EQ(frame, good);
    EXPECT_EQ(decoder.skippedBytes(), quint64(garbage.size() + 2));

    // A bad end byte is garbage, not a bad sum.
    QByteArray badEnd = good;
    badEnd[7] = 0x00;
    IOFrameDecoder other(IOFrame::kBoardFrameSize);
    other.feed(badEnd);
    EXPECT_TRUE(drain(other).isEmpty());
    EXPECT_EQ(other.badSums(), 0u);
}

TEST(IOFrame, EndlessGarbageKeepsTheBufferSmall)
{
    IOFrameDecoder decoder(IOFrame::kHostFrameSize);
    const QByteArray noise(100000, char(0x5F));  // every byte looks like a start
    decoder.feed(noise);
    EXPECT_TRUE(drain(decoder).isEmpty());
    decoder.feed(IOFrame::encodeHost({IOFrame::kCmdExchange, 7}));
    const QList<QByteArray> frames = drain(decoder);
    ASSERT_EQ(frames.size(), 1);
    EXPECT_EQ(IOFrame::decodeHost(frames[0]).outputs, 7);
    decoder.clear();
    decoder.feed(IOFrame::encodeHost({IOFrame::kCmdExchange, 8}).left(3));
    decoder.clear();
    decoder.feed(IOFrame::encodeHost({IOFrame::kCmdExchange, 9}));
    ASSERT_EQ(drain(decoder).size(), 1);
}

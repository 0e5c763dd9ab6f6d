// The IO board frame decoder, both directions: any split of the line gives the
// same frames, and every frame handed out decodes and encodes back to itself.
#include "fuzzsupport.h"
#include "ioframe.h"

#include <QList>

namespace {

QList<QByteArray> frames(int frameSize, const QList<QByteArray>& pieces)
{
    IOFrameDecoder decoder(frameSize);
    QList<QByteArray> out;
    QByteArray frame;
    for (const QByteArray& piece : pieces) {
        decoder.feed(piece);
        while (decoder.takeFrame(&frame))
            out << frame;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzSupport::Split line = FuzzSupport::split(data, size);
    for (int frameSize : {IOFrame::kHostFrameSize, IOFrame::kBoardFrameSize}) {
        const QList<QByteArray> whole = frames(frameSize, {line.stream});
        if (whole != frames(frameSize, {line.head(), line.tail()}))
            FuzzSupport::fail("a cut line gave other frames");
        for (const QByteArray& frame : whole) {
            const QByteArray again = frameSize == IOFrame::kHostFrameSize
                                         ? IOFrame::encodeHost(IOFrame::decodeHost(frame))
                                         : IOFrame::encodeBoard(IOFrame::decodeBoard(frame));
            if (again != frame)
                FuzzSupport::fail("a frame did not encode back to itself");
        }
    }
    return 0;
}

#include "historyring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr size_t kBytes = 64 * 48;

// Frame n: a calm one (compresses well) or, every third, noise (does not).
std::vector<unsigned char> frameNumber(int n)
{
    std::vector<unsigned char> frame(kBytes);
    for (size_t i = 0; i < kBytes; ++i)
        frame[i] = n % 3 == 2 ? static_cast<unsigned char>((i + 1) * 2654435761u >> (n % 7 + 8))
                              : static_cast<unsigned char>(n * 11 + i / 64);
    return frame;
}

void expectNewestFirst(const HistoryRing& ring, int pushed)
{
    const int held = std::min(pushed, HistoryRing::kFrames);
    ASSERT_EQ(ring.count(), held);
    std::vector<unsigned char> got(kBytes);
    for (int i = 0; i < held; ++i) {
        ASSERT_TRUE(ring.read(i, got.data())) << i;
        EXPECT_TRUE(got == frameNumber(pushed - 1 - i)) << "frame " << i << " after " << pushed;
    }
    EXPECT_FALSE(ring.read(held, got.data()));
    EXPECT_FALSE(ring.read(-1, got.data()));
}

} // namespace

// Frames come back exactly and newest first, whether the packer had time to
// compress them or was overtaken by pushes in a row, and while a reader reads.
TEST(HistoryRing, KeepsTheLastTenFramesExactlyNewestFirst)
{
    HistoryRing ring;
    EXPECT_FALSE(ring.isOn());
    ring.push(frameNumber(0).data());
    EXPECT_EQ(ring.count(), 0) << "off: nothing kept";

    ring.reset(kBytes);
    EXPECT_TRUE(ring.isOn());
    int pushed = 0;
    for (; pushed < 4; ++pushed) {
        ring.push(frameNumber(pushed).data());
        ring.flush();
    }
    expectNewestFirst(ring, pushed);

    // Pushes faster than the packer, with the ROI editor reading meanwhile.
    std::atomic<bool> done{false};
    std::thread reader([&ring, &done] {
        std::vector<unsigned char> got(kBytes);
        while (!done)
            ring.read(ring.count() - 1, got.data());
    });
    for (; pushed < 25; ++pushed)
        ring.push(frameNumber(pushed).data());
    done = true;
    reader.join();
    expectNewestFirst(ring, pushed);
    ring.flush();
    expectNewestFirst(ring, pushed);
}

// A ring going away while the packer still holds its newest frame is no fault.
TEST(HistoryRing, OutlivedByItsPendingWork)
{
    for (int i = 0; i < 20; ++i) {
        HistoryRing ring;
        ring.reset(kBytes);
        ring.push(frameNumber(2).data());
    }
    HistoryRing().flush();
}

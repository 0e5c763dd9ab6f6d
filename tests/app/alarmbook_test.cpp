#include "alarmbook.h"

#include <gtest/gtest.h>

namespace {
constexpr unsigned kClamp = 0x1;
constexpr unsigned kEjector = 0x2;
constexpr unsigned kAlarm = 0x4;
constexpr unsigned kCam0 = 0x1;
constexpr unsigned kCam1 = 0x2;
constexpr unsigned kBoth = kCam0 | kCam1;
}

TEST(AlarmBookTest, OkReleasesAtOnceOrAtTheCloseWhileTheMouldIsUndecided)
{
    AlarmBook book;
    book.ng(0, kBoth, kCam1, kClamp | kAlarm, 10);
    book.ng(1, kBoth, kCam0, kEjector | kAlarm, 20);
    EXPECT_EQ(book.held(), kClamp | kEjector | kAlarm);

    // Detection 1 still holds: what detection 0 released waits for the close.
    EXPECT_EQ(book.ok(0, false).off, 0u);
    EXPECT_EQ(book.lift(15, AlarmBook::kReleaseNow).off, 0u) << "a release that lifts no NG lets nothing go";
    EXPECT_EQ(book.held(), kClamp | kEjector | kAlarm);
    EXPECT_EQ(book.closeCycle().off, kClamp) << "the alarm output stays with detection 1's NG";
    EXPECT_EQ(book.ok(1, false).off, kEjector | kAlarm);
    EXPECT_EQ(book.held(), 0u);
    EXPECT_FALSE(book.stands());

    // Alone but with the cycle undecided (a recheck waits, the pre-cut): released at the close.
    book.ng(2, kCam0, kCam0, kClamp, 30);
    EXPECT_EQ(book.ok(2, true).off, 0u);
    EXPECT_EQ(book.held(), kClamp);
    EXPECT_FALSE(book.stands()) << "an OK left waiting for the close is no standing NG";
    EXPECT_EQ(book.closeCycle().off, kClamp);
    book.ng(3, kCam0, kCam0, 0, 40);
    EXPECT_TRUE(book.stands()) << "an NG whose outputs are all pulsed still stands";
}

TEST(AlarmBookTest, ReleaseLiftsOnlyNgsDecidedByItsSignalAndSaysWhatItLifted)
{
    AlarmBook book;
    book.ng(0, kBoth, kCam1, kClamp | kAlarm, 100);
    book.ng(3, kBoth, kBoth, kEjector | kAlarm, 200);
    std::vector<AlarmBook::Lift> lifted;
    const AlarmBook::Change change = book.lift(150, AlarmBook::kReleaseNow, &lifted);
    ASSERT_EQ(lifted.size(), 1u);
    EXPECT_EQ(lifted[0].detection, 0);
    EXPECT_EQ(lifted[0].cameras, kCam1);
    EXPECT_EQ(change.off, kClamp) << "the alarm output is still held by detection 3";
    EXPECT_TRUE(book.stands());
    // An NG of the signal's own millisecond may have come after the edge: it stands.
    EXPECT_EQ(book.lift(200, AlarmBook::kReleaseNow).off, 0u);
    EXPECT_FALSE(book.ngStoodBefore(3, 200));
    EXPECT_TRUE(book.ngStoodBefore(3, 201));

    lifted.clear();
    EXPECT_EQ(book.lift(AlarmBook::kAll, AlarmBook::kReleaseNow, &lifted).off, kEjector | kAlarm);
    ASSERT_EQ(lifted.size(), 1u);
    EXPECT_EQ(lifted[0].detection, 3);
    EXPECT_EQ(lifted[0].cameras, kBoth);
}

TEST(AlarmBookTest, WhatAReleaseKeepsForACheckIsDecidedByThatCheck)
{
    AlarmBook book;
    book.ng(1, kBoth, kBoth, kClamp | kAlarm, 100);
    std::vector<AlarmBook::Lift> lifted;
    EXPECT_EQ(book.lift(150, AlarmBook::kEachOwnCheck, &lifted).off, 0u) << "kept on until the check decides";
    EXPECT_EQ(book.held(), kClamp | kAlarm);
    EXPECT_FALSE(book.stands());

    // The check saw camera 0 OK and could not look at camera 1: camera 1 keeps its NG.
    EXPECT_EQ(book.holdUnchecked(1, kCam0), kCam1);
    const AlarmBook::Change ng = book.ng(1, kCam0, kCam1, kAlarm, 300);
    EXPECT_EQ(ng.off, 0u);
    EXPECT_EQ(book.entry(1).ngCameras, kCam1);
    EXPECT_EQ(book.entry(1).outputs, kClamp | kAlarm) << "the kept clamp stays on without a gap";
    EXPECT_EQ(book.entry(1).keptOutputs, 0u);

    // Kept again and seen OK on every camera: released.
    book.lift(AlarmBook::kAll, AlarmBook::kEachOwnCheck);
    EXPECT_EQ(book.holdUnchecked(1, kBoth), 0u);
    EXPECT_EQ(book.ok(1, false).off, kClamp | kAlarm);
}

TEST(AlarmBookTest, HandedNgKeepsTheLatestDecisionTime)
{
    // The mould detection checks for both: a release signalled between the two NGs
    // (a clearing input whose delay ends later) must not lift what the later NG holds.
    AlarmBook book;
    book.ng(1, kCam0, kCam0, kClamp, 50);
    book.ok(1, false);
    book.ng(0, kCam1, kCam1, kEjector | kAlarm, 100);
    book.lift(120, 1);
    EXPECT_EQ(book.entry(1).keptOutputs, kEjector | kAlarm);
    EXPECT_EQ(book.entry(1).ngAt, 100);
    EXPECT_EQ(book.lift(80, AlarmBook::kReleaseNow).off, 0u);
    EXPECT_EQ(book.held(), kEjector | kAlarm);
}

TEST(AlarmBookTest, AStopOrAnUninspectedMouldTurnsWhatWasKeptIntoAnAlarm)
{
    // Uninspected: the kept outputs become the stop's, and a release switches them off.
    AlarmBook book;
    book.ng(1, kBoth, kCam1, kEjector | kAlarm, 100);
    book.lift(150, AlarmBook::kEachOwnCheck);
    EXPECT_EQ(book.uninspected(1, kBoth, kClamp | kAlarm, 200).on, kClamp | kAlarm);
    EXPECT_TRUE(book.stands());
    EXPECT_EQ(book.entry(1).ngCameras, kBoth);
    EXPECT_EQ(book.lift(AlarmBook::kAll, AlarmBook::kReleaseNow).off, kClamp | kEjector | kAlarm);
    EXPECT_EQ(book.held(), 0u);

    // Stopped: the cameras the Re-detect was to see hold the NG; the others' OK releases nothing.
    book.ng(2, kBoth, kCam1, kClamp, 300);
    book.lift(350, AlarmBook::kEachOwnCheck);
    book.stop();
    EXPECT_TRUE(book.stands());
    EXPECT_EQ(book.entry(2).outputs, kClamp);
    EXPECT_EQ(book.holdUnchecked(2, kCam0), kCam1) << "camera 1, lost, keeps the NG";
    EXPECT_EQ(book.ng(2, kCam0, kCam1, 0, 400).off, 0u);
    EXPECT_EQ(book.held(), kClamp);
}

TEST(AlarmBookTest, PreCutOutputIsKeptByTheNgsThatStopWithIt)
{
    AlarmBook book;
    book.ng(0, kCam0, kCam0, kAlarm, 10);  // a product NG that does not stop with the clamp
    book.ng(1, kCam0, kCam0, kAlarm, 20);
    EXPECT_EQ(book.endPreCut(true, kClamp, 1u << 1).off, 0u);
    EXPECT_EQ(book.entry(1).outputs, kClamp | kAlarm);
    EXPECT_EQ(book.entry(0).outputs, kAlarm);
    book.lift(AlarmBook::kAll, AlarmBook::kReleaseNow);

    EXPECT_EQ(book.endPreCut(true, kClamp, 0xff).off, kClamp) << "no NG stands: the clamp is released";
    book.ng(1, kCam0, kCam0, kAlarm, 30);
    EXPECT_EQ(book.endPreCut(false, kClamp, 0xff).off, kClamp) << "a pulsed clamp is not kept";
}

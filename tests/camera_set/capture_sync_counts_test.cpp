// The count of abandoned software triggers when the number of frames per
// buffer changes between the captures that gave up and the next one (the
// multi-frame count is a plain setting, not a change that empties the
// buffers).  No capture here waits: every deadline has passed already.
#include <gtest/gtest.h>

#include "CaptureSync.h"

namespace {

using Result = CCaptureSync::Result;
constexpr unsigned kBuffers = 4;

// A software capture that gives up at once: it fires its trigger and finds
// no frame.
Result GiveUp(CCaptureSync& sync, unsigned framesPerBuffer) {
    CCaptureSync::CCapture c(sync, CCaptureSync::DeadlineAfterMs(0));
    if (!c.Ok() || c.Enter() != Result::Ready) return Result::TimedOut;
    unsigned releases = 0;
    const Result r = c.SettleAbandoned(framesPerBuffer, &releases);
    return r != Result::Ready ? r : c.TakeFrame();
}

// Three triggers given up on under three frames per buffer; the count is
// lowered to two and a buffer comes in: it holds two of the abandoned
// frames and is discarded, the third is still owed and shares the next
// buffer with the next capture's own frame.
TEST(CaptureSyncCounts, ABufferOfFewerFramesSettlesOnlyThatMany) {
    CCaptureSync sync(kBuffers);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Result::TimedOut, GiveUp(sync, 3));
    ASSERT_EQ(3u, sync.AbandonedTriggers());

    sync.Announce();
    CCaptureSync::CCapture next(sync, CCaptureSync::DeadlineAfterMs(0));
    ASSERT_TRUE(next.Ok());
    ASSERT_EQ(Result::Ready, next.Enter());
    unsigned releases = 0;
    EXPECT_EQ(Result::Ready, next.SettleAbandoned(2, &releases))
        << "one owed frame does not hold the trigger back";
    EXPECT_EQ(1u, releases) << "the discarded buffer goes back to the PL";
    EXPECT_EQ(1u, sync.AbandonedTriggers());
    EXPECT_EQ(0u, sync.AnnouncedFrames());

    sync.Announce();
    EXPECT_EQ(Result::Ready, next.TakeFrame());
    EXPECT_EQ(0u, sync.AbandonedTriggers());
}

}  // namespace

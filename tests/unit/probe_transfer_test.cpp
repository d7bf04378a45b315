#include <gtest/gtest.h>

#include "probe/transfer_finding.h"

namespace tv {
namespace {

std::string word(XferState s) { return std::string(xferWord(s)); }

TEST(TransferRules, EachDirectionReadsWhatItSaw) {
    struct Case {
        XferProgress p;
        const char* want;
    } cases[] = {
        {{kXferVolume, true, false, false, false, false, 5000}, "ok"},
        {{kXferVolume, true, false, false, false, false, -1}, "ok"}, // no rate: not slow
        {{kXferVolume, true, false, false, false, false, 140}, "slow"},
        {{20000, false, false, false, false, true, 120}, "slow"}, // still moving at the deadline
        {{12000, false, false, false, true, false, -1}, "frozen"},
        {{kXferMinProgress, false, false, false, true, false, -1}, "frozen"},
        {{kXferMinProgress - 1, false, false, false, true, false, -1}, "timeout"},
        {{0, false, false, false, true, false, -1}, "timeout"},
        {{9000, false, true, false, false, false, -1}, "short"},
        {{9000, false, false, true, false, false, -1}, "reset"},
        {{0, false, false, false, false, false, -1}, "skip"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(word(classifyDirection(c.p)), c.want) << c.p.progress;
}

TEST(TransferRules, TheWorseDirectionDecidesAndOkNeedsTheDownload) {
    using S = XferState;
    EXPECT_EQ(combineDirections(S::Ok, S::Frozen), S::Frozen);
    EXPECT_EQ(combineDirections(S::Slow, S::Reset), S::Reset);
    EXPECT_EQ(combineDirections(S::Ok, S::Slow), S::Slow);
    EXPECT_EQ(combineDirections(S::Timeout, S::Ok), S::Timeout);
    EXPECT_EQ(combineDirections(S::Ok, S::Ok), S::Ok);
    EXPECT_EQ(combineDirections(S::Ok, S::Skip), S::Ok);
    // Without the download no conclusion, whatever the upload did.
    EXPECT_EQ(combineDirections(S::Skip, S::Ok), S::Short);
    EXPECT_EQ(combineDirections(S::Short, S::Ok), S::Short);
    EXPECT_EQ(combineDirections(S::Skip, S::Skip), S::Skip);
}

TEST(TransferRules, KbitPerSecond) {
    EXPECT_EQ(kbitPerSecond(65536, 1000), 524);
    EXPECT_EQ(kbitPerSecond(1000, 0), 8000); // at least 1 ms
    EXPECT_EQ(kbitPerSecond(uint64_t{1} << 50, 1), INT32_MAX);
}

} // namespace
} // namespace tv

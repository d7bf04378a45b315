// The transfer stage's classification: pure rules over what each direction
// saw, shared by every platform and held by unit tests.
#include <limits>

#include "probe/result.h"
#include "probe/transfer_finding.h"

namespace tv {

std::string_view xferWord(XferState s) {
    // In the order of the enum.
    static constexpr std::string_view kWords[] = {kSkip,      kOk,    kXferFrozen, kXferSlow,
                                                  kXferShort, kReset, kTimeout};
    const auto i = static_cast<size_t>(s);
    return i < std::size(kWords) ? kWords[i] : kSkip;
}

int32_t kbitPerSecond(uint64_t bytes, int64_t ms) {
    if (ms < 1)
        ms = 1;
    const double kbps = static_cast<double>(bytes) * 8.0 / static_cast<double>(ms);
    if (kbps >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(kbps);
}

XferState classifyDirection(const XferProgress& p) {
    const bool tooSlow = p.kbps >= 0 && p.kbps < kXferSlowKbps;
    if (p.reachedVolume)
        return tooSlow ? XferState::Slow : XferState::Ok;
    if (p.reset)
        return XferState::Reset;
    if (p.deadline)
        return XferState::Slow; // still moving when its time was up
    if (p.stalled)
        return p.progress >= kXferMinProgress ? XferState::Frozen : XferState::Timeout;
    if (p.endedByServer)
        return XferState::Short;
    return XferState::Skip;
}

XferState combineDirections(XferState down, XferState up) {
    for (const XferState bad :
         {XferState::Frozen, XferState::Reset, XferState::Slow, XferState::Timeout})
        if (down == bad || up == bad)
            return bad;
    if (down == XferState::Ok)
        return XferState::Ok;
    if (down == XferState::Skip && up == XferState::Skip)
        return XferState::Skip;
    return XferState::Short;
}

} // namespace tv

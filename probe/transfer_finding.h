// The transfer test's finding: its words, its numbers and the rules that
// turn what each direction saw into a word. Pure; shared with the page by the
// words. (The stage itself is in transfer.h.)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tv {

inline constexpr uint64_t kXferVolume = 64 * 1024;     // each direction
inline constexpr uint64_t kXferMinProgress = 1024;     // less is no progress at all
inline constexpr int32_t kXferSlowKbps = 1000;         // below: "slow"
inline constexpr uint64_t kXferRateWindow = 16 * 1024; // the rate is the last 16 KiB's
inline constexpr size_t kXferMaxRequests = 64;         // GETs asked for at most
inline constexpr size_t kXferFirstGets = 7;            // sent with the first GET: 8 in all
inline constexpr int32_t kXferDeadlineStalls = 3;      // a direction ends after 3 stall times

// The finding's words ("skip", "ok", "frozen", "slow", "short", "reset",
// "timeout"), shared with the page.
enum class XferState : uint8_t { Skip, Ok, Frozen, Slow, Short, Reset, Timeout };
inline constexpr std::string_view kXferFrozen = "frozen";
inline constexpr std::string_view kXferSlow = "slow";
inline constexpr std::string_view kXferShort = "short";
std::string_view xferWord(XferState s);

struct XferDirection {
    XferState state = XferState::Skip;
    // Bytes of the connection in this direction when the direction ended,
    // handshake included (what a filter that counts per connection saw):
    // received bytes for the download, acknowledged bytes for the upload;
    // -1 when not known.
    int64_t bytes = -1;
    int32_t ms = -1;    // from the start of the direction to its last progress
    int32_t kbps = -1;  // over the last kXferRateWindow bytes; -1 when not measured
    std::string detail; // short English, for the tooltip and the report
};

struct XferFinding {
    XferState state = XferState::Skip; // the two directions together
    XferDirection down, up;
    bool upByAcks = true; // the upload was timed by TCP acknowledgements
};

// What a direction saw, as plain numbers, for the classification below.
struct XferProgress {
    uint64_t progress = 0; // payload bytes that got through in this direction
    bool reachedVolume = false;
    bool endedByServer = false; // orderly end (close_notify, FIN) at an answer's end
    bool reset = false;         // a reset, or a close in the middle of an answer
    bool stalled = false;       // nothing moved for the stall time
    bool deadline = false;      // the direction's time ran out while it still moved
    int32_t kbps = -1;
};

// The rules: frozen when progress stopped between kXferMinProgress and the
// volume; timeout when it stalled below that; slow when the volume (or the
// deadline) came below kXferSlowKbps; short when the server ended first;
// reset on a reset or an untidy close.
XferState classifyDirection(const XferProgress& p);

// The worst of the two: frozen, reset, slow, timeout; then ok when the
// download went through and the upload did not fail; short otherwise (and
// skip when neither ran).
XferState combineDirections(XferState down, XferState up);

// kbit/s of `bytes` in `ms` (at least 1 ms), saturated to int32.
int32_t kbitPerSecond(uint64_t bytes, int64_t ms);

} // namespace tv

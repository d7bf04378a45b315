// TCP reachability of many addresses at once: one non-blocking connect per
// address, all waited for together, so a set of silent addresses costs one
// time-out instead of one per address. A connect does not depend on the
// server name, so a scan that sends many names to the same address can learn
// the address's TCP outcome once and give it to every job of that address.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "probe/probe.h"
#include "probe/stage.h"

namespace tv {

// Connects to every address (network byte order) on `port` and reports each
// outcome once, as connectWithTimeout would have made it (state, ms, detail;
// a time-out after `timeoutMs`), in the order the outcomes arrive. The
// connections are closed at once. Up to kMaxWaitSockets connections are in
// flight; further addresses wait for a free place. A set cancel flag ends the
// sweep within about 100 ms; addresses not reported by then are not reported.
void sweepTcp(const std::vector<uint32_t>& addrsBe, int port, int32_t timeoutMs,
              const std::atomic<bool>& cancel,
              const std::function<void(size_t index, const StageOutcome& tcp)>& onOutcome);

inline constexpr int32_t kResolveWaitMs = 1000;

// Looks up each name's first IPv4 address with the system resolver, up to
// `threads` names at a time, for at most `waitMs`; 0 where a name has none or
// its lookup had not ended by then (lookups still going end on their own).
std::vector<uint32_t> resolveNames(const std::vector<std::string>& names, int32_t threads,
                                   int32_t waitMs = kResolveWaitMs);

// The record probeTarget makes for `job` when its TCP connect ends with `tcp`
// (not Ok), with tcpShared set: the outcome came from the run's pre-phase.
ProbeResult tcpSharedResult(const ProbeJob& job, const ProbeOptions& options,
                            const StageOutcome& tcp);

} // namespace tv

// Process-wide run state shared by the UI thread and the run threads: the
// cancel flag, the busy flag (one run of either kind at a time) and the scans
// directory. The flags are the only shared mutable state; there are no locks.
#pragma once

#include <atomic>
#include <string>

namespace tv {

std::atomic<bool>& cancelFlag();
std::atomic<bool>& busyFlag();

// Set once when the host starts, before any page command can arrive.
void setScansPath(std::string path);
const std::string& scansPath();

} // namespace tv

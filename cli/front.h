// tarnveil-cli: a thin front over the same runs and UI messages as the
// window. It sends page commands to the dispatcher and reads the UI messages
// the runs post, so everything it prints is what the page would get.
#pragma once

#include <string>
#include <vector>

namespace tv::cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitSaveFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNothingPassed = 3;

// Runs the command line (arguments without the program name). Output goes to
// standard output / error. Installs the UI sink and the interrupt handler.
int runCli(const std::vector<std::string>& args);

// The file-name tag of a snapshot label: runs of characters other than ASCII
// letters, digits, "_" and "-" become one "_", "_" trimmed at both ends, at
// most 24 characters.
std::string snapshotTag(const std::string& label);

// Called by the platform entry from its interrupt handler (any thread or a
// signal handler): asks the running command to stop.
void requestInterrupt();

} // namespace tv::cli

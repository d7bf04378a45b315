// Process start-up shared by both entries: banner, platform runtimes, the
// switch test, then the self-test or window mode.
#pragma once

#include <string>
#include <string_view>

namespace tv {

inline constexpr std::string_view kSwitchSelftest = "--selftest";
inline constexpr std::string_view kSwitchCdp = "--cdp";

// A switch is on when its exact text occurs anywhere in the full command line
// (program path included, letter case significant).
bool switchInCommandLine(std::string_view commandLine, std::string_view sw);

// The process's full command line, recorded once by the entry.
void setCommandLine(std::string commandLine);
const std::string& commandLine();
bool hasSwitch(std::string_view sw);

// Everything after the entry has read its command line. `showCommand` is the
// Windows show command (ignored elsewhere). Returns the exit code.
int startProcess(void* instance, int showCommand);

} // namespace tv

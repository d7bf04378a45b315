// What the front needs from the operating system.
#pragma once

#include <cstdint>
#include <string>

#include "cli/texts.h"

namespace tv::cli {

bool stdoutIsTerminal();
bool stderrIsTerminal();
void installInterruptHandler(); // Ctrl-C → requestInterrupt()
std::string localStamp();       // YYYYMMDD_HHMMSS, local time
std::string utcIsoNow();        // 2025-01-31T09:42:05.123Z
std::string localDateTime(int64_t epochSeconds); // 31.01.2025, 12:42:05, local time
void prepareConsole();          // UTF-8 output where the console needs it
Lang defaultLanguage();         // from the locale (POSIX) or the UI language (Windows)

} // namespace tv::cli

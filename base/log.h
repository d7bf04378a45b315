// The diagnostic log: one timestamped UTF-8 line per call in probe.log beside
// the program, and the same message to the debugger output (Windows) or
// standard error (Linux). The file is opened and closed for every line, so it
// can be read, copied or deleted while the program runs. Lines from several
// threads come out whole.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "base/identity.h"

namespace tv {

struct LocalTime {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Writes one line. Never fails toward the caller.
void logLine(std::string_view message);

// "DD.MM.YYYY HH:MM:SS".
std::string formatLogTimestamp(const LocalTime& t);

// The bytes of one file line: "[timestamp] message" and the platform's line
// end, the message made printable (toPrintable), so it stays one line.
std::string formatLogFileLine(const LocalTime& t, std::string_view message);

// Appends `line` to the file at `path`, with the UTF-8 byte-order mark first
// when the file is empty at the moment it is opened. False when it cannot be
// opened or written.
bool appendLogFileLine(const std::string& path, std::string_view line);

// Debugger output off or on (the command-line front keeps standard error for
// its own progress line). On by default.
void setLogEcho(bool on);

// Platform pieces.
LocalTime localTimeNow();
void debuggerOutput(std::string_view line);
FILE* openForAppend(const std::string& path); // binary append, UTF-8 path
extern const std::string_view kLogLineEnd;

} // namespace tv

#include "base/log.h"

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace tv {

const std::string_view kLogLineEnd = "\n";

LocalTime localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    LocalTime t;
    t.year = static_cast<unsigned>(tm.tm_year + 1900);
    t.month = static_cast<unsigned>(tm.tm_mon + 1);
    t.day = static_cast<unsigned>(tm.tm_mday);
    t.hour = static_cast<unsigned>(tm.tm_hour);
    t.minute = static_cast<unsigned>(tm.tm_min);
    t.second = static_cast<unsigned>(tm.tm_sec);
    return t;
}

void debuggerOutput(std::string_view line) {
    // One write call per line, so lines of several processes stay whole too.
    const ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
    (void)n;
}

FILE* openForAppend(const std::string& path) {
    return std::fopen(path.c_str(), "ab");
}

} // namespace tv

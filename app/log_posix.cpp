#include "app/log.h"

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

bool appendLogFileLine(const std::string& path, std::string_view line) {
    FILE* f = std::fopen(path.c_str(), "ab");
    if (!f)
        return false;
    bool ok = true;
    if (std::fseek(f, 0, SEEK_END) == 0 && std::ftell(f) == 0)
        ok = std::fwrite("\xEF\xBB\xBF", 1, 3, f) == 3;
    ok = ok && std::fwrite(line.data(), 1, line.size(), f) == line.size();
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

} // namespace tv

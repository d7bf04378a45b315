#include "base/log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "base/paths.h"
#include "base/text.h"

namespace tv {
namespace {

std::atomic<bool> gEcho{true};

std::mutex& logMutex() {
    static std::mutex m;
    return m;
}

} // namespace

std::string formatLogTimestamp(const LocalTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02u.%02u.%u %02u:%02u:%02u", t.day, t.month, t.year, t.hour,
                  t.minute, t.second);
    return buf;
}

std::string formatLogFileLine(const LocalTime& t, std::string_view message) {
    std::string line;
    line.reserve(message.size() + 32);
    line += '[';
    line += formatLogTimestamp(t);
    line += "] ";
    // Literally (the message is never used as a format), with its controls
    // shown: text from outside cannot end the line or drive a terminal that
    // shows the file.
    line += toPrintable(message);
    line += kLogLineEnd;
    return line;
}

bool appendLogFileLine(const std::string& path, std::string_view line) {
    FILE* f = openForAppend(path);
    if (!f)
        return false;
    bool ok = true;
    if (std::fseek(f, 0, SEEK_END) == 0 && std::ftell(f) == 0)
        ok = std::fwrite("\xEF\xBB\xBF", 1, 3, f) == 3;
    ok = ok && std::fwrite(line.data(), 1, line.size(), f) == line.size();
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

void setLogEcho(bool on) {
    gEcho.store(on);
}

void logLine(std::string_view message) {
    const std::string msg = toPrintable(message);
    // One line at a time, from whichever thread: neither output interleaves.
    std::lock_guard<std::mutex> lock(logMutex());
    if (gEcho.load()) {
        std::string dbg = "[";
        dbg += kProductName;
        dbg += "] ";
        dbg += msg;
        dbg += '\n';
        debuggerOutput(dbg);
    }
    const std::string path = joinPath(executableDir(), "probe.log");
    appendLogFileLine(path, formatLogFileLine(localTimeNow(), msg));
}

} // namespace tv
